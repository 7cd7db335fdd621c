// MEX entry point:
//   [x, r, info] = Brelvane(x0, P, c, alpha, Q, d, beta, n, iterations, name, value, ...)
// reads the call (arguments.h), runs the solve with the host's services
// (host.h), and hands back x, r and info, then the warnings.
//
// Nothing in this file has a destructor: an error leaves mexFunction by the
// host's own unwinding (MATLAB) or a C++ exception (Octave), and a frame of ours
// with cleanup code would hand the host's unwinding to our compiler's runtime.
// Text lives in plain char buffers.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "arguments.h"
#include "brelvane/ratio_descent.h"
#include "eigenpairs_function.h"
#include "host.h"
#include "mex_api.h"

using namespace brelvane;
using namespace brelvane::gateway;

namespace {

// ---- Results ----------------------------------------------------------------

void requireSolved(RatioDescentStatus status, std::int64_t n) {
    if (status == ratioDescentOutOfMemory)
        fail("Brelvane:outOfMemory", "The work vectors for n = %lld could not be allocated.",
             static_cast<long long>(n));
    if (status == ratioDescentTooLarge)
        fail("Brelvane:outOfRange", "n = %lld is more than the BLAS in this build can index.",
             static_cast<long long>(n));
}

const char* stopName(RatioDescentStop stop) {
    switch (stop) {
        case ratioDescentStopGradient: return "gradient";
        case ratioDescentStopStationary: return "stationary";
        case ratioDescentStopTolerance: return "tolerance";
        case ratioDescentStopStalled: return "stalled";
        case ratioDescentStopNotFinite: return "notFinite";
        default: return "iterations";
    }
}

// info = struct('iterations', ..., 'stop', ..., 'gradient', ..., 'ratio', ...,
// 'scaling', ..., 'residual', ..., 'accelerations', ..., 'rises', ...,
// 'threads', ..., 'sharedIterations', ...).
mxArray* reportStruct(const RatioDescentReport& report, RatioDescentScaling scaling) {
    const char* fields[] = {"iterations", "stop",     "gradient",      "ratio",
                            "scaling",    "residual", "accelerations", "rises",
                            "threads",    "sharedIterations"};
    mxArray* info = mxCreateStructMatrix(1, 1, 10, fields);
    mxSetFieldByNumber(info, 0, 0, mxCreateDoubleScalar(static_cast<double>(report.iterations)));
    mxSetFieldByNumber(info, 0, 1, mxCreateString(stopName(report.stop)));
    mxSetFieldByNumber(info, 0, 2, mxCreateDoubleScalar(report.gradient));
    mxSetFieldByNumber(info, 0, 3, mxCreateDoubleScalar(report.ratio));
    mxSetFieldByNumber(info, 0, 4,
                       mxCreateString(scaling == ratioDescentScalingDiagonal ? "diagonal" : "none"));
    mxSetFieldByNumber(info, 0, 5, mxCreateDoubleScalar(report.residual));
    mxSetFieldByNumber(info, 0, 6,
                       mxCreateDoubleScalar(static_cast<double>(report.accelerations)));
    mxSetFieldByNumber(info, 0, 7, mxCreateDoubleScalar(static_cast<double>(report.rises)));
    mxSetFieldByNumber(info, 0, 8, mxCreateDoubleScalar(report.threads));
    mxSetFieldByNumber(info, 0, 9,
                       mxCreateDoubleScalar(static_cast<double>(report.sharedIterations)));
    return info;
}

// The warnings below come once per call, after the results are stored: a
// warning the user can turn off (or into an error) by its identifier, so it
// must come when nothing of ours is held.

void warnOfRises(const RatioDescentReport& report) {
    if (report.rises == 0) return;
    char message[400];
    std::snprintf(
        message, sizeof message,
        "%lld of the %lld steps computed raised R by more than rounding: along the "
        "coordinate each of them moved, R has no minimum (it is unbounded below along that "
        "line, or D changes sign on it), so the closed-form step went to the line's maximum "
        "or across a pole of R, and x is not a minimiser. info.rises counts these steps.",
        static_cast<long long>(report.rises), static_cast<long long>(report.iterations));
    mexWarnMsgIdAndTxt("Brelvane:rise", "%s", message);
}

// R(x0) not finite, and why; or R becoming so later in a call that stopped
// for it.
void warnOfNonFiniteRatio(const RatioDescentReport& report, double startRatio, bool checkpoints) {
    const double N = report.startNumerator;
    const double D = report.startDenominator;
    char message[600];
    if (!std::isfinite(startRatio)) {
        const char* why =
            D == 0.0 ? "D(x0) = 0: start where the denominator is nonzero (with x0 = zeros(n, 1), "
                       "D(x0) is beta)"
            : std::isnan(N) || std::isnan(D)
                ? "N(x0) or D(x0) is NaN: x0, P, Q, c, d, alpha or beta holds NaN, or infinities "
                  "that cancel"
                : "N(x0) or D(x0) is infinite: x0 or the data hold Inf, or N or D overflows at x0";
        std::snprintf(message, sizeof message, "R(x0) = %g: %s. %s", startRatio, why,
                      checkpoints ? "The call stopped at once (info.stop = 'notFinite')."
                                  : "The descent cannot move from such a point.");
    } else if (report.stop == ratioDescentStopNotFinite) {
        std::snprintf(message, sizeof message,
                      "R became %g by iteration %lld (a step reached a point where D = 0, or N or "
                      "D overflowed), and the call stopped there (info.stop = 'notFinite').",
                      report.ratio, static_cast<long long>(report.iterations));
    } else {
        return;
    }
    mexWarnMsgIdAndTxt("Brelvane:ratioNotFinite", "%s", message);
}

void warnOfStall(const RatioDescentReport& report, double tolerance, RatioDescentScaling scaling) {
    if (report.stop != ratioDescentStopStalled) return;
    char message[600];
    std::snprintf(message, sizeof message,
                  "The relative residual stopped falling at %.3g, above Tolerance = %g, and R "
                  "has not fallen by more than its rounding over the last 5 sweeps: the "
                  "tolerance is below what double precision resolves for this problem, or the "
                  "descent has slowed to a crawl%s. x is the point reached and info.residual its "
                  "residual.",
                  report.residual, tolerance,
                  scaling == ratioDescentScalingDiagonal
                      ? ""
                      : " (on variables in very different units, 'Scaling', 'diagonal' lets it "
                        "go on)");
    mexWarnMsgIdAndTxt("Brelvane:stalled", "%s", message);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // BrelvaneEigs(P, Q, k, ...) comes as Brelvane('eigenpairs', P, Q, k, ...).
    if (isEigenpairsCall(nrhs, prhs)) {
        eigenpairsFunction(nlhs, plhs, nrhs - 1, prhs + 1);
        return;
    }
    requireArgumentCounts(nlhs, nrhs);
    const Inputs in = readInputs(prhs);
    const std::int64_t n = in.n;
    const std::int64_t iterations = in.iterations;
    DisplayLevel displayLevel;
    RatioDescentOptions options = readOptions(nrhs, prhs, displayLevel);
    HostInterrupt host = findHostInterrupt();
    // Below the size where sharing pays the count stays 1 whatever the
    // limit, so the host is not asked.
    if (options.threads == 0 && n >= ratioDescentThreadsFrom)
        options.threadLimit = hostThreadLimit(host);
    // The plain call looks at about 3n pairs, enough to catch a triangle
    // stored alone; a call with info or options at every pair, on the
    // threads the solve may use.
    const bool wholeCheck = nlhs >= 3 || nrhs > inputCount;
    const Asymmetry asymmetryP =
        findAsymmetry(in.P, n, wholeCheck, options.threads, options.threadLimit);
    const Asymmetry asymmetryQ =
        findAsymmetry(in.Q, n, wholeCheck, options.threads, options.threadLimit);
    if (host.octaveState != nullptr || host.isPending != nullptr) {
        options.interruptPending = hostInterruptPending;
        options.interruptContext = &host;
    }
    TraceStorage trace{nullptr, 0};
    const bool wantTrace = nlhs >= 2;
    useHostMemory(options, wantTrace ? &trace : nullptr);
    // With info, r ends where the run ended, after every stop; without it, r
    // keeps the count's length after a stationary stop, as callers of [x, r]
    // may rely on.
    options.fillStationaryTrace = nlhs < 3;
    const std::int64_t count =
        wantTrace && iterations > maxTraceIterations ? maxTraceIterations : iterations;

    Display display{displayLevel,
                    options.tolerance > 0.0 || options.acceleration == ratioDescentAccelerationRitz,
                    options.scaling == ratioDescentScalingDiagonal ? "max |w_j dR/dx_j|"
                                                                   : "max |dR/dx_j|",
                    host.octaveState == nullptr, secondsNow(), 0.0, 0, false};
    if (displayLevel == displayIter) {
        options.progress = showProgress;
        options.progressContext = &display;
    }

    // Stored before any computing: from here on the host owns x, as it owns
    // every block of the solve, so nothing leaks if it abandons the call.
    plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(n), 1, mxREAL);
    RatioDescentReport report;
    const RatioDescentStatus status = ratioDescentWithOptions(
        mxGetPr(plhs[0]), nullptr, in.x0, in.P, in.c, in.alpha, in.Q, in.d, in.beta, n, count,
        options, &report);
    if (in.zeros != nullptr) mxFree(in.zeros);
    if (status != ratioDescentOk) mxFree(trace.data);
    if (status == ratioDescentInterrupted) {
        acknowledgeInterrupt(host);
        if (display.refreshFailed)
            fail("Brelvane:interrupted",
                 "Interrupted after %lld of %lld iterations: updating the progress display "
                 "(drawnow) raised an error, such as Ctrl+C.",
                 static_cast<long long>(report.iterations), static_cast<long long>(iterations));
        fail("Brelvane:interrupted", "Interrupted by the user after %lld of %lld iterations.",
             static_cast<long long>(report.iterations), static_cast<long long>(iterations));
    }
    if (trace.refused > 0)
        fail("Brelvane:outOfMemory",
             "r could not grow to %lld element%s after %lld iteration%s: not enough memory. Ask "
             "for x alone, or for fewer iterations.",
             static_cast<long long>(trace.refused), trace.refused == 1 ? "" : "s",
             static_cast<long long>(report.iterations), report.iterations == 1 ? "" : "s");
    requireSolved(status, n);
    const double startRatio = report.startNumerator / report.startDenominator;
    // r ends at the returned point, except that without info a stationary stop
    // fills it out to the full count.
    if (wantTrace)
        plhs[1] = traceColumn(trace.data,
                              report.stop == ratioDescentStopStationary && options.fillStationaryTrace
                                  ? (count > 0 ? count : 0) + 1
                                  : report.iterations + 1);
    if (nlhs >= 3) plhs[2] = reportStruct(report, options.scaling);
    showFinal(display, report, count, options);
    warnOfAsymmetry(asymmetryP, asymmetryQ,
                    "The solver reads the lower triangle at the start and whole columns after, so "
                    "the result is that of neither the matrix nor its transpose");
    warnOfNonFiniteRatio(report, startRatio,
                         options.tolerance > 0.0 || options.acceleration == ratioDescentAccelerationRitz);
    warnOfStall(report, options.tolerance, options.scaling);
    warnOfRises(report);
}
