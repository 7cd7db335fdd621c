// Several eigenpairs: against LAPACK's dsygv, the same bits on every pass
// variant and thread count, and what the returned vectors themselves give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "block_pass.h"
#include "brelvane/ratio_descent.h"
#include "generalised_eigenvalue.h"
#include "iteration_kernels.h"
#include "test_support.h"
#include "thread_team.h"

using namespace brelvane;

namespace {

using Matrix = std::vector<double>;

// P = G diag(spectrum) G', Q = G G' for a random G: the pencil's eigenvalues
// are the spectrum, repeats and clusters as given.
void pencilWithSpectrum(std::mt19937_64& rng, const std::vector<double>& spectrum, Matrix& P,
                        Matrix& Q) {
    const std::int64_t n = static_cast<std::int64_t>(spectrum.size());
    std::normal_distribution<double> normal;
    Matrix G(static_cast<std::size_t>(n * n));
    for (double& g : G) g = normal(rng);
    for (std::int64_t i = 0; i < n; ++i) G[i + i * n] += 3.0 * std::sqrt(static_cast<double>(n));
    P.assign(static_cast<std::size_t>(n * n), 0.0);
    Q.assign(static_cast<std::size_t>(n * n), 0.0);
    for (std::int64_t i = 0; i < n; ++i)
        for (std::int64_t j = 0; j <= i; ++j) {
            double p = 0.0, q = 0.0;
            for (std::int64_t l = 0; l < n; ++l) {
                p += G[i + l * n] * spectrum[l] * G[j + l * n];
                q += G[i + l * n] * G[j + l * n];
            }
            P[i + j * n] = P[j + i * n] = p;
            Q[i + j * n] = Q[j + i * n] = q;
        }
}

void randomPencil(std::mt19937_64& rng, std::int64_t n, Matrix& P, Matrix& Q) {
    std::normal_distribution<double> normal;
    Matrix G(static_cast<std::size_t>(n * n));
    for (double& g : G) g = normal(rng);
    P.assign(static_cast<std::size_t>(n * n), 0.0);
    Q.assign(static_cast<std::size_t>(n * n), 0.0);
    for (std::int64_t i = 0; i < n; ++i)
        for (std::int64_t j = 0; j <= i; ++j) {
            const double p = normal(rng);
            double q = i == j ? 0.5 * static_cast<double>(n) : 0.0;
            for (std::int64_t l = 0; l < n; ++l) q += G[i + l * n] * G[j + l * n] / static_cast<double>(n);
            P[i + j * n] = P[j + i * n] = p;
            Q[i + j * n] = Q[j + i * n] = q;
        }
}

struct Pairs {
    RatioDescentStatus status;
    std::vector<double> V, lambda, errors;
    EigenpairsReport report;
};

Pairs solve(const Matrix& P, const Matrix& Q, std::int64_t n, std::int64_t k,
            const EigenpairsOptions& options = {}, const Matrix& start = {},
            const IterationKernels& kernels = fastestIterationKernels()) {
    Pairs r;
    r.V.assign(static_cast<std::size_t>(n * k), 0.0);
    r.lambda.assign(static_cast<std::size_t>(k), 0.0);
    r.errors.assign(static_cast<std::size_t>(k), 0.0);
    const std::int64_t columns = static_cast<std::int64_t>(start.size()) / std::max<std::int64_t>(n, 1);
    r.status = eigenpairsWith(kernels, r.V.data(), r.lambda.data(), r.errors.data(), P.data(),
                              Q.data(), n, k, start.empty() ? nullptr : start.data(), columns,
                              options, &r.report);
    return r;
}

double columnSumNorm(const Matrix& A, std::int64_t n) {
    double most = 0.0;
    for (std::int64_t j = 0; j < n; ++j) {
        double s = 0.0;
        for (std::int64_t i = 0; i < n; ++i) s += std::fabs(A[i + j * n]);
        most = std::max(most, s);
    }
    return most;
}

// What a user checks: V'QV = I, lambda in order and the backward errors
// reported equal to those formed here from V (to the rounding of a sum in
// another order), each within the tolerance.
void expectTrueOfV(const Matrix& P, const Matrix& Q, std::int64_t n, std::int64_t k,
                   const Pairs& r, double tolerance, bool largest) {
    const double nP = columnSumNorm(P, n), nQ = columnSumNorm(Q, n);
    for (std::int64_t a = 0; a < k; ++a) {
        std::vector<double> Pv(static_cast<std::size_t>(n), 0.0), Qv(static_cast<std::size_t>(n), 0.0);
        double length = 0.0;
        for (std::int64_t i = 0; i < n; ++i) {
            for (std::int64_t j = 0; j < n; ++j) {
                Pv[i] += P[i + j * n] * r.V[j + a * n];
                Qv[i] += Q[i + j * n] * r.V[j + a * n];
            }
            length += r.V[i + a * n] * r.V[i + a * n];
        }
        double residual = 0.0;
        for (std::int64_t i = 0; i < n; ++i) {
            const double e = Pv[i] - r.lambda[a] * Qv[i];
            residual += e * e;
        }
        const double error = std::sqrt(residual) / ((nP + std::fabs(r.lambda[a]) * nQ) * std::sqrt(length));
        EXPECT_NEAR(error, r.errors[a], 1e-3 * r.errors[a] + 1e-15) << "pair " << a;
        EXPECT_LE(r.errors[a], tolerance) << "pair " << a;
        for (std::int64_t b = 0; b <= a; ++b) {
            double vQv = 0.0;
            for (std::int64_t i = 0; i < n; ++i) vQv += r.V[i + b * n] * Qv[i];
            EXPECT_NEAR(vQv, a == b ? 1.0 : 0.0, 1e-12) << "V'QV at " << a << ", " << b;
        }
        if (a > 0) {
            if (largest)
                EXPECT_LE(r.lambda[a], r.lambda[a - 1]);
            else
                EXPECT_GE(r.lambda[a], r.lambda[a - 1]);
        }
    }
}

void expectEigenvalues(const std::vector<double>& all, const Pairs& r, bool largest, double tol) {
    const std::size_t n = all.size();
    for (std::size_t a = 0; a < r.lambda.size(); ++a) {
        const double want = largest ? all[n - 1 - a] : all[a];
        EXPECT_NEAR(r.lambda[a], want, tol * (1.0 + std::fabs(want))) << "eigenvalue " << a;
    }
}

}  // namespace

