// Vector kernels of the solver: symmetric product, ordered dot product, argmax |v|.
#include <cmath>

#include "blas_dsymv.h"
#include "vector_kernels.h"

namespace brelvane {

// y = A*x through the lower triangle of A (BLAS dsymv with beta = 0, so y's
// previous contents play no part).
void symMatVec(const double* A, const double* x, double* y, std::int64_t n) {
    // lda = 0 is an invalid argument to dsymv, and the reference BLAS stops
    // the process for it.
    if (n < 1) return;
    const char uplo = 'L';
    const BlasInt order = static_cast<BlasInt>(n);
    const BlasInt one = 1;
    const double alpha = 1.0;
    const double beta = 0.0;
    BRELVANE_DSYMV(&uplo, &order, &alpha, A, &order, x, &one, &beta, y, &one, 1);
}

// s = p[0]*q[0] + p[1]*q[1] + ... , one accumulator, strictly in index order:
// the rounding of the result depends on the order of the additions.
double dotProduct(const double* p, const double* q, std::int64_t n) {
    double s = 0.0;
    for (std::int64_t i = 0; i < n; ++i) s += p[i] * q[i];
    return s;
}

// Four accumulators at a time, each the one dotProduct would use: the same
// products added in the same order, so the same bits.
void dotProducts(const double* p, const double* const* q, int count, std::int64_t n,
                 double* out) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const double* q0 = q[i];
        const double* q1 = q[i + 1];
        const double* q2 = q[i + 2];
        const double* q3 = q[i + 3];
        double s0 = 0.0;
        double s1 = 0.0;
        double s2 = 0.0;
        double s3 = 0.0;
        for (std::int64_t j = 0; j < n; ++j) {
            s0 += p[j] * q0[j];
            s1 += p[j] * q1[j];
            s2 += p[j] * q2[j];
            s3 += p[j] * q3[j];
        }
        out[i] = s0;
        out[i + 1] = s1;
        out[i + 2] = s2;
        out[i + 3] = s3;
    }
    for (; i < count; ++i) out[i] = dotProduct(p, q[i], n);
}

// argmax_i |v[i]|, lowest index on ties. A comparison with NaN is false, so a
// NaN is never taken over an earlier entry, and a NaN at index 0 is never
// replaced.
std::int64_t indexOfMaxAbs(const double* v, std::int64_t n) {
    if (n < 2) return 0;
    double best = std::fabs(v[0]);
    std::int64_t index = 0;
    for (std::int64_t i = 1; i < n; ++i) {
        const double a = std::fabs(v[i]);
        if (a > best) {
            best = a;
            index = i;
        }
    }
    return index;
}

}  // namespace brelvane
