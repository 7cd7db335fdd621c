// The MATLAB C API functions the gateway uses, declared from their documented signatures.
#ifndef BRELVANE_MEX_API_H
#define BRELVANE_MEX_API_H

#include <cstddef>

// The host's own declarations are not needed: every call below has C linkage,
// and mxArray is only ever handled through pointers.
//
// MATLAB's libmx exports the functions that take an mwSize or mwIndex under
// versioned names. With MX_COMPAT_32 (the 32-bit-dimension interface, which our
// Windows and MATLAB builds use) mwSize and mwIndex are int and those names
// carry the suffix _700, as MATLAB's matrix.h maps them. Without it (Octave,
// whose mwSize is a 64-bit integer) the plain names are imported and mwSize is
// size_t, which is passed in the same register as Octave's int64_t.
#if defined(MX_COMPAT_32)
typedef int mwSize;
typedef int mwIndex;
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateStructMatrix mxCreateStructMatrix_700
#define mxGetDimensions mxGetDimensions_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
#define mxGetString mxGetString_700
#define mxGetFieldByNumber mxGetFieldByNumber_700
#define mxSetFieldByNumber mxSetFieldByNumber_700
#define mxSetM mxSetM_700
#else
typedef std::size_t mwSize;
typedef std::size_t mwIndex;
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
// The shape: at least two dimensions, the first the row count.
mwSize mxGetNumberOfDimensions(const mxArray* pm);
const mwSize* mxGetDimensions(const mxArray* pm);
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);
mxArray* mxCreateDoubleScalar(double value);

// Text: a char array's rows, and its characters copied into buf as a
// zero-terminated string (nonzero when they do not fit in buflen - 1).
bool mxIsChar(const mxArray* pm);
std::size_t mxGetM(const mxArray* pm);
int mxGetString(const mxArray* pm, char* buf, mwSize buflen);
mxArray* mxCreateString(const char* str);

// A struct array; setting a field hands the value to the struct. Reading one:
// its fields' count and names, and element index's value of a field (null
// where none was set; the struct keeps it).
mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char** fieldnames);
void mxSetFieldByNumber(mxArray* pm, mwIndex index, int fieldnumber, mxArray* value);
bool mxIsStruct(const mxArray* pm);
int mxGetNumberOfFields(const mxArray* pm);
const char* mxGetFieldNameByNumber(const mxArray* pm, int n);
mxArray* mxGetFieldByNumber(const mxArray* pm, mwIndex index, int fieldnumber);
bool mxIsEmpty(const mxArray* pm);

// Changes the row count only; the data stay where they are, and no memory is
// given back.
void mxSetM(mxArray* pm, mwSize m);

// Memory the host reclaims when it abandons the call (and at its end, unless
// handed to an output). Inside a MEX call MATLAB's mxMalloc and mxRealloc do
// not return on failure: the host abandons the call with its own error, as
// Octave's mxMalloc does; Octave's mxRealloc returns null, leaving the block.
void* mxMalloc(std::size_t n);
void* mxRealloc(void* ptr, std::size_t size);
void mxFree(void* ptr);
// The array's data become pr, which must come from mxMalloc or mxRealloc;
// the old data are not freed.
void mxSetPr(mxArray* pm, double* pr);

void mxDestroyArray(mxArray* pm);

// Calls the host's function `name` (MATLAB exports it under another name);
// returns null and its results in plhs, or the error it raised, as an
// array for the caller to destroy, instead of abandoning the call.
#if defined(MX_COMPAT_32)
#define mexCallMATLABWithTrap mexCallMATLABWithTrapWithObject
#endif
mxArray* mexCallMATLABWithTrap(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                               const char* name);

// Does not return inside a MEX call: the host abandons the call and raises
// the error in the caller. errormsg is a printf format.
[[noreturn]] void mexErrMsgIdAndTxt(const char* errorid, const char* errormsg, ...);

// Writes to the host's command window (printf format).
int mexPrintf(const char* format, ...);

// Evaluates a command in the caller's workspace. An error raised by it comes
// back as the exception (an array the host frees when the call ends) instead
// of leaving the call; null when none was raised.
mxArray* mexEvalStringWithTrap(const char* command);

// Shows a warning with an identifier, unless the user turned it off; returns,
// or raises an error instead where the user turned the warning into one.
// warningmsg is a printf format.
void mexWarnMsgIdAndTxt(const char* warningid, const char* warningmsg, ...);

// The entry point the host looks up by name; the module's only export.
#if defined(_WIN32)
#define BRELVANE_MEX_EXPORT __declspec(dllexport)
#else
#define BRELVANE_MEX_EXPORT __attribute__((visibility("default")))
#endif
BRELVANE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // extern "C"

#endif
