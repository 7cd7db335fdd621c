// Whether a matrix the solver is given is symmetric, as it assumes.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <thread>

#include "brelvane/ratio_descent.h"
#include "shared_pass.h"

namespace brelvane {

namespace {

// |a - b| beyond this times max(|a|, |b|, sqrt(|A_ii A_jj|)) is more than the
// rounding of any product or sum the matrix was formed by: a sum of a million
// terms rounds by about 1e-10 of the magnitudes it adds.
constexpr double asymmetryTolerance = 1e-10;

// Pairs A(i, j), A(j, i) for i > j, looked at one by one: the worst of those
// beyond the tolerance (largest difference relative to its scale), and
// whether the lower and the upper triangle have a nonzero entry among them.
struct PairScan {
    const double* A = nullptr;
    std::int64_t n = 0;
    std::int64_t panel = 0;  // the first column of the panel being scanned
    Asymmetry worst;
    double worstExcess = 0.0;
    std::int64_t worstPanel = 0;
    bool lowerNonzero = false;
    bool upperNonzero = false;
    // The largest nonzero entry facing a zero across the diagonal, for a
    // triangle beside a zero one whose entries are all within the tolerance.
    Asymmetry lone;
    double loneSize = 0.0;
    std::int64_t lonePanel = 0;

    // The pair A(i, j) = lower, A(j, i) = upper: whether each is nonzero, and,
    // where they differ (rarely), how much.
    void look(std::int64_t i, std::int64_t j, double lower, double upper) {
        lowerNonzero = lowerNonzero || lower != 0.0;
        upperNonzero = upperNonzero || upper != 0.0;
        if (lower != upper) weigh(i, j, lower, upper);
    }

    void weigh(std::int64_t i, std::int64_t j, double lower, double upper) {
        const double diagonal = std::sqrt(std::fabs(A[i * (n + 1)]) * std::fabs(A[j * (n + 1)]));
        const double scale = std::fmax(std::fmax(std::fabs(lower), std::fabs(upper)), diagonal);
        const double excess = std::fabs(lower - upper) / (asymmetryTolerance * scale);
        if (excess > 1.0 && excess > worstExcess) {
            worstExcess = excess;
            worst = {true, i, j, lower, upper};
            worstPanel = panel;
        }
        if ((lower == 0.0) != (upper == 0.0) &&
            std::fmax(std::fabs(lower), std::fabs(upper)) > loneSize) {
            loneSize = std::fmax(std::fabs(lower), std::fabs(upper));
            lone = {true, i, j, lower, upper};
            lonePanel = panel;
        }
    }

    // The scan of other panels, taken in: as if they had been scanned here in
    // column order (each keeps the first of equal maxima, so the earlier
    // panel's wins a tie).
    void merge(const PairScan& other) {
        if (other.worstExcess > worstExcess ||
            (other.worstExcess == worstExcess && other.worst.found && other.worstPanel < worstPanel)) {
            worstExcess = other.worstExcess, worst = other.worst, worstPanel = other.worstPanel;
        }
        if (other.loneSize > loneSize ||
            (other.loneSize == loneSize && other.lone.found && other.lonePanel < lonePanel)) {
            loneSize = other.loneSize, lone = other.lone, lonePanel = other.lonePanel;
        }
        lowerNonzero = lowerNonzero || other.lowerNonzero;
        upperNonzero = upperNonzero || other.upperNonzero;
    }

