// The Fortran BLAS routine dsymv, declared once for the whole solver.
#ifndef BRELVANE_BLAS_DSYMV_H
#define BRELVANE_BLAS_DSYMV_H

#include <cstddef>
#include <cstdint>

// The integer width must match the BLAS linked into the final program:
// 32-bit for Debian's OpenBLAS and reference BLAS (and Octave's), 64-bit for
// MATLAB's libmwblas and ILP64 builds. Passing 64-bit values to a 32-bit BLAS
// would only work by accident of byte order, so the width is chosen here.
#if defined(BRELVANE_BLAS_INT64)
using BlasInt = std::int64_t;
#else
using BlasInt = std::int32_t;
#endif

// gfortran-style BLAS libraries export dsymv_; MATLAB's libmwblas on Windows
// exports plain dsymv.
#if defined(BRELVANE_BLAS_UNDERSCORE)
#define BRELVANE_DSYMV dsymv_
#define BRELVANE_DSYMV_NAME "dsymv_"
#else
#define BRELVANE_DSYMV dsymv
#define BRELVANE_DSYMV_NAME "dsymv"
#endif

// y <- alpha*A*x + beta*y, A symmetric given by the triangle uplo. Every
// argument by reference, then the length of the character argument uplo by
// value: a BLAS compiled from Fortran by gfortran (the reference BLAS) takes
// it as a hidden trailing size_t, and one compiled from C (OpenBLAS, MATLAB's
// libmwblas) has no such parameter and never reads the extra argument, which
// the caller places and removes under both x86-64 calling conventions.
using BlasStringLength = std::size_t;
extern "C" void BRELVANE_DSYMV(const char* uplo, const BlasInt* n, const double* alpha,
                               const double* a, const BlasInt* lda, const double* x,
                               const BlasInt* incx, const double* beta, double* y,
                               const BlasInt* incy, BlasStringLength uploLength);

#endif
