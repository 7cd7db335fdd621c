// Several eigenpairs at once: the block descent, its Rayleigh-Ritz step and
// the checks that make what it returns true of the vectors returned.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "block_pass.h"
#include "brelvane/ratio_descent.h"
#include "descent_state.h"
#include "iteration_kernels.h"
#include "thread_team.h"

namespace brelvane {

namespace {

// Directions of a Rayleigh-Ritz basis whose squared sine to the span of
// those taken before them is at most this are dropped: their running
// products, differences of nearly equal vectors, are too inexact to use.
constexpr double ritzDropSquaredSine = 1e-12;

// Sweep-start blocks kept for the Rayleigh-Ritz step, by block size: the
// basis has (1 + kept) kb vectors and the step costs O(((1 + kept) kb)^2 n).
int keptStartsFor(int kb) { return kb <= 64 ? 3 : kb <= 256 ? 1 : 0; }

// Passes between those that measure each vector's largest gradient.
constexpr std::int64_t normaliserInterval = 16;

// The stall rule's window, in sweeps.
constexpr std::int64_t stallSweeps = 20;

// Below this n the block runs on the calling thread alone (automatic count).
constexpr std::int64_t eigenpairsThreadsFrom = 512;

std::int64_t tilesFor(std::int64_t n) { return (n + blockTile - 1) / blockTile; }

// Doubles of one n-by-kb block in tiles.
std::int64_t blockDoubles(std::int64_t n, int kb) { return tilesFor(n) * blockTile * kb; }

std::int64_t entry(std::int64_t l, int i, int kb) {
    return (l / blockTile) * blockTile * kb + i * blockTile + l % blockTile;
}

int blockSizeFor(std::int64_t n, std::int64_t k, int guard) {
    const std::int64_t g = guard >= 0 ? guard : std::max<std::int64_t>(2, (k + 7) / 8);
    return static_cast<int>(std::min(n, k + g));
}

// A fixed pseudo-random sequence (splitmix64) in [-1, 1), for the vectors
// the caller does not give.
struct Sequence {
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    double next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1p-52 - 1.0;
    }
};

// A block with its products, each in tiles.
struct Block {
    double* X;
    double* PX;
    double* QX;
};

// ---- The small dense eigenproblem ---------------------------------------------

// Eigenvalues (ascending, into e) and orthonormal eigenvectors (columns of
// W, r-by-r column-major) of the symmetric r-by-r M (destroyed), by cyclic
// Jacobi rotations in a fixed order until no off-diagonal entry is above
// 2^-60 of M's Frobenius norm.
void jacobiEigen(int r, double* M, double* W, double* e, int* order) {
    double frobenius = 0.0;
    for (int i = 0; i < r * r; ++i) frobenius += M[i] * M[i];
    const double small = std::sqrt(frobenius) * 0x1p-60;
    for (int i = 0; i < r * r; ++i) W[i] = 0.0;
    for (int i = 0; i < r; ++i) W[i + i * r] = 1.0;
    for (int sweep = 0; sweep < 100; ++sweep) {
        bool rotated = false;
        for (int p = 0; p < r; ++p)
            for (int q = p + 1; q < r; ++q) {
                const double apq = M[p + q * r];
                if (!(std::fabs(apq) > small)) continue;
                rotated = true;
                const double theta = (M[q + q * r] - M[p + p * r]) / (2.0 * apq);
                const double t = std::fabs(theta) > 1e150
                                     ? 0.5 / theta
                                     : (theta >= 0.0 ? 1.0 : -1.0) /
                                           (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                for (int k = 0; k < r; ++k) {  // columns p and q
                    const double mp = M[k + p * r], mq = M[k + q * r];
                    M[k + p * r] = c * mp - s * mq;
                    M[k + q * r] = s * mp + c * mq;
                }
                for (int k = 0; k < r; ++k) {  // rows p and q
                    const double mp = M[p + k * r], mq = M[q + k * r];
                    M[p + k * r] = c * mp - s * mq;
                    M[q + k * r] = s * mp + c * mq;
                }
                M[p + q * r] = 0.0;
                M[q + p * r] = 0.0;
                for (int k = 0; k < r; ++k) {
                    const double wp = W[k + p * r], wq = W[k + q * r];
                    W[k + p * r] = c * wp - s * wq;
                    W[k + q * r] = s * wp + c * wq;
                }
            }
        if (!rotated) break;
    }
    for (int i = 0; i < r; ++i) order[i] = i;
    std::stable_sort(order, order + r,
                     [&](int a, int b) { return M[a + a * r] < M[b + b * r]; });
    for (int i = 0; i < r; ++i) e[i] = M[order[i] + order[i] * r];
}

// Work of one Rayleigh-Ritz step on a basis of at most m vectors.
struct RitzWork {
    int m;
    double* A;  // m*m each
    double* B;
    double* L;
    double* M;
    double* W;
    double* scale;  // m
    double* e;      // m
    int* order;     // m
    int* taken;     // m
};

std::int64_t ritzWorkDoubles(int m) { return 5 * static_cast<std::int64_t>(m) * m + 4 * m; }


// The Rayleigh-Ritz step on the m = groups * kb vectors S_a whose Gram
// matrices A = S'PS and B = S'QS are in w.A and w.B: C (m-by-kb) <- the
// coefficients of the kb lowest Ritz vectors (C'BC = I), *rank <- the
// vectors kept. The vectors are scaled to unit
// B_aa, then taken group by group (the current block first, so it is never
// dropped for an older one), within a group by largest remaining pivot of a
// Cholesky factorisation of B; a vector whose remaining pivot (its squared
// sine to the span taken) is at most ritzDropSquaredSine is dropped. Fewer
// than kb kept: the last columns of C are zero.
RatioDescentStatus rayleighRitz(RitzWork& w, int groups, int kb, double* C, int* rank) {
    const int m = groups * kb;
    for (int a = 0; a < m; ++a) {
        const double b = w.B[a + a * m];
        if (!std::isfinite(b) || !std::isfinite(w.A[a + a * m])) return ratioDescentNotFinite;
        if (!(b > 0.0)) return ratioDescentNotPositiveDefinite;
        w.scale[a] = 1.0 / std::sqrt(b);
    }
    // Scaled, symmetric (the upper triangle as formed) copies.
    for (int b = 0; b < m; ++b)
        for (int a = 0; a <= b; ++a) {
            const double s = w.scale[a] * w.scale[b];
            w.A[b + a * m] = w.A[a + b * m] = w.A[a + b * m] * s;
            w.B[b + a * m] = w.B[a + b * m] = w.B[a + b * m] * s;
        }
    // Choose the vectors: a pivoted Cholesky on a copy of B (in L).
    std::memcpy(w.L, w.B, sizeof(double) * static_cast<std::size_t>(m) * static_cast<std::size_t>(m));
    int r = 0;
    for (int g = 0; g < groups; ++g)
        for (;;) {
            int best = -1;
            for (int a = g * kb; a < (g + 1) * kb; ++a) {
                bool used = false;
                for (int q = 0; q < r; ++q) used = used || w.taken[q] == a;
                if (used) continue;
                // A remaining pivot clearly below zero, not rounding: B, and
                // so Q, is indefinite.
                if (w.L[a + a * m] < -1e-6) return ratioDescentNotPositiveDefinite;
                if (best < 0 || w.L[a + a * m] > w.L[best + best * m]) best = a;
            }
            if (best < 0 || !(w.L[best + best * m] > ritzDropSquaredSine)) break;
            w.taken[r++] = best;
            const double pivot = w.L[best + best * m];
            for (int b = 0; b < m; ++b)
                for (int c = 0; c < m; ++c)
                    if (b != best && c != best)
                        w.L[b + c * m] -= w.L[b + best * m] * w.L[best + c * m] / pivot;
            for (int b = 0; b < m; ++b) w.L[b + best * m] = w.L[best + b * m] = 0.0;
        }
    // Cholesky of B over the vectors taken, in the order taken: B_KK = L L'.
    for (int j = 0; j < r; ++j)
        for (int i = j; i < r; ++i) {
            double s = w.B[w.taken[i] + w.taken[j] * m];
            for (int q = 0; q < j; ++q) s -= w.L[i + q * r] * w.L[j + q * r];
            if (i == j) {
                if (!(s > 0.0)) return ratioDescentNotPositiveDefinite;
                w.L[j + j * r] = std::sqrt(s);
            } else {
                w.L[i + j * r] = s / w.L[j + j * r];
            }
        }
    // M = L^-1 A_KK L^-T: first Y = L^-1 A_KK (into W), then M = L^-1 Y'.
    for (int c = 0; c < r; ++c)
        for (int i = 0; i < r; ++i) {
            double s = w.A[w.taken[i] + w.taken[c] * m];
            for (int q = 0; q < i; ++q) s -= w.L[i + q * r] * w.W[q + c * r];
            w.W[i + c * r] = s / w.L[i + i * r];
        }
    for (int c = 0; c < r; ++c)
        for (int i = 0; i < r; ++i) {
            double s = w.W[c + i * r];
            for (int q = 0; q < i; ++q) s -= w.L[i + q * r] * w.M[q + c * r];
            w.M[i + c * r] = s / w.L[i + i * r];
        }
    for (int c = 0; c < r; ++c)
        for (int i = 0; i < c; ++i)
            w.M[i + c * r] = w.M[c + i * r] = 0.5 * (w.M[i + c * r] + w.M[c + i * r]);
    jacobiEigen(r, w.M, w.W, w.e, w.order);
    // C = diag(scale) L^-T W, the kb lowest columns.
    for (int c = 0; c < kb; ++c) {
        for (int a = 0; a < m; ++a) C[a + c * m] = 0.0;
        if (c >= r) continue;
        const double* v = w.W + w.order[c] * r;
        for (int i = r - 1; i >= 0; --i) {
            double s = v[i];
            for (int q = i + 1; q < r; ++q) s -= w.L[q + i * r] * C[w.taken[q] + c * m];
            C[w.taken[i] + c * m] = s / w.L[i + i * r];
        }
        for (int i = 0; i < r; ++i) C[w.taken[i] + c * m] *= w.scale[w.taken[i]];
    }
    *rank = r;
    return ratioDescentOk;
}

// ---- The solve ---------------------------------------------------------------

struct Solve {
    const IterationKernels& kernels;
    const double* P;
    const double* Q;
    std::int64_t n;
    std::int64_t tiles;
    int kb;
    int kept;  // sweep starts kept
    double sign;
    const double* w;  // weights of diagonal scaling, or null
    Block x;
    Block scratch;
    Block* starts;  // kept of them, a ring
    int startCount;
    int newestStart;
    double* N;  // kb each: x'Px / 2, x'Qx / 2, their ratio, steps, weights
    double* D;
    double* R;
    double* t;
    double* c;
    double* gmax;  // kb * blockTile per slice
    int* active;   // the vectors the sweep moves, activeCount of them
    int activeCount;
    int* all;      // 0, 1, ..., kb - 1
    double* C;     // m * kb
    double* errors;  // kb: each vector's backward error at the last check
    RitzWork ritz;
    double normP;
    double normQ;
    ThreadTeam* team;
    int slices;  // 1, or the team's size while the team runs the passes
    int threads;
    std::int64_t refreshes;
};

// ---- Passes shared by the team -------------------------------------------------

enum class PassKind : int { choose, update, products };

struct PassPost {
    PassKind kind;
    const BlockPassArguments* arguments;
};

struct PassResult {
    BlockChoice choice;
};

// Tiles of slice s of `slices`: contiguous, in order.
void sliceTiles(std::int64_t tiles, int slices, int s, std::int64_t& from, std::int64_t& to) {
    from = tiles * s / slices;
    to = tiles * (s + 1) / slices;
}

// Slice s's share: one pass, or (products) every column j over its tiles.
BlockChoice runSlice(const Solve& v, PassKind kind, const BlockPassArguments& a, int s,
                     int slices) {
    std::int64_t from, to;
    sliceTiles(v.tiles, slices, s, from, to);
    BlockPassArguments mine = a;
    if (a.gmax != nullptr) mine.gmax = a.gmax + static_cast<std::int64_t>(s) * v.kb * blockTile;
    if (kind != PassKind::products) return v.kernels.blockPass(mine, from, to);
    // P X and Q X from zero: column j of each, times row j of X, added in
    // order of j; row j of X is gathered into t.
    double* row = const_cast<double*>(a.t) + static_cast<std::int64_t>(s) * v.kb;
    for (std::int64_t j = 0; j < v.n; ++j) {
        for (int i = 0; i < v.kb; ++i) row[i] = v.x.X[entry(j, i, v.kb)];
        mine.t = row;
        mine.Pj = v.P + j * v.n;
        mine.Qj = v.Q + j * v.n;
        v.kernels.blockPass(mine, from, to);
    }
    return {-1.0, -1};
}

void teamTask(void* context, int slice, const void* arguments, void* result) {
    const Solve& v = *static_cast<const Solve*>(context);
    PassPost post;
    std::memcpy(&post, arguments, sizeof post);
    const BlockChoice choice = runSlice(v, post.kind, *post.arguments, slice, v.team->size);
    std::memcpy(result, &choice, sizeof choice);
}

// One pass over every tile, on the team when there is one; the slices'
// choices combine in order, a later one only on a strictly larger score.
// gmax (kb * blockTile per slice) is zeroed first; the lanes of all slices
// then hold the largest g of each vector.
BlockChoice runPass(Solve& v, PassKind kind, const BlockPassArguments& a) {
    const int slices = v.slices;
    if (a.gmax != nullptr)
        std::memset(a.gmax, 0, sizeof(double) * static_cast<std::size_t>(slices * v.kb * blockTile));
    if (slices == 1) return runSlice(v, kind, a, 0, 1);
    PassPost post{kind, &a};
    unsigned char message[teamMessageBytes] = {};
    std::memcpy(message, &post, sizeof post);
    runOnTeam(*v.team, message);
    BlockChoice best{-1.0, -1};
    for (int s = 0; s < slices; ++s) {
        BlockChoice c;
        std::memcpy(&c, v.team->done[s].result, sizeof c);
        if (c.best > best.best) best = c;
    }
    return best;
}

// The largest g of vector i over all lanes and slices.
double largestGradient(const Solve& v, int i) {
    const int slices = v.slices;
    double m = 0.0;
    for (int s = 0; s < slices; ++s)
        for (int r = 0; r < blockTile; ++r)
            m = std::max(m, v.gmax[(static_cast<std::int64_t>(s) * v.kb + i) * blockTile + r]);
    return m;
}

// c_i = 1 / (vector i's largest g), 0 where that is 0: each vector's
// gradient counts relative to its own largest entry.
void normalise(Solve& v) {
    for (int ii = 0; ii < v.activeCount; ++ii) {
        const int i = v.active[ii];
        const double g = largestGradient(v, i);
        v.c[i] = g > 0.0 ? 1.0 / g : 0.0;
    }
}

BlockPassArguments passArguments(Solve& v) {
    return {v.x.PX, v.x.QX, nullptr, nullptr, v.sign, v.t,     v.R,
            v.c,    v.w,    v.gmax,  v.kb,    v.n,    v.active, v.activeCount};
}

// The block's products formed afresh: P X and Q X as our own sums in order
// of the columns of P and Q.
void formProducts(Solve& v) {
    std::memset(v.x.PX, 0, sizeof(double) * static_cast<std::size_t>(blockDoubles(v.n, v.kb)));
    std::memset(v.x.QX, 0, sizeof(double) * static_cast<std::size_t>(blockDoubles(v.n, v.kb)));
    for (int i = 0; i < v.kb; ++i) v.R[i] = 0.0, v.c[i] = 0.0;
    BlockPassArguments a = passArguments(v);
    a.w = nullptr;
    a.gmax = nullptr;
    a.active = v.all;
    a.activeCount = v.kb;
    a.t = v.t;  // rows of X are gathered here, kb per slice
    runPass(v, PassKind::products, a);
    ++v.refreshes;
}

// Sum over the rows of f(left(l, i), right(l, i)), each lane over the tiles
// in order, then the lanes in order.
template <class F>
double blockSum(const double* left, const double* right, std::int64_t tiles, int kb, int i,
                F f) {
    double lanes[blockTile] = {};
    for (std::int64_t tile = 0; tile < tiles; ++tile) {
        const std::int64_t at = tile * blockTile * kb + i * blockTile;
        for (int r = 0; r < blockTile; ++r) lanes[r] += f(left[at + r], right[at + r]);
    }
    double s = 0.0;
    for (int r = 0; r < blockTile; ++r) s += lanes[r];
    return s;
}

// N, D and R of every vector from the running products.
void formScalars(Solve& v) {
    for (int i = 0; i < v.kb; ++i) {
        v.N[i] = 0.5 * blockSum(v.x.X, v.x.PX, v.tiles, v.kb, i,
                                [](double a, double b) { return a * b; });
        v.D[i] = 0.5 * blockSum(v.x.X, v.x.QX, v.tiles, v.kb, i,
                                [](double a, double b) { return a * b; });
        v.R[i] = v.N[i] / v.D[i];
    }
}

// The backward error of vector i with lambda = its ratio, from the running
// products (P here is sign * P, whose norm is the same).
double backwardError(const Solve& v, int i) {
    const double lambda = v.R[i];
    const double residual = blockSum(v.x.PX, v.x.QX, v.tiles, v.kb, i, [lambda](double p, double q) {
        const double r = p - lambda * q;
        return r * r;
    });
    const double length = blockSum(v.x.X, v.x.X, v.tiles, v.kb, i,
                                   [](double a, double) { return a * a; });
    return std::sqrt(residual) / ((v.normP + std::fabs(lambda) * v.normQ) * std::sqrt(length));
}

// Every vector's backward error into v.errors, from the running products;
// returns the largest among the first k, the wanted pairs (NaN if any is).
double formErrors(Solve& v, int k) {
    double largest = 0.0;
    for (int i = 0; i < v.kb; ++i) {
        v.errors[i] = backwardError(v, i);
        if (i < k && !(v.errors[i] <= largest) && !std::isnan(largest)) largest = v.errors[i];
    }
    return largest;
}

// The Rayleigh-Ritz step over the block and the kept sweep starts (none
// when `alone`): the block becomes the kb lowest Ritz vectors, their
// products the same combinations of the running ones.
RatioDescentStatus ritzStep(Solve& v, bool alone, int* rank) {
    const int groups = 1 + (alone ? 0 : v.startCount);
    const int m = groups * v.kb;
    // Group g's block: the current one, then the starts from newest.
    const Block* blocks[4];
    blocks[0] = &v.x;
    for (int g = 1; g < groups; ++g)
        blocks[g] = &v.starts[(v.newestStart - (g - 1) + v.kept) % v.kept];
    for (int a = 0; a < m; ++a)
        for (int b = a; b < m; ++b) {
            const Block& left = *blocks[a / v.kb];
            const Block& right = *blocks[b / v.kb];
            const int ia = a % v.kb, ib = b % v.kb;
            double lanesA[blockTile] = {}, lanesB[blockTile] = {};
            for (std::int64_t tile = 0; tile < v.tiles; ++tile) {
                const std::int64_t base = tile * blockTile * v.kb;
                const double* xa = left.X + base + ia * blockTile;
                const double* pb = right.PX + base + ib * blockTile;
                const double* qb = right.QX + base + ib * blockTile;
                for (int r = 0; r < blockTile; ++r) {
                    lanesA[r] += xa[r] * pb[r];
                    lanesB[r] += xa[r] * qb[r];
                }
            }
            double sa = 0.0, sb = 0.0;
            for (int r = 0; r < blockTile; ++r) sa += lanesA[r], sb += lanesB[r];
            v.ritz.A[a + b * m] = sa;
            v.ritz.B[a + b * m] = sb;
        }
    const RatioDescentStatus status = rayleighRitz(v.ritz, groups, v.kb, v.C, rank);
    if (status != ratioDescentOk) return status;
    // scratch <- S C, tile by tile, each entry summed over the basis in order.
    for (std::int64_t tile = 0; tile < v.tiles; ++tile) {
        const std::int64_t base = tile * blockTile * v.kb;
        for (int c = 0; c < v.kb; ++c) {
            double x[blockTile] = {}, px[blockTile] = {}, qx[blockTile] = {};
            for (int a = 0; a < m; ++a) {
                const double coefficient = v.C[a + c * m];
                if (coefficient == 0.0) continue;
                const Block& s = *blocks[a / v.kb];
                const std::int64_t at = base + (a % v.kb) * blockTile;
                for (int r = 0; r < blockTile; ++r) {
                    x[r] += s.X[at + r] * coefficient;
                    px[r] += s.PX[at + r] * coefficient;
                    qx[r] += s.QX[at + r] * coefficient;
                }
            }
            const std::int64_t at = base + c * blockTile;
            std::memcpy(v.scratch.X + at, x, sizeof x);
            std::memcpy(v.scratch.PX + at, px, sizeof px);
            std::memcpy(v.scratch.QX + at, qx, sizeof qx);
        }
    }
    std::swap(v.x, v.scratch);
    formScalars(v);
    return ratioDescentOk;
}

// Vectors of the block that the step left out (a block that lost rank)
// start again from the sequence; the products are then formed afresh.
void refill(Solve& v, int rank, Sequence& sequence) {
    for (int i = rank; i < v.kb; ++i)
        for (std::int64_t l = 0; l < v.n; ++l) v.x.X[entry(l, i, v.kb)] = sequence.next();
    formProducts(v);
    formScalars(v);
}

// The closed-form step of vector i along coordinate j, its scalars moved
// to the new point: the stationary point of lower ratio on the line, unless
// neither is finite or both lie above R by more than rounding.
RatioDescentStatus stepVector(Solve& v, int i, std::int64_t j, double Pjj, double Qjj) {
    const double a0 = v.N[i], a1 = v.x.PX[entry(j, i, v.kb)], a2 = 0.5 * (v.sign * Pjj);
    const double b0 = v.D[i], b1 = v.x.QX[entry(j, i, v.kb)], b2 = 0.5 * Qjj;
    // r(t) = (a0 + t (a1 + t a2)) / (b0 + t (b1 + t b2)); r'(t) = 0 where
    // c2 t^2 + c1 t + c0 = 0, whose roots are formed without cancellation.
    const double c2 = a2 * b1 - a1 * b2;
    const double c1 = 2.0 * (a2 * b0 - a0 * b2);
    const double c0 = a1 * b0 - a0 * b1;
    double disc = c1 * c1 - (4.0 * c2) * c0;
    if (!(disc > 0.0)) disc = 0.0;
    const double q = -0.5 * (c1 + (c1 >= 0.0 ? 1.0 : -1.0) * std::sqrt(disc));
    const double t1 = c2 != 0.0 ? q / c2 : c1 != 0.0 ? -(c0 / c1) : 0.0;
    const double t2 = c2 != 0.0 && q != 0.0 ? c0 / q : t1;
    const auto ratioAt = [&](double t) {
        const double r = (a0 + t * (a1 + t * a2)) / (b0 + t * (b1 + t * b2));
        return std::isfinite(t) && std::isfinite(r) ? r : std::numeric_limits<double>::infinity();
    };
    const double r1 = ratioAt(t1), r2 = ratioAt(t2);
    double t = r2 < r1 ? t2 : t1;
    const double lowest = std::min(r1, r2);
    if (!(lowest <= v.R[i] + 8.0 * std::numeric_limits<double>::epsilon() * std::fabs(v.R[i])))
        t = 0.0;
    v.t[i] = t;
    v.N[i] = a0 + t * (a1 + t * a2);
    v.D[i] = b0 + t * (b1 + t * b2);
    v.R[i] = v.N[i] / v.D[i];
    v.x.X[entry(j, i, v.kb)] += t;
    if (!std::isfinite(v.D[i]) || !std::isfinite(v.N[i])) return ratioDescentNotFinite;
    return v.D[i] > 0.0 ? ratioDescentOk : ratioDescentNotPositiveDefinite;
}

void copyBlock(const Block& from, Block& to, std::int64_t doubles) {
    const std::size_t bytes = sizeof(double) * static_cast<std::size_t>(doubles);
    std::memcpy(to.X, from.X, bytes);
    std::memcpy(to.PX, from.PX, bytes);
    std::memcpy(to.QX, from.QX, bytes);
}

void* allocateWork(const EigenpairsOptions& o, std::size_t bytes) {
    return o.allocate != nullptr && o.release != nullptr ? o.allocate(o.allocationContext, bytes)
                                                         : std::malloc(bytes);
}

void releaseWork(const EigenpairsOptions& o, void* block) {
    if (o.allocate != nullptr && o.release != nullptr)
        o.release(o.allocationContext, block);
    else
        std::free(block);
}

// The largest absolute column sum of A, or NaN when A holds NaN or an
// infinity.
double columnSumNorm(const double* A, std::int64_t n) {
    double norm = 0.0;
    bool finite = true;
    for (std::int64_t j = 0; j < n; ++j) {
        double s = 0.0;
        for (std::int64_t i = 0; i < n; ++i) {
            const double a = A[i + j * n];
            finite = finite && std::isfinite(a);
            s += std::fabs(a);
        }
        norm = std::max(norm, s);
    }
    return finite ? norm : std::numeric_limits<double>::quiet_NaN();
}

// Whether the team runs a sweep's passes, decided sweep by sweep from the
// pace measured (seconds per iteration): the first sweep runs on the calling
// thread alone, the second on the team; then each runs the faster way (the
// team only while it is clearly faster: below 0.9 of the pace alone to take
// it up, 0.95 to keep it), and the other way is tried again after `gap`
// sweeps: 8, doubled up to 64 after each try of the team that lost. A team
// sweep that falls behind 1.25 times the pace alone plus 0.2 ms (a machine
// whose cores are busy elsewhere) goes on alone at once. The bits are the
// same either way.
struct TeamChoice {
    double alone = 0.0;  // 0: not measured yet
    double shared = 0.0;
    bool onTeam = false;
    int sinceTry = 0;
    int gap = 8;

    bool next() {
        if (alone == 0.0) return false;
        if (shared == 0.0) return true;
        const bool faster = shared < (onTeam ? 0.95 : 0.9) * alone;
        if (++sinceTry < gap) return faster;
        sinceTry = 0;
        return !faster;
    }
    // After a sweep that ran on the team (to its end unless cut short).
    void teamRan(bool won) { gap = won ? 8 : std::min(2 * gap, 64); }
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Layout {
    int kb;
    int kept;
    int threads;
    std::int64_t blockDoubles;
    std::int64_t doubles;
};

int eigenpairsThreads(const EigenpairsOptions& o, std::int64_t n) {
    int threads = o.threads;
    if (threads == 0) {
        if (n < eigenpairsThreadsFrom) return 1;
        threads = processorsAvailable();
        if (o.threadLimit > 0) threads = std::min(threads, o.threadLimit);
    } else {
        threads = std::min(threads, processorsAvailable());
    }
    // At least 8 tiles each.
    const std::int64_t most = std::max<std::int64_t>(1, tilesFor(n) / 8);
    return static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(threads, most)));
}

Layout layoutFor(std::int64_t n, std::int64_t k, const EigenpairsOptions& o, int threads) {
    Layout l;
    l.kb = blockSizeFor(n, k, o.guard);
    l.kept = keptStartsFor(l.kb);
    l.threads = threads;
    l.blockDoubles = blockDoubles(n, l.kb);
    const int m = (1 + l.kept) * l.kb;
    l.doubles = (2 + l.kept) * 3 * l.blockDoubles  // block, scratch, starts
                + 5 * l.kb                          // N, D, R, t, c
                + static_cast<std::int64_t>(threads) * l.kb * (blockTile + 1)  // gmax, rows
                + static_cast<std::int64_t>(m) * l.kb + l.kb  // C, errors
                + ritzWorkDoubles(m) + n;                     // Ritz work, weights
    return l;
}

}  // namespace

