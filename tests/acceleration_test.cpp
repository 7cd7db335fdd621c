// The solve with checkpoints (Rayleigh-Ritz steps, the relative residual tolerance) against
// a plain second evaluation, and the small Ritz problem against LAPACK.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "generalised_eigenvalue.h"
#include "kernel_variant_test.h"
#include "random_problems.h"
#include "ritz_step.h"
#include "straightforward_accelerated.h"
#include "test_support.h"

using namespace brelvane;

namespace {

class Acceleration : public KernelVariantTest {};

// Random problems, each solved with a random mix of the options: Ritz
// steps, the relative tolerance (taken from a shorter run so that some
// solves stop for it, or out of reach so that some stall), the gradient
// tolerance, diagonal scaling; Rayleigh quotients (which become exactly
// stationary), ratios with linear terms, dyadic ones with NaN, infinities,
// -0.0 and D = 0 among them, and far minimisers, whose large cancelling terms
// make the Ritz step form products afresh.
TEST_P(Acceleration, SolveIsThePlainEvaluationBitForBit) {
    std::mt19937_64 rng(testSeed("SolveIsThePlainEvaluationBitForBit", 1515));
    int stops[7] = {};
    std::int64_t accelerations = 0;
    for (int i = 0; i < 400; ++i) {
        const double distances[] = {10.0, 100.0, 1000.0};
        Problem p = i % 5 == 4   ? farProblem(rng, 2 + static_cast<std::int64_t>(rng() % 10), distances[rng() % 3])
                    : i % 3 == 2 ? dyadicProblem(rng, 7)
                                 : generalProblem(rng, 1, 24);
        if (i % 4 == 0 && i % 5 != 4) {  // a Rayleigh quotient
            std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
            p.alpha = p.beta = 0.0;
        }
        const std::int64_t iterations = 1 + static_cast<std::int64_t>(rng() % 60) * (p.n + 2);
        RatioDescentOptions options;
        options.acceleration = rng() % 4 ? ratioDescentAccelerationRitz : ratioDescentAccelerationNone;
        options.scaling = rng() % 3 ? ratioDescentScalingNone : ratioDescentScalingDiagonal;
        if (rng() % 2) {
            const Solve shorter = solve(*kernels, p, iterations / 2, options);
            options.tolerance = std::isfinite(shorter.report.residual) ? shorter.report.residual : 0.5;
        } else if (rng() % 4 == 0) {
            options.tolerance = 1e-300;
        }
        if (rng() % 5 == 0) options.gradientTolerance = 1e-9;
        const Solve got = solve(*kernels, p, iterations, options);
        ASSERT_EQ(got.status, ratioDescentOk);
        PlainAcceleratedDescent plain(
            p, options, options.scaling == ratioDescentScalingDiagonal ? weightsOf(p) : std::vector<double>{});
        const PlainRun want = plain.run(iterations, blasProduct);
        const std::string what = "problem " + std::to_string(i) + ", n = " + std::to_string(p.n);
        ASSERT_EQ(got.report.stop, want.stop) << what;
        ASSERT_EQ(got.report.iterations, want.iterations) << what;
        ASSERT_EQ(got.report.accelerations, want.accelerations) << what;
        for (std::size_t j = 0; j < want.x.size(); ++j)
            ASSERT_TRUE(sameDouble(got.x[j], want.x[j]))
                << what << ": x[" << j << "] = " << describe(got.x[j]) << ", want " << describe(want.x[j]);
        const bool cut = want.stop != ratioDescentStopStationary && want.stop != ratioDescentStopIterations;
        const std::size_t entries = static_cast<std::size_t>(cut ? want.iterations : iterations) + 1;
        ASSERT_EQ(want.ratios.size(), entries) << what;
        expectTraceAndReport(got, want.ratios, want.gradient, entries, what);
        ASSERT_TRUE(sameDouble(got.report.residual, want.residual))
            << what << ": residual " << describe(got.report.residual) << ", want " << describe(want.residual);
        if (want.stop == ratioDescentStopTolerance) ASSERT_LE(want.residual, options.tolerance) << what;
        ++stops[want.stop];
        accelerations += want.accelerations;
    }
    EXPECT_GE(stops[ratioDescentStopTolerance], 40);
    EXPECT_GE(stops[ratioDescentStopStationary], 20);
    EXPECT_GE(stops[ratioDescentStopIterations], 40);
    EXPECT_GE(stops[ratioDescentStopStalled], 5);
    EXPECT_GE(stops[ratioDescentStopNotFinite], 5);
    std::printf("stops: iterations %d, gradient %d, stationary %d, tolerance %d, stalled %d, "
                "notFinite %d\n", stops[0], stops[1], stops[2], stops[4], stops[5], stops[6]);
    EXPECT_GE(accelerations, 400) << "too few Ritz steps were taken to test them";
}

BRELVANE_TEST_EVERY_KERNEL_VARIANT(Acceleration);

// The dense step: the lowest eigenvalue of a small definite pencil, against
// LAPACK, on random A and B = G'G; with a vector repeated (B singular) the
// copy is dropped and the value is that of the span; vectors with B_ii <= 0
// take no part.
TEST(RitzStep, LowestRitzVectorIsTheLowestEigenpairOfThePencil) {
    std::mt19937_64 rng(testSeed("LowestRitzVectorIsTheLowestEigenpairOfThePencil", 88));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const int m = 1 + trial % ritzBasisSize;
        const int rank = trial % 3 == 0 && m > 1 ? m - 1 : m;  // the last vector repeats the first
        std::vector<double> G(static_cast<std::size_t>(m * m)), H(G.size());
        for (int j = 0; j < m; ++j)
            for (int i = 0; i < m; ++i)
                G[i + j * m] = u(rng) + (i == j ? 2.0 : 0.0), H[i + j * m] = u(rng);
        if (rank < m)
            for (int i = 0; i < m; ++i) G[i + (m - 1) * m] = G[i], H[i + (m - 1) * m] = H[i];
        // B = G'G, A = H'(diag) H style symmetric: A = (H + H')/2 seen through G.
        std::vector<double> A(G.size()), B(G.size());
        for (int j = 0; j < m; ++j)
            for (int i = 0; i < m; ++i) {
                double a = 0, b = 0;
                for (int k = 0; k < m; ++k) {
                    b += G[k + i * m] * G[k + j * m];
                    a += G[k + i * m] * (H[k + j * m] + H[j + k * m]) * 0.5 +
                         (H[k + i * m] + H[i + k * m]) * 0.5 * G[k + j * m];
                }
                A[i + j * m] = a, B[i + j * m] = b;
            }
        for (int j = 0; j < m; ++j)
            for (int i = 0; i < j; ++i) A[i + j * m] = A[j + i * m], B[i + j * m] = B[j + i * m];
        std::vector<double> v(static_cast<std::size_t>(m));
        double value = 0;
        ASSERT_TRUE(lowestRitzVector(m, A.data(), B.data(), v.data(), &value)) << trial;
        // The same pencil on the independent vectors alone.
        std::vector<double> Ar(static_cast<std::size_t>(rank * rank)), Br(Ar.size());
        for (int j = 0; j < rank; ++j)
            for (int i = 0; i < rank; ++i) Ar[i + j * rank] = A[i + j * m], Br[i + j * rank] = B[i + j * m];
        const double lambda = smallestGeneralisedEigenvalue(Ar, Br, rank);
        double vAv = 0, vBv = 0;
        for (int j = 0; j < m; ++j)
            for (int i = 0; i < m; ++i) vAv += v[i] * A[i + j * m] * v[j], vBv += v[i] * B[i + j * m] * v[j];
        const double scale = 1e-12 * (1.0 + std::fabs(lambda));
        EXPECT_NEAR(value, lambda, scale) << trial;
        EXPECT_NEAR(vAv / vBv, lambda, scale) << trial;
        EXPECT_NEAR(vBv, 1.0, 1e-12) << trial;
        if (rank < m) EXPECT_EQ(v[m - 1], 0.0) << trial << ": the repeated vector was not dropped";
    }
    // B_00 <= 0: vector 0 takes no part; B all non-positive: no step.
    const double A[] = {-5, 0, 0, 1}, B[] = {-1, 0, 0, 2};
    double v[2], value;
    ASSERT_TRUE(lowestRitzVector(2, A, B, v, &value));
    EXPECT_EQ(v[0], 0.0);
    EXPECT_DOUBLE_EQ(value, 0.5);
    const double none[] = {0, 0, 0, -1};
    EXPECT_FALSE(lowestRitzVector(2, A, none, v, &value));
    const double nan[] = {1, NAN, NAN, 1};
    EXPECT_FALSE(lowestRitzVector(2, A, nan, v, &value));
}

