// Stand-in libmex.dll: mexErrMsgIdAndTxt abandons the MEX call by throwing to the host.
#include <cstdarg>
#include <cstdio>

#include "standin_array.h"

extern "C" void mexErrMsgIdAndTxt(const char* errorid, const char* errormsg, ...) {
    StandinMexError error;
    std::snprintf(error.id, sizeof error.id, "%s", errorid);
    va_list args;
    va_start(args, errormsg);
    std::vsnprintf(error.message, sizeof error.message, errormsg, args);
    va_end(args);
    throw error;
}
