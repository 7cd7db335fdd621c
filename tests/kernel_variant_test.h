// Tests run once per pass variant: a fixture that skips a variant this CPU or
// build lacks, and the one instantiation over all of them.
#ifndef BRELVANE_KERNEL_VARIANT_TEST_H
#define BRELVANE_KERNEL_VARIANT_TEST_H

#include <gtest/gtest.h>

#include <string>

#include "iteration_kernels.h"

class KernelVariantTest : public ::testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override {
        kernels = iterationKernels(GetParam());
        if (!kernels) GTEST_SKIP() << "this CPU or build lacks the variant";
    }
    const IterationKernels* kernels = nullptr;
};

inline std::string kernelVariantName(const ::testing::TestParamInfo<KernelVariant>& info) {
    static const char* const names[] = {"portable", "sse2", "avx2", "avx512"};
    return names[static_cast<int>(info.param)];
}

#define BRELVANE_TEST_EVERY_KERNEL_VARIANT(suite)                                              \
    INSTANTIATE_TEST_SUITE_P(AllVariants, suite,                                              \
                             ::testing::Values(KernelVariant::portable, KernelVariant::sse2, \
                                               KernelVariant::avx2, KernelVariant::avx512),  \
                             kernelVariantName)

#endif
