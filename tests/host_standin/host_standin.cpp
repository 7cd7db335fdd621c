// The stand-in MEX host on Linux: the mx/mex functions the gateway imports, on
// the shared stand-in mxArray, and a host-side call with MATLAB's ownership rules.
#include "host_standin.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "mex_api.h"

namespace {

// Arrays created by mxCreateDoubleMatrix during the current call, and in all.
std::vector<mxArray_tag*> createdDuringCall;
std::size_t liveCreated = 0;

// Blocks from mxMalloc and mxRealloc during the current call, not yet freed
// or handed to an array, with their sizes in bytes.
std::vector<std::pair<double*, std::size_t>> allocatedDuringCall;

// Bytes of the host's memory held for the module: the data blocks of the
// arrays it created (as allocated, whatever mxSetM says) and its mxMalloc
// blocks; the most held at once since the current call began.
std::size_t heldBytes = 0;
std::size_t peakBytes = 0;
std::size_t heldAtCall = 0;

void hold(std::size_t bytes) {
    heldBytes += bytes;
    peakBytes = std::max(peakBytes, heldBytes);
}

std::vector<standin::Warning> warnings;
std::string printed;
std::vector<std::string> evaluated;
long evaluationsBeforeFailure = -1;

[[noreturn]] void hostFault(const char* what) {
    std::fprintf(stderr, "stand-in host: %s\n", what);
    std::abort();
}

bool isNumericClass(const char* name) {
    static const char* const numeric[] = {"double", "single", "int8",   "uint8", "int16",
                                          "uint16", "int32",  "uint32", "int64", "uint64"};
    for (const char* candidate : numeric)
        if (std::strcmp(name, candidate) == 0) return true;
    return false;
}

// Cells and structs hold arrays, not numbers: asking for their value is an error.
bool hasScalarValue(const char* name) {
    return isNumericClass(name) || std::strcmp(name, "logical") == 0 ||
           std::strcmp(name, "char") == 0;
}

// Destroys a created array and, for a struct, the values it owns.
void destroyCreated(mxArray_tag* a) {
    for (int i = 0; i < a->fieldCount * static_cast<int>(a->m * a->n); ++i)
        if (a->fields[i] != nullptr) destroyCreated(a->fields[i]);
    for (int f = 0; f < a->fieldCount; ++f) delete[] a->fieldNames[f];
    delete[] a->fieldNames;
    delete[] a->fields;
    a->fieldNames = nullptr, a->fields = nullptr, a->fieldCount = 0;
    heldBytes -= a->capacity * sizeof(double);
    standin::destroyArray(a);
    --liveCreated;
}

mxArray_tag* created(mxArray_tag* a) {
    createdDuringCall.push_back(a);
    ++liveCreated;
    hold(a->capacity * sizeof(double));
    return a;
}

// An empty array still holds a block, as in Octave, so that data replaced
// by mxSetPr without mxFree would show.
mxArray_tag* createDouble(std::size_t m, std::size_t n) {
    if (m != 0 && n > standin::maxCreatedElements / m)
        mexErrMsgIdAndTxt("standin:outOfMemory", "Out of memory: %zu-by-%zu array.", m, n);
    mxArray_tag* a = standin::newArray("double", m, n);
    if (a->pr == nullptr) a->pr = new double[1]();
    return created(a);
}

// A block for mxMalloc or mxRealloc; beyond the largest array, the call is
// abandoned as MATLAB abandons it.
double* allocateBlock(std::size_t bytes) {
    if (bytes > standin::maxCreatedElements * sizeof(double))
        mexErrMsgIdAndTxt("standin:outOfMemory", "Out of memory: a block of %zu bytes.", bytes);
    double* p = new double[bytes / sizeof(double) + 1];
    allocatedDuringCall.emplace_back(p, bytes);
    hold(bytes);
    return p;
}

std::vector<std::pair<double*, std::size_t>>::iterator allocatedBlock(const void* p) {
    return std::find_if(allocatedDuringCall.begin(), allocatedDuringCall.end(),
                        [p](const std::pair<double*, std::size_t>& b) { return b.first == p; });
}

void freeBlock(std::vector<std::pair<double*, std::size_t>>::iterator b) {
    heldBytes -= b->second;
    delete[] b->first;
    allocatedDuringCall.erase(b);
}

// The stand-in libut (BRELVANE_STANDIN_LIBUT), loaded on first use into
// local scope only, and kept to the end: its symbols are not global, so the
// gateway can only find it among the loaded libraries by name.
void* libut() {
    static void* const handle = dlopen(BRELVANE_STANDIN_LIBUT, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) hostFault(dlerror());
    return handle;
}

// One of the stand-in libut's controls.
template <typename Function>
Function* libutControl(const char* name) {
    void* symbol = dlsym(libut(), name);
    if (symbol == nullptr) hostFault(name);
    return reinterpret_cast<Function*>(symbol);
}

}  // namespace

