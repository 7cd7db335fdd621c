// Stand-in libmx.dll: the array functions Brelvane.mexw64 imports, on the stand-in mxArray.
#include <cstdlib>
#include <cstring>

#include "standin_array.h"

namespace {

bool isNumericClass(const char* name) {
    static const char* const numeric[] = {"double", "single", "int8",   "uint8", "int16",
                                          "uint16", "int32",  "uint32", "int64", "uint64"};
    for (const char* candidate : numeric)
        if (std::strcmp(name, candidate) == 0) return true;
    return false;
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
    return a;
}

}  // extern "C"