TEST(Eigenpairs, LowestAndHighestOfRandomPencilsMatchLapack) {
    std::mt19937_64 rng(testSeed("Eigenpairs.Random", 7));
    for (std::int64_t n : {1, 5, 37, 120})
        for (std::int64_t k : {std::int64_t{1}, std::min<std::int64_t>(3, n), n})
            for (bool largest : {false, true}) {
                if (n == 120 && k == n) continue;
                Matrix P, Q;
                randomPencil(rng, n, P, Q);
                EigenpairsOptions options;
                options.largest = largest;
                const Pairs r = solve(P, Q, n, k, options);
                SCOPED_TRACE(testing::Message() << "n " << n << " k " << k << " largest " << largest);
                ASSERT_EQ(r.status, ratioDescentOk);
                EXPECT_EQ(r.report.stop, eigenpairsStopTolerance);
                expectTrueOfV(P, Q, n, k, r, options.tolerance, largest);
                expectEigenvalues(generalisedEigenvalues(P, Q, static_cast<int>(n)), r, largest, 1e-8);
            }
}

TEST(Eigenpairs, RepeatedAndClusteredEigenvaluesAndAStartGiven) {
    std::mt19937_64 rng(testSeed("Eigenpairs.Repeated", 11));
    const std::int64_t n = 60;
    // -3 three times, a cluster near -1, then 0 repeated to the end, as a
    // Fisher pencil's: k = 6 ends inside the zeros.
    std::vector<double> spectrum(static_cast<std::size_t>(n), 0.0);
    spectrum[0] = spectrum[1] = spectrum[2] = -3.0;
    spectrum[3] = -1.0, spectrum[4] = -1.0 + 1e-7, spectrum[5] = -1.0 + 2e-7;
    for (std::int64_t i = 6; i < n; ++i) spectrum[i] = i < 12 ? 0.0 : 1.0 + static_cast<double>(i);
    Matrix P, Q;
    pencilWithSpectrum(rng, spectrum, P, Q);
    for (std::int64_t k : {6, 9}) {
        const Pairs r = solve(P, Q, n, k);
        ASSERT_EQ(r.status, ratioDescentOk);
        EXPECT_EQ(r.report.stop, eigenpairsStopTolerance);
        expectTrueOfV(P, Q, n, k, r, 1e-10, false);
        for (std::int64_t a = 0; a < k; ++a)
            EXPECT_NEAR(r.lambda[a], spectrum[a], 1e-8) << "k " << k << " eigenvalue " << a;
        // Started from the answer, the call stops at the first check.
        const Pairs again = solve(P, Q, n, k, {}, r.V);
        ASSERT_EQ(again.status, ratioDescentOk);
        EXPECT_EQ(again.report.sweeps, 0);
        for (std::int64_t a = 0; a < k; ++a) EXPECT_NEAR(again.lambda[a], spectrum[a], 1e-8);
    }
}