// The checkpoint rule and the tolerance: a solve stops at the first
// checkpoint whose residual is within it (before the first iteration too);
// doubling N doubles everything the solve computes from it, exactly, and
// leaves the relative residual as it is.
TEST(Acceleration, ToleranceStopsAtTheFirstCheckpointWithinIt) {
    std::mt19937_64 rng(testSeed("ToleranceStopsAtTheFirstCheckpointWithinIt", 4));
    for (int i = 0; i < 20; ++i) {
        Problem p = generalProblem(rng, 3, 30);
        RatioDescentOptions options;
        options.tolerance = 1e-6;
        options.acceleration = ratioDescentAccelerationRitz;
        const std::int64_t L = std::max<std::int64_t>(p.n, 2);
        const Solve r = solve(fastestIterationKernels(), p, 1000000, options);
        ASSERT_EQ(r.report.stop, ratioDescentStopTolerance) << i;
        ASSERT_EQ(r.report.iterations % L, 0) << i;
        ASSERT_LE(r.report.residual, 1e-6);
        if (r.report.iterations > 0) {
            // The solve cut at the checkpoint before is the same run to there.
            options.tolerance = 0.0;
            const Solve before =
                solve(fastestIterationKernels(), p, r.report.iterations - L, options);
            EXPECT_GT(before.report.residual, 1e-6) << i;
        }
        Problem twice = p;
        for (double& v : twice.P) v *= 2;
        for (double& v : twice.c) v *= 2;
        twice.alpha *= 2;
        const Solve doubled = solve(fastestIterationKernels(), twice, r.report.iterations, options);
        EXPECT_TRUE(sameDouble(doubled.report.residual, r.report.residual)) << i;
    }
    RatioDescentReport report;
    RatioDescentOptions options;
    options.tolerance = 1e-3;
    std::vector<double> trace(3, -7.0);
    ASSERT_EQ(ratioDescentWithOptions(nullptr, trace.data(), nullptr, nullptr, nullptr, 3.0, nullptr,
                                      nullptr, 4.0, 0, 2, options, &report),
              ratioDescentOk);
    EXPECT_EQ(report.stop, ratioDescentStopTolerance);
    EXPECT_EQ(report.iterations, 0);
    EXPECT_EQ(report.residual, 0.0);
}

}  // namespace

