// Convergence: min x'Px / x'Qx reached as the smallest generalised eigenvalue, R never rising
// where D > 0, and the steps that do raise R counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "generalised_eigenvalue.h"
#include "random_problems.h"
#include "test_support.h"

using namespace brelvane;

namespace {

// x'Ax for symmetric A, summed plainly.
double quadraticForm(const std::vector<double>& A, const std::vector<double>& x, std::int64_t n) {
    double s = 0;
    for (std::int64_t j = 0; j < n; ++j)
        for (std::int64_t i = 0; i < n; ++i) s += x[i] * A[i + j * n] * x[j];
    return s;
}

}  // namespace

TEST(Convergence, RayleighQuotientReachesTheSmallestGeneralisedEigenvalue) {
    std::mt19937_64 rng(testSeed("RayleighQuotientReachesTheSmallestGeneralisedEigenvalue", 5));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    // R converges quadratically in the eigenvector error, so after 200·n
    // steps the gap to lambda is the rounding of R's own evaluation and of
    // dsygv's lambda, both sums over n terms. The bound, 2·n·eps relative, is
    // about three times the largest gap these problems show (0.7·n·eps), so
    // a digit lost in the descent shows; it also keeps R, a Rayleigh
    // quotient, from falling below lambda by more than rounding.
    const double eps = std::numeric_limits<double>::epsilon();
    for (int n : {5, 12, 25, 50}) {
        // Well conditioned: random symmetric P with a clear lowest
        // eigenvalue (a strongly negative first diagonal entry), Q = I + small.
        std::vector<double> P = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) {
            return i == j ? (i == 0 ? -3.0 : 2.0 * u(rng)) : 0.3 * u(rng);
        });
        std::vector<double> Q = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) {
            return i == j ? 1.0 + 0.5 * std::fabs(u(rng)) : 0.1 * u(rng) / n;
        });
        std::vector<double> x0(static_cast<std::size_t>(n)), zero(static_cast<std::size_t>(n), 0.0);
        for (double& v : x0) v = u(rng);
        const double lambda = smallestGeneralisedEigenvalue(P, Q, n);

        std::vector<double> x(static_cast<std::size_t>(n));
        ASSERT_EQ(ratioDescent(x.data(), x0.data(), P.data(), zero.data(), 0.0, Q.data(),
                               zero.data(), 0.0, n, 200 * n),
                  ratioDescentOk);
        const double R = quadraticForm(P, x, n) / quadraticForm(Q, x, n);
        EXPECT_NEAR(R, lambda, 2 * n * eps * std::fabs(lambda)) << "n = " << n;
    }
}

// With the bordered matrix [Q d; d' 2 beta] positive definite, D = 1/2 [x; 1]'[Q d; d' 2 beta][x; 1]
// is positive on every line, so R along a coordinate is continuous with one limit at
// both ends and the lower of its stationary points is its minimum there: no step may
// raise R by more than the rounding of the running sums R is formed from, whose
// terms are of order one here (at most 12 ulps of max(1, |R|) seen; 64 allowed).
TEST(Convergence, RatioNeverRisesWhereTheDenominatorIsPositiveEverywhere) {
    std::mt19937_64 rng(testSeed("RatioNeverRisesWhereTheDenominatorIsPositiveEverywhere", 11));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double eps = std::numeric_limits<double>::epsilon();
    for (int problem = 0; problem < 300; ++problem) {
        const std::int64_t n = 1 + static_cast<std::int64_t>(rng() % 24), m = n + 1;
        std::vector<double> B(static_cast<std::size_t>(m * m));
        for (double& v : B) v = u(rng);
        // The bordered matrix M = B B' + I/10.
        const std::vector<double> M = symmetricMatrix(m, [&](std::int64_t i, std::int64_t j) {
            double s = i == j ? 0.1 : 0.0;
            for (std::int64_t l = 0; l < m; ++l) s += B[i + l * m] * B[j + l * m];
            return s;
        });
        std::vector<double> Q(static_cast<std::size_t>(n * n)), d(static_cast<std::size_t>(n));
        for (std::int64_t j = 0; j < n; ++j) {
            for (std::int64_t i = 0; i < n; ++i) Q[i + j * n] = M[i + j * m];
            d[j] = M[n + j * m];
        }
        const double beta = M[n + n * m] / 2;
        const std::vector<double> P =
            symmetricMatrix(n, [&](std::int64_t, std::int64_t) { return u(rng); });
        std::vector<double> x0(static_cast<std::size_t>(n)), c(static_cast<std::size_t>(n));
        for (double& v : x0) v = u(rng);
        for (double& v : c) v = u(rng);
        const double alpha = u(rng);
        const std::int64_t iterations = 30 * n;
        std::vector<double> x(static_cast<std::size_t>(n)), r(static_cast<std::size_t>(iterations + 1));
        RatioDescentReport report;
        ASSERT_EQ(ratioDescentWithOptions(x.data(), r.data(), x0.data(), P.data(), c.data(), alpha,
                                          Q.data(), d.data(), beta, n, iterations, {}, &report),
                  ratioDescentOk);
        for (std::int64_t t = 0; t < iterations; ++t)
            ASSERT_LE(r[t + 1], r[t] + 64 * eps * std::max(1.0, std::fabs(r[t])))
                << "problem " << problem << " (n = " << n << "), iteration " << t + 1;
        EXPECT_EQ(report.rises, 0) << "problem " << problem;
    }
}

