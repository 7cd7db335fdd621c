// Diagonal scaling: the weighted descent is the plain descent on the rescaled problem, mapped back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "iteration_kernels.h"
#include "kernel_variant_test.h"
#include "random_problems.h"
#include "generalised_eigenvalue.h"
#include "brelvane/ratio_descent.h"
#include "straightforward_solver.h"
#include "test_support.h"

using namespace brelvane;

namespace {

// x = S y, S = diag(s): the problem in y.
Problem rescaled(const Problem& p, const std::vector<double>& s) {
    Problem r = p;
    for (std::int64_t j = 0; j < p.n; ++j) {
        r.x0[j] = p.x0[j] / s[j], r.c[j] = s[j] * p.c[j], r.d[j] = s[j] * p.d[j];
        for (std::int64_t i = 0; i < p.n; ++i) {
            r.P[i + j * p.n] = (s[i] * p.P[i + j * p.n]) * s[j];
            r.Q[i + j * p.n] = (s[i] * p.Q[i + j * p.n]) * s[j];
        }
    }
    return r;
}

// Units spread over 2^-20 .. 2^20, so the diagonals span 2^-40 .. 2^40, and
// some Q_jj that cannot set a weight. With `tame`, such a coordinate leaves
// D alone (row and column j of Q and d_j zero) and N convex along it, so the
// descent stays finite; otherwise Q_jj is negated or zeroed, or P_jj too.
Problem badlyScaled(std::mt19937_64& rng, Problem p, bool tame) {
    const std::int64_t n = p.n;
    for (std::int64_t j = 0; j < n; ++j) {
        const std::size_t jj = static_cast<std::size_t>(j * (n + 1));
        const auto pick = rng() % 8;
        if (tame && pick == 0) {
            for (std::int64_t i = 0; i < n; ++i) p.Q[i + j * n] = p.Q[j + i * n] = 0.0;
            p.d[j] = 0.0, p.P[jj] = std::fabs(p.P[jj]) + static_cast<double>(n);
        } else if (!tame && pick < 3) {
            p.Q[jj] = pick == 0 ? -p.Q[jj] : 0.0;
            if (pick == 2) p.P[jj] = 0.0;
        }
    }
    std::vector<double> units(static_cast<std::size_t>(n));
    for (double& u : units) u = std::ldexp(1.0, static_cast<int>(rng() % 41) - 20);
    return rescaled(p, units);
}

// Against the plain descent on the rescaled problem run for `iterations`,
// mapped back by x = S y, S = diag(w): x, the first `entries` trace values, the ratio and
// the gradient (the rescaled problem's, which is the weighted one).
template <class Product>
void expectRescaledPlain(const Solve& got, const Problem& p, std::int64_t iterations,
                         std::size_t entries, Product product, const std::string& what) {
    ASSERT_EQ(got.status, ratioDescentOk) << what;
    const std::vector<double> w = weightsOf(p);
    const Problem y = rescaled(p, w);
    std::vector<double> ratios;
    double gradient = 0;
    const std::vector<double> yEnd = plainRatioDescent(y.x0, y.P, y.c, y.alpha, y.Q, y.d, y.beta,
                                                       y.n, iterations, product, &ratios, &gradient);
    for (std::size_t i = 0; i < yEnd.size(); ++i) {
        // Both runs put 1e-100 where their own coordinate is an exact zero.
        const double want = yEnd[i] == 1e-100 ? 1e-100 : w[i] * yEnd[i];
        ASSERT_TRUE(sameDouble(got.x[i], want))
            << what << ": x[" << i << "] = " << describe(got.x[i]) << ", want " << describe(want);
    }
    expectTraceAndReport(got, ratios, gradient, entries, what);
}

RatioDescentOptions diagonal(double tolerance = 0.0) {
    RatioDescentOptions o;
    o.scaling = ratioDescentScalingDiagonal;
    o.gradientTolerance = tolerance;
    return o;
}

class Scaling : public KernelVariantTest {};

// General data through the BLAS start-up (its order of summation depends on
// n alone, and a power of two commutes with every rounding), and dyadic data with NaN, infinities, -0.0,
// D = 0 and exact zero steps.
TEST_P(Scaling, IsThePlainDescentOnTheRescaledProblem) {
    std::mt19937_64 rng(testSeed("IsThePlainDescentOnTheRescaledProblem", 1111));
    for (int i = 0; i < 60; ++i) {
        const Problem p = badlyScaled(rng, generalProblem(rng, 1, 40), true);
        const Solve r = solve(*kernels, p, p.iterations, diagonal());
        expectRescaledPlain(r, p, p.iterations, r.trace.size(), blasProduct,
                            "general " + std::to_string(i));
    }
    for (int i = 0; i < 1500; ++i) {
        const Problem p = badlyScaled(rng, dyadicProblem(rng, 17), false);
        const Solve r = solve(*kernels, p, p.iterations, diagonal());
        expectRescaledPlain(r, p, p.iterations, r.trace.size(), blasProduct,
                            "dyadic " + std::to_string(i));
    }
}

// The tolerance is compared with the weighted gradient: a solve stops before
// the first iteration at which it is within the tolerance, with the results
// of the rescaled run to there.
TEST_P(Scaling, GradientToleranceComparesTheWeightedGradient) {
    std::mt19937_64 rng(testSeed("GradientToleranceComparesTheWeightedGradient", 2222));
    for (int i = 0; i < 30; ++i) {
        const Problem p = badlyScaled(rng, generalProblem(rng, 2, 16), true);
        const double tolerance = solve(*kernels, p, 100, diagonal()).report.gradient;
        if (!(tolerance > 0.0)) continue;
        const Solve r = solve(*kernels, p, 100000, diagonal(tolerance));
        ASSERT_EQ(r.report.stop, ratioDescentStopGradient) << i;
        const std::int64_t m = r.report.iterations;
        ASSERT_LE(m, 100) << i;
        EXPECT_LE(r.report.gradient, tolerance) << i;
        expectRescaledPlain(r, p, m, static_cast<std::size_t>(m) + 1, blasProduct,
                            "tolerance " + std::to_string(i));
        if (m > 0) EXPECT_GT(solve(*kernels, p, m - 1, diagonal()).report.gradient, tolerance) << i;
    }
}

BRELVANE_TEST_EVERY_KERNEL_VARIANT(Scaling);

// With x0 = 0, c = e_0, beta = 1, n = 1 the gradient is 1, so the reported
// one before any iteration is the weight itself.
TEST(ScalingWeights, ComeFromTheExponentOfQjjElseOfPjj) {
    const double tiny = std::numeric_limits<double>::min(), huge = std::numeric_limits<double>::max();
    const struct {
        double Q, P, w;
    } cases[] = {
        {1.0, 0.0, 1.0},
        {3.0, 0.0, 1.0},
        {4.0, 0.0, 0.5},
        {0.25, 0.0, 2.0},
        {0x1p-41, 0.0, 0x1p21},       // odd negative exponent: floor, not truncation
        {0x1.8p-3, 0.0, 4.0},         // 3/16, exponent -3: 16 * 3/16 = 3
        {3 * 0x1p40, 5.0, 0x1p-20},   // P_jj plays no part while Q_jj can set the weight
        {tiny, 0.0, 0x1p511},
        {huge, 0.0, 0x1p-511},
        {-4.0, 0x1p-3, 4.0},          // negative Q_jj: from |P_jj|
        {0.0, -0x1p10, 0x1p-5},
        {tiny / 2, 0x1p7, 0x1p-3},    // subnormal Q_jj
        {0.0, tiny / 4, 1.0},         // neither
    };
    for (const auto& k : cases) {
        const double x0 = 0.0, c = 1.0, d = 0.0;
        double x = 0.0;
        RatioDescentReport report;
        ASSERT_EQ(ratioDescentWithOptions(&x, nullptr, &x0, &k.P, &c, 0.0, &k.Q, &d, 1.0, 1, 0,
                                          diagonal(), &report),
                  ratioDescentOk);
        EXPECT_EQ(report.gradient, k.w) << "Q_jj = " << k.Q << ", P_jj = " << k.P;
    }
}

// A Fisher discriminant, min -(b'x)^2 / x'Wx with W a within-class scatter,
// its features in units 2^-20 .. 2^20 apart. Its minimum, -b'W^-1 b, does
// not depend on the units; without scaling the choice follows the features
// of large units and the others lag far behind.
TEST(ScalingConvergence, BadlyScaledFisherProblemConvergesMuchFaster) {
    std::mt19937_64 rng(testSeed("BadlyScaledFisherProblemConvergesMuchFaster", 33));
    std::normal_distribution<double> normal;
    const int n = 12;
    const std::int64_t budget = 40 * n;
    for (int trial = 0; trial < 4; ++trial) {
        Problem p;
        p.n = n;
        std::vector<double> b(n), samples(static_cast<std::size_t>(4 * n * n));
        for (double& v : b) v = normal(rng);
        for (double& v : samples) v = normal(rng);
        p.Q = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) {
            double s = i == j ? 0.1 : 0.0;
            for (int r = 0; r < 4 * n; ++r) s += samples[r * n + i] * samples[r * n + j] / (4 * n);
            return s;
        });
        p.P = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) { return -b[i] * b[j]; });
        p.c = p.d = std::vector<double>(n, 0.0);
        p.alpha = p.beta = 0.0;
        p.x0 = std::vector<double>(n, 1.0);
        const double lambda = smallestGeneralisedEigenvalue(p.P, p.Q, n);
        std::vector<double> units(n);
        for (double& u : units) u = std::ldexp(1.0, static_cast<int>(rng() % 41) - 20);
        const Problem scaled = rescaled(p, units);

        const auto error = [&](const RatioDescentOptions& o) {
            const Solve r = solve(*iterationKernels(KernelVariant::portable), scaled, budget, o);
            return std::fabs(r.report.ratio - lambda) / std::fabs(lambda);
        };
        EXPECT_LT(error(diagonal()), 1e-12) << "trial " << trial;
        EXPECT_GT(error({}), 1e-2) << "trial " << trial;
    }
}

}  // namespace