namespace {

// R, eta and the largest |dR/dx_j| at x, formed afresh from products through
// the BLAS, plainly; and the magnitude R's rounding is relative to.
struct Afresh {
    double R, eta, gradient, magnitude;
};

Afresh formedAfresh(const Problem& p, const std::vector<double>& x) {
    const std::int64_t n = p.n;
    const std::vector<double> Px = blasProduct(p.P, x, n), Qx = blasProduct(p.Q, x, n);
    double xPx = 0, cx = 0, xQx = 0, dx = 0;
    for (std::int64_t j = 0; j < n; ++j)
        xPx += x[j] * Px[j], cx += x[j] * p.c[j], xQx += x[j] * Qx[j], dx += p.d[j] * x[j];
    const double N = (0.5 * xPx + cx) + p.alpha, D = (0.5 * xQx + dx) + p.beta, R = N / D;
    const std::vector<double> w = weightsOf(p);
    const double wb = std::isnormal(2 * p.beta) && p.beta > 0 ? powerOfTwoFor(2 * p.beta) : 1.0;
    const double lN = cx + 2 * p.alpha, lD = dx + 2 * p.beta;
    double top = wb * std::fabs(lN - R * lD), gN = wb * std::fabs(lN), gD = wb * std::fabs(lD), g = 0;
    for (std::int64_t j = 0; j < n; ++j) {
        const double a = Px[j] + p.c[j], b = Qx[j] + p.d[j];
        top = std::fmax(top, w[j] * std::fabs(a - R * b));
        gN = std::fmax(gN, w[j] * std::fabs(a)), gD = std::fmax(gD, w[j] * std::fabs(b));
        g = std::fmax(g, std::fabs(a / D - (b * R) / D));
    }
    const double sN = 0.5 * std::fabs(xPx) + std::fabs(cx) + std::fabs(p.alpha);
    const double sD = 0.5 * std::fabs(xQx) + std::fabs(dx) + std::fabs(p.beta);
    return {R, top / (gN + std::fabs(R) * gD), g, (sN + std::fabs(R) * sD) / std::fabs(D)};
}

// With Ritz steps the report and the trace's last entry are R, eta and the
// gradient of the x returned, on far minimisers (whose combinations cancel)
// and random ratios alike, whatever the stop; without, the plain descent's
// running values, which the far ones leave further behind.
TEST(TrueReport, RitzReportsWhatXItselfGives) {
    std::mt19937_64 rng(testSeed("RitzReportsWhatXItselfGives", 2121));
    const double distances[] = {1.0, 10.0, 100.0, 1000.0};
    double plainWorst = 0;
    for (int i = 0; i < 240; ++i) {
        Problem p = i % 2 ? farProblem(rng, 3 + static_cast<std::int64_t>(rng() % 23), distances[rng() % 4])
                          : generalProblem(rng, 2, 40);
        const std::int64_t iterations = static_cast<std::int64_t>(1 + rng() % 300) * p.n;
        RatioDescentOptions options;
        options.acceleration = i % 3 ? ratioDescentAccelerationRitz : ratioDescentAccelerationNone;
        if (rng() % 2) options.tolerance = std::pow(10.0, -static_cast<double>(4 + rng() % 9));
        if (rng() % 4 == 0) options.scaling = ratioDescentScalingDiagonal;
        const Solve got = solve(fastestIterationKernels(), p, iterations, options);
        ASSERT_EQ(got.status, ratioDescentOk);
        const Afresh want = formedAfresh(p, got.x);
        const std::string what = "problem " + std::to_string(i) + ", n = " + std::to_string(p.n);
        if (std::isnan(want.R)) {  // a descent that met D = 0: NaN everywhere
            EXPECT_TRUE(std::isnan(got.report.ratio)) << what;
            continue;
        }
        const double off = std::fabs(got.report.ratio - want.R) / (0x1p-52 * want.magnitude);
        if (options.acceleration == ratioDescentAccelerationNone) {
            plainWorst = std::fmax(plainWorst, off);
            continue;
        }
        const bool cut = got.report.stop != ratioDescentStopStationary && got.report.stop != ratioDescentStopIterations;
        EXPECT_TRUE(sameDouble(cut ? got.trace[got.report.iterations] : got.trace.back(), got.report.ratio)) << what;
        // Products and sums formed as the solver forms them: what differs is
        // the rounding of the 1e-100 put in place of exact zeros.
        EXPECT_LE(off, 16.0) << what << ": R " << describe(got.report.ratio) << ", afresh " << describe(want.R);
        EXPECT_NEAR(got.report.residual, want.eta, 1e-9 * want.eta + 1e-300) << what;
        if (options.scaling == ratioDescentScalingNone)
            EXPECT_NEAR(got.report.gradient, want.gradient, 1e-9 * want.gradient + 1e-300) << what;
        if (got.report.stop == ratioDescentStopTolerance) EXPECT_LE(want.eta, options.tolerance * (1 + 1e-9)) << what;
    }
    std::printf("plain descent: R off by up to %.3g units of 2^-52 of its magnitude\n", plainWorst);
    EXPECT_LE(plainWorst, 0x1p24);
}

}  // namespace
