// The per-iteration pass of the block descent: one column of P and Q read
// once for every vector of the block.
#ifndef BRELVANE_BLOCK_PASS_H
#define BRELVANE_BLOCK_PASS_H

#include <cmath>
#include <cstdint>

namespace brelvane {

// An n-by-kb block is stored in tiles of blockTile rows: tile T holds rows
// 8T .. 8T+7 of vector 0, then the same rows of vector 1, and so on, so the
// kb values of a coordinate lie within one tile and a SIMD register holds
// one vector's entries at consecutive rows. Entry (l, i) is at
// (l / 8) * 8 kb + 8 i + l % 8. Rows past n, up to the next multiple of 8,
// are stored and stay zero.
constexpr int blockTile = 8;

// One pass over tiles [fromTile, toTile) of an iteration that moved each
// active vector i by t[i] along coordinate j:
//   PX(l, i) += t[i] * (sign * P(l, j)),  QX(l, i) += t[i] * Q(l, j)
// (skipped when Pj is null), then, at the updated products,
//   g(l, i) = |PX(l, i) - R[i] * QX(l, i)|        (D_i |dR_i/dx_l|)
//   s(l) = ((0 + g(l, i0) c[i0]) + g(l, i1) c[i1]) + ...   (i0 < i1 < ... active)
// times w[l] when w is given, and the lowest row l < n of largest s(l) (NaN
// never taken). gmax (kb * blockTile), when given, holds each vector's
// largest g per lane, raised by the pass (NaN never taken). Every variant
// computes each row alone, in this order, so all give the same bits.
struct BlockPassArguments {
    double* PX;
    double* QX;
    const double* Pj;  // column j of P and of Q (n entries each), or null
    const double* Qj;
    double sign;       // +1, or -1 where the block descends on -P
    const double* t;   // kb steps
    const double* R;   // kb ratios after the steps
    const double* c;   // kb weights of the vectors in the sum
    const double* w;   // n weights of the coordinates, or null
    double* gmax;      // kb * blockTile, or null
    int kb;
    std::int64_t n;
    // The vectors the pass moves and scores, in increasing order (the sums
    // over i above run over them alone); the others are left as they are.
    const int* active;
    int activeCount;
};

// The largest s over the rows passed (-1 when none was taken) at its lowest
// row. Tile ranges combine in increasing order by taking a later range's row
// only on a strictly larger s: the result is the whole pass's.
struct BlockChoice {
    double best;
    std::int64_t row;
};

// The pass on one variant's operations (see fused_pass.h): V::width lanes,
// a divisor of blockTile. Two tiles at a time, so that the two sums over
// the vectors, each a chain of dependent additions, run side by side; the
// order within each row's sum is the one above.
template <class V, bool Update, bool Weighted, bool Largest>
BlockChoice blockPassOn(const BlockPassArguments& a, std::int64_t fromTile, std::int64_t toTile) {
    using Vec = typename V::Vec;
    constexpr int parts = blockTile / V::width;
    // Two tiles at once where registers allow.
    constexpr int together = parts <= 2 ? 2 : 1;
    constexpr int group = parts * together;
    const int kb = a.kb;
    const Vec sign = V::set1(a.sign);
    // Each lane's best score and its row, over the whole groups; the last
    // group, when short of rows, is judged row by row.
    Vec bestLane = V::set1(-1.0), rowLane = V::set1(-1.0);
    BlockChoice choice{-1.0, -1};
    for (std::int64_t tile = fromTile; tile < toTile; tile += together) {
        const std::int64_t first = tile * blockTile;
        const int tilesHere = toTile - tile < together ? static_cast<int>(toTile - tile) : together;
        const std::int64_t rows = a.n - first < blockTile * tilesHere ? a.n - first
                                                                      : blockTile * tilesHere;
        const bool whole = rows == blockTile * together;
        // The column entries and weights of a short group, zero past its rows.
        double pj[blockTile * together] = {}, qj[blockTile * together] = {};
        double wl[blockTile * together] = {};
        const double* P = Update ? a.Pj + first : pj;
        const double* Q = Update ? a.Qj + first : qj;
        const double* W = Weighted ? a.w + first : wl;
        if (!whole) {
            for (std::int64_t r = 0; r < rows; ++r) {
                if (Update) pj[r] = P[r], qj[r] = Q[r];
                if (Weighted) wl[r] = W[r];
            }
            P = pj, Q = qj, W = wl;
        }
        Vec vp[group], vq[group], s[group];
        for (int p = 0; p < group; ++p) {
            if (Update) {
                vp[p] = V::mul(sign, V::load(P + p * V::width));
                vq[p] = V::load(Q + p * V::width);
            }
            s[p] = V::set1(0.0);
        }
        double* __restrict px = a.PX + first * kb;
        double* __restrict qx = a.QX + first * kb;
        const double* __restrict t = a.t;
        const double* __restrict R = a.R;
        const double* __restrict c = a.c;
        double* __restrict gmax = a.gmax;
        const int* __restrict active = a.active;
        for (int ii = 0; ii < a.activeCount; ++ii) {
            const int i = active[ii];
            const Vec ti = V::set1(t[i]), Ri = V::set1(R[i]), ci = V::set1(c[i]);
            for (int u = 0; u < (whole ? together : tilesHere); ++u)
                for (int p = 0; p < parts; ++p) {
                    const int at = u * blockTile * kb + i * blockTile + p * V::width;
                    const int q = u * parts + p;
                    Vec x = V::load(px + at), y = V::load(qx + at);
                    if (Update) {
                        x = V::add(x, V::mul(ti, vp[q]));
                        y = V::add(y, V::mul(ti, vq[q]));
                        V::store(px + at, x);
                        V::store(qx + at, y);
                    }
                    const Vec g = V::abs(V::sub(x, V::mul(Ri, y)));
                    if (Largest) {
                        const int lane = i * blockTile + p * V::width;
                        const Vec m = V::load(gmax + lane);
                        V::store(gmax + lane, V::select(V::greater(g, m), g, m));
                    }
                    s[q] = V::add(s[q], V::mul(g, ci));
                }
        }
        if (Weighted)
            for (int p = 0; p < group; ++p) s[p] = V::mul(s[p], V::load(W + p * V::width));
        if (whole) {
            for (int p = 0; p < group; ++p) {
                // Rows of this part's lanes, as doubles (exact below 2^53).
                double lanes[V::width];
                for (int r = 0; r < V::width; ++r)
                    lanes[r] = static_cast<double>(first + p * V::width + r);
                const Vec row = V::load(lanes);
                const auto better = V::greater(s[p], bestLane);
                bestLane = V::select(better, s[p], bestLane);
                rowLane = V::select(better, row, rowLane);
            }
        } else {
            double score[blockTile * together];
            for (int p = 0; p < group; ++p) V::store(score + p * V::width, s[p]);
            for (std::int64_t r = 0; r < rows; ++r)
                if (score[r] > choice.best) choice = {score[r], first + r};
        }
    }
    // The lanes' candidates, then the short group's: the largest score at
    // its lowest row.
    double best[V::width], row[V::width];
    V::store(best, bestLane);
    V::store(row, rowLane);
    BlockChoice lanes{-1.0, -1};
    for (int r = 0; r < V::width; ++r)
        if (best[r] > lanes.best ||
            (best[r] == lanes.best && row[r] >= 0.0 && static_cast<std::int64_t>(row[r]) < lanes.row))
            lanes = {best[r], static_cast<std::int64_t>(row[r])};
    if (lanes.row >= 0 && (choice.row < 0 || lanes.best > choice.best ||
                           (lanes.best == choice.best && lanes.row < choice.row)))
        choice = lanes;
    return choice;
}

// The pass with what the arguments ask for: an update (Pj given), weights
// (w given), each vector's largest g (gmax given).
template <class V>
BlockChoice blockPassTiles(const BlockPassArguments& a, std::int64_t fromTile,
                           std::int64_t toTile) {
    const int kind = (a.Pj != nullptr ? 4 : 0) + (a.w != nullptr ? 2 : 0) + (a.gmax != nullptr ? 1 : 0);
    switch (kind) {
        case 0: return blockPassOn<V, false, false, false>(a, fromTile, toTile);
        case 1: return blockPassOn<V, false, false, true>(a, fromTile, toTile);
        case 2: return blockPassOn<V, false, true, false>(a, fromTile, toTile);
        case 3: return blockPassOn<V, false, true, true>(a, fromTile, toTile);
        case 4: return blockPassOn<V, true, false, false>(a, fromTile, toTile);
        case 5: return blockPassOn<V, true, false, true>(a, fromTile, toTile);
        case 6: return blockPassOn<V, true, true, false>(a, fromTile, toTile);
        default: return blockPassOn<V, true, true, true>(a, fromTile, toTile);
    }
}

// One lane, for the portable variant.
struct ScalarOps {
    using Vec = double;
    using Mask = bool;
    static constexpr int width = 1;
    static Vec set1(double v) { return v; }
    static Vec load(const double* p) { return *p; }
    static void store(double* p, Vec v) { *p = v; }
    static Vec add(Vec a, Vec b) { return a + b; }
    static Vec sub(Vec a, Vec b) { return a - b; }
    static Vec mul(Vec a, Vec b) { return a * b; }
    static Vec abs(Vec a) { return std::fabs(a); }
    static Mask greater(Vec a, Vec b) { return a > b; }
    static Vec select(Mask m, Vec a, Vec b) { return m ? a : b; }
};

}  // namespace brelvane

#endif
