// Stand-in libmex.dll: mexErrMsgIdAndTxt abandons the MEX call by throwing to
// the host; mexWarnMsgIdAndTxt, mexPrintf and mexEvalStringWithTrap record
// what the module showed and evaluated, which the host reads, and controls,
// through the functions exported below; the one host function the module
// calls answers as MATLAB's does.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "standin_array.h"

namespace {
int warningCount = 0;
char lastWarningId[64];
char lastWarning[512];
char printed[16384];
int evaluations = 0;
char lastEvaluated[64];
long evaluationsBeforeFailure = -1;
// What a failed evaluation hands back; the module only tests it for null.
mxArray_tag exception{"MException", false, false, 1, 1, nullptr};
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

// Appended to what was printed, cut short where the buffer ends.
int mexPrintf(const char* format, ...) {
    const std::size_t used = std::strlen(printed);
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(printed + used, sizeof printed - used, format, args);
    va_end(args);
    return length;
}

mxArray_tag* mexEvalStringWithTrap(const char* command) {
    ++evaluations;
    std::snprintf(lastEvaluated, sizeof lastEvaluated, "%s", command);
    if (evaluationsBeforeFailure >= 0 && evaluationsBeforeFailure-- == 0) return &exception;
    return nullptr;
}

// Controls for the host, exported besides the .def file's names: what was
// shown and evaluated since the last reset, and the evaluation (0 = the
// next; negative: none) that raises an error, as Ctrl+C during drawnow does.
__declspec(dllexport) int standinWarningCount() { return warningCount; }
__declspec(dllexport) const char* standinLastWarningId() { return lastWarningId; }
__declspec(dllexport) const char* standinLastWarning() { return lastWarning; }
__declspec(dllexport) const char* standinPrinted() { return printed; }
__declspec(dllexport) int standinEvaluations() { return evaluations; }
__declspec(dllexport) const char* standinLastEvaluated() { return lastEvaluated; }
__declspec(dllexport) void standinFailEvaluationAt(long evaluation) {
    evaluationsBeforeFailure = evaluation;
}
__declspec(dllexport) void standinResetShown() {
    warningCount = 0;
    printed[0] = '\0';
    evaluations = 0;
    lastEvaluated[0] = '\0';
}

// From the stand-in libmx.dll, as MATLAB's libmex takes it from libmx.
mxArray_tag* mxCreateDoubleScalar(double value);
mxArray_tag* mxCreateString(const char* text);

// maxNumCompThreads answers 2, as on a two-core machine; anything else is an
// error, returned as an array.
mxArray_tag* mexCallMATLABWithTrapWithObject(int nlhs, mxArray_tag* plhs[], int nrhs,
                                                        mxArray_tag* [], const char* name) {
    if (std::strcmp(name, "maxNumCompThreads") == 0 && nrhs == 0 && nlhs <= 1) {
        if (nlhs == 1) plhs[0] = mxCreateDoubleScalar(2.0);
        return nullptr;
    }
    return mxCreateString("standin: no such function");
}

}  // extern "C"
