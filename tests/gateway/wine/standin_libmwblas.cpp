// Stand-in libmwblas.dll: a straightforward dsymv with 64-bit integers, as MATLAB's.
#include <cstdint>

// y <- alpha*A*x + beta*y for symmetric A given by the triangle uplo ('L' or
// 'U'), leading dimension lda, strides incx, incy > 0. beta = 0 never reads y.
extern "C" void dsymv(const char* uplo, const std::int64_t* n, const double* alpha, const double* a,
                      const std::int64_t* lda, const double* x, const std::int64_t* incx,
                      const double* beta, double* y, const std::int64_t* incy) {
    const bool lower = *uplo == 'L' || *uplo == 'l';
    for (std::int64_t i = 0; i < *n; ++i) {
        double sum = 0.0;
        for (std::int64_t j = 0; j < *n; ++j) {
            const bool stored = lower ? i >= j : i <= j;
            const double aij = stored ? a[i + j * *lda] : a[j + i * *lda];
            sum += aij * x[j * *incx];
        }
        double& yi = y[i * *incy];
        yi = *beta == 0.0 ? *alpha * sum : *alpha * sum + *beta * yi;
    }
}
