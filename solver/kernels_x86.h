// The SIMD variants of the per-iteration pass on x86-64: SSE2 (2 lanes), AVX2
// (4), AVX-512 (8), each defined in the source compiled for its instruction set.
#ifndef BRELVANE_KERNELS_X86_H
#define BRELVANE_KERNELS_X86_H

#include <immintrin.h>

#include "iteration_kernels.h"

namespace brelvane {

extern const IterationKernels sse2IterationKernels;
extern const IterationKernels avx2IterationKernels;
extern const IterationKernels avx512IterationKernels;

}  // namespace brelvane

#endif
