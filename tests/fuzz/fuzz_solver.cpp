// Fuzz target: ratioDescent, ratioDescentTrace, ratioStep and indexOfMaxAbs on
// arbitrary doubles (NaN, infinities, extremes, ties), small n and iteration
// counts, symmetric or not, against the plain second evaluation, bit for bit.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "fuzz_input.h"
#include "ratio_step.h"
#include "random_problems.h"
#include "straightforward_accelerated.h"
#include "straightforward_solver.h"
#include "test_support.h"
#include "vector_kernels.h"

using namespace brelvane;

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "fuzz_solver: %s\n", what);
    std::abort();
}

// Storage of exactly `count` doubles, so a read past the end is caught.
std::vector<double> values(FuzzInput& in, std::size_t count) {
    std::vector<double> v(count);
    for (double& e : v) e = in.value();
    return v;
}

std::vector<double> blasProduct(const std::vector<double>& A, const std::vector<double>& x,
                                std::int64_t n) {
    std::vector<double> y(static_cast<std::size_t>(n));
    symMatVec(A.data(), x.data(), y.data(), n);
    return y;
}

bool same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!sameDouble(a[i], b[i])) return false;
    return true;
}

void checkSolve(FuzzInput& in) {
    const std::int64_t n = in.below(20);
    // Mostly short runs; now and then one long enough to become exactly
    // stationary, which must end with the full count's x and r.
    const std::uint8_t count = in.byte();
    const std::int64_t iterations =
        count >= 240 ? 256 + 128 * static_cast<std::int64_t>(count - 240)
                     : static_cast<std::int8_t>(count) / 2;
    const std::size_t m = static_cast<std::size_t>(n);
    const bool symmetric = in.byte() % 2 == 0;
    const std::vector<double> x0 = values(in, m), c = values(in, m), d = values(in, m);
    std::vector<double> P = values(in, m * m), Q = values(in, m * m);
    if (symmetric)
        for (std::size_t j = 0; j < m; ++j)
            for (std::size_t i = j + 1; i < m; ++i)
                P[j + i * m] = P[i + j * m], Q[j + i * m] = Q[i + j * m];
    const double alpha = in.value(), beta = in.value();

    std::vector<double> x(m), y(m),
        trace(static_cast<std::size_t>(iterations > 0 ? iterations : 0) + 1);
    if (ratioDescent(x.data(), x0.data(), P.data(), c.data(), alpha, Q.data(), d.data(), beta, n,
                     iterations) != ratioDescentOk ||
        ratioDescentTrace(y.data(), trace.data(), x0.data(), P.data(), c.data(), alpha, Q.data(),
                          d.data(), beta, n, iterations) != ratioDescentOk)
        finding("a small problem was refused");
    if (!same(x, y)) finding("ratioDescent and ratioDescentTrace disagree on x");
    if (n == 0) {
        // No coordinate: R stays alpha / beta, formed as from empty sums.
        for (double r : trace)
            if (!sameDouble(r, (0.0 + alpha) / (0.0 + beta)))
                finding("r moved without coordinates");
        return;
    }
    std::vector<double> ratios;
    double gradient = 0.0;
    const std::vector<double> want = plainRatioDescent(x0, P, c, alpha, Q, d, beta, n, iterations,
                                                       blasProduct, &ratios, &gradient);
    if (!same(x, want)) finding("x differs from the plain evaluation");
    if (!same(trace, ratios)) finding("r differs from the plain evaluation");

    // With a tolerance: the run is the plain one cut at report.iterations.
    RatioDescentOptions options;
    options.gradientTolerance = std::fabs(in.value());
    if (!std::isfinite(options.gradientTolerance)) options.gradientTolerance = 0.0;
    RatioDescentReport report;
    if (ratioDescentWithOptions(y.data(), trace.data(), x0.data(), P.data(), c.data(), alpha,
                                Q.data(), d.data(), beta, n, iterations, options,
                                &report) != ratioDescentOk)
        finding("a small problem was refused with options");
    if (report.stop != ratioDescentStopGradient) {
        if (!same(y, want) || !sameDouble(report.gradient, gradient))
            finding("a run the tolerance did not stop differs from the plain one");
    } else {
        if (!(report.gradient <= options.gradientTolerance)) finding("stopped above the tolerance");
        std::vector<double> cut;
        const std::vector<double> shorter = plainRatioDescent(
            x0, P, c, alpha, Q, d, beta, n, report.iterations, blasProduct, &cut, &gradient);
        if (!same(y, shorter) || !sameDouble(report.gradient, gradient))
            finding("a gradient stop differs from the plain run of that count");
    }
    if (!sameDouble(report.ratio, trace[static_cast<std::size_t>(
                                      report.stop == ratioDescentStopGradient ? report.iterations
                                                                              : std::max<std::int64_t>(iterations, 0))]))
        finding("the report's ratio is not the trace's last");
}

