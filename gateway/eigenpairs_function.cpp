// [V, lambda, info] = BrelvaneEigs(P, Q, k, sigma, name, value, ...): reads
// the call (arguments.h), runs eigenpairs with the host's services (host.h),
// hands back V, lambda and info, then the warnings. As in mex_function.cpp,
// nothing here has a destructor and text lives in plain char buffers.
#include "eigenpairs_function.h"

#include <cstdint>
#include <cstdio>

#include "arguments.h"
#include "brelvane/ratio_descent.h"
#include "host.h"

namespace brelvane {
namespace gateway {

namespace {

const char* stopName(EigenpairsStop stop) {
    switch (stop) {
        case eigenpairsStopTolerance: return "tolerance";
        case eigenpairsStopStalled: return "stalled";
        default: return "iterations";
    }
}

// info = struct('backwardError', k-by-1, 'sweeps', ..., 'iterations', ...,
// 'stop', ..., 'blockSize', ..., 'refreshes', ..., 'threads', ...).
mxArray* reportStruct(const EigenpairsReport& r, mxArray* backwardErrors) {
    const char* fields[] = {"backwardError", "sweeps",    "iterations", "stop",
                            "blockSize",     "refreshes", "threads"};
    mxArray* info = mxCreateStructMatrix(1, 1, 7, fields);
    mxSetFieldByNumber(info, 0, 0, backwardErrors);
    mxSetFieldByNumber(info, 0, 1, mxCreateDoubleScalar(static_cast<double>(r.sweeps)));
    mxSetFieldByNumber(info, 0, 2, mxCreateDoubleScalar(static_cast<double>(r.iterations)));
    mxSetFieldByNumber(info, 0, 3, mxCreateString(stopName(r.stop)));
    mxSetFieldByNumber(info, 0, 4, mxCreateDoubleScalar(r.blockSize));
    mxSetFieldByNumber(info, 0, 5, mxCreateDoubleScalar(static_cast<double>(r.refreshes)));
    mxSetFieldByNumber(info, 0, 6, mxCreateDoubleScalar(r.threads));
    return info;
}

}  // namespace

void eigenpairsFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    EigenpairsOptions options;
    DisplayLevel level;
    const EigenpairsInputs in = readEigenpairsCall(nlhs, nrhs, prhs, options, level);
    const std::int64_t n = in.n, k = in.k;
    HostInterrupt host = findHostInterrupt();
    if (options.threads == 0) options.threadLimit = hostThreadLimit(host);
    const Asymmetry asymmetryP = findAsymmetry(in.P, n, true, options.threads, options.threadLimit);
    const Asymmetry asymmetryQ = findAsymmetry(in.Q, n, true, options.threads, options.threadLimit);
    if (host.octaveState != nullptr || host.isPending != nullptr) {
        options.interruptPending = hostInterruptPending;
        options.interruptContext = &host;
    }
    useHostMemory(options);
    Display display{level, false, "", host.octaveState == nullptr, secondsNow(), 0.0, 0, false};
    if (level == displayIter) {
        options.progress = showSweep;
        options.progressContext = &display;
    }

    // The results' arrays first: the host owns them from here on.
    plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(n), static_cast<mwSize>(k), mxREAL);
    mxArray* lambda = mxCreateDoubleMatrix(static_cast<mwSize>(k), 1, mxREAL);
    mxArray* errors = mxCreateDoubleMatrix(static_cast<mwSize>(k), 1, mxREAL);
    EigenpairsReport report;
    const RatioDescentStatus status =
        eigenpairs(mxGetPr(plhs[0]), mxGetPr(lambda), mxGetPr(errors), in.P, in.Q, n, k, in.start,
                   in.startColumns, options, &report);
    switch (status) {
        case ratioDescentOk: break;
        case ratioDescentInterrupted:
            acknowledgeInterrupt(host);
            fail("Brelvane:interrupted", "Interrupted %s after %lld sweeps.",
                 display.refreshFailed ? "while the progress display was updated (drawnow)"
                                       : "by the user",
                 static_cast<long long>(report.sweeps));
        case ratioDescentNotPositiveDefinite:
            fail("Brelvane:notPositiveDefinite",
                 "Q is not positive definite: the block met a vector v with v'Qv <= 0 (after %lld "
                 "sweeps). The pencil must have Q symmetric positive definite; for an indefinite "
                 "Q use eig(P, Q).",
                 static_cast<long long>(report.sweeps));
        case ratioDescentNotFinite:
            fail("Brelvane:notFinite",
                 "P or Q holds NaN or Inf, or a value formed from them overflowed (entries near "
                 "1e300): every entry must be finite, and scaling P and Q down helps the rest.");
        default: {
            char size[32];
            const double bytes = 8.0 * static_cast<double>(eigenpairsWorkDoubles(n, k, options));
            std::snprintf(size, sizeof size, "%.1f MB", bytes / 1e6);
            fail("Brelvane:outOfMemory",
                 "The work memory for n = %lld and k = %lld (%s, about 15 n (k + guard) doubles) "
                 "could not be allocated.",
                 static_cast<long long>(n), static_cast<long long>(k), size);
        }
    }
    if (nlhs >= 2)
        plhs[1] = lambda;
    else
        mxDestroyArray(lambda);
    if (nlhs >= 3)
        plhs[2] = reportStruct(report, errors);
    else
        mxDestroyArray(errors);

    const bool met = report.stop == eigenpairsStopTolerance;
    if (level == displayIter || level == displayFinal || (level == displayNotify && !met))
        mexPrintf("BrelvaneEigs: %lld pair%s, largest backward error %.3e after %lld sweeps (stop "
                  "'%s', Tolerance = %g), %.2f s.\n",
                  static_cast<long long>(k), k == 1 ? "" : "s", report.backwardError,
                  static_cast<long long>(report.sweeps), stopName(report.stop), options.tolerance,
                  secondsNow() - display.start);
    warnOfAsymmetry(asymmetryP, asymmetryQ,
                    "The block reads whole columns, so the result is that of neither the matrix "
                    "nor its transpose");
    if (!met && options.tolerance > 0.0)
        mexWarnMsgIdAndTxt(
            "Brelvane:notConverged",
            "The largest backward error of the %lld pairs is %.3g, above Tolerance = %g, after "
            "%lld sweeps (%s): %s. info.backwardError holds each pair's.",
            static_cast<long long>(k), report.backwardError, options.tolerance,
            static_cast<long long>(report.sweeps),
            report.stop == eigenpairsStopStalled ? "stalled" : "MaxIterations reached",
            report.stop == eigenpairsStopStalled
                ? "the tolerance is below what double precision resolves for this pencil"
                : "allow more sweeps, or a larger tolerance");
}

}  // namespace gateway
}  // namespace brelvane
