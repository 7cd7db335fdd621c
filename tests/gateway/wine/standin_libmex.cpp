// Stand-in libmex.dll: mexErrMsgIdAndTxt abandons the MEX call by throwing to
// the host; mexWarnMsgIdAndTxt records the warning, which the host reads
// through the exported controls below.
#include <cstdarg>
#include <cstdio>

#include "standin_array.h"

namespace {
int warningCount = 0;
char lastWarningId[64];
char lastWarning[512];
}  // namespace

extern "C" {

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
    ++warningCount;
    std::snprintf(lastWarningId, sizeof lastWarningId, "%s", warningid);
    va_list args;
    va_start(args, warningmsg);
    std::vsnprintf(lastWarning, sizeof lastWarning, warningmsg, args);
    va_end(args);
}

// Controls for the host, exported besides the .def file's names: the
// warnings since the last reset, and the latest one's identifier and text.
__declspec(dllexport) int standinWarningCount() { return warningCount; }
__declspec(dllexport) const char* standinLastWarningId() { return lastWarningId; }
__declspec(dllexport) const char* standinLastWarning() { return lastWarning; }
__declspec(dllexport) void standinResetShown() { warningCount = 0; }

}  // extern "C"