namespace standin {

mxArray_tag* newArray(const char* className, std::size_t m, std::size_t n, const double* values,
                      bool isComplex, bool isSparse) {
    const std::size_t count = m * n;
    double* pr = count > 0 ? new double[count]() : nullptr;
    if (values != nullptr && count > 0) std::memcpy(pr, values, count * sizeof(double));
    mxArray_tag* a = new mxArray_tag{className, isComplex, isSparse, m, n, pr};
    a->capacity = count;
    return a;
}

void destroyArray(mxArray_tag* a) {
    if (a == nullptr) return;
    if (a->fieldCount > 0 && a->fieldNames != nullptr) {  // a struct made by newStruct
        for (int f = 0; f < a->fieldCount; ++f) {
            destroyArray(a->fields[f]);
            delete[] a->fieldNames[f];
        }
        delete[] a->fieldNames;
        delete[] a->fields;
    }
    if (a->texts != nullptr)
        for (std::size_t k = 0; k < a->m * a->n; ++k) delete[] a->texts[k];
    delete[] a->texts;
    delete[] a->pr;
    delete a;
}

mxArray_tag* newStrings(const std::vector<std::string>& texts) {
    mxArray_tag* a = newArray("string", 1, texts.size());
    a->texts = new char*[texts.size()];
    for (std::size_t k = 0; k < texts.size(); ++k) {
        a->texts[k] = new char[texts[k].size() + 1];
        std::strcpy(a->texts[k], texts[k].c_str());
    }
    return a;
}

mxArray_tag* newStruct(const std::vector<std::string>& names,
                       const std::vector<mxArray_tag*>& values) {
    mxArray_tag* a = newArray("struct", 1, 1);
    a->fieldCount = static_cast<int>(names.size());
    a->fieldNames = new char*[names.size()];
    a->fields = new mxArray_tag*[names.size()];
    for (std::size_t f = 0; f < names.size(); ++f) {
        a->fieldNames[f] = new char[names[f].size() + 1];
        std::strcpy(a->fieldNames[f], names[f].c_str());
        a->fields[f] = values[f];
    }
    return a;
}

std::size_t liveCreatedArrays() { return liveCreated; }

double maxNumCompThreads = 8;
long hostFunctionCalls = 0;

std::size_t peakCallBytes() { return peakBytes - heldAtCall; }

mxArray_tag* newText(const char* text) {
    std::vector<double> codes(text, text + std::strlen(text));
    return newArray("char", 1, codes.size(), codes.data());
}

void interruptAtPoll(long poll) { libutControl<void(long)>("standinInterruptAtPoll")(poll); }

bool interruptPending() { return libutControl<bool()>("standinInterruptPending")(); }

long interruptPollCount() { return libutControl<long()>("standinInterruptPollCount")(); }

CallOutcome callMexFunction(int nlhs, mxArray_tag** plhs, int nrhs, mxArray_tag* const* prhs) {
    // Exactly as many slots as MATLAB provides, so a write past them is caught.
    const std::size_t slots = nlhs > 1 ? static_cast<std::size_t>(nlhs) : 1;
    const std::size_t inputs = nrhs > 0 ? static_cast<std::size_t>(nrhs) : 0;
    std::unique_ptr<mxArray_tag*[]> out(new mxArray_tag*[slots]());
    std::unique_ptr<const mxArray_tag*[]> in(new const mxArray_tag*[inputs]);
    std::copy(prhs, prhs + inputs, in.get());
    createdDuringCall.clear();
    heldAtCall = peakBytes = heldBytes;
    warnings.clear();
    printed.clear();
    evaluated.clear();
    libut();  // loaded before any MEX call, as MATLAB has it
    try {
        mexFunction(nlhs, out.get(), nrhs, in.get());
    } catch (const StandinMexError& e) {
        // The host reclaims everything the abandoned call created.
        for (mxArray_tag* a : createdDuringCall) destroyCreated(a);
        createdDuringCall.clear();
        while (!allocatedDuringCall.empty()) freeBlock(allocatedDuringCall.begin());
        std::fill(plhs, plhs + slots, nullptr);
        return {e.id, e.message};
    }
    mxArray_tag** const end = out.get() + slots;
    if (out[0] == nullptr) hostFault("mexFunction returned without setting plhs[0]");
    // MATLAB would free it; a module that leaves it there forgot it.
    if (!allocatedDuringCall.empty())
        hostFault("mexFunction returned with mxMalloc memory it neither freed nor handed out");
    for (mxArray_tag* a : createdDuringCall)
        if (std::find(out.get(), end, a) == end)
            hostFault("mexFunction returned with an array it created but did not return");
    for (mxArray_tag** o = out.get(); o != end; ++o)
        if (*o != nullptr && std::find(createdDuringCall.begin(), createdDuringCall.end(), *o) ==
                                 createdDuringCall.end())
            hostFault("mexFunction returned an array it did not create");
    // From here on the caller owns the outputs and destroys them with destroyOutput.
    std::copy(out.get(), end, plhs);
    createdDuringCall.clear();
    return {};
}

void destroyOutput(mxArray_tag* a) {
    if (a != nullptr) destroyCreated(a);
}

const std::vector<Warning>& warningsRaised() { return warnings; }

const std::string& textPrinted() { return printed; }

const std::vector<std::string>& commandsEvaluated() { return evaluated; }

void failEvaluationAt(long evaluation) { evaluationsBeforeFailure = evaluation; }

}  // namespace standin

