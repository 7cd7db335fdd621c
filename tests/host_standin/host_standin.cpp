// The stand-in MEX host on Linux: the mx/mex functions the gateway imports, on
// the shared stand-in mxArray, and a host-side call with MATLAB's ownership rules.
#include "host_standin.h"

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

void destroyCreated(mxArray_tag* a) {
    standin::destroyArray(a);
    --liveCreated;
}

mxArray_tag* createDouble(std::size_t m, std::size_t n) {
    if (m != 0 && n > standin::maxCreatedElements / m)
        mexErrMsgIdAndTxt("standin:outOfMemory", "Out of memory: %zu-by-%zu array.", m, n);
    mxArray_tag* a = standin::newArray("double", m, n);
    createdDuringCall.push_back(a);
    ++liveCreated;
    return a;
}

}  // namespace

namespace standin {

mxArray_tag* newArray(const char* className, std::size_t m, std::size_t n, const double* values,
                      bool isComplex, bool isSparse) {
    const std::size_t count = m * n;
    double* pr = count > 0 ? new double[count]() : nullptr;
    if (values != nullptr && count > 0) std::memcpy(pr, values, count * sizeof(double));
    return new mxArray_tag{className, isComplex, isSparse, m, n, pr};
}

void destroyArray(mxArray_tag* a) {
    if (a == nullptr) return;
    delete[] a->pr;
    delete a;
}

std::size_t liveCreatedArrays() { return liveCreated; }

CallOutcome callMexFunction(int nlhs, mxArray_tag** plhs, int nrhs, mxArray_tag* const* prhs) {
    // Exactly as many slots as MATLAB provides, so a write past them is caught.
    const std::size_t slots = nlhs > 1 ? static_cast<std::size_t>(nlhs) : 1;
    const std::size_t inputs = nrhs > 0 ? static_cast<std::size_t>(nrhs) : 0;
    std::unique_ptr<mxArray_tag*[]> out(new mxArray_tag*[slots]());
    std::unique_ptr<const mxArray_tag*[]> in(new const mxArray_tag*[inputs]);
    std::copy(prhs, prhs + inputs, in.get());
    createdDuringCall.clear();
    try {
        mexFunction(nlhs, out.get(), nrhs, in.get());
    } catch (const StandinMexError& e) {
        // The host reclaims everything the abandoned call created.
        for (mxArray_tag* a : createdDuringCall) destroyCreated(a);
        createdDuringCall.clear();
        std::fill(plhs, plhs + slots, nullptr);
        return {e.id, e.message};
    }
    mxArray_tag** const end = out.get() + slots;
    if (out[0] == nullptr) hostFault("mexFunction returned without setting plhs[0]");
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

}  // namespace standin

extern "C" {

bool mxIsDouble(const mxArray* a) { return std::strcmp(a->className, "double") == 0; }
bool mxIsNumeric(const mxArray* a) { return isNumericClass(a->className); }
bool mxIsComplex(const mxArray* a) { return a->isComplex; }
bool mxIsSparse(const mxArray* a) { return a->isSparse; }
const char* mxGetClassName(const mxArray* a) { return a->className; }
std::size_t mxGetNumberOfElements(const mxArray* a) { return a->m * a->n; }

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

// The plain entry point, with Octave's and 64-bit MATLAB's size_t dimensions.
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity /*flag*/) {
    return createDouble(m, n);
}

// The 32-bit-dimension entry point of MATLAB's libmx (MX_COMPAT_32 builds).
mxArray* mxCreateDoubleMatrix_700(int m, int n, int /*flag*/) {
    if (m < 0 || n < 0) hostFault("mxCreateDoubleMatrix_700 with a negative dimension");
    return createDouble(static_cast<std::size_t>(m), static_cast<std::size_t>(n));
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

}  // extern "C"
