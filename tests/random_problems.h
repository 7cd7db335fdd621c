// Seeded random problems for the comparison tests.
#ifndef BRELVANE_RANDOM_PROBLEMS_H
#define BRELVANE_RANDOM_PROBLEMS_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "test_support.h"

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
inline double dyadic(std::mt19937_64& rng) {
    return static_cast<double>(static_cast<int>(rng() % 17) - 8) / 2.0;
}

// A special value at a random place, now and then: NaN, infinities, -0.0.
inline void sprinkleSpecials(std::mt19937_64& rng, std::vector<double>& v) {
    static const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(), -0.0};
    if (rng() % 12 == 0) v[rng() % v.size()] = specials[rng() % 4];
}

inline Problem dyadicProblem(std::mt19937_64& rng, std::int64_t maxN = 12) {
    Problem p;
    p.n = 1 + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(maxN));
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

// Halves of order n: P symmetric, Q symmetric with a diagonal of 8 plus a
// half and the rest sixteenths (positive definite), beta = 4.
inline Problem dyadicPencil(std::mt19937_64& rng, std::int64_t n) {
    Problem p;
    p.n = n;
    auto vec = [&] {
        std::vector<double> v(static_cast<std::size_t>(n));
        for (double& e : v) e = dyadic(rng);
        return v;
    };
    p.x0 = vec(), p.c = vec(), p.d = vec();
    p.P = symmetricMatrix(n, [&](std::int64_t, std::int64_t) { return dyadic(rng); });
    p.Q = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) {
        return i == j ? 8.0 + dyadic(rng) : dyadic(rng) / 16;
    });
    p.alpha = dyadic(rng), p.beta = 4.0;
    p.iterations = 0;
    return p;
}

inline Problem generalProblem(std::mt19937_64& rng, std::int64_t minN, std::int64_t maxN) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Problem p;
    p.n = minN + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(maxN - minN + 1));
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

// A ratio with linear terms whose minimiser lies far from x0 = 0: the
// bordered pencil (Pb, Qb) of order n + 1 (Pb Gaussian-like, Qb diagonally
// dominant and so positive definite), its variables shifted by s of size
// `distance`: P = Pb's leading block, c = Pb(:, n) - P s, alpha =
// z'Pb z / 2 for z = (-s, 1), and Q, d, beta alike. R(x) is then the
// bordered quotient at (x - s, 1), whose minimum is the pencil's lowest
// eigenvalue, reached near x = s; the large, nearly cancelling terms are what
// makes products lose digits as the descent travels there.
inline Problem farProblem(std::mt19937_64& rng, std::int64_t n, double distance) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const std::int64_t m = n + 1;
    const std::vector<double> Pb = symmetricMatrix(m, [&](std::int64_t, std::int64_t) { return u(rng); });
    const std::vector<double> Qb = symmetricMatrix(m, [&](std::int64_t i, std::int64_t j) {
        return i == j ? static_cast<double>(m) + u(rng) : u(rng);
    });
    std::vector<double> z(static_cast<std::size_t>(m), 1.0);
    for (std::int64_t i = 0; i < n; ++i) z[i] = -distance * u(rng);
    Problem p;
    p.n = n;
    p.x0.assign(static_cast<std::size_t>(n), 0.0);
    auto shift = [&](const std::vector<double>& B, std::vector<double>& A, std::vector<double>& a,
                     double& constant) {
        A.assign(static_cast<std::size_t>(n * n), 0.0);
        a.assign(static_cast<std::size_t>(n), 0.0);
        for (std::int64_t j = 0; j < n; ++j)
            for (std::int64_t i = 0; i < n; ++i) A[i + j * n] = B[i + j * m];
        double zBz = 0.0;
        for (std::int64_t i = 0; i < m; ++i) {
            double Bz = 0.0;
            for (std::int64_t l = 0; l < m; ++l) Bz += B[i + l * m] * z[l];
            if (i < n) a[i] = Bz;
            zBz += z[i] * Bz;
        }
        constant = zBz / 2.0;
    };
    shift(Pb, p.P, p.c, p.alpha);
    shift(Qb, p.Q, p.d, p.beta);
    p.iterations = 0;
    return p;
}

// The power of two w with w^2 q in [1, 4), found by halving and doubling.
inline double powerOfTwoFor(double q) {
    double w = 1.0;
    while (w * w * q >= 4.0) w /= 2.0;
    while (w * w * q < 1.0) w *= 2.0;
    return w;
}

// The weights of diagonal scaling, read plainly: from Q_jj, else |P_jj|,
// whichever first is positive, finite and normal.
inline std::vector<double> weightsOf(const Problem& p) {
    std::vector<double> w(static_cast<std::size_t>(p.n), 1.0);
    const auto usable = [](double q) { return std::isnormal(q) && q > 0.0; };
    for (std::int64_t j = 0; j < p.n; ++j) {
        const double Qjj = p.Q[j * (p.n + 1)], Pjj = std::fabs(p.P[j * (p.n + 1)]);
        if (usable(Qjj)) w[j] = powerOfTwoFor(Qjj);
        else if (usable(Pjj)) w[j] = powerOfTwoFor(Pjj);
    }
    return w;
}

#endif