extern "C" {

bool mxIsDouble(const mxArray* a) { return std::strcmp(a->className, "double") == 0; }
bool mxIsNumeric(const mxArray* a) { return isNumericClass(a->className); }
bool mxIsComplex(const mxArray* a) { return a->isComplex; }
bool mxIsSparse(const mxArray* a) { return a->isSparse; }
const char* mxGetClassName(const mxArray* a) { return a->className; }
std::size_t mxGetNumberOfElements(const mxArray* a) { return a->m * a->n; }

// The shape, in the 64-bit and in the 32-bit interface.
std::size_t mxGetNumberOfDimensions(const mxArray* a) { return a->pages > 1 ? 3 : 2; }
const std::size_t* mxGetDimensions(const mxArray* a) {
    a->dims[0] = a->m, a->dims[1] = a->n / a->pages, a->dims[2] = a->pages;
    return a->dims;
}
int mxGetNumberOfDimensions_700(const mxArray* a) {
    return static_cast<int>(mxGetNumberOfDimensions(a));
}
const int* mxGetDimensions_700(const mxArray* a) {
    for (int k = 0; k < 3; ++k) a->dims32[k] = static_cast<int>(mxGetDimensions(a)[k]);
    return a->dims32;
}

// The first real element; 0 for an empty array.
double mxGetScalar(const mxArray* a) {
    if (!hasScalarValue(a->className)) hostFault("mxGetScalar on a cell or struct");
    return a->m * a->n > 0 ? a->pr[0] : 0.0;
}

// Only real, full double arrays hold their values as plain doubles; the
// gateway must never read the raw data of anything else.
double* mxGetPr(const mxArray* a) {
    if (!mxIsDouble(a) || a->isComplex || a->isSparse)
        hostFault("mxGetPr on an array that is not a real full double array");
    return a->pr;
}

mxArray* mxCreateDoubleScalar(double value) {
    mxArray_tag* a = createDouble(1, 1);
    a->pr[0] = value;
    return a;
}

bool mxIsChar(const mxArray* a) { return std::strcmp(a->className, "char") == 0; }
bool mxIsStruct(const mxArray* a) { return std::strcmp(a->className, "struct") == 0; }
bool mxIsEmpty(const mxArray* a) { return a->m * a->n == 0; }
int mxGetNumberOfFields(const mxArray* a) {
    if (!mxIsStruct(a)) hostFault("mxGetNumberOfFields on an array that is not a struct");
    return a->fieldCount;
}
const char* mxGetFieldNameByNumber(const mxArray* a, int field) {
    if (!mxIsStruct(a) || field < 0 || field >= a->fieldCount)
        hostFault("mxGetFieldNameByNumber outside the struct");
    return a->fieldNames[field];
}
mxArray* mxGetFieldByNumber(const mxArray* a, std::size_t index, int field) {
    if (!mxIsStruct(a) || index >= a->m * a->n || field < 0 || field >= a->fieldCount)
        hostFault("mxGetFieldByNumber outside the struct");
    return a->fields[index * static_cast<std::size_t>(a->fieldCount) + static_cast<std::size_t>(field)];
}
mxArray* mxGetFieldByNumber_700(const mxArray* a, int index, int field) {
    if (index < 0) hostFault("mxGetFieldByNumber_700 with a negative index");
    return mxGetFieldByNumber(a, static_cast<std::size_t>(index), field);
}
std::size_t mxGetM(const mxArray* a) { return a->m; }
mxArray* mxCreateString(const char* text) { return created(standin::newText(text)); }

// MATLAB's rule: at most buflen - 1 characters and a zero; 1 when they do not
// all fit, the array is not text, or a character has no single-byte form
// (here: anything outside ASCII).
static int getString(const mxArray* a, char* buf, std::size_t buflen) {
    if (buflen == 0) hostFault("mxGetString with no room for the terminating zero");
    buf[0] = '\0';
    if (!mxIsChar(a)) return 1;
    const std::size_t count = a->m * a->n;
    std::size_t k = 0;
    for (; k < count && k + 1 < buflen; ++k) {
        const double code = a->pr[k];
        if (!(code >= 0.0 && code <= 127.0)) {
            buf[k] = '\0';
            return 1;
        }
        buf[k] = static_cast<char>(code);
    }
    buf[k] = '\0';
    return k == count ? 0 : 1;
}

static mxArray_tag* createStruct(std::size_t m, std::size_t n, int nfields, const char** names) {
    if (nfields < 0 || m * n != 1) hostFault("mxCreateStructMatrix: only 1-by-1 structs here");
    mxArray_tag* a = created(standin::newArray("struct", m, n));
    a->fieldCount = nfields;
    a->fieldNames = new char*[static_cast<std::size_t>(nfields)];
    a->fields = new mxArray_tag*[static_cast<std::size_t>(nfields)]();
    for (int f = 0; f < nfields; ++f) {
        a->fieldNames[f] = new char[std::strlen(names[f]) + 1];
        std::strcpy(a->fieldNames[f], names[f]);
    }
    return a;
}

// The struct takes the value over: it is no longer the module's to return.
static void setField(mxArray* a, std::size_t index, int field, mxArray* value) {
    if (std::strcmp(a->className, "struct") != 0 || index >= a->m * a->n || field < 0 ||
        field >= a->fieldCount)
        hostFault("mxSetFieldByNumber outside the struct");
    mxArray_tag*& slot = a->fields[index * static_cast<std::size_t>(a->fieldCount) +
                                   static_cast<std::size_t>(field)];
    if (slot != nullptr) hostFault("mxSetFieldByNumber over a value it would leak");
    const auto it = std::find(createdDuringCall.begin(), createdDuringCall.end(), value);
    if (it == createdDuringCall.end()) hostFault("mxSetFieldByNumber with a value not created now");
    createdDuringCall.erase(it);
    slot = value;
}

// The data and their block stay as they are: no memory is given back, and
// no more rows than the block holds are allowed.
static void setRows(mxArray* a, std::size_t m) {
    if (a->n != 0 && m > a->capacity / a->n) hostFault("mxSetM beyond the array's data block");
    a->m = m;
}

// The 32-bit-dimension entry points of MATLAB's libmx (MX_COMPAT_32 builds).
mxArray* mxCreateDoubleMatrix_700(int m, int n, int /*flag*/) {
    if (m < 0 || n < 0) hostFault("mxCreateDoubleMatrix_700 with a negative dimension");
    return createDouble(static_cast<std::size_t>(m), static_cast<std::size_t>(n));
}
int mxGetString_700(const mxArray* a, char* buf, int buflen) {
    if (buflen < 0) hostFault("mxGetString_700 with a negative length");
    return getString(a, buf, static_cast<std::size_t>(buflen));
}
mxArray* mxCreateStructMatrix_700(int m, int n, int nfields, const char** names) {
    if (m < 0 || n < 0) hostFault("mxCreateStructMatrix_700 with a negative dimension");
    return createStruct(static_cast<std::size_t>(m), static_cast<std::size_t>(n), nfields, names);
}
void mxSetFieldByNumber_700(mxArray* a, int index, int field, mxArray* value) {
    if (index < 0) hostFault("mxSetFieldByNumber_700 with a negative index");
    setField(a, static_cast<std::size_t>(index), field, value);
}
void mxSetM_700(mxArray* a, int m) {
    if (m < 0) hostFault("mxSetM_700 with a negative dimension");
    setRows(a, static_cast<std::size_t>(m));
}
// The plain entry points, with Octave's and 64-bit MATLAB's size_t dimensions.
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity /*flag*/) {
    return createDouble(m, n);
}
int mxGetString(const mxArray* a, char* buf, mwSize buflen) { return getString(a, buf, buflen); }
mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char** names) {
    return createStruct(m, n, nfields, names);
}
void mxSetFieldByNumber(mxArray* a, mwIndex index, int field, mxArray* value) {
    setField(a, index, field, value);
}
void mxSetM(mxArray* a, mwSize m) { setRows(a, m); }

