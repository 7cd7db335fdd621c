// The fused per-iteration pass, written once: scalar, and over a vector type.
// Everything here has internal linkage: each per-instruction-set source gets
// its own copy compiled for its own instruction set, and none can leak into
// code that runs on a CPU without it.
#ifndef BRELVANE_FUSED_PASS_H
#define BRELVANE_FUSED_PASS_H

#include <cmath>
#include <cstdint>

namespace {

// dR/dx_j from the running products, two separate divisions by D: the
// rounding of the result depends on it.
inline double gradientAt(double Pxj, double Qxj, double cj, double dj, double D, double R) {
    const double gN = Pxj + cj;
    const double gD = Qxj + dj;
    return gN / D - (gD * R) / D;
}

// Scalar continuation of the argmax from (best, index) over j in [from, n).
// Starting from best = -1 every non-NaN entry beats the start.
template <bool Update>
std::int64_t scalarPass(double* Px, double* Qx, const double* Pk, const double* Qk, double delta,
                        const double* c, const double* d, double D, double R, std::int64_t from,
                        std::int64_t n, double best, std::int64_t index) {
    for (std::int64_t j = from; j < n; ++j) {
        if (Update) {
            Px[j] = delta * Pk[j] + Px[j];
            Qx[j] = delta * Qk[j] + Qx[j];
        }
        const double a = std::fabs(gradientAt(Px[j], Qx[j], c[j], d[j], D, R));
        if (a > best) {
            best = a;
            index = j;
        }
    }
    return index;
}

// The sequential choice, fused with the update: best = -1 lets index 0 in
// unless it is NaN, and a NaN at index 0 then wins as it would in
// indexOfMaxAbs.
template <bool Update>
std::int64_t portablePass(double* Px, double* Qx, const double* Pk, const double* Qk,
                          double delta, const double* c, const double* d, double D, double R,
                          std::int64_t n) {
    const std::int64_t k = scalarPass<Update>(Px, Qx, Pk, Qk, delta, c, d, D, R, 0, n, -1.0, 0);
    return std::isnan(gradientAt(Px[0], Qx[0], c[0], d[0], D, R)) ? 0 : k;
}

// Sequential argmax semantics from lane-wise ones: every lane keeps its first
// largest entry (strict >, starting below any magnitude), the lanes reduce to
// the lowest index of the largest value, the tail continues with strict >;
// a NaN at index 0 overrides everything, as it would sequentially.
template <class V, bool Update>
std::int64_t simdPass(double* Px, double* Qx, const double* Pk, const double* Qk, double delta,
                      const double* c, const double* d, double D, double R, std::int64_t n) {
    using T = typename V::Vec;
    const T vD = V::set1(D), vR = V::set1(R), vDelta = V::set1(delta), step = V::set1(V::width);
    T best = V::set1(-1.0), bestIndex = V::set1(0.0), index = V::iota();
    std::int64_t j = 0;
    for (; j + V::width <= n; j += V::width) {
        T px = V::load(Px + j), qx = V::load(Qx + j);
        if (Update) {
            px = V::add(V::mul(vDelta, V::load(Pk + j)), px);
            qx = V::add(V::mul(vDelta, V::load(Qk + j)), qx);
            V::store(Px + j, px);
            V::store(Qx + j, qx);
        }
        const T gN = V::add(px, V::load(c + j));
        const T gD = V::add(qx, V::load(d + j));
        const T a = V::abs(V::sub(V::div(gN, vD), V::div(V::mul(gD, vR), vD)));
        const auto greater = V::greater(a, best);  // false for NaN
        best = V::select(greater, a, best);
        bestIndex = V::select(greater, index, bestIndex);
        index = V::add(index, step);
    }
    double lanes[V::width], laneIndex[V::width];
    V::store(lanes, best);
    V::store(laneIndex, bestIndex);
    double top = -1.0;
    std::int64_t k = 0;
    for (int l = 0; l < V::width; ++l)
        if (lanes[l] > top || (lanes[l] == top && static_cast<std::int64_t>(laneIndex[l]) < k)) {
            top = lanes[l];
            k = static_cast<std::int64_t>(laneIndex[l]);
        }
    k = scalarPass<Update>(Px, Qx, Pk, Qk, delta, c, d, D, R, j, n, top, k);
    return std::isnan(gradientAt(Px[0], Qx[0], c[0], d[0], D, R)) ? 0 : k;
}

template <class V>
std::int64_t simdChoose(const double* Px, const double* Qx, const double* c, const double* d,
                        double D, double R, std::int64_t n) {
    // Without the update the vectors are only read.
    return simdPass<V, false>(const_cast<double*>(Px), const_cast<double*>(Qx), nullptr, nullptr,
                              0.0, c, d, D, R, n);
}

template <class V>
std::int64_t simdUpdateAndChoose(double* Px, double* Qx, const double* Pk, const double* Qk,
                                 double delta, const double* c, const double* d, double D,
                                 double R, std::int64_t n) {
    return simdPass<V, true>(Px, Qx, Pk, Qk, delta, c, d, D, R, n);
}

}  // namespace

#endif
