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

// What 'Display' shows: nothing, one line at the end, or also lines while
// the call runs.
enum DisplayLevel { displayOff = 0, displayIter = 1, displayFinal = 2 };

// The nine inputs as the solver takes them: data pointers into the host's
// arrays, the scalars, n and the count truncated toward zero.
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
};

// Raises Brelvane:nargin or Brelvane:nargout unless there are at least nine
// inputs and at most three outputs.
void requireArgumentCounts(int nlhs, int nrhs);

// The nine inputs, each checked in turn (n and iterations first, since n fixes
// how many elements the arrays must hold); the first failure is raised.
Inputs readInputs(const mxArray* prhs[]);

// Name-value pairs after the nine inputs, into the solver's options and the
// display level. Names are matched ignoring case; a later pair overrides an
// earlier one. Threads are automatic unless given.
RatioDescentOptions readOptions(int nrhs, const mxArray* prhs[], DisplayLevel& display);

}  // namespace gateway
}  // namespace brelvane

#endif