void* mxMalloc(std::size_t n) { return allocateBlock(n); }

// A new block with the old one's contents, the old one freed, as MATLAB's
// mxRealloc may move a block.
void* mxRealloc(void* ptr, std::size_t size) {
    const auto old = allocatedBlock(ptr);
    if (old == allocatedDuringCall.end()) hostFault("mxRealloc of memory not from mxMalloc");
    const std::size_t kept = std::min(old->second, size);
    double* p = allocateBlock(size);
    std::memcpy(p, allocatedBlock(ptr)->first, kept);
    freeBlock(allocatedBlock(ptr));
    return p;
}

// An mxMalloc block, or the data of an array created in this call (which
// then holds none until mxSetPr).
void mxFree(void* ptr) {
    if (ptr == nullptr) return;
    const auto block = allocatedBlock(ptr);
    if (block != allocatedDuringCall.end()) return freeBlock(block);
    for (mxArray_tag* a : createdDuringCall)
        if (a->pr == ptr) {
            heldBytes -= a->capacity * sizeof(double);
            delete[] a->pr;
            a->pr = nullptr;
            a->capacity = 0;
            return;
        }
    hostFault("mxFree of memory the module was not given");
}

// The array takes the block over; its old data must have been freed.
void mxSetPr(mxArray* a, double* pr) {
    if (std::find(createdDuringCall.begin(), createdDuringCall.end(), a) == createdDuringCall.end())
        hostFault("mxSetPr on an array not created in this call");
    if (a->pr != nullptr) hostFault("mxSetPr over data it would leak");
    const auto block = allocatedBlock(pr);
    if (block == allocatedDuringCall.end()) hostFault("mxSetPr with memory not from mxMalloc");
    a->pr = pr;
    a->capacity = block->second / sizeof(double);
    allocatedDuringCall.erase(block);
}

