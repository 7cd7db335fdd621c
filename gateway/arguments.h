// Reading a call's arguments and its name-value options into the solver's terms.
#ifndef BRELVANE_GATEWAY_ARGUMENTS_H
#define BRELVANE_GATEWAY_ARGUMENTS_H

#include <cstdint>

#include "brelvane/ratio_descent.h"
#include "mex_api.h"

namespace brelvane {
namespace gateway {

// x0, P, c, alpha, Q, d, beta, n, iterations; then name-value pairs.
constexpr int inputCount = 9;
// x, the ratio trace r and the report info; nlhs = 0 still receives x (as ans).
constexpr int maxOutputCount = 3;

// Most threads a call may be given.
constexpr int mostThreads = 1024;

// What 'Display' shows: nothing, one line at the end, also lines while the
// call runs, or the line at the end only when a tolerance given was not met.
enum DisplayLevel { displayOff = 0, displayIter = 1, displayFinal = 2, displayNotify = 3 };

// The nine inputs as the solver takes them: data pointers into the host's
// arrays (c or d given as [] point at zeros the host reclaims), the scalars
// ([] for alpha or beta is 0), n and the count truncated toward zero.
struct Inputs {
    const double* x0;
    const double* P;
    const double* c;
    double alpha;
    const double* Q;
    const double* d;
    double beta;
    std::int64_t n;
    std::int64_t iterations;
    // The zeros c or d stand for when given as [] (from mxMalloc, for the
    // caller to free), or null.
    double* zeros;
};

// Raises Brelvane:nargin or Brelvane:nargout unless there are at least nine
// inputs and at most three outputs.
void requireArgumentCounts(int nlhs, int nrhs);

// The nine inputs, each checked in turn (n and iterations first, since n fixes
// how many elements the arrays must hold); the first failure is raised.
Inputs readInputs(const mxArray* prhs[]);

// The options after the nine inputs, into the solver's options and the
// display level: an options struct (argument 10) whose non-empty fields are
// options, then name-value pairs, each name a char vector or a string scalar,
// matched ignoring case; a later one overrides an earlier one. Threads are
// automatic unless given.
RatioDescentOptions readOptions(int nrhs, const mxArray* prhs[], DisplayLevel& display);

// ---- BrelvaneEigs -------------------------------------------------------------

// The k lowest (or highest) eigenpairs of (P, Q): what the call reads.
struct EigenpairsInputs {
    const double* P;
    const double* Q;
    std::int64_t n;
    std::int64_t k;
    const double* start;  // 'StartVectors' (n-by-startColumns), or null
    std::int64_t startColumns;
};

// True when the first argument is the word 'eigenpairs' (char or string):
// the module then answers BrelvaneEigs(P, Q, k, ...) with the arguments after it.
bool isEigenpairsCall(int nrhs, const mxArray* prhs[]);

// BrelvaneEigs's arguments (those after the word): P, Q, k, optionally
// sigma ('smallestreal', 'largestreal', 'sa', 'la'), an options struct and
// name-value pairs, each checked in turn; the first failure is raised.
// Threads are automatic unless given.
EigenpairsInputs readEigenpairsCall(int nlhs, int nrhs, const mxArray* prhs[],
                                    EigenpairsOptions& options, DisplayLevel& display);

}  // namespace gateway
}  // namespace brelvane

#endif
