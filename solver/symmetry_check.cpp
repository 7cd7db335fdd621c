// Whether a matrix the solver is given is symmetric, as it assumes.
#include <cmath>
#include <cstdint>

#include "brelvane/ratio_descent.h"

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
    Asymmetry worst;
    double worstExcess = 0.0;
    bool lowerNonzero = false;
    bool upperNonzero = false;
    // The largest nonzero entry facing a zero across the diagonal, for a
    // triangle beside a zero one whose entries are all within the tolerance.
    Asymmetry lone;
    double loneSize = 0.0;

    void look(std::int64_t i, std::int64_t j) {
        const double lower = A[i + j * n];
        const double upper = A[j + i * n];
        lowerNonzero = lowerNonzero || lower != 0.0;
        upperNonzero = upperNonzero || upper != 0.0;
        if (lower == upper) return;
        const double diagonal = std::sqrt(std::fabs(A[i * (n + 1)]) * std::fabs(A[j * (n + 1)]));
        const double scale = std::fmax(std::fmax(std::fabs(lower), std::fabs(upper)), diagonal);
        const double excess = std::fabs(lower - upper) / (asymmetryTolerance * scale);
        if (excess > 1.0 && excess > worstExcess) {
            worstExcess = excess;
            worst = {true, i, j, lower, upper};
        }
        if ((lower == 0.0) != (upper == 0.0) &&
            std::fmax(std::fabs(lower), std::fabs(upper)) > loneSize) {
            loneSize = std::fmax(std::fabs(lower), std::fabs(upper));
            lone = {true, i, j, lower, upper};
        }
    }

    Asymmetry result() const {
        if (worst.found) return worst;
        // One triangle zero and the other not: a triangle stored alone.
        if (lowerNonzero != upperNonzero) return lone;
        return Asymmetry{};
    }
};

// Every pair, in square tiles so that both triangles' entries come from a
// few cache lines at a time.
void scanWhole(PairScan& scan) {
    constexpr std::int64_t tile = 32;
    const std::int64_t n = scan.n;
    for (std::int64_t J = 0; J < n; J += tile)
        for (std::int64_t I = J; I < n; I += tile)
            for (std::int64_t j = J; j < J + tile && j < n; ++j)
                for (std::int64_t i = I > j + 1 ? I : j + 1; i < I + tile && i < n; ++i)
                    scan.look(i, j);
}

// The pairs of the first column, of the last row and beside the diagonal:
// about 3n, enough to catch a triangle stored alone unless the matrix is
// zero on all three lines off the diagonal.
void scanLines(PairScan& scan) {
    const std::int64_t n = scan.n;
    for (std::int64_t i = 1; i < n; ++i) scan.look(i, 0);
    for (std::int64_t j = 1; j + 1 < n; ++j) scan.look(n - 1, j);
    for (std::int64_t j = 1; j + 2 < n; ++j) scan.look(j + 1, j);
}

}  // namespace

Asymmetry findAsymmetry(const double* A, std::int64_t n, bool whole) {
    if (n < 2) return Asymmetry{};
    PairScan scan;
    scan.A = A;
    scan.n = n;
    if (whole)
        scanWhole(scan);
    else
        scanLines(scan);
    return scan.result();
}

}  // namespace brelvane
