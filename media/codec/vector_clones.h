// Marks a hot loop for compilation twice, for AVX2 and for the baseline, with the choice made once
// at load time. The loops are integer arithmetic or elementwise float operations in a fixed
// order, so both versions give identical results; only their speed differs.
#pragma once

// Sanitizer builds take the baseline only: the load-time resolver runs before the sanitizer's
// runtime is ready and crashes under the thread sanitizer.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define PARLO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PARLO_VECTOR_CLONES
#endif
