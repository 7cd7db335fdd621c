// MEX entry point: [x, r] = Brelvane(x0, P, c, alpha, Q, d, beta, n, iterations).
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "mex_api.h"
#include "ratio_descent.h"

namespace {

constexpr int inputCount = 9;
// x, and the ratio trace r; nlhs = 0 still receives x (as ans).
constexpr int maxOutputCount = 2;

constexpr double twoTo31 = 2147483648.0;
constexpr double twoTo63 = 9223372036854775808.0;

// Raises the error `id` in the caller; the host abandons the call. The text is
// formatted here so that every host sees the same message.
void fail(const char* id, const char* format, ...) {
    char message[320];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    mexErrMsgIdAndTxt(id, "%s", message);
}

void requireArgumentCounts(int nlhs, int nrhs) {
    if (nrhs != inputCount)
        fail("Brelvane:nargin",
             "Brelvane expects %d inputs (x0, P, c, alpha, Q, d, beta, n, iterations), "
             "but was given %d.",
             inputCount, nrhs);
    if (nlhs > maxOutputCount)
        fail("Brelvane:nargout", "Brelvane returns at most %d outputs, but %d were requested.",
             maxOutputCount, nlhs);
}

// The value of a real numeric scalar of any numeric class, as a double.
double requireRealScalar(const mxArray* a, const char* name) {
    if (!mxIsNumeric(a))
        fail("Brelvane:notNumeric",
             "Argument %s must be a real numeric scalar, but is of class %s.", name,
             mxGetClassName(a));
    if (mxIsComplex(a))
        fail("Brelvane:complex", "Argument %s must be a real numeric scalar, but is complex.",
             name);
    if (mxGetNumberOfElements(a) != 1)
        fail("Brelvane:notScalar",
             "Argument %s must be a real numeric scalar, but has %llu elements.", name,
             static_cast<unsigned long long>(mxGetNumberOfElements(a)));
    return mxGetScalar(a);
}

// trunc(v), required to lie in [lowest, limit). Finiteness and range are
// checked on the double before the cast, which is undefined out of range.
std::int64_t truncatedCount(double v, const char* name, double lowest, double limit) {
    if (!std::isfinite(v))
        fail("Brelvane:notFinite", "Argument %s must be finite, but is %g.", name, v);
    const double t = std::trunc(v);
    if (!(t >= lowest && t < limit))
        fail("Brelvane:outOfRange",
             "Argument %s must lie in [%.0f, %.0f) after truncation toward zero, but is %.17g.",
             name, lowest, limit, v);
    return static_cast<std::int64_t>(t);
}

// The data of a real, full double array of at least `needed` elements. Only
// the first `needed` are read, column-major, whatever the array's shape.
const double* requireRealDoubleArray(const mxArray* a, const char* name, std::uint64_t needed,
                                     const char* neededName) {
    if (!mxIsDouble(a))
        fail("Brelvane:notDouble", "Argument %s must be a real double array, but is of class %s.",
             name, mxGetClassName(a));
    if (mxIsComplex(a))
        fail("Brelvane:complex", "Argument %s must be a real double array, but is complex.", name);
    if (mxIsSparse(a))
        fail("Brelvane:sparse", "Argument %s must be a full double array, but is sparse.", name);
    const std::uint64_t numel = mxGetNumberOfElements(a);
    if (numel < needed)
        fail("Brelvane:tooShort",
             "Argument %s must have at least %s = %llu elements, but has %llu.", name, neededName,
             static_cast<unsigned long long>(needed), static_cast<unsigned long long>(numel));
    return mxGetPr(a);
}

void requireSolved(RatioDescentStatus status, std::int64_t n) {
    if (status == ratioDescentOutOfMemory)
        fail("Brelvane:outOfMemory", "Brelvane could not allocate its work vectors for n = %lld.",
             static_cast<long long>(n));
    if (status == ratioDescentTooLarge)
        fail("Brelvane:outOfRange", "n = %lld is more than the BLAS in this build can index.",
             static_cast<long long>(n));
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    requireArgumentCounts(nlhs, nrhs);
    // n first, since it fixes how many elements the arrays must hold.
    const std::int64_t n = truncatedCount(requireRealScalar(prhs[7], "n"), "n", 0.0, twoTo31);
    const std::int64_t iterations =
        truncatedCount(requireRealScalar(prhs[8], "iterations"), "iterations", -twoTo63, twoTo63);
    // n < 2^31, so n*n < 2^62 does not overflow.
    const std::uint64_t nn = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
    const double* x0 = requireRealDoubleArray(prhs[0], "x0", static_cast<std::uint64_t>(n), "n");
    const double* P = requireRealDoubleArray(prhs[1], "P", nn, "n*n");
    const double* c = requireRealDoubleArray(prhs[2], "c", static_cast<std::uint64_t>(n), "n");
    const double alpha = requireRealScalar(prhs[3], "alpha");
    const double* Q = requireRealDoubleArray(prhs[4], "Q", nn, "n*n");
    const double* d = requireRealDoubleArray(prhs[5], "d", static_cast<std::uint64_t>(n), "n");
    const double beta = requireRealScalar(prhs[6], "beta");

    // r holds R(x0) and the ratio after each iteration; its length must fit
    // a 32-bit dimension, as n does.
    const std::int64_t traceLength = (iterations > 0 ? iterations : 0) + 1;
    if (nlhs >= 2 && traceLength > std::int64_t{2147483647})
        fail("Brelvane:outOfRange",
             "With the output r, iterations must be below 2^31 - 1 (r has iterations + 1 "
             "elements), but is %lld.",
             static_cast<long long>(iterations));

    // Stored before any computing: from here on the host owns the results, so
    // nothing leaks if it abandons the call.
    plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(n), 1, mxREAL);
    if (nlhs < 2) {
        if (n == 0) return;
        requireSolved(ratioDescent(mxGetPr(plhs[0]), x0, P, c, alpha, Q, d, beta, n, iterations),
                      n);
        return;
    }
    plhs[1] = mxCreateDoubleMatrix(static_cast<mwSize>(traceLength), 1, mxREAL);
    requireSolved(ratioDescentTrace(mxGetPr(plhs[0]), mxGetPr(plhs[1]), x0, P, c, alpha, Q, d,
                                    beta, n, iterations),
                  n);
}
