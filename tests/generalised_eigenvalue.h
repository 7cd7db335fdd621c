// The eigenvalues of a symmetric-definite pencil, from LAPACK: the smallest is
// the bound a descent on x'Ax / x'Bx is measured against.
#ifndef BRELVANE_GENERALISED_EIGENVALUE_H
#define BRELVANE_GENERALISED_EIGENVALUE_H

#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

// LAPACK: eigenvalues of the symmetric-definite pencil A x = lambda B x.
// gfortran passes the lengths of the character arguments after the others.
extern "C" void dsygv_(const int* itype, const char* jobz, const char* uplo, const int* n,
                       double* a, const int* lda, double* b, const int* ldb, double* w,
                       double* work, const int* lwork, int* info, std::size_t jobzLen,
                       std::size_t uploLen);

// All of them, ascending.
inline std::vector<double> generalisedEigenvalues(std::vector<double> A, std::vector<double> B,
                                                  int n) {
    std::vector<double> w(static_cast<std::size_t>(n));
    const int itype = 1, lwork = 3 * n * n + 64;
    std::vector<double> work(static_cast<std::size_t>(lwork));
    int info = -1;
    dsygv_(&itype, "N", "L", &n, A.data(), &n, B.data(), &n, w.data(), work.data(), &lwork, &info,
           1, 1);
    EXPECT_EQ(info, 0);
    return w;
}

inline double smallestGeneralisedEigenvalue(std::vector<double> A, std::vector<double> B, int n) {
    return generalisedEigenvalues(std::move(A), std::move(B), n)[0];
}

#endif
