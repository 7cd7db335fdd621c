// The solver's vector kernels: the start-up products and sums, and the argmax the
// per-iteration pass agrees with. Internal: not installed.
#ifndef BRELVANE_VECTOR_KERNELS_H
#define BRELVANE_VECTOR_KERNELS_H

#include <cstdint>

namespace brelvane {

// y <- A*x for symmetric A given by its lower triangle (the upper one is never
// read), through the BLAS routine dsymv. Writes y[0..n-1]; does nothing for
// n < 1.
void symMatVec(const double* A, const double* x, double* y, std::int64_t n);

// sum_{i=0}^{n-1} p[i]*q[i], added strictly from i = 0 upward in one
// accumulator starting at +0.0. 0.0 for n <= 0.
double dotProduct(const double* p, const double* q, std::int64_t n);

// out[i] <- dotProduct(p, q[i], n) for i < count, each summed exactly as
// dotProduct sums it; several at a time in one pass over p, so that the
// sums' additions overlap.
void dotProducts(const double* p, const double* const* q, int count, std::int64_t n,
                 double* out);

// The lowest index of largest |v[i]|. Comparisons are strict and a NaN never
// compares greater, so a NaN is never chosen unless it sits at index 0, which
// then wins. 0 for n < 2.
std::int64_t indexOfMaxAbs(const double* v, std::int64_t n);

}  // namespace brelvane

#endif