// A step raises R where R has no minimum along its line: with D = 1 and
// N = 1/2 sum_j s_j x_j^2 (s_j = +-1) from x0 = 1, every |dR/dx_j| is 1, so
// the steps take x_0, x_1, ... in turn to the vertex 0 of their parabola, the
// maximum where s_j = -1: R rises by 1/2 there, then the descent is
// stationary. Rounding must not count: problems shifted so that min R is 0
// (P - m Q, c - m d, alpha - m beta for m = min R, so N cancels to nothing
// while its terms stay of order one) run to the level of rounding with R
// going up and down by many ulps of |R|, and no rise counted. Without
// acceleration no rise is counted where the trace does not rise.
TEST(Convergence, StepsThatRaiseTheRatioAreCountedAndRoundingIsNot) {
    for (RatioDescentScaling scaling : {ratioDescentScalingNone, ratioDescentScalingDiagonal}) {
        const std::int64_t n = 7;
        const std::vector<double> P = symmetricMatrix(
            n, [](std::int64_t i, std::int64_t j) { return i != j ? 0.0 : i % 2 ? -1.0 : 1.0; });
        const std::vector<double> ones(n, 1.0), zeros(n, 0.0), Q(n * n, 0.0);
        std::vector<double> x(n), r(21);
        RatioDescentOptions options;
        options.scaling = scaling;
        RatioDescentReport report;
        ASSERT_EQ(ratioDescentWithOptions(x.data(), r.data(), ones.data(), P.data(), zeros.data(),
                                          0.0, Q.data(), zeros.data(), 1.0, n, 20, options,
                                          &report),
                  ratioDescentOk);
        EXPECT_EQ(report.rises, 3) << "scaling " << scaling;
        EXPECT_EQ(report.stop, ratioDescentStopStationary);
        const std::vector<double> want{0.5, 0, 0.5, 0, 0.5, 0, 0.5, 0, 0};
        for (std::size_t t = 0; t < want.size(); ++t) EXPECT_EQ(r[t], want[t]) << "t = " << t;
    }

    std::mt19937_64 rng(testSeed("StepsThatRaiseTheRatioAreCountedAndRoundingIsNot", 17));
    const double eps = std::numeric_limits<double>::epsilon();
    int noisy = 0;
    for (int problem = 0; problem < 40; ++problem) {
        Problem p = generalProblem(rng, 2, 30);
        p.beta += 10.0;  // D > 0 everywhere, so R is bounded below
        const std::int64_t iterations = 400 * p.n;
        std::vector<double> x(static_cast<std::size_t>(p.n));
        std::vector<double> r(static_cast<std::size_t>(iterations) + 1);
        RatioDescentReport report;
        ASSERT_EQ(ratioDescentWithOptions(x.data(), nullptr, p.x0.data(), p.P.data(), p.c.data(),
                                          p.alpha, p.Q.data(), p.d.data(), p.beta, p.n,
                                          iterations, {}, &report),
                  ratioDescentOk);
        const double m = report.ratio;
        for (std::size_t j = 0; j < p.P.size(); ++j) p.P[j] -= m * p.Q[j];
        for (std::size_t j = 0; j < p.c.size(); ++j) p.c[j] -= m * p.d[j];
        p.alpha -= m * p.beta;
        for (RatioDescentAcceleration acceleration :
             {ratioDescentAccelerationNone, ratioDescentAccelerationRitz}) {
            RatioDescentOptions options;
            options.acceleration = acceleration;
            ASSERT_EQ(ratioDescentWithOptions(x.data(), r.data(), p.x0.data(), p.P.data(),
                                              p.c.data(), p.alpha, p.Q.data(), p.d.data(),
                                              p.beta, p.n, iterations, options, &report),
                      ratioDescentOk);
            EXPECT_EQ(report.rises, 0) << "problem " << problem << ", Ritz " << acceleration;
            for (std::int64_t t = 0; t < report.iterations; ++t)
                noisy += r[t + 1] > r[t] + 4 * eps * std::fabs(r[t]);
        }
    }
    EXPECT_GE(noisy, 100) << "too few rises of R by rounding to test that they are not counted";

    for (int problem = 0; problem < 3000; ++problem) {
        const Problem p = dyadicProblem(rng, 8);
        const std::int64_t iterations = std::max<std::int64_t>(p.iterations, 0);
        std::vector<double> x(static_cast<std::size_t>(p.n));
        std::vector<double> r(static_cast<std::size_t>(iterations) + 1);
        RatioDescentReport report;
        ASSERT_EQ(ratioDescentWithOptions(x.data(), r.data(), p.x0.data(), p.P.data(), p.c.data(),
                                          p.alpha, p.Q.data(), p.d.data(), p.beta, p.n,
                                          iterations, {}, &report),
                  ratioDescentOk);
        std::int64_t traceRises = 0;
        for (std::int64_t t = 0; t < report.iterations; ++t) traceRises += r[t + 1] > r[t];
        EXPECT_LE(report.rises, traceRises) << "dyadic problem " << problem;
    }
}
