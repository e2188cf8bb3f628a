// Marks a hot loop for compilation twice, for AVX2 and for the baseline, with the choice made once
// at load time. The loops are integer arithmetic or elementwise float operations in a fixed
// order, so both versions give identical results; only their speed differs.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define PARLO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PARLO_VECTOR_CLONES
#endif
