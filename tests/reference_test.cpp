// The solver against the plain second evaluation, bit for bit, on seeded random problems.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "ratio_descent.h"
#include "straightforward_solver.h"
#include "test_support.h"

namespace {

struct Problem {
    std::int64_t n;
    std::vector<double> x0, P, c;
    double alpha;
    std::vector<double> Q, d;
    double beta;
    std::int64_t iterations;
};

// Halves in [-4, 4]: every start-up product and sum is exact in any order,
// so the BLAS's own summation order cannot show.
double dyadic(std::mt19937_64& rng) {
    return static_cast<double>(static_cast<int>(rng() % 17) - 8) / 2.0;
}

// A special value at a random place, now and then: NaN, infinities, -0.0.
void sprinkleSpecials(std::mt19937_64& rng, std::vector<double>& v) {
    static const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(), -0.0};
    if (rng() % 12 == 0) v[rng() % v.size()] = specials[rng() % 4];
}

Problem dyadicProblem(std::mt19937_64& rng) {
    Problem p;
    p.n = 1 + static_cast<std::int64_t>(rng() % 12);
    auto vec = [&] {
        std::vector<double> v(static_cast<std::size_t>(p.n));
        for (double& e : v) e = dyadic(rng);
        return v;
    };
    auto mat = [&] { return symmetricMatrix(p.n, [&](std::int64_t, std::int64_t) { return dyadic(rng); }); };
    p.x0 = vec(), p.P = mat(), p.c = vec(), p.Q = mat(), p.d = vec();
    p.alpha = dyadic(rng), p.beta = dyadic(rng);
    // Asymmetric now and then: an upper-triangle entry the start-up never reads.
    if (p.n > 1 && rng() % 5 == 0) p.P[static_cast<std::size_t>(p.n * (p.n - 1))] += 1.5;
    if (rng() % 10 == 0) {  // D = 0 at the start
        std::fill(p.Q.begin(), p.Q.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
        p.beta = 0;
    }
    for (auto* v : {&p.x0, &p.P, &p.c, &p.Q, &p.d}) sprinkleSpecials(rng, *v);
    p.iterations = static_cast<std::int64_t>(rng() % 40) - 3;
    return p;
}

Problem generalProblem(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Problem p;
    p.n = 1 + static_cast<std::int64_t>(rng() % 48);
    auto vec = [&] {
        std::vector<double> v(static_cast<std::size_t>(p.n));
        for (double& e : v) e = u(rng);
        return v;
    };
    p.x0 = vec(), p.c = vec(), p.d = vec();
    p.P = symmetricMatrix(p.n, [&](std::int64_t, std::int64_t) { return u(rng); });
    // Diagonally dominant Q keeps D away from zero for most of the run.
    p.Q = symmetricMatrix(p.n, [&](std::int64_t i, std::int64_t j) {
        return i == j ? static_cast<double>(p.n) + u(rng) : u(rng);
    });
    p.alpha = u(rng), p.beta = 1.0 + u(rng);
    p.iterations = static_cast<std::int64_t>(rng() % 200);
    return p;
}

template <class Product>
void expectSameAsPlain(const Problem& p, Product product, int index) {
    std::vector<double> x(static_cast<std::size_t>(p.n));
    ASSERT_EQ(ratioDescent(x.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha, p.Q.data(),
                           p.d.data(), p.beta, p.n, p.iterations),
              ratioDescentOk);
    const std::vector<double> want =
        plainRatioDescent(p.x0, p.P, p.c, p.alpha, p.Q, p.d, p.beta, p.n, p.iterations, product);
    for (std::int64_t i = 0; i < p.n; ++i)
        ASSERT_TRUE(sameDouble(x[i], want[i]))
            << "problem " << index << " (n = " << p.n << ", iterations = " << p.iterations
            << "): x[" << i << "] = " << describe(x[i]) << ", want " << describe(want[i]);
}

std::vector<double> blasProduct(const std::vector<double>& A, const std::vector<double>& x,
                                std::int64_t n) {
    std::vector<double> y(static_cast<std::size_t>(n));
    symMatVec(A.data(), x.data(), y.data(), n);
    return y;
}

}  // namespace

TEST(ReferenceComparison, DyadicProblemsMatchBitForBit) {
    std::mt19937_64 rng(testSeed("DyadicProblemsMatchBitForBit", 20261208));
    for (int i = 0; i < 600; ++i) expectSameAsPlain(dyadicProblem(rng), lowerSymmetricProduct, i);
}

TEST(ReferenceComparison, GeneralProblemsMatchBitForBitOnTheSameBlas) {
    std::mt19937_64 rng(testSeed("GeneralProblemsMatchBitForBitOnTheSameBlas", 977));
    for (int i = 0; i < 300; ++i) expectSameAsPlain(generalProblem(rng), blasProduct, i);
}
