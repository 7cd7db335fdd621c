// The stand-in mxArray: the one layout shared by the stand-in libmx and the host.
#ifndef BRELVANE_STANDIN_ARRAY_H
#define BRELVANE_STANDIN_ARRAY_H

#include <cstddef>

// Data is always held as doubles, column-major (a char array's character
// codes too); className, isComplex and isSparse only decide what the class
// queries answer, so the host can present the module with arrays of any kind.
// A struct array made by mxCreateStructMatrix also holds its field names and,
// element by element, one value per field, which it owns.
struct mxArray_tag {
    const char* className;
    bool isComplex;
    bool isSparse;
    std::size_t m;
    std::size_t n;
    double* pr;  // m*n elements
    // Elements the block at pr holds, at least m*n: the host's memory, which
    // mxSetM does not change.
    std::size_t capacity = 0;
    int fieldCount = 0;
    char** fieldNames = nullptr;     // fieldCount names
    mxArray_tag** fields = nullptr;  // fields[element * fieldCount + field], null until set
    // pages > 1: an m-by-(n / pages)-by-pages array, n counting the columns
    // of all pages together, as mxGetN does.
    std::size_t pages = 1;
    // The shape as mxGetDimensions hands it out, in either interface's mwSize.
    mutable std::size_t dims[3] = {};
    mutable int dims32[3] = {};
    // A string array (className "string"): its m*n elements' texts, which
    // the host's char() turns into a char row; pr holds nothing then.
    char** texts = nullptr;
};

// What the stand-in mexErrMsgIdAndTxt throws to abandon a MEX call; the host
// catches it around mexFunction, as MATLAB does.
struct StandinMexError {
    char id[64];
    char message[512];
};

#endif