    Asymmetry result() const {
        if (worst.found) return worst;
        // One triangle zero and the other not: a triangle stored alone.
        if (lowerNonzero != upperNonzero) return lone;
        return Asymmetry{};
    }
};

// Every pair, in panels of 8 columns [J, J + 8): row i of the panel below
// its diagonal block, A(i, J .. J + 7), against A(J .. J + 7, i), one cache
// line of column i. The panel's columns stream down; the mirrored lines lie n
// apart, a stride no prefetcher follows across pages, so they are asked of
// memory `ahead` rows early. Equal pairs, nearly all of them in a symmetric
// matrix, cost two loads and a comparison, summed as integers so that the
// row of 8 is compared at once; a row with a difference is looked at again,
// pair by pair.
constexpr std::int64_t panel = 8;
constexpr std::int64_t ahead = 16;

void scanPanel(PairScan& scan, std::int64_t J) {
    scan.panel = J;
    const double* A = scan.A;
    const std::int64_t n = scan.n;
    const std::int64_t width = n - J < panel ? n - J : panel;
    const double* columns[panel];
    for (std::int64_t j = 0; j < width; ++j) columns[j] = A + (J + j) * n;
    int lowerNonzero = 0;
    int upperNonzero = 0;
    // The diagonal block: pairs (i, j) with J <= j < i < J + width.
    for (std::int64_t i = J + 1; i < J + width; ++i)
        for (std::int64_t j = J; j < i; ++j) scan.look(i, j, A[i + j * n], A[j + i * n]);
    for (std::int64_t i = J + width; i < n; ++i) {
        if (i + ahead < n) __builtin_prefetch(A + J + (i + ahead) * n);
        const double* upper = A + J + i * n;
        double lower[panel];
        int differ = 0;
        for (std::int64_t j = 0; j < width; ++j) {
            lower[j] = columns[j][i];
            differ |= lower[j] != upper[j];
            lowerNonzero |= lower[j] != 0.0;
            upperNonzero |= upper[j] != 0.0;
        }
        if (differ)
            for (std::int64_t j = 0; j < width; ++j)
                if (lower[j] != upper[j]) scan.weigh(i, J + j, lower[j], upper[j]);
    }
    scan.lowerNonzero = scan.lowerNonzero || lowerNonzero != 0;
    scan.upperNonzero = scan.upperNonzero || upperNonzero != 0;
}

// Panels taken in turn from `next` until none is left.
void scanPanels(PairScan& scan, std::atomic<std::int64_t>& next) {
    for (;;) {
        const std::int64_t J = next.fetch_add(panel, std::memory_order_relaxed);
        if (J >= scan.n) return;
        scanPanel(scan, J);
    }
}

// On the calling thread and up to threads - 1 others, as many as start.
void scanWhole(PairScan& scan, int threads) {
    std::atomic<std::int64_t> next{0};
    PairScan others[maxPassThreads - 1];
    std::thread helpers[maxPassThreads - 1];
    int started = 0;
    for (; started < threads - 1; ++started) {
        others[started].A = scan.A;
        others[started].n = scan.n;
        try {
            helpers[started] = std::thread(scanPanels, std::ref(others[started]), std::ref(next));
        } catch (...) {  // a thread or its memory refused: those started share the check
            break;
        }
    }
    scanPanels(scan, next);
    for (int t = 0; t < started; ++t) {
        helpers[t].join();
        scan.merge(others[t]);
    }
}

// The pairs of the first column, of the last row and beside the diagonal:
// about 3n, enough to catch a triangle stored alone unless the matrix is
// zero on all three lines off the diagonal.
void scanLines(PairScan& scan) {
    const double* A = scan.A;
    const std::int64_t n = scan.n;
    auto look = [&](std::int64_t i, std::int64_t j) { scan.look(i, j, A[i + j * n], A[j + i * n]); };
    for (std::int64_t i = 1; i < n; ++i) look(i, 0);
    for (std::int64_t j = 1; j + 1 < n; ++j) look(n - 1, j);
    for (std::int64_t j = 1; j + 2 < n; ++j) look(j + 1, j);
}

}  // namespace

Asymmetry findAsymmetry(const double* A, std::int64_t n, bool whole, int threads,
                        int threadLimit) {
    if (n < 2) return Asymmetry{};
    PairScan scan;
    scan.A = A;
    scan.n = n;
    if (whole)
        scanWhole(scan, passThreads(threads, threadLimit, n));
    else
        scanLines(scan);
    return scan.result();
}

}  // namespace brelvane
