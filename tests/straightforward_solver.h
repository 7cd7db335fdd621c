// A deliberately plain second evaluation of the solver's formulas, to compare against.
#ifndef BRELVANE_STRAIGHTFORWARD_SOLVER_H
#define BRELVANE_STRAIGHTFORWARD_SOLVER_H

#include <cmath>
#include <cstdint>
#include <vector>

// y = sym(A)*x from the lower triangle, rows summed from column 0 up. Exact
// whenever every partial sum is, which small integer or dyadic data ensure.
inline std::vector<double> lowerSymmetricProduct(const std::vector<double>& A,
                                                 const std::vector<double>& x, std::int64_t n) {
    std::vector<double> y(static_cast<std::size_t>(n), 0.0);
    for (std::int64_t i = 0; i < n; ++i)
        for (std::int64_t j = 0; j < n; ++j) {
            const std::int64_t r = i > j ? i : j, s = i > j ? j : i;
            y[i] += A[r + s * n] * x[j];
        }
    return y;
}

inline double plainRatioAt(double t, double a0, double a1, double a2, double b0, double b1,
                           double b2) {
    const double num = ((t * a2) * t + t * a1) + a0;
    const double den = ((t * b2) * t + t * b1) + b0;
    return num / den;
}

inline double plainRatioStep(double a0, double a1, double a2, double b0, double b1, double b2) {
    double h = a2 * b1;
    h = h - a1 * b2;
    double g = a2 * 2.0 * b0;
    g = g - b2 * 2.0 * a0;
    double l = a1 * b0;
    l = l - a0 * b1;
    double disc = g * g;
    disc = disc - h * 4.0 * l;
    const double m = std::sqrt(disc);
    double t1, t2;
    if (h == 0.0) {
        t1 = -(l / g);
        t2 = t1;
    } else {
        t1 = (m - g) / (h * 2.0);
        t2 = (-g - m) / (h * 2.0);
    }
    if (plainRatioAt(t2, a0, a1, a2, b0, b1, b2) > plainRatioAt(t1, a0, a1, a2, b0, b1, b2))
        return t1;
    return t2;
}

// The whole solve, with the start-up products given by `product` (the plain
// loop above, or the library's BLAS product for general data). `ratios`, if
// given, receives R at the top of every iteration and after the last;
// `gradient`, if given, max_j |dR/dx_j| at the end, as the next choice sees it,
// or NaN when any dR/dx_j is NaN.
template <class Product>
std::vector<double> plainRatioDescent(std::vector<double> x, const std::vector<double>& P,
                                      const std::vector<double>& c, double alpha,
                                      const std::vector<double>& Q, const std::vector<double>& d,
                                      double beta, std::int64_t n, std::int64_t iterations,
                                      Product product, std::vector<double>* ratios = nullptr,
                                      double* gradient = nullptr) {
    std::vector<double> Px = product(P, x, n), Qx = product(Q, x, n);
    double xPx = 0, cx = 0, xQx = 0, dx = 0;
    for (std::int64_t i = 0; i < n; ++i) xPx += x[i] * Px[i];
    for (std::int64_t i = 0; i < n; ++i) cx += x[i] * c[i];
    for (std::int64_t i = 0; i < n; ++i) xQx += x[i] * Qx[i];
    for (std::int64_t i = 0; i < n; ++i) dx += d[i] * x[i];
    std::vector<double> gR(static_cast<std::size_t>(n));
    for (std::int64_t it = 0; it < iterations; ++it) {
        const double N = xPx * 0.5 + cx + alpha;
        const double D = xQx * 0.5 + dx + beta;
        const double R = N / D;
        if (ratios) ratios->push_back(R);
        for (std::int64_t j = 0; j < n; ++j) {
            const double gNj = Px[j] + c[j], gDj = Qx[j] + d[j];
            gR[j] = gNj / D - gDj * R / D;
        }
        std::int64_t k = 0;
        for (std::int64_t j = 1; j < n; ++j)
            if (std::fabs(gR[j]) > std::fabs(gR[k])) k = j;
        const double Pkk = P[k + k * n], Qkk = Q[k + k * n];
        const double t = plainRatioStep(N, Px[k] + c[k], Pkk * 0.5, D, Qx[k] + d[k], Qkk * 0.5);
        x[k] += t;
        xQx = (t * 2.0 * Qx[k] + xQx) + t * t * Qkk;
        xPx = (t * 2.0 * Px[k] + xPx) + t * t * Pkk;
        for (std::int64_t j = 0; j < n; ++j) Px[j] += t * P[j + k * n];
        for (std::int64_t j = 0; j < n; ++j) Qx[j] += t * Q[j + k * n];
        cx += t * c[k];
        dx += t * d[k];
    }
    if (ratios) ratios->push_back((xPx * 0.5 + cx + alpha) / (xQx * 0.5 + dx + beta));
    if (gradient) {
        const double N = xPx * 0.5 + cx + alpha, D = xQx * 0.5 + dx + beta, R = N / D;
        std::int64_t k = 0;
        bool anyNaN = false;
        for (std::int64_t j = 0; j < n; ++j) {
            gR[j] = (Px[j] + c[j]) / D - (Qx[j] + d[j]) * R / D;
            if (std::fabs(gR[j]) > std::fabs(gR[k])) k = j;
            anyNaN = anyNaN || std::isnan(gR[j]);
        }
        *gradient = n < 1 ? 0.0 : anyNaN ? std::nan("") : std::fabs(gR[k]);
    }
    for (double& v : x)
        if (v == 0) v = 1e-100;
    return x;
}

#endif
