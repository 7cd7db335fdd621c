// The MATLAB C API functions the gateway uses, declared from their documented signatures.
#ifndef BRELVANE_MEX_API_H
#define BRELVANE_MEX_API_H

#include <cstddef>

// The host's own declarations are not needed: every call below has C linkage,
// and mxArray is only ever handled through pointers.
//
// MATLAB's libmx exports the size-taking functions under versioned names. With
// MX_COMPAT_32 (the 32-bit-dimension interface, which our Windows and MATLAB
// builds use) mwSize is int and mxCreateDoubleMatrix resolves to
// mxCreateDoubleMatrix_700. Without it (Octave, whose mwSize is a 64-bit
// integer) the plain names are imported and mwSize is size_t, which is passed
// in the same register as Octave's int64_t.
#if defined(MX_COMPAT_32)
typedef int mwSize;
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#else
typedef std::size_t mwSize;
#endif

extern "C" {

typedef struct mxArray_tag mxArray;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

bool mxIsDouble(const mxArray* pm);
bool mxIsNumeric(const mxArray* pm);
bool mxIsComplex(const mxArray* pm);
bool mxIsSparse(const mxArray* pm);
const char* mxGetClassName(const mxArray* pm);
std::size_t mxGetNumberOfElements(const mxArray* pm);
double mxGetScalar(const mxArray* pm);
double* mxGetPr(const mxArray* pm);
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);

// Does not return inside a MEX call: the host abandons the call and raises
// the error in the caller. errormsg is a printf format.
void mexErrMsgIdAndTxt(const char* errorid, const char* errormsg, ...);

// The entry point the host looks up by name; the module's only export.
#if defined(_WIN32)
#define BRELVANE_MEX_EXPORT __declspec(dllexport)
#else
#define BRELVANE_MEX_EXPORT __attribute__((visibility("default")))
#endif
BRELVANE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // extern "C"

#endif