// With checkpoints: Ritz steps and the relative tolerance, with or without
// diagonal scaling, against the plain evaluation, bit for bit; a Rayleigh
// quotient now and then, whose Ritz point is scaled rather than bordered.
void checkAccelerated(FuzzInput& in) {
    Problem p;
    p.n = 1 + in.below(10);
    const std::size_t m = static_cast<std::size_t>(p.n);
    const std::uint8_t flags = in.byte();
    const std::int64_t iterations = 1 + in.byte() * (p.n + 1) / 16;
    p.x0 = values(in, m), p.c = values(in, m), p.d = values(in, m);
    p.P = values(in, m * m), p.Q = values(in, m * m);
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t i = j + 1; i < m; ++i) p.P[j + i * m] = p.P[i + j * m], p.Q[j + i * m] = p.Q[i + j * m];
    p.alpha = in.value(), p.beta = in.value();
    if (flags & 1) {
        std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
        p.alpha = p.beta = 0.0;
    }
    RatioDescentOptions options;
    options.acceleration = flags & 2 ? ratioDescentAccelerationNone : ratioDescentAccelerationRitz;
    options.scaling = flags & 4 ? ratioDescentScalingDiagonal : ratioDescentScalingNone;
    options.tolerance = flags & 8 ? std::fabs(in.value()) : 0.0;
    if (!std::isfinite(options.tolerance)) options.tolerance = 0.0;
    std::vector<double> x(m), trace(static_cast<std::size_t>(iterations) + 1);
    RatioDescentReport report;
    if (ratioDescentWithOptions(x.data(), trace.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha,
                                p.Q.data(), p.d.data(), p.beta, p.n, iterations, options,
                                &report) != ratioDescentOk)
        finding("a small problem was refused with checkpoints");
    PlainAcceleratedDescent plain(
        p, options, options.scaling == ratioDescentScalingDiagonal ? weightsOf(p) : std::vector<double>{});
    const PlainRun want = plain.run(iterations, blasProduct);
    if (report.stop != want.stop || report.iterations != want.iterations ||
        report.accelerations != want.accelerations)
        finding("with checkpoints, the stop differs from the plain evaluation");
    trace.resize(want.ratios.size());
    if (!same(x, want.x) || !same(trace, want.ratios))
        finding("with checkpoints, x or r differs from the plain evaluation");
    if (!sameDouble(report.gradient, want.gradient) || !sameDouble(report.residual, want.residual) ||
        !sameDouble(report.ratio, want.ratios.back()))
        finding("with checkpoints, the report differs from the plain evaluation");
}

void checkStep(FuzzInput& in) {
    const double a0 = in.value(), a1 = in.value(), a2 = in.value();
    const double b0 = in.value(), b1 = in.value(), b2 = in.value();
    if (!sameDouble(ratioStep(a0, a1, a2, b0, b1, b2), plainRatioStep(a0, a1, a2, b0, b1, b2)))
        finding("ratioStep differs from the plain evaluation");
}

void checkArgmax(FuzzInput& in) {
    const std::vector<double> v = values(in, in.below(20));
    const std::int64_t n = static_cast<std::int64_t>(v.size());
    std::int64_t k = 0;
    for (std::int64_t i = 1; i < n; ++i)
        if (std::fabs(v[i]) > std::fabs(v[k])) k = i;
    if (indexOfMaxAbs(v.data(), n) != k) finding("indexOfMaxAbs differs from the plain loop");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    checkStep(in);
    checkArgmax(in);
    checkSolve(in);
    checkAccelerated(in);
    return 0;
}
