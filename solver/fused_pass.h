// The fused per-iteration pass, written once: scalar, and over a vector type.
// Everything here has internal linkage, and it calls nothing with external
// linkage (no std::isnan, whose out-of-line copy an unoptimised build would
// emit as a weak symbol): each per-instruction-set source gets its own copy
// compiled for its own instruction set, and none can leak into code that runs
// on a CPU without it.
#ifndef BRELVANE_FUSED_PASS_H
#define BRELVANE_FUSED_PASS_H

#include <cstdint>
#include <type_traits>

#include "iteration_kernels.h"

namespace brelvane {
namespace {

inline bool isNaN(double v) { return v != v; }

inline double magnitude(double v) { return __builtin_fabs(v); }

// dR/dx_j from the running products, two separate divisions by D: the
// rounding of the result depends on it.
inline double gradientAt(double Pxj, double Qxj, double cj, double dj, double D, double R) {
    const double gN = Pxj + cj;
    const double gD = Qxj + dj;
    return gN / D - (gD * R) / D;
}

// What the choice compares at j is the magnitude of this: dR/dx_j, or
// w_j * dR/dx_j (the product rounded) when weighted.
template <bool Weighted>
inline double choiceValue(double gradient, const double* w, std::int64_t j) {
    if constexpr (Weighted)
        return w[j] * gradient;
    else
        return gradient;
}

template <bool Weighted>
inline double choiceMagnitude(double gradient, const double* w, std::int64_t j) {
    return magnitude(choiceValue<Weighted>(gradient, w, j));
}

// The argmax rule of the choice, applied to entries offered in increasing j:
// it starts below any magnitude, so the first entry that is not NaN is taken,
// and replaces only on strictly greater, so a tie keeps the lower index and a
// NaN is never taken. That is indexOfMaxAbs, except that indexOfMaxAbs starts
// from entry 0 itself and so keeps a NaN there: see finishChoice.
struct Argmax {
    double best = -1.0;
    std::int64_t index = 0;
    void offer(double a, std::int64_t j) {
        if (a > best) {
            best = a;
            index = j;
        }
    }
};

// W lanes, each having applied the rule to its own entries (lane l to
// j = l, l + W, ..., in increasing order), merged into the rule over all of
// them: the largest best, the lowest index among equal bests. A lane that
// took nothing holds (-1, 0) and loses to every lane that took something.
template <int W>
Argmax mergeLanes(const double (&best)[W], const double (&index)[W]) {
    Argmax m;
    for (int l = 0; l < W; ++l)
        if (best[l] > m.best ||
            (best[l] == m.best && static_cast<std::int64_t>(index[l]) < m.index)) {
            m.best = best[l];
            m.index = static_cast<std::int64_t>(index[l]);
        }
    return m;
}

// A NaN at index 0 wins, as it does in indexOfMaxAbs (valueAt0: the
// choiceValue there, NaN exactly when its magnitude is).
inline std::int64_t finishChoice(const Argmax& m, double valueAt0) {
    return isNaN(valueAt0) ? 0 : m.index;
}

// What a pass returns: k alone, or with ReportNaN k and whether any value it
// compared was NaN. A pass that reports NaN sums the values it offers:
// a sum of terms that are >= 0 or NaN is NaN exactly when one of them is
// (Inf + Inf stays Inf), whatever the order, and one addition per entry or
// vector is the cheapest record of it.
template <bool ReportNaN>
using PassResult = std::conditional_t<ReportNaN, ChoiceAndNaN, std::int64_t>;

template <bool ReportNaN>
PassResult<ReportNaN> finishPass(const Argmax& m, double valueAt0, bool anyNaN) {
    if constexpr (ReportNaN)
        return {finishChoice(m, valueAt0), anyNaN};
    else
        return finishChoice(m, valueAt0);
}

// Px and Qx are written only by the updating pass.
template <bool Update>
using RunningProduct = std::conditional_t<Update, double*, const double*>;

// The rule continued over j in [from, n). With Update, Px[j] and Qx[j] first
// receive delta times column entry j of P and Q; otherwise Pk, Qk and delta
// are not read. With ReportNaN, sum also adds up the entries.
template <bool Update, bool Weighted, bool ReportNaN>
Argmax scalarPass(RunningProduct<Update> Px, RunningProduct<Update> Qx, const double* Pk,
                  const double* Qk, double delta, const double* c, const double* d,
                  const double* w, double D, double R, std::int64_t from, std::int64_t n,
                  Argmax m, double& sum) {
    for (std::int64_t j = from; j < n; ++j) {
        if constexpr (Update) {
            Px[j] = delta * Pk[j] + Px[j];
            Qx[j] = delta * Qk[j] + Qx[j];
        }
        const double a =
            choiceMagnitude<Weighted>(gradientAt(Px[j], Qx[j], c[j], d[j], D, R), w, j);
        if constexpr (ReportNaN) sum += a;
        m.offer(a, j);
    }
    return m;
}

// The rule over j in [from, to), without the NaN at index 0; with
// ReportNaN, anyNaN says whether any value compared was NaN.
template <bool Update, bool Weighted, bool ReportNaN>
Argmax portableRange(RunningProduct<Update> Px, RunningProduct<Update> Qx, const double* Pk,
                     const double* Qk, double delta, const double* c, const double* d,
                     const double* w, double D, double R, std::int64_t from, std::int64_t to,
                     bool& anyNaN) {
    double sum = 0.0;
    const Argmax m = scalarPass<Update, Weighted, ReportNaN>(Px, Qx, Pk, Qk, delta, c, d, w, D, R,
                                                             from, to, Argmax{}, sum);
    anyNaN = ReportNaN && isNaN(sum);
    return m;
}

// The rule lane-wise over whole vectors of [from, to), the lanes merged, the
// tail continued by the scalar rule (its indices are all higher). With
// ReportNaN each lane also sums its entries and the tail its own, looked at
// for NaN once, at the end.
template <class V, bool Update, bool Weighted, bool ReportNaN>
Argmax simdRange(RunningProduct<Update> Px, RunningProduct<Update> Qx, const double* Pk,
                 const double* Qk, double delta, const double* c, const double* d,
                 const double* w, double D, double R, std::int64_t from, std::int64_t to,
                 bool& anyNaN) {
    using T = typename V::Vec;
    const T vD = V::set1(D), vR = V::set1(R), vDelta = V::set1(delta), step = V::set1(V::width);
    T best = V::set1(-1.0), bestIndex = V::set1(0.0);
    T index = V::add(V::iota(), V::set1(static_cast<double>(from)));
    T sum = V::set1(0.0);
    std::int64_t j = from;
    for (; j + V::width <= to; j += V::width) {
        T px = V::load(Px + j), qx = V::load(Qx + j);
        if constexpr (Update) {
            px = V::add(V::mul(vDelta, V::load(Pk + j)), px);
            qx = V::add(V::mul(vDelta, V::load(Qk + j)), qx);
            V::store(Px + j, px);
            V::store(Qx + j, qx);
        }
        const T gN = V::add(px, V::load(c + j));
        const T gD = V::add(qx, V::load(d + j));
        T g = V::sub(V::div(gN, vD), V::div(V::mul(gD, vR), vD));
        if constexpr (Weighted) g = V::mul(V::load(w + j), g);
        const T a = V::abs(g);
        // Argmax::offer per lane: greater is false for NaN.
        const auto greater = V::greater(a, best);
        best = V::select(greater, a, best);
        bestIndex = V::select(greater, index, bestIndex);
        if constexpr (ReportNaN) sum = V::add(sum, a);
        index = V::add(index, step);
    }
    double lanes[V::width], laneIndex[V::width];
    V::store(lanes, best);
    V::store(laneIndex, bestIndex);
    double tail = 0.0;
    const Argmax m = scalarPass<Update, Weighted, ReportNaN>(
        Px, Qx, Pk, Qk, delta, c, d, w, D, R, j, to, mergeLanes(lanes, laneIndex), tail);
    anyNaN = ReportNaN && (V::anyNaN(sum) || isNaN(tail));
    return m;
}

// A whole pass: the rule over every j, then a NaN at index 0.
template <class Range, bool Update, bool Weighted, bool ReportNaN>
PassResult<ReportNaN> wholePass(RunningProduct<Update> Px, RunningProduct<Update> Qx,
                                const double* Pk, const double* Qk, double delta, const double* c,
                                const double* d, const double* w, double D, double R,
                                std::int64_t n) {
    bool anyNaN = false;
    const Argmax m = Range::template range<Update, Weighted, ReportNaN>(Px, Qx, Pk, Qk, delta, c,
                                                                        d, w, D, R, 0, n, anyNaN);
    const double g0 = gradientAt(Px[0], Qx[0], c[0], d[0], D, R);
    return finishPass<ReportNaN>(m, choiceValue<Weighted>(g0, w, 0), anyNaN);
}

// The rule over a range of j on one instruction set: Portable, or Simd<V> for
// a vector type V.
struct Portable {
    using Ops = ScalarOps;  // the block pass's lane
    template <bool Update, bool Weighted, bool ReportNaN>
    static Argmax range(RunningProduct<Update> Px, RunningProduct<Update> Qx, const double* Pk,
                        const double* Qk, double delta, const double* c, const double* d,
                        const double* w, double D, double R, std::int64_t from, std::int64_t to,
                        bool& anyNaN) {
        return portableRange<Update, Weighted, ReportNaN>(Px, Qx, Pk, Qk, delta, c, d, w, D, R,
                                                          from, to, anyNaN);
    }
};

template <class V>
struct Simd {
    using Ops = V;
    template <bool Update, bool Weighted, bool ReportNaN>
    static Argmax range(RunningProduct<Update> Px, RunningProduct<Update> Qx, const double* Pk,
                        const double* Qk, double delta, const double* c, const double* d,
                        const double* w, double D, double R, std::int64_t from, std::int64_t to,
                        bool& anyNaN) {
        return simdRange<V, Update, Weighted, ReportNaN>(Px, Qx, Pk, Qk, delta, c, d, w, D, R,
                                                         from, to, anyNaN);
    }
};

// One thread's share of the updating pass: the rule over its slice
// [from, to), which the slices' results combine into (SliceChoice).
template <class Pass, bool Weighted>
SliceChoice updateAndChooseSlice(double* Px, double* Qx, const double* Pk, const double* Qk,
                                 double delta, const double* c, const double* d, const double* w,
                                 double D, double R, std::int64_t from, std::int64_t to) {
    bool anyNaN = false;
    const Argmax m = Pass::template range<true, Weighted, true>(Px, Qx, Pk, Qk, delta, c, d, w, D,
                                                                R, from, to, anyNaN);
    const bool taken = m.best >= 0.0;
    return {m.best, m.index, anyNaN, taken ? Px[m.index] : 0.0, taken ? Qx[m.index] : 0.0};
}

template <class Pass, bool ReportNaN>
PassResult<ReportNaN> choose(const double* Px, const double* Qx, const double* c, const double* d,
                             double D, double R, std::int64_t n) {
    return wholePass<Pass, false, false, ReportNaN>(Px, Qx, nullptr, nullptr, 0.0, c, d,
                                                        nullptr, D, R, n);
}

template <class Pass, bool ReportNaN>
PassResult<ReportNaN> updateAndChoose(double* Px, double* Qx, const double* Pk, const double* Qk,
                                      double delta, const double* c, const double* d, double D,
                                      double R, std::int64_t n) {
    return wholePass<Pass, true, false, ReportNaN>(Px, Qx, Pk, Qk, delta, c, d, nullptr, D, R,
                                                       n);
}

template <class Pass, bool ReportNaN>
PassResult<ReportNaN> chooseWeighted(const double* Px, const double* Qx, const double* c,
                                     const double* d, const double* w, double D, double R,
                                     std::int64_t n) {
    return wholePass<Pass, false, true, ReportNaN>(Px, Qx, nullptr, nullptr, 0.0, c, d, w, D, R,
                                                       n);
}

template <class Pass, bool ReportNaN>
PassResult<ReportNaN> updateAndChooseWeighted(double* Px, double* Qx, const double* Pk,
                                              const double* Qk, double delta, const double* c,
                                              const double* d, const double* w, double D, double R,
                                              std::int64_t n) {
    return wholePass<Pass, true, true, ReportNaN>(Px, Qx, Pk, Qk, delta, c, d, w, D, R, n);
}

// The kernel table of one pass; a constant expression, so the tables are
// initialised before any code runs.
template <class Pass>
constexpr IterationKernels kernelTable(const char* name) {
    return {name,
            choose<Pass, false>,
            updateAndChoose<Pass, false>,
            chooseWeighted<Pass, false>,
            updateAndChooseWeighted<Pass, false>,
            choose<Pass, true>,
            updateAndChoose<Pass, true>,
            chooseWeighted<Pass, true>,
            updateAndChooseWeighted<Pass, true>,
            updateAndChooseSlice<Pass, false>,
            updateAndChooseSlice<Pass, true>,
            blockPassTiles<typename Pass::Ops>};
}

}  // namespace
}  // namespace brelvane

#endif
