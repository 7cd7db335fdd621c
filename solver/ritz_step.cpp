// The Rayleigh-Ritz step: a small symmetric-definite eigenproblem built from the running products.
#include "ritz_step.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "vector_kernels.h"

namespace brelvane {

namespace {

constexpr int mMax = ritzBasisSize;

// A basis vector is dropped once the part of it outside the span of those
// taken has at most this squared length, its own length being 1 in B: the
// Gram matrix tends to singular as the descent settles, and its rounding
// must not be divided into the reduced problem.
constexpr double ritzDropTolerance = 1e-12;

// An off-diagonal entry below this times the sum of the magnitudes of its
// two diagonal entries changes the eigenvalues by less than their rounding.
constexpr double jacobiNegligible = 1e-18;

// Quadratic convergence takes a handful of sweeps for m <= 10; the cap only
// guards against a pathological input.
constexpr int maxJacobiSweeps = 40;

bool isFinite(double v) { return v - v == 0.0; }

// Element (i, j) of an m-by-m column-major matrix.
double& at(double* M, int m, int i, int j) { return M[i + j * m]; }
double at(const double* M, int m, int i, int j) { return M[i + j * m]; }

// Pivoted Cholesky of the symmetric positive semi-definite r-by-r G (unit
// diagonal), in place: piv[k] is the vector taken k-th, L's column k is held
// in G's column k below and on the diagonal (in the permuted order). Returns
// the rank taken. The pivot is the largest remaining diagonal entry, the
// lowest index on ties.
int pivotedCholesky(double* G, int r, int* piv) {
    for (int i = 0; i < r; ++i) piv[i] = i;
    for (int k = 0; k < r; ++k) {
        int best = k;
        for (int i = k + 1; i < r; ++i)
            if (at(G, r, i, i) > at(G, r, best, best)) best = i;
        if (!(at(G, r, best, best) > ritzDropTolerance)) return k;
        if (best != k) {
            // Swap rows and columns k and best of the symmetric matrix.
            for (int j = 0; j < r; ++j) {
                const double t = at(G, r, k, j);
                at(G, r, k, j) = at(G, r, best, j);
                at(G, r, best, j) = t;
            }
            for (int i = 0; i < r; ++i) {
                const double t = at(G, r, i, k);
                at(G, r, i, k) = at(G, r, i, best);
                at(G, r, i, best) = t;
            }
            const int t = piv[k];
            piv[k] = piv[best];
            piv[best] = t;
        }
        const double Lkk = std::sqrt(at(G, r, k, k));
        at(G, r, k, k) = Lkk;
        for (int i = k + 1; i < r; ++i) at(G, r, i, k) = at(G, r, i, k) / Lkk;
        // Schur complement of the trailing block, lower and upper triangles.
        for (int j = k + 1; j < r; ++j)
            for (int i = k + 1; i < r; ++i)
                at(G, r, i, j) = at(G, r, i, j) - at(G, r, i, k) * at(G, r, j, k);
    }
    return r;
}

// Eigenvalues of the symmetric q-by-q M (overwritten: its diagonal ends as
// the eigenvalues) and the eigenvectors in the columns of V, by cyclic
// Jacobi rotations row by row, until a sweep finds every off-diagonal entry
// negligible beside its two diagonal entries (then set to zero).
void jacobiEigen(double* M, int q, double* V) {
    for (int j = 0; j < q; ++j)
        for (int i = 0; i < q; ++i) at(V, q, i, j) = i == j ? 1.0 : 0.0;
    for (int sweep = 0; sweep < maxJacobiSweeps; ++sweep) {
        bool rotated = false;
        for (int a = 0; a + 1 < q; ++a)
            for (int b = a + 1; b < q; ++b) {
                const double Mab = at(M, q, a, b);
                if (!(std::fabs(Mab) >
                      jacobiNegligible * (std::fabs(at(M, q, a, a)) + std::fabs(at(M, q, b, b))))) {
                    at(M, q, a, b) = 0.0;
                    at(M, q, b, a) = 0.0;
                    continue;
                }
                rotated = true;
                // The rotation that zeroes M_ab: t = tan of its angle, the
                // smaller root of t^2 + 2 theta t - 1 = 0.
                const double theta = (at(M, q, b, b) - at(M, q, a, a)) / (2.0 * Mab);
                const double abst = std::fabs(theta);
                double t = abst > 1e150 ? 0.5 / abst : 1.0 / (abst + std::sqrt(theta * theta + 1.0));
                if (theta < 0.0) t = -t;
                const double cs = 1.0 / std::sqrt(t * t + 1.0);
                const double sn = t * cs;
                const double tau = sn / (1.0 + cs);
                at(M, q, a, a) = at(M, q, a, a) - t * Mab;
                at(M, q, b, b) = at(M, q, b, b) + t * Mab;
                at(M, q, a, b) = 0.0;
                at(M, q, b, a) = 0.0;
                for (int k = 0; k < q; ++k) {
                    if (k == a || k == b) continue;
                    const double g = at(M, q, k, a);
                    const double h = at(M, q, k, b);
                    const double ga = g - sn * (h + g * tau);
                    const double hb = h + sn * (g - h * tau);
                    at(M, q, k, a) = ga;
                    at(M, q, a, k) = ga;
                    at(M, q, k, b) = hb;
                    at(M, q, b, k) = hb;
                }
                for (int k = 0; k < q; ++k) {
                    const double g = at(V, q, k, a);
                    const double h = at(V, q, k, b);
                    at(V, q, k, a) = g - sn * (h + g * tau);
                    at(V, q, k, b) = h + sn * (g - h * tau);
                }
            }
        if (!rotated) return;
    }
}

}  // namespace

bool lowestRitzVector(int m, const double* A, const double* B, double* v, double* value) {
    // The vectors that take part, scaled to unit diagonal in B.
    int use[mMax];
    double scale[mMax];
    int r = 0;
    for (int i = 0; i < m; ++i) {
        v[i] = 0.0;
        const double Bii = at(B, m, i, i);
        if (Bii > 0.0 && Bii <= std::numeric_limits<double>::max()) {
            use[r] = i;
            scale[r] = 1.0 / std::sqrt(Bii);
            ++r;
        }
    }
    double G[mMax * mMax];
    double S[mMax * mMax];
    for (int j = 0; j < r; ++j)
        for (int i = 0; i < r; ++i) {
            at(G, r, i, j) = (scale[i] * at(B, m, use[i], use[j])) * scale[j];
            at(S, r, i, j) = (scale[i] * at(A, m, use[i], use[j])) * scale[j];
            if (!isFinite(at(G, r, i, j)) || !isFinite(at(S, r, i, j))) return false;
        }
    int piv[mMax];
    const int q = pivotedCholesky(G, r, piv);
    if (q == 0) return false;
    // M = L^-1 S~ L^-T, with S~ = S in the pivot order: first Y = L^-1 S~
    // (column by column, forward substitution), then M' = L^-1 Y' likewise;
    // M is symmetric in exact arithmetic, and its lower triangle is kept.
    double Y[mMax * mMax];
    for (int j = 0; j < q; ++j)
        for (int i = 0; i < q; ++i) {
            double sum = at(S, r, piv[i], piv[j]);
            for (int k = 0; k < i; ++k) sum = sum - at(G, r, i, k) * at(Y, q, k, j);
            at(Y, q, i, j) = sum / at(G, r, i, i);
        }
    double M[mMax * mMax];
    for (int j = 0; j < q; ++j)
        for (int i = 0; i < q; ++i) {
            double sum = at(Y, q, j, i);
            for (int k = 0; k < i; ++k) sum = sum - at(G, r, i, k) * at(M, q, k, j);
            at(M, q, i, j) = sum / at(G, r, i, i);
        }
    for (int j = 0; j < q; ++j)
        for (int i = j + 1; i < q; ++i) at(M, q, j, i) = at(M, q, i, j);
    double V[mMax * mMax];
    jacobiEigen(M, q, V);
    int lowest = 0;
    for (int j = 1; j < q; ++j)
        if (at(M, q, j, j) < at(M, q, lowest, lowest)) lowest = j;
    // w = L^-T (the eigenvector), back substitution; then undo the scaling.
    double w[mMax];
    for (int i = q - 1; i >= 0; --i) {
        double sum = at(V, q, i, lowest);
        for (int k = i + 1; k < q; ++k) sum = sum - at(G, r, k, i) * w[k];
        w[i] = sum / at(G, r, i, i);
    }
    for (int i = 0; i < q; ++i) {
        if (!isFinite(w[i])) return false;
        v[use[piv[i]]] = scale[piv[i]] * w[i];
    }
    *value = at(M, q, lowest, lowest);
    return true;
}

namespace {

double* slotX(const RitzHistory& h, std::int64_t n, int slot) { return h.slots + 3 * n * slot; }

// The basis of a step: index 0 is y, then the kept starts from the newest to
// the oldest. Slot of basis vector i >= 1.
int basisSlot(const RitzHistory& h, int i) {
    return (h.newest - (i - 1) + ritzKeptStarts) % ritzKeptStarts;
}

// The bordered Gram entry z_i' M^ z_j = x_i'M x_j + e'x_i + e'x_j + 2 gamma for
// M^ = [M e; e' 2 gamma] and z = (x, 1), from its dot products.
double bordered(double xMx, double ei, double ej, double gamma) {
    return ((xMx + ei) + ej) + 2.0 * gamma;
}

// max_j |v[j]|, NaN passed over.
double largestMagnitude(const double* v, std::int64_t n) {
    double largest = 0.0;
    for (std::int64_t j = 0; j < n; ++j)
        if (std::fabs(v[j]) > largest) largest = std::fabs(v[j]);
    return largest;
}

// y <- u[m-1] * b_{m-1} + ... + u[1] * b_1 + u[0] * y0 into `out` (n
// doubles), summed from the oldest start to y0; out may be b_{m-1} itself,
// which is read before it is written. b_i is vector `part` (0: x, 1: P x,
// 2: Q x) of basis vector i's slot. Returns the largest |out[j]| (NaN
// entries passed over).
double combine(const RitzHistory& h, std::int64_t n, int m, const double* u, int part,
               const double* y0, double* out) {
    const double* oldest = slotX(h, n, basisSlot(h, m - 1)) + part * n;
    const double um = u[m - 1];
    for (std::int64_t j = 0; j < n; ++j) out[j] = um * oldest[j];
    for (int i = m - 2; i >= 1; --i) {
        const double* b = slotX(h, n, basisSlot(h, i)) + part * n;
        const double ui = u[i];
        for (std::int64_t j = 0; j < n; ++j) out[j] = out[j] + ui * b[j];
    }
    const double u0 = u[0];
    for (std::int64_t j = 0; j < n; ++j) out[j] = out[j] + u0 * y0[j];
    return largestMagnitude(out, n);
}

// How many times their largest entries the products have been summed at (at
// least 1): their rounding, relative to their size, in units of 2^-53. NaN
// (which no fresh product mends) counts as 1; a zero vector summed from
// nonzero terms as infinite.
double amplificationOf(double scaleP, double largestP, double scaleQ, double largestQ) {
    const double aP = scaleP > largestP ? scaleP / largestP : 1.0;
    const double aQ = scaleQ > largestQ ? scaleQ / largestQ : 1.0;
    return std::fmax(aP, aQ);
}

bool allFinite(const double* v, std::int64_t n) {
    for (std::int64_t j = 0; j < n; ++j)
        if (!isFinite(v[j])) return false;
    return true;
}

// Side of zero: +1, -1, or 0 for zero and NaN.
int sideOf(double D) { return D > 0.0 ? 1 : D < 0.0 ? -1 : 0; }

// Makes slot `slot` the newest start, with its scalars; xPxRow[i] and
// xQxRow[i] are its products with the start in basis position i + 1.
void keepStart(RitzHistory& h, int slot, int others, const int* otherSlots,
               const double* xPxRow, const double* xQxRow, const Scalars& s) {
    h.scaleP[slot] = h.runningScaleP;
    h.scaleQ[slot] = h.runningScaleQ;
    h.largestP[slot] = h.runningLargestP;
    h.largestQ[slot] = h.runningLargestQ;
    h.cx[slot] = s.cx;
    h.dx[slot] = s.dx;
    h.xPx[slot][slot] = s.xPx;
    h.xQx[slot][slot] = s.xQx;
    for (int i = 0; i < others; ++i) {
        const int o = otherSlots[i];
        h.xPx[slot][o] = h.xPx[o][slot] = xPxRow[i];
        h.xQx[slot][o] = h.xQx[o][slot] = xQxRow[i];
    }
    h.newest = slot;
    if (h.count < ritzKeptStarts) ++h.count;
}

}  // namespace

void startRitzHistory(RitzHistory& h, double* slots, const RatioProblem& p, const double* x,
                      const double* Px, const double* Qx, const Scalars& s) {
    const std::int64_t n = p.n;
    h.slots = slots;
    h.count = 0;
    h.newest = ritzKeptStarts - 1;
    h.homogeneous = p.alpha == 0.0 && p.beta == 0.0;
    for (std::int64_t j = 0; j < n && h.homogeneous; ++j)
        h.homogeneous = p.c[j] == 0.0 && p.d[j] == 0.0;
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(double);
    double* slot = slotX(h, n, 0);
    std::memcpy(slot, x, bytes);
    std::memcpy(slot + n, Px, bytes);
    std::memcpy(slot + 2 * n, Qx, bytes);
    noteFreshProducts(h, Px, Qx, n);
    keepStart(h, 0, 0, nullptr, nullptr, nullptr, s);
}

void noteFreshProducts(RitzHistory& h, const double* Px, const double* Qx, std::int64_t n) {
    h.runningScaleP = h.runningLargestP = largestMagnitude(Px, n);
    h.runningScaleQ = h.runningLargestQ = largestMagnitude(Qx, n);
}

namespace {

// The bordered pencil projected on the basis [y, kept starts, newest
// first], with the dot products of y it is built from; signs turned so that
// D(y) > 0, so that the lowest ratio is the lowest eigenvalue on y's side.
struct Projection {
    int m;
    int slots[mMax];      // slot of basis vector i >= 1
    Scalars sy;           // y's scalars formed afresh
    double Dy;
    double Ry;
    double yPx[mMax];     // y'P x_i, y'Q x_i for basis vector i >= 1
    double yQx[mMax];
    double A[mMax * mMax];
    double B[mMax * mMax];
};

void project(const RitzHistory& h, const RatioProblem& p, const double* x, const double* Px,
             const double* Qx, Projection& j) {
    const std::int64_t n = p.n;
    const int m = j.m = 1 + h.count;
    j.sy = scalarsOf(p, x, Px, Qx);
    j.Dy = denominatorOf(j.sy, p);
    j.Ry = numeratorOf(j.sy, p) / j.Dy;
    // The newer vector on the left, the product of the older on the right;
    // the kept pairs' products were formed so when they were kept.
    const double* products[2 * mMax] = {};
    double row[2 * mMax];
    for (int i = 1; i < m; ++i) {
        j.slots[i] = basisSlot(h, i);
        products[2 * i - 2] = slotX(h, n, j.slots[i]) + n;
        products[2 * i - 1] = slotX(h, n, j.slots[i]) + 2 * n;
    }
    dotProducts(x, products, 2 * (m - 1), n, row);
    double cx[mMax] = {j.sy.cx};
    double dx[mMax] = {j.sy.dx};
    for (int i = 1; i < m; ++i) {
        j.yPx[i] = row[2 * i - 2];
        j.yQx[i] = row[2 * i - 1];
        cx[i] = h.cx[j.slots[i]];
        dx[i] = h.dx[j.slots[i]];
    }
    const double sign = j.Dy < 0.0 ? -1.0 : 1.0;
    for (int b = 0; b < m; ++b)
        for (int a = 0; a <= b; ++a) {  // a the newer of the two
            const double xPx = a == 0 ? (b == 0 ? j.sy.xPx : j.yPx[b]) : h.xPx[j.slots[a]][j.slots[b]];
            const double xQx = a == 0 ? (b == 0 ? j.sy.xQx : j.yQx[b]) : h.xQx[j.slots[a]][j.slots[b]];
            at(j.A, m, a, b) = at(j.A, m, b, a) = sign * bordered(xPx, cx[a], cx[b], p.alpha);
            at(j.B, m, a, b) = at(j.B, m, b, a) = sign * bordered(xQx, dx[a], dx[b], p.beta);
        }
}

// The coefficients u of the Ritz point on the basis and the Ritz value rho;
// false when there is none, or when rho is not below R(y) by half the least
// fall: then the point could not pass the test in ritzStep (R there would
// have to fall by the least fall and agree with rho to a quarter of that),
// so it is not formed.
bool ritzPoint(const RitzHistory& h, const Projection& j, double* u, double* rho) {
    const int m = j.m;
    if (sideOf(j.Dy) == 0 || !lowestRitzVector(m, j.A, j.B, u, rho) ||
        !(j.Ry - *rho > 0.5 * ritzLeastFall * std::fabs(j.Ry)))
        return false;
    if (h.homogeneous) {
        // Any multiple has the same ratio: the one with D = D(y), and y's
        // coefficient not negative.
        const double g = std::sqrt(at(j.B, m, 0, 0));
        const double f = u[0] < 0.0 ? -g : g;
        for (int i = 0; i < m; ++i) u[i] = f * u[i];
    } else {
        // The combination whose bordered last entry, the sum of the
        // coefficients, is 1.
        double t = 0.0;
        for (int i = 0; i < m; ++i) t = t + u[i];
        if (t == 0.0 || !isFinite(t)) return false;
        for (int i = 0; i < m; ++i) u[i] = u[i] / t;
    }
    for (int i = 0; i < m; ++i)
        if (!isFinite(u[i])) return false;
    return true;
}

// R at the point is known from its products (Rn, Dn), and as the Ritz value
// rho: equal in exact arithmetic. Where the products were combined and not
// formed afresh, their difference measures the rounding in both (margin).
// A fall no larger than four times it, than ritzLeastFall, or than the
// rounding of the two ratios compared cannot be told from rounding; taking
// it would let the descent and the Ritz step trade the same rounding back
// and forth, and keep a settled descent from ever becoming stationary. The
// rounding of each ratio is 16 units of 2^-53 of its ratioMagnitude (as a
// rise is judged) times its products' amplification (ay at y, an at the
// point), times the square root of its products' amplification: products
// that carry rounding many times their size carry it into N and D, and the
// square root takes that rounding as gathered in no preferred direction.
bool worthTaking(const RatioProblem& p, const Projection& j, const Scalars& sn, double margin,
                 double ay, double an) {
    const double Dn = denominatorOf(sn, p);
    const double Rn = numeratorOf(sn, p) / Dn;
    const double rounding = 0x1p-49 * (std::sqrt(ay) * ratioMagnitude(p, j.sy, j.Ry, j.Dy) +
                                       std::sqrt(an) * ratioMagnitude(p, sn, Rn, Dn));
    return sideOf(Dn) == sideOf(j.Dy) &&
           j.Ry - Rn > std::fmax(std::fmax(ritzLeastFall * std::fabs(j.Ry), 4.0 * margin), rounding);
}

// Keeps the point now in slot `target` as the newest start, with its
// scalars and its products with the other kept starts (rowPx, rowQx by
// basis position; null: form them from the slot).
void keepNext(RitzHistory& h, const RatioProblem& p, const Projection& j, int target,
              const Scalars& s, const double* rowPx, const double* rowQx) {
    const std::int64_t n = p.n;
    int others = 0;
    int otherSlots[mMax];
    double xPxRow[mMax];
    double xQxRow[mMax];
    const double* products[2 * mMax] = {};
    for (int i = 1; i < j.m; ++i) {
        if (j.slots[i] == target) continue;
        otherSlots[others] = j.slots[i];
        products[2 * others] = slotX(h, n, j.slots[i]) + n;
        products[2 * others + 1] = slotX(h, n, j.slots[i]) + 2 * n;
        if (rowPx) xPxRow[others] = rowPx[i], xQxRow[others] = rowQx[i];
        ++others;
    }
    if (!rowPx) {
        double row[2 * mMax];
        dotProducts(slotX(h, n, target), products, 2 * others, n, row);
        for (int i = 0; i < others; ++i) xPxRow[i] = row[2 * i], xQxRow[i] = row[2 * i + 1];
    }
    keepStart(h, target, others, otherSlots, xPxRow, xQxRow, s);
}

// Where the running products have lost too many digits since they were
// last formed afresh (the sweep's corrections passed through magnitudes far
// above those it ends at), forms them afresh, with the scalars: refreshed
// says so. Returns their amplification (1 once formed afresh).
double refreshIfUntrusted(RitzHistory& h, const RatioProblem& p, const double* x, double* Px,
                          double* Qx, Scalars& s, bool& refreshed) {
    const std::int64_t n = p.n;
    const double largestP = h.runningLargestP = largestMagnitude(Px, n);
    const double largestQ = h.runningLargestQ = largestMagnitude(Qx, n);
    if (largestP > h.runningScaleP) h.runningScaleP = largestP;
    if (largestQ > h.runningScaleQ) h.runningScaleQ = largestQ;
    const double a = amplificationOf(h.runningScaleP, largestP, h.runningScaleQ, largestQ);
    refreshed = a > ritzTrustedAmplification;
    if (!refreshed) return a;
    formAfresh(p, x, Px, Qx, s);
    noteFreshProducts(h, Px, Qx, n);
    return 1.0;
}

// The scales and largest entries of a pair of products (see RitzHistory).
struct ProductScales {
    double scaleP;
    double scaleQ;
    double largestP;
    double largestQ;
};

// The Ritz point with coefficients u and Ritz value rho into slot `next`
// (x, P x, Q x), its scalars into sn and its products' scales into `scales`;
// the products formed afresh (verified true) where the combination cannot be
// trusted, or R from them disagrees with rho. The margin worthTaking needs,
// or -1 when the point is not finite; its products' amplification into
// `amplification`.
double formRitzPoint(const RitzHistory& h, const RatioProblem& p, const Projection& j,
                     const double* u, double rho, const double* x, const double* Px,
                     const double* Qx, double* next, Scalars& sn, ProductScales& scales,
                     bool& verified, double& amplification) {
    const std::int64_t n = p.n;
    combine(h, n, j.m, u, 0, x, next);
    const double largestP = combine(h, n, j.m, u, 1, Px, next + n);
    const double largestQ = combine(h, n, j.m, u, 2, Qx, next + 2 * n);
    if (!allFinite(next, n)) return -1.0;
    // The errors the kept products carry came mostly from the history they
    // share, and combine as their coefficients do (the signed sum); the
    // combination's own rounding is relative to the magnitudes it sums.
    double inheritedP = u[0] * h.runningScaleP;
    double inheritedQ = u[0] * h.runningScaleQ;
    double summedP = std::fabs(u[0]) * h.runningLargestP;
    double summedQ = std::fabs(u[0]) * h.runningLargestQ;
    for (int i = 1; i < j.m; ++i) {
        const int slot = j.slots[i];
        inheritedP = inheritedP + u[i] * h.scaleP[slot];
        inheritedQ = inheritedQ + u[i] * h.scaleQ[slot];
        summedP = summedP + std::fabs(u[i]) * h.largestP[slot];
        summedQ = summedQ + std::fabs(u[i]) * h.largestQ[slot];
    }
    const double scaleP = std::fmax(std::fabs(inheritedP), summedP);
    const double scaleQ = std::fmax(std::fabs(inheritedQ), summedQ);
    sn = scalarsOf(p, next, next + n, next + 2 * n);
    const double Rn = ratioOf(sn, p);
    const double disagreement = std::fabs(Rn - rho);
    amplification = amplificationOf(scaleP, largestP, scaleQ, largestQ);
    verified = amplification > ritzTrustedAmplification ||
               !(disagreement <= ritzAgreement * std::fmax(std::fabs(Rn), std::fabs(rho)));
    if (verified) {
        formAfresh(p, next, next + n, next + 2 * n, sn);
        const double freshP = largestMagnitude(next + n, n);
        const double freshQ = largestMagnitude(next + 2 * n, n);
        scales = {freshP, freshQ, freshP, freshQ};
        amplification = 1.0;
        return 0.0;
    }
    scales = {scaleP, scaleQ, largestP, largestQ};
    return disagreement;
}

}  // namespace

RitzOutcome ritzStep(RitzHistory& h, const RatioProblem& p, double* x, double* Px, double* Qx,
                     Scalars& s) {
    const std::int64_t n = p.n;
    const Scalars before = s;
    bool refreshed = false;
    const double ay = refreshIfUntrusted(h, p, x, Px, Qx, s, refreshed);
    Projection j;
    project(h, p, x, Px, Qx, j);
    // The next start goes into the slot after the newest: free, or the
    // oldest start's, which is dropped (and read before it is overwritten).
    const int target = (h.newest + 1) % ritzKeptStarts;
    double* next = slotX(h, n, target);
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(double);
    double u[mMax];
    double rho = 0.0;
    if (ritzPoint(h, j, u, &rho)) {
        Scalars sn;
        ProductScales scales;
        bool verified = false;
        double an = 1.0;
        const double margin =
            formRitzPoint(h, p, j, u, rho, x, Px, Qx, next, sn, scales, verified, an);
        if (margin >= 0.0 && worthTaking(p, j, sn, margin, ay, an)) {
            std::memcpy(x, next, bytes);
            std::memcpy(Px, next + n, bytes);
            std::memcpy(Qx, next + 2 * n, bytes);
            s = sn;
            h.runningScaleP = scales.scaleP;
            h.runningScaleQ = scales.scaleQ;
            h.runningLargestP = scales.largestP;
            h.runningLargestQ = scales.largestQ;
            keepNext(h, p, j, target, sn, nullptr, nullptr);
            return {true, verified, true};
        }
    }
    std::memcpy(next, x, bytes);
    std::memcpy(next + n, Px, bytes);
    std::memcpy(next + 2 * n, Qx, bytes);
    keepNext(h, p, j, target, j.sy, j.yPx, j.yQx);
    // The corrected scalars drift from those of the products; where the
    // drift shows in R, the sweep goes on from the fresh ones.
    const double Rs = ratioOf(s, p);
    if (isFinite(j.Ry) && !(std::fabs(j.Ry - Rs) <= ritzDrift * std::fabs(j.Ry))) s = j.sy;
    const bool changed = refreshed || !(std::memcmp(&s, &before, sizeof s) == 0);
    return {false, refreshed, changed};
}

}  // namespace brelvane
