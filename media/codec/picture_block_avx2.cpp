// AVX2 variants of the block transforms, built with -mavx2 and called only on processors that
// have it. A block row (or column) is one 8-lane register; every lane performs the operations of
// the baseline path in the same order, so the results are identical. No fused multiply-adds.
#include <immintrin.h>

#include "media/codec/picture_dct.h"

namespace {
struct v8a {
    __m256 v;
};
inline v8a operator+(v8a a, v8a b) {
    return {_mm256_add_ps(a.v, b.v)};
}
inline v8a operator-(v8a a, v8a b) {
    return {_mm256_sub_ps(a.v, b.v)};
}
inline v8a operator*(v8a a, float k) {
    return {_mm256_mul_ps(a.v, _mm256_set1_ps(k))};
}

inline void transpose_8x8(v8a* r) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0].v, r[1].v);
    const __m256 t1 = _mm256_unpackhi_ps(r[0].v, r[1].v);
    const __m256 t2 = _mm256_unpacklo_ps(r[2].v, r[3].v);
    const __m256 t3 = _mm256_unpackhi_ps(r[2].v, r[3].v);
    const __m256 t4 = _mm256_unpacklo_ps(r[4].v, r[5].v);
    const __m256 t5 = _mm256_unpackhi_ps(r[4].v, r[5].v);
    const __m256 t6 = _mm256_unpacklo_ps(r[6].v, r[7].v);
    const __m256 t7 = _mm256_unpackhi_ps(r[6].v, r[7].v);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    r[0].v = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1].v = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2].v = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3].v = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4].v = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5].v = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6].v = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7].v = _mm256_permute2f128_ps(u3, u7, 0x31);
}
}  // namespace

int encode_picture_block_avx2(const float* divisors, const int8_t* src, int stride, int8_t* zigzag,
                              int8_t* overflow) {
    v8a r[8];
    for (int k = 0; k < 8; ++k) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + k * stride));
        r[k].v = _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(bytes));
    }
    transpose_8x8(r);  // r[k] holds column k: the row pass runs on all rows at once
    forward_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    transpose_8x8(r);  // r[k] holds row k: the column pass runs on all columns at once
    forward_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    alignas(32) int32_t c[kBlockSize];
    const __m256 half = _mm256_set1_ps(16384.5f);
    const __m256i bias = _mm256_set1_epi32(16384);
    for (int k = 0; k < 8; ++k) {
        const __m256 q =
            _mm256_add_ps(_mm256_mul_ps(r[k].v, _mm256_loadu_ps(divisors + 8 * k)), half);
        _mm256_store_si256(reinterpret_cast<__m256i*>(c + 8 * k),
                           _mm256_sub_epi32(_mm256_cvttps_epi32(q), bias));
    }
    return pack_block(c, zigzag, overflow);
}

void decode_natural_block_avx2(const float* multipliers, const int32_t* natural, int8_t* dst,
                               int stride) {
    v8a r[8];
    for (int k = 0; k < 8; ++k) {
        const __m256i n = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(natural + 8 * k));
        r[k].v = _mm256_mul_ps(_mm256_cvtepi32_ps(n), _mm256_loadu_ps(multipliers + 8 * k));
    }
    inverse_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);  // columns, all at once
    transpose_8x8(r);
    inverse_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);  // rows, all at once
    transpose_8x8(r);
    for (int k = 0; k < 8; ++k) {
        __m256i t = _mm256_cvttps_epi32(r[k].v);  // INT_MIN when out of range
        t = _mm256_srai_epi32(_mm256_add_epi32(t, _mm256_set1_epi32(4)), 3);
        t = _mm256_srai_epi32(_mm256_slli_epi32(t, 22), 22);
        const __m128i words =
            _mm_packs_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + k * stride),
                         _mm_packs_epi16(words, words));
    }
}
