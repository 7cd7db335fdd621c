// The host's services to a call: its errors, its interrupt flag (Ctrl+C), its
// memory for the solve and for r, the progress display, its thread setting.
//
// Nothing here has a destructor: an error leaves a call by the host's own
// unwinding (MATLAB) or a C++ exception (Octave), and a frame of ours with
// cleanup code would hand the host's unwinding to our compiler's runtime.
#ifndef BRELVANE_GATEWAY_HOST_H
#define BRELVANE_GATEWAY_HOST_H

#include <cstdint>

#include "arguments.h"
#include "brelvane/ratio_descent.h"
#include "mex_api.h"

namespace brelvane {
namespace gateway {

// Raises the error `id` in the caller; the host abandons the call. The text is
// formatted here so that every host sees the same message. Messages do not
// begin with the function's name: MATLAB shows "Error using Brelvane" above
// them and Octave prefixes "Brelvane: ".
[[noreturn]] void fail(const char* id, const char* format, ...);

// ---- The interrupt flag -------------------------------------------------------

// Found at run time, so that the module loads on a host without it (where
// Ctrl+C is then not seen). Octave sets octave_interrupt_state > 0 on SIGINT
// (a sig_atomic_t, an int, defined in its liboctave); MATLAB answers
// utIsInterruptPending() from libut.
struct HostInterrupt {
    int* octaveState;
    bool (*isPending)();
    bool (*setPending)(bool);
};

HostInterrupt findHostInterrupt();
// The solver's poll (context: the HostInterrupt).
bool hostInterruptPending(void* context);
// The interrupt is ours to report: the flag goes back to "none pending".
void acknowledgeInterrupt(const HostInterrupt& h);

// ---- Memory ---------------------------------------------------------------------

// r holds R(x0) and R after each iteration, at most 2^31 - 1 values (a
// 32-bit dimension, as n has): with r, a count beyond 2^31 - 2 acts as 2^31 - 2.
constexpr std::int64_t maxTraceIterations = 2147483646;

// r's storage; `refused` is the length it could not grow to, 0 if none.
struct TraceStorage {
    double* data;
    std::int64_t refused;
};

// The solve's memory from the host, and r's storage when r is asked for.
void useHostMemory(RatioDescentOptions& options, TraceStorage* trace);
void useHostMemory(EigenpairsOptions& options);

// r as an m-by-1 column that takes the storage over, cut to its m entries.
mxArray* traceColumn(double* data, std::int64_t m);

// ---- Progress display ('Display') ---------------------------------------------

// The display of one call; plain data, as everything in our frames.
struct Display {
    DisplayLevel level;
    bool withResidual;          // the call has checkpoints, where eta is formed
    const char* gradientLabel;  // weighted under diagonal scaling
    bool refresh;               // evaluate drawnow after a line (not in Octave)
    double start;               // the clock at the start of the call, in seconds
    double lastLine;            // seconds from the start to the last line
    long lines;                 // progress lines shown
    bool refreshFailed;         // drawnow raised an error: the call is abandoned
};

double secondsNow();

// The solver's progress callback under 'Display', 'iter' (context: the Display).
bool showProgress(const RatioDescentProgress& state, void* context);

// BrelvaneEigs's progress callback under 'Display', 'iter' (context: the
// Display): the sweeps and the largest backward error, on the same rule.
bool showSweep(std::int64_t sweeps, double backwardError, void* context);

// 'final', and the end of 'iter': why and where the call stopped, in one line.
void showFinal(const Display& d, const RatioDescentReport& r, std::int64_t iterations,
               const RatioDescentOptions& o);

// ---- Warnings --------------------------------------------------------------------

// Brelvane:notSymmetric naming the pairs found in P and Q (if any), ending
// with `howRead`, what the solve makes of such a matrix. Raised when nothing
// of ours is held: the user may have turned the warning into an error.
void warnOfAsymmetry(const Asymmetry& P, const Asymmetry& Q, const char* howRead);

// ---- Threads -----------------------------------------------------------------------

// MATLAB's maxNumCompThreads, for the automatic count; 0 (no limit beyond the
// processors) elsewhere and when MATLAB gives no answer.
int hostThreadLimit(const HostInterrupt& host);

}  // namespace gateway
}  // namespace brelvane

#endif
