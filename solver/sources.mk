# The solver's sources and the flags they are compiled with, written once:
# the Octave package's Makefile includes this file and the CMake build reads
# it (cmake/BrelvaneFlags.cmake), so it holds only "NAME := words" and
# "NAME += words" lines and comments. Sources and headers are relative to
# solver/, public headers to include/.

# Compiled on every platform.
BRELVANE_SOURCES := ratio_descent.cpp ratio_step.cpp ritz_step.cpp vector_kernels.cpp
BRELVANE_SOURCES += iteration_kernels.cpp shared_pass.cpp thread_team.cpp symmetry_check.cpp
BRELVANE_SOURCES += eigenpairs.cpp
BRELVANE_HEADERS := blas_dsymv.h fused_pass.h iteration_kernels.h kernels_x86.h
BRELVANE_HEADERS += ratio_step.h vector_kernels.h descent_state.h ritz_step.h
BRELVANE_HEADERS += shared_pass.h thread_team.h block_pass.h
BRELVANE_PUBLIC_HEADERS := brelvane/ratio_descent.h

# Exact IEEE double arithmetic, for the solver and everything compiled with
# it: no contraction into fused multiply-add, no fast-math.
BRELVANE_EXACT_FLOAT_FLAGS := -ffp-contract=off -fno-fast-math

# On x86-64 with GCC or Clang, the SIMD variants of the per-iteration pass,
# chosen at run time: each source compiled for its own instruction set
# (BRELVANE_ISA_<name>; none: the target's baseline, SSE2).
BRELVANE_X86_SOURCES := kernels_sse2.cpp kernels_avx2.cpp kernels_avx512.cpp
BRELVANE_X86_DEFINES := BRELVANE_X86_KERNELS=1
BRELVANE_ISA_kernels_avx2 := -mavx2
BRELVANE_ISA_kernels_avx512 := -mavx512f