TEST(Eigenpairs, SameBitsOnEveryVariantAndThreadCount) {
    std::mt19937_64 rng(testSeed("Eigenpairs.Bits", 3));
    const std::int64_t n = 203;  // a partial last tile
    Matrix P, Q;
    randomPencil(rng, n, P, Q);
    EigenpairsOptions options;
    options.tolerance = 1e-12;
    options.scaling = ratioDescentScalingDiagonal;
    const Pairs want = solve(P, Q, n, 4, options, {}, *iterationKernels(KernelVariant::portable));
    ASSERT_EQ(want.status, ratioDescentOk);
    for (KernelVariant variant : {KernelVariant::portable, KernelVariant::sse2, KernelVariant::avx2,
                                  KernelVariant::avx512}) {
        const IterationKernels* kernels = iterationKernels(variant);
        if (kernels == nullptr) continue;
        for (int threads : {1, 2, 3}) {
            options.threads = threads;
            const Pairs r = solve(P, Q, n, 4, options, {}, *kernels);
            SCOPED_TRACE(testing::Message() << kernels->name << " threads " << threads);
            ASSERT_EQ(r.status, ratioDescentOk);
            // The second sweep always runs on the team, whatever it measures.
            if (processorsAvailable() > 1) EXPECT_EQ(r.report.threads, std::min(threads, 2));
            EXPECT_EQ(r.report.iterations, want.report.iterations);
            for (std::size_t i = 0; i < want.V.size(); ++i)
                ASSERT_TRUE(sameDouble(r.V[i], want.V[i])) << i;
            for (std::size_t i = 0; i < want.lambda.size(); ++i) {
                EXPECT_TRUE(sameDouble(r.lambda[i], want.lambda[i]));
                EXPECT_TRUE(sameDouble(r.errors[i], want.errors[i]));
            }
        }
    }
}

// The pass against its plain reading, row by row, on a partial tile.
TEST(Eigenpairs, BlockPassIsItsPlainReading) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    const std::int64_t n = 21;
    const int kb = 3;
    const std::int64_t stored = (n + 7) / 8 * 8 * kb;
    std::vector<double> PX(stored, 0.0), QX(stored, 0.0), Pj(n), Qj(n), w(n);
    for (std::int64_t l = 0; l < n; ++l) {
        Pj[l] = u(rng), Qj[l] = u(rng), w[l] = std::ldexp(1.0, static_cast<int>(l % 3) - 1);
        for (int i = 0; i < kb; ++i) {
            const std::int64_t at = (l / 8) * 8 * kb + i * 8 + l % 8;
            PX[at] = u(rng), QX[at] = u(rng);
        }
    }
    const double t[kb] = {0.5, -1.25, 3.0}, R[kb] = {-0.75, 0.125, 2.0}, c[kb] = {1.0, 0.5, 3.0};
    for (KernelVariant variant : {KernelVariant::portable, KernelVariant::sse2, KernelVariant::avx2,
                                  KernelVariant::avx512}) {
        const IterationKernels* kernels = iterationKernels(variant);
        if (kernels == nullptr) continue;
        std::vector<double> px = PX, qx = QX, gmax(kb * 8, 0.0);
        const int active[] = {0, 2};  // vector 1 sits the pass out
        const BlockPassArguments a{px.data(), qx.data(), Pj.data(), Qj.data(), -1.0, t, R, c,
                                   w.data(), gmax.data(), kb, n, active, 2};
        const BlockChoice choice = kernels->blockPass(a, 0, (n + 7) / 8);
        double best = -1.0;
        std::int64_t row = -1;
        std::vector<double> largest(kb, 0.0);
        for (std::int64_t l = 0; l < n; ++l) {
            double s = 0.0;
            for (int i = 0; i < kb; ++i) {
                const std::int64_t at = (l / 8) * 8 * kb + i * 8 + l % 8;
                if (i == 1) {
                    ASSERT_TRUE(sameDouble(px[at], PX[at]) && sameDouble(qx[at], QX[at]));
                    continue;
                }
                const double p = PX[at] + t[i] * (-1.0 * Pj[l]), q = QX[at] + t[i] * Qj[l];
                ASSERT_TRUE(sameDouble(px[at], p) && sameDouble(qx[at], q)) << kernels->name;
                const double g = std::fabs(p - R[i] * q);
                largest[i] = std::max(largest[i], g);
                s = s + g * c[i];
            }
            s = s * w[l];
            if (s > best) best = s, row = l;
        }
        EXPECT_EQ(choice.row, row) << kernels->name;
        EXPECT_TRUE(sameDouble(choice.best, best)) << kernels->name;
        for (int i : {0, 2})
            EXPECT_EQ(*std::max_element(gmax.begin() + i * 8, gmax.begin() + i * 8 + 8), largest[i]);
    }
}

TEST(Eigenpairs, BadPencilsAreReportedAndNothingIsWritten) {
    const std::int64_t n = 4;
    Matrix P(16, 0.0), Q(16, 0.0);
    for (int i = 0; i < 4; ++i) P[i * 5] = i, Q[i * 5] = 1.0;
    Q[15] = -1.0;  // indefinite: a vector with v'Qv < 0 is met
    Pairs r = solve(P, Q, n, 2);
    EXPECT_EQ(r.status, ratioDescentNotPositiveDefinite);
    EXPECT_EQ(r.V, Matrix(8, 0.0));
    Q[15] = 1.0;
    P[6] = kNaN;
    r = solve(P, Q, n, 2);
    EXPECT_EQ(r.status, ratioDescentNotFinite);
    EXPECT_EQ(r.V, Matrix(8, 0.0));
    // Finite entries whose products overflow are not a Q that is not
    // positive definite.
    for (int i = 0; i < 4; ++i) P[i * 5] = 1.5e308, Q[i * 5] = 1.5e308;
    P[6] = 0.0;
    r = solve(P, Q, n, 2);
    EXPECT_EQ(r.status, ratioDescentNotFinite);
}
