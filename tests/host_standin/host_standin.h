// A native stand-in for the MEX host: arrays, the mx/mex functions the gateway
// calls, and a host-side call that abandons a MEX call on error as MATLAB does.
#ifndef BRELVANE_HOST_STANDIN_H
#define BRELVANE_HOST_STANDIN_H

#include <cstddef>
#include <string>
#include <vector>

// The array layout and the thrown error are the Wine stand-in's: one host
// model for both platforms.
#include "standin_array.h"

namespace standin {

// Largest array mxCreateDoubleMatrix hands out, in elements. Beyond it the
// call is abandoned with standin:outOfMemory, as MATLAB abandons a MEX call
// whose allocation fails.
constexpr std::size_t maxCreatedElements = std::size_t{1} << 22;

// A new m-by-n array presenting itself as `className` (double, single, int32,
// logical, char, cell, ...), holding m*n doubles copied from `values` (or
// zeros), in storage of exactly that size, so a read past it is caught.
mxArray_tag* newArray(const char* className, std::size_t m, std::size_t n,
                      const double* values = nullptr, bool isComplex = false,
                      bool isSparse = false);
void destroyArray(mxArray_tag* a);

// A 1-by-strlen(text) char array of the text's character codes.
mxArray_tag* newText(const char* text);

// A 1-by-texts.size() string array (MATLAB's Name=Value passes a name as
// one), whose elements the host's char() turns into char rows.
mxArray_tag* newStrings(const std::vector<std::string>& texts);

// A 1-by-1 struct whose fields `names` hold `values` (taken over; null: a
// field never set), as an options struct or optimset's result is.
mxArray_tag* newStruct(const std::vector<std::string>& names,
                       const std::vector<mxArray_tag*>& values);

// Arrays made by mxCreateDoubleMatrix and not destroyed yet.
std::size_t liveCreatedArrays();

// What the host's maxNumCompThreads answers through mexCallMATLABWithTrap
// (NaN: it raises an error), and how many host functions the module called.
extern double maxNumCompThreads;
extern long hostFunctionCalls;

// The most bytes of the host's memory the last call held at once for its
// arrays' data blocks (as allocated, whatever their row count says) and its
// mxMalloc blocks, beyond what earlier calls' outputs hold. mxMalloc and
// mxRealloc abandon the call with standin:outOfMemory beyond
// maxCreatedElements doubles, and a call that returns with a block neither
// freed nor handed to an output (mxSetPr) stops the process.
std::size_t peakCallBytes();

struct CallOutcome {
    std::string errorId;  // empty when the call returned normally
    std::string message;
};

// Calls mexFunction with max(nlhs, 1) output slots, as MATLAB does. On an
// error every array created during the call is destroyed and plhs is cleared;
// on return, the outputs in plhs belong to the caller. A call that returns
// with an array it created but did not hand out, or hands out one it did not
// create, stops the process: the module would leak or break its caller. So
// does one that returns without plhs[0], which this module always sets (x is
// the answer even when nlhs = 0).
CallOutcome callMexFunction(int nlhs, mxArray_tag** plhs, int nrhs, mxArray_tag* const* prhs);

// Releases an output a successful call handed to its caller (a struct with
// its values).
void destroyOutput(mxArray_tag* a);

// A warning the module raised through mexWarnMsgIdAndTxt, formatted.
struct Warning {
    std::string id;
    std::string message;
};

// The warnings of the latest call, in order; callMexFunction clears them.
const std::vector<Warning>& warningsRaised();

// All the latest call printed through mexPrintf, and the commands it
// evaluated through mexEvalStringWithTrap, in order; callMexFunction clears
// them.
const std::string& textPrinted();
const std::vector<std::string>& commandsEvaluated();

// The evaluation-th mexEvalStringWithTrap from now (0 = the next) raises an
// error, as Ctrl+C during drawnow does in MATLAB: it returns an exception
// array, created in the call and reclaimed with it. Negative: none does.
void failEvaluationAt(long evaluation);

// The stand-in libut's interrupt flag, as MATLAB raises it on Ctrl+C: the
// poll-th call of utIsInterruptPending from now (0 = the next) raises it, and
// it stays raised until utSetInterruptPending(false). A negative poll never
// raises it. The host loads that libut into local scope before the first call.
void interruptAtPoll(long poll);
bool interruptPending();
long interruptPollCount();

}  // namespace standin

#endif
