// The baseline for the benchmarks: same arguments and results as ratioDescent.
#ifndef BRELVANE_STRAIGHTFORWARD_DESCENT_H
#define BRELVANE_STRAIGHTFORWARD_DESCENT_H

#include <cstdint>

#include "brelvane/ratio_descent.h"

brelvane::RatioDescentStatus straightforwardRatioDescent(double* x, const double* x0,
                                                        const double* P, const double* c,
                                                        double alpha, const double* Q,
                                                        const double* d, double beta,
                                                        std::int64_t n, std::int64_t iterations);

#endif