void mxDestroyArray(mxArray* a) {
    const auto c = std::find(createdDuringCall.begin(), createdDuringCall.end(), a);
    if (c == createdDuringCall.end()) hostFault("mxDestroyArray on an array not created in this call");
    createdDuringCall.erase(c);
    destroyCreated(a);
}

// The host's functions as the module may call them: maxNumCompThreads
// answers standin::maxNumCompThreads (NaN: raises an error); char turns a
// string scalar into a char row (a string array of other than one element,
// which MATLAB would pad into a char matrix, is not asked for here, so it
// raises an error); anything else is an error, returned as an array.
mxArray* mexCallMATLABWithTrap(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                               const char* name) {
    ++standin::hostFunctionCalls;
    if (std::strcmp(name, "char") == 0 && nrhs == 1 && nlhs == 1 && prhs[0]->texts != nullptr &&
        prhs[0]->m * prhs[0]->n == 1) {
        plhs[0] = mxCreateString(prhs[0]->texts[0]);
        return nullptr;
    }
    if (std::strcmp(name, "maxNumCompThreads") == 0 && nrhs == 0 && nlhs <= 1 &&
        standin::maxNumCompThreads == standin::maxNumCompThreads) {
        if (nlhs == 1) plhs[0] = mxCreateDoubleScalar(standin::maxNumCompThreads);
        return nullptr;
    }
    return mxCreateString("standin: no such function");
}
mxArray* mexCallMATLABWithTrapWithObject(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                                         const char* name) {
    return mexCallMATLABWithTrap(nlhs, plhs, nrhs, prhs, name);
}

void mexErrMsgIdAndTxt(const char* errorid, const char* errormsg, ...) {
    StandinMexError error;
    std::snprintf(error.id, sizeof error.id, "%s", errorid);
    va_list args;
    va_start(args, errormsg);
    std::vsnprintf(error.message, sizeof error.message, errormsg, args);
    va_end(args);
    throw error;
}

void mexWarnMsgIdAndTxt(const char* warningid, const char* warningmsg, ...) {
    char message[1024];
    va_list args;
    va_start(args, warningmsg);
    std::vsnprintf(message, sizeof message, warningmsg, args);
    va_end(args);
    warnings.push_back({warningid, message});
}

int mexPrintf(const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    printed += text;
    return length;
}

mxArray* mexEvalStringWithTrap(const char* command) {
    evaluated.emplace_back(command);
    if (evaluationsBeforeFailure >= 0 && evaluationsBeforeFailure-- == 0)
        return created(standin::newArray("MException", 1, 1));
    return nullptr;
}

}  // extern "C"
