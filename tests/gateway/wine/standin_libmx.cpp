// Stand-in libmx.dll: the array functions Brelvane.mexw64 imports, on the stand-in mxArray.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "standin_array.h"

namespace {

bool isNumericClass(const char* name) {
    static const char* const numeric[] = {"double", "single", "int8",   "uint8", "int16",
                                          "uint16", "int32",  "uint32", "int64", "uint64"};
    for (const char* candidate : numeric)
        if (std::strcmp(name, candidate) == 0) return true;
    return false;
}

// Sizes in bytes of the blocks mxMalloc and mxRealloc handed out, so that
// mxSetPr knows how many elements an array's block holds.
std::map<void*, std::size_t>& blockSizes() {
    static std::map<void*, std::size_t> sizes;
    return sizes;
}

// What MATLAB does where its allocators fail inside a MEX call: the call is
// abandoned with the host's own error.
void* allocated(void* p, std::size_t bytes) {
    if (p == nullptr) {
        StandinMexError error{"standin:outOfMemory", "Out of memory."};
        throw error;
    }
    blockSizes()[p] = bytes;
    return p;
}

}  // namespace

extern "C" {

bool mxIsDouble(const mxArray_tag* a) { return std::strcmp(a->className, "double") == 0; }
bool mxIsNumeric(const mxArray_tag* a) { return isNumericClass(a->className); }
bool mxIsComplex(const mxArray_tag* a) { return a->isComplex; }
bool mxIsSparse(const mxArray_tag* a) { return a->isSparse; }
const char* mxGetClassName(const mxArray_tag* a) { return a->className; }
std::size_t mxGetNumberOfElements(const mxArray_tag* a) { return a->m * a->n; }
double* mxGetPr(const mxArray_tag* a) { return a->pr; }

int mxGetNumberOfDimensions_700(const mxArray_tag* a) { return a->pages > 1 ? 3 : 2; }
const int* mxGetDimensions_700(const mxArray_tag* a) {
    a->dims32[0] = static_cast<int>(a->m);
    a->dims32[1] = static_cast<int>(a->n / a->pages);
    a->dims32[2] = static_cast<int>(a->pages);
    return a->dims32;
}

// MATLAB's documented behaviour: the first real element; 0 for an empty array.
double mxGetScalar(const mxArray_tag* a) { return a->m * a->n > 0 ? a->pr[0] : 0.0; }

// A new m-by-n real double matrix of zeros. The 32-bit-dimension entry point.
mxArray_tag* mxCreateDoubleMatrix_700(int m, int n, int /*complexity*/) {
    mxArray_tag* a = static_cast<mxArray_tag*>(std::malloc(sizeof(mxArray_tag)));
    const std::size_t count = static_cast<std::size_t>(m) * static_cast<std::size_t>(n);
    *a = mxArray_tag{"double",
                     false,
                     false,
                     static_cast<std::size_t>(m),
                     static_cast<std::size_t>(n),
                     static_cast<double*>(std::calloc(count > 0 ? count : 1, sizeof(double)))};
    a->capacity = count;
    return a;
}

// An array the module made and no longer needs (never a struct here).
void mxDestroyArray(mxArray_tag* a) {
    if (a == nullptr) return;
    std::free(a->pr);
    std::free(a);
}

mxArray_tag* mxCreateDoubleScalar(double value) {
    mxArray_tag* a = mxCreateDoubleMatrix_700(1, 1, 0);
    a->pr[0] = value;
    return a;
}

bool mxIsChar(const mxArray_tag* a) { return std::strcmp(a->className, "char") == 0; }
std::size_t mxGetM(const mxArray_tag* a) { return a->m; }

// Character codes held as doubles, like every other array here.
mxArray_tag* mxCreateString(const char* text) {
    const int length = static_cast<int>(std::strlen(text));
    mxArray_tag* a = mxCreateDoubleMatrix_700(1, length, 0);
    a->className = "char";
    for (int k = 0; k < length; ++k) a->pr[k] = static_cast<unsigned char>(text[k]);
    return a;
}

// At most buflen - 1 characters and a zero; 1 when they do not all fit or one
// is not ASCII.
int mxGetString_700(const mxArray_tag* a, char* buf, int buflen) {
    if (!mxIsChar(a) || buflen < 1) return 1;
    const std::size_t count = a->m * a->n;
    std::size_t k = 0;
    for (; k < count && k + 1 < static_cast<std::size_t>(buflen); ++k) {
        if (!(a->pr[k] >= 0.0 && a->pr[k] <= 127.0)) break;
        buf[k] = static_cast<char>(a->pr[k]);
    }
    buf[k] = '\0';
    return k == count ? 0 : 1;
}

mxArray_tag* mxCreateStructMatrix_700(int m, int n, int nfields, const char** names) {
    mxArray_tag* a = mxCreateDoubleMatrix_700(m, n, 0);
    a->className = "struct";
    a->fieldCount = nfields;
    a->fieldNames = static_cast<char**>(std::calloc(static_cast<std::size_t>(nfields) + 1, sizeof(char*)));
    a->fields = static_cast<mxArray_tag**>(
        std::calloc(static_cast<std::size_t>(nfields) * a->m * a->n + 1, sizeof(mxArray_tag*)));
    for (int f = 0; f < nfields; ++f) {
        a->fieldNames[f] = static_cast<char*>(std::malloc(std::strlen(names[f]) + 1));
        std::strcpy(a->fieldNames[f], names[f]);
    }
    return a;
}

void mxSetFieldByNumber_700(mxArray_tag* a, int index, int field, mxArray_tag* value) {
    a->fields[index * a->fieldCount + field] = value;
}

// Reading a struct, as an options struct is read.
bool mxIsStruct(const mxArray_tag* a) { return std::strcmp(a->className, "struct") == 0; }
bool mxIsEmpty(const mxArray_tag* a) { return a->m * a->n == 0; }
int mxGetNumberOfFields(const mxArray_tag* a) { return a->fieldCount; }
const char* mxGetFieldNameByNumber(const mxArray_tag* a, int field) { return a->fieldNames[field]; }
mxArray_tag* mxGetFieldByNumber_700(const mxArray_tag* a, int index, int field) {
    return a->fields[index * a->fieldCount + field];
}

// No memory is given back; rows beyond the data block are a fault of the module's.
void mxSetM_700(mxArray_tag* a, int m) {
    if (a->n != 0 && static_cast<std::size_t>(m) > a->capacity / a->n) {
        std::fprintf(stderr, "stand-in libmx: mxSetM beyond the array's data block\n");
        std::abort();
    }
    a->m = static_cast<std::size_t>(m);
}

void* mxMalloc(std::size_t n) { return allocated(std::malloc(n > 0 ? n : 1), n); }

void* mxRealloc(void* ptr, std::size_t size) {
    void* p = std::realloc(ptr, size > 0 ? size : 1);
    if (p != nullptr) blockSizes().erase(ptr);
    return allocated(p, size);
}

void mxFree(void* ptr) {
    blockSizes().erase(ptr);
    std::free(ptr);
}

void mxSetPr(mxArray_tag* a, double* pr) {
    const auto block = blockSizes().find(pr);
    if (block == blockSizes().end()) {
        std::fprintf(stderr, "stand-in libmx: mxSetPr with memory not from mxMalloc\n");
        std::abort();
    }
    a->pr = pr;
    a->capacity = block->second / sizeof(double);
    blockSizes().erase(block);
}

}  // extern "C"