std::int64_t eigenpairsWorkDoubles(std::int64_t n, std::int64_t k, const EigenpairsOptions& o) {
    if (n < 1 || k < 1 || k > n) return 0;
    return layoutFor(n, k, o, eigenpairsThreads(o, n)).doubles;
}

RatioDescentStatus eigenpairsWith(const IterationKernels& kernels, double* V, double* lambda,
                                  double* backwardErrors, const double* P, const double* Q,
                                  std::int64_t n, std::int64_t k, const double* start,
                                  std::int64_t startColumns, const EigenpairsOptions& o,
                                  EigenpairsReport* report) {
    EigenpairsReport local;
    EigenpairsReport& rep = report != nullptr ? *report : local;
    rep = EigenpairsReport();
    if (n < 1 || k < 1 || k > n) return ratioDescentOk;
    const double normP = columnSumNorm(P, n);
    const double normQ = columnSumNorm(Q, n);
    if (std::isnan(normP) || std::isnan(normQ)) return ratioDescentNotFinite;
    for (std::int64_t e = 0; e < n * startColumns; ++e)
        if (!std::isfinite(start[e])) return ratioDescentNotFinite;

    const int wanted = eigenpairsThreads(o, n);
    const Layout layout = layoutFor(n, k, o, wanted);
    const int kb = layout.kb;
    const int m = (1 + layout.kept) * kb;
    double* work = static_cast<double*>(
        allocateWork(o, sizeof(double) * static_cast<std::size_t>(layout.doubles)));
    int* integers =
        static_cast<int*>(allocateWork(o, sizeof(int) * static_cast<std::size_t>(2 * m + 2 * kb)));
    Block starts[3];
    if (work == nullptr || integers == nullptr) {
        if (work != nullptr) releaseWork(o, work);
        if (integers != nullptr) releaseWork(o, integers);
        return ratioDescentOutOfMemory;
    }
    std::memset(work, 0, sizeof(double) * static_cast<std::size_t>(layout.doubles));
    double* at = work;
    const auto take = [&at](std::int64_t doubles) {
        double* p = at;
        at += doubles;
        return p;
    };
    const std::int64_t bd = layout.blockDoubles;
    Solve v{kernels, P, Q, n, tilesFor(n), kb, layout.kept, o.largest ? -1.0 : 1.0, nullptr,
            {}, {}, starts, 0, layout.kept - 1, nullptr, nullptr, nullptr, nullptr, nullptr,
            nullptr, nullptr, 0, nullptr, nullptr, nullptr, {}, normP, normQ, nullptr, 1, 1, 0};
    v.x = {take(bd), take(bd), take(bd)};
    v.scratch = {take(bd), take(bd), take(bd)};
    for (int s = 0; s < layout.kept; ++s) starts[s] = {take(bd), take(bd), take(bd)};
    v.N = take(kb), v.D = take(kb), v.R = take(kb), v.c = take(kb);
    v.t = take(static_cast<std::int64_t>(wanted) * kb);
    v.gmax = take(static_cast<std::int64_t>(wanted) * kb * blockTile);
    v.C = take(static_cast<std::int64_t>(m) * kb);
    v.errors = take(kb);
    const std::int64_t mm = static_cast<std::int64_t>(m) * m;
    v.ritz = {m, take(mm), take(mm), take(mm), take(mm), take(mm), take(m), take(m),
              integers, integers + m};
    v.active = integers + 2 * m;
    v.all = integers + 2 * m + kb;
    for (int i = 0; i < kb; ++i) v.active[i] = v.all[i] = i;
    v.activeCount = kb;
    double* weights = take(n);
    if (o.scaling == ratioDescentScalingDiagonal) {
        for (std::int64_t j = 0; j < n; ++j)
            weights[j] = weightFor(Q[j * (n + 1)], P[j * (n + 1)]);
        v.w = weights;
    }

    ThreadTeam team;
    if (wanted > 1) {
        startTeam(team, wanted, teamTask, &v);
        if (team.size > 1) v.team = &team;
    }
    rep.blockSize = kb;

    // The start: the caller's columns, then the sequence, which also stands
    // for a column of zeros (no direction to start from).
    Sequence sequence;
    for (int i = 0; i < kb; ++i) {
        bool given = false;
        for (std::int64_t l = 0; i < startColumns && l < n; ++l)
            given = given || start[l + i * n] != 0.0;
        for (std::int64_t l = 0; l < n; ++l)
            v.x.X[entry(l, i, kb)] = given ? start[l + i * n] : sequence.next();
    }
    RatioDescentStatus status = ratioDescentOk;
    const auto finish = [&](RatioDescentStatus s) {
        if (v.team != nullptr) stopTeam(team);
        releaseWork(o, integers);
        releaseWork(o, work);
        return s;
    };
    const auto interrupted = [&] {
        return o.interruptPending != nullptr && o.interruptPending(o.interruptContext);
    };

    // Start-up: products formed afresh, then a Rayleigh-Ritz step on the
    // block alone, a few times over if the start lacks rank.
    formProducts(v);
    formScalars(v);
    for (int attempt = 0;; ++attempt) {
        int rank = 0;
        const RatioDescentStatus step = ritzStep(v, true, &rank);
        if (step != ratioDescentOk) return finish(step);
        if (rank == kb) break;
        if (attempt == 3) return finish(ratioDescentNotPositiveDefinite);
        refill(v, rank, sequence);
    }
    if (interrupted()) return finish(ratioDescentInterrupted);

    const std::int64_t pollEvery = std::max<std::int64_t>(1, (std::int64_t{1} << 20) / (n * kb));
    TeamChoice teamChoice;
    double lowestBefore = std::numeric_limits<double>::infinity();  // before the window
    double lowestInWindow = std::numeric_limits<double>::infinity();
    std::int64_t windowStart = 0;
    const auto verify = [&](bool* met) -> RatioDescentStatus {
        // Products afresh, a Rayleigh-Ritz step on the block alone, and the
        // products of the vectors it gives afresh again: the backward errors
        // are then those of the vectors returned. On the team while it is
        // the faster way.
        v.slices = v.team != nullptr && teamChoice.onTeam ? v.team->size : 1;
        rep.threads = std::max(rep.threads, v.slices);
        formProducts(v);
        formScalars(v);
        int rank = 0;
        const RatioDescentStatus step = ritzStep(v, true, &rank);
        if (step != ratioDescentOk) return step;
        if (rank < kb) refill(v, rank, sequence);
        formProducts(v);
        formScalars(v);
        v.slices = 1;
        *met = formErrors(v, static_cast<int>(k)) <= o.tolerance;
        for (int i = 0; i < k; ++i) backwardErrors[i] = v.errors[i];
        return ratioDescentOk;
    };

    // A check before every sweep: the largest backward error of the wanted
    // pairs from the running products, and where it meets the tolerance the
    // same formed afresh.
    double largest = formErrors(v, static_cast<int>(k));
    bool done = false;
    for (;;) {
        if (largest <= o.tolerance) {
            bool met = false;
            status = verify(&met);
            if (status != ratioDescentOk) return finish(status);
            if (met) {
                rep.stop = eigenpairsStopTolerance;
                done = true;
                break;
            }
            largest = 0.0;
            for (int i = 0; i < k; ++i) largest = std::max(largest, backwardErrors[i]);
        }
        // Stalled: over the last stallSweeps sweeps the largest backward
        // error has not come below 0.9 of its lowest before them (a slow
        // descent still gains that much).
        lowestInWindow = std::min(lowestInWindow, largest);
        if (o.tolerance > 0.0 && rep.sweeps - windowStart >= stallSweeps) {
            if (std::isfinite(lowestBefore) && !(lowestInWindow < 0.9 * lowestBefore)) {
                rep.stop = eigenpairsStopStalled;
                break;
            }
            lowestBefore = std::min(lowestBefore, lowestInWindow);
            lowestInWindow = std::numeric_limits<double>::infinity();
            windowStart = rep.sweeps;
        }
        if (rep.sweeps >= o.maxSweeps) {
            rep.stop = eigenpairsStopSweeps;
            break;
        }
        // This sweep's start, kept for the Rayleigh-Ritz steps to come.
        if (layout.kept > 0) {
            v.newestStart = (v.newestStart + 1) % layout.kept;
            copyBlock(v.x, starts[v.newestStart], bd);
            v.startCount = std::min(v.startCount + 1, layout.kept);
        }
        // The first choice: one pass for each vector's largest gradient,
        // one to choose with them.
        // Vectors already well within the tolerance (a tenth of it) sit this
        // sweep out: the pass skips their entries, and the Rayleigh-Ritz step
        // still mixes them with the others.
        v.activeCount = 0;
        for (int i = 0; i < kb; ++i)
            if (!(v.errors[i] <= 0.1 * o.tolerance)) v.active[v.activeCount++] = i;
        if (v.activeCount == 0)
            for (int i = 0; i < kb; ++i) v.active[v.activeCount++] = i;
        const bool shared = v.team != nullptr && teamChoice.next();
        v.slices = shared ? v.team->size : 1;
        rep.threads = std::max(rep.threads, v.slices);
        const auto sweepStart = std::chrono::steady_clock::now();
        std::int64_t sweepIterations = 0;
        double cutAfter = 0.0;  // seconds into the sweep when the team was left
        BlockPassArguments a = passArguments(v);
        for (int i = 0; i < kb; ++i) v.c[i] = 1.0;
        runPass(v, PassKind::choose, a);
        normalise(v);
        a.gmax = nullptr;
        BlockChoice choice = runPass(v, PassKind::choose, a);
        for (std::int64_t it = 0; it < n; ++it) {
            if (choice.row < 0) break;  // every score NaN: nothing to move
            const std::int64_t j = choice.row;
            const double Pjj = P[j * (n + 1)], Qjj = Q[j * (n + 1)];
            for (int ii = 0; ii < v.activeCount; ++ii)
                if (const RatioDescentStatus step = stepVector(v, v.active[ii], j, Pjj, Qjj);
                    step != ratioDescentOk)
                    return finish(step);
            a.Pj = P + j * n;
            a.Qj = Q + j * n;
            // Every normaliserInterval-th pass also measures each vector's
            // largest gradient, which weighs its share of the scores until
            // the next: measuring costs a store per entry.
            const bool measure = it % normaliserInterval == normaliserInterval - 1;
            a.gmax = measure ? v.gmax : nullptr;
            choice = runPass(v, PassKind::update, a);
            if (measure) normalise(v);
            ++rep.iterations;
            ++sweepIterations;
            if ((rep.iterations % pollEvery) == 0 && interrupted())
                return finish(ratioDescentInterrupted);
            // On the team the clock is read every iteration (tens of
            // nanoseconds against microseconds), so a team that loses is left
            // within about an iteration of falling behind.
            if (v.slices > 1) {
                const double elapsed = secondsSince(sweepStart);
                if (elapsed > 1.25 * teamChoice.alone * static_cast<double>(sweepIterations) + 2e-4) {
                    teamChoice.shared = elapsed / static_cast<double>(sweepIterations);
                    cutAfter = elapsed;
                    v.slices = 1;
                }
            }
        }
        if (sweepIterations > 0) {
            const double pace = secondsSince(sweepStart) / static_cast<double>(sweepIterations);
            if (shared && cutAfter == 0.0) teamChoice.shared = pace;
            if (!shared) teamChoice.alone = pace;
            teamChoice.onTeam = shared && cutAfter == 0.0 && teamChoice.shared < 0.95 * teamChoice.alone;
            if (shared) teamChoice.teamRan(teamChoice.onTeam);
        }
        v.slices = 1;
        ++rep.sweeps;
        int rank = 0;
        if (const RatioDescentStatus step = ritzStep(v, false, &rank); step != ratioDescentOk)
            return finish(step);
        if (rank < kb) refill(v, rank, sequence);
        largest = formErrors(v, static_cast<int>(k));
        if (o.progress != nullptr && o.progress(rep.sweeps, largest, o.progressContext))
            return finish(ratioDescentInterrupted);
        if (interrupted()) return finish(ratioDescentInterrupted);
    }
    if (!done) {
        bool met = false;
        status = verify(&met);
        if (status != ratioDescentOk) return finish(status);
    }
    // V, lambda: the first k vectors, with the ratios of the fresh products,
    // in order of those (the Ritz order they came in may differ by rounding
    // within a cluster).
    int* order = integers;
    for (int i = 0; i < k; ++i) order[i] = i;
    std::stable_sort(order, order + k, [&](int a, int b) { return v.R[a] < v.R[b]; });
    largest = 0.0;
    for (int i = 0; i < k; ++i) {
        const int from = order[i];
        for (std::int64_t l = 0; l < n; ++l) V[l + i * n] = v.x.X[entry(l, from, kb)];
        lambda[i] = v.sign * v.R[from];
        v.C[i] = backwardErrors[from];
    }
    for (int i = 0; i < k; ++i) {
        backwardErrors[i] = v.C[i];
        largest = std::max(largest, backwardErrors[i]);
    }
    rep.backwardError = largest;
    rep.refreshes = v.refreshes;
    return finish(ratioDescentOk);
}

RatioDescentStatus eigenpairs(double* V, double* lambda, double* backwardErrors, const double* P,
                              const double* Q, std::int64_t n, std::int64_t k,
                              const double* start, std::int64_t startColumns,
                              const EigenpairsOptions& options, EigenpairsReport* report) {
    return eigenpairsWith(fastestIterationKernels(), V, lambda, backwardErrors, P, Q, n, k, start,
                          startColumns, options, report);
}

}  // namespace brelvane
