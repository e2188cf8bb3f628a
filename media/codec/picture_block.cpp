// One 8x8 block of the picture codec.
//
// Forward: the floating-point DCT of Arai, Agui and Nakajima, rows then columns, in single
// precision. Its outputs are the true DCT coefficients scaled by 8 * s[row] * s[col]; the
// quantisation divisors undo that scale. Quantisation rounds F * D to the nearest integer with
// halves going up, computed as trunc(F * D + 16384.5) - 16384 in single precision.
//
// Inverse: the floating-point AAN inverse DCT, columns then rows. Each output x is truncated to
// an integer t, descaled as v = (t + 4) >> 3 and range-limited through its low 10 bits: v in
// -128..127 is kept, values above saturate to 127 and below to -128 (bits above bit 9 are
// ignored, which wraps absurd values). Outputs too large for a 32-bit integer count as INT_MIN.
//
// The butterflies are written once as templates over the lane type. The SSE2 path runs the eight
// rows (or columns) of a block side by side; every lane performs the same operations in the same
// order as the scalar path, so both give identical bytes. The build forbids contraction into
// fused multiply-adds, which would change the rounding.
#include <atomic>
#include <climits>
#include <cstring>

#include "media/codec/picture_block.h"
#include "media/codec/picture_codec.h"
#include "media/codec/picture_dct.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace {
using codec::kBlockSize;

#if defined(PARLO_CODEC_AVX2)
std::atomic<bool>& avx2_switch() {
    static std::atomic<bool> on{__builtin_cpu_supports("avx2") != 0};
    return on;
}

inline bool picture_avx2_enabled() {
    return avx2_switch().load(std::memory_order_relaxed);
}
#endif

#if defined(__SSE2__)
struct v8 {
    __m128 lo;
    __m128 hi;
};
inline v8 operator+(v8 a, v8 b) {
    return {_mm_add_ps(a.lo, b.lo), _mm_add_ps(a.hi, b.hi)};
}
inline v8 operator-(v8 a, v8 b) {
    return {_mm_sub_ps(a.lo, b.lo), _mm_sub_ps(a.hi, b.hi)};
}
inline v8 operator*(v8 a, float k) {
    const __m128 kk = _mm_set1_ps(k);
    return {_mm_mul_ps(a.lo, kk), _mm_mul_ps(a.hi, kk)};
}

inline void transpose_8x8(v8* r) {
    __m128 a0 = r[0].lo, a1 = r[1].lo, a2 = r[2].lo, a3 = r[3].lo;
    __m128 b0 = r[0].hi, b1 = r[1].hi, b2 = r[2].hi, b3 = r[3].hi;
    __m128 c0 = r[4].lo, c1 = r[5].lo, c2 = r[6].lo, c3 = r[7].lo;
    __m128 d0 = r[4].hi, d1 = r[5].hi, d2 = r[6].hi, d3 = r[7].hi;
    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
    _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    _MM_TRANSPOSE4_PS(d0, d1, d2, d3);
    r[0] = {a0, c0};
    r[1] = {a1, c1};
    r[2] = {a2, c2};
    r[3] = {a3, c3};
    r[4] = {b0, d0};
    r[5] = {b1, d1};
    r[6] = {b2, d2};
    r[7] = {b3, d3};
}

inline v8 load_row(const int8_t* p) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i words = _mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8);
    const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16);
    const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(words, words), 16);
    return {_mm_cvtepi32_ps(lo), _mm_cvtepi32_ps(hi)};
}

inline __m128i limit_4(__m128 x) {
    __m128i t = _mm_cvttps_epi32(x);  // INT_MIN when out of range
    t = _mm_srai_epi32(_mm_add_epi32(t, _mm_set1_epi32(4)), 3);
    return _mm_srai_epi32(_mm_slli_epi32(t, 22), 22);
}
#endif
}  // namespace

int encode_picture_block(const float* divisors, const int8_t* src, int stride, int8_t* zigzag,
                         int8_t* overflow) {
#if defined(PARLO_CODEC_AVX2)
    if (picture_avx2_enabled())
        return encode_picture_block_avx2(divisors, src, stride, zigzag, overflow);
#endif
    alignas(16) int32_t c[kBlockSize];
#if defined(__SSE2__)
    v8 r[8];
    for (int k = 0; k < 8; ++k) r[k] = load_row(src + k * stride);
    transpose_8x8(r);  // r[k] holds column k: the row pass runs on all rows at once
    forward_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    transpose_8x8(r);  // r[k] holds row k: the column pass runs on all columns at once
    forward_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    const __m128 half = _mm_set1_ps(16384.5f);
    const __m128i bias = _mm_set1_epi32(16384);
    for (int k = 0; k < 8; ++k) {
        const __m128 lo = _mm_add_ps(_mm_mul_ps(r[k].lo, _mm_loadu_ps(divisors + 8 * k)), half);
        const __m128 hi = _mm_add_ps(_mm_mul_ps(r[k].hi, _mm_loadu_ps(divisors + 8 * k + 4)), half);
        _mm_store_si128(reinterpret_cast<__m128i*>(c + 8 * k),
                        _mm_sub_epi32(_mm_cvttps_epi32(lo), bias));
        _mm_store_si128(reinterpret_cast<__m128i*>(c + 8 * k + 4),
                        _mm_sub_epi32(_mm_cvttps_epi32(hi), bias));
    }
#else
    float d[kBlockSize];
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col) d[8 * row + col] = src[row * stride + col];
    for (int row = 0; row < 8; ++row) {
        float* p = d + 8 * row;
        forward_8(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
    }
    for (int col = 0; col < 8; ++col) {
        float* p = d + col;
        forward_8(p[0], p[8], p[16], p[24], p[32], p[40], p[48], p[56]);
    }
    for (int i = 0; i < kBlockSize; ++i)
        c[i] = static_cast<int32_t>(d[i] * divisors[i] + 16384.5f) - 16384;
#endif
    return pack_block(c, zigzag, overflow);
}

void decode_natural_block(const float* multipliers, const int32_t* natural, bool dc_only,
                          int8_t* dst, int stride) {
    if (dc_only) {
        // With every AC input zero, both passes of the inverse transform pass the dequantised DC
        // through unchanged (x + 0 and x - 0 are exact), so all 64 outputs equal it.
        const int8_t v =
            limit_sample(truncate_to_int(static_cast<float>(natural[0]) * multipliers[0]));
        const uint64_t fill = 0x0101010101010101ull * static_cast<uint8_t>(v);
        for (int row = 0; row < 8; ++row) std::memcpy(dst + row * stride, &fill, 8);
        return;
    }
#if defined(PARLO_CODEC_AVX2)
    if (picture_avx2_enabled()) {
        decode_natural_block_avx2(multipliers, natural, dst, stride);
        return;
    }
#endif
#if defined(__SSE2__)
    v8 r[8];
    for (int k = 0; k < 8; ++k) {
        const __m128i* p = reinterpret_cast<const __m128i*>(natural + 8 * k);
        r[k].lo =
            _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(p)), _mm_loadu_ps(multipliers + 8 * k));
        r[k].hi = _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(p + 1)),
                             _mm_loadu_ps(multipliers + 8 * k + 4));
    }
    // r[k] holds row k, so the butterflies below transform all eight columns at once.
    inverse_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    transpose_8x8(r);
    inverse_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    transpose_8x8(r);
    for (int k = 0; k < 8; ++k) {
        const __m128i words = _mm_packs_epi32(limit_4(r[k].lo), limit_4(r[k].hi));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + k * stride),
                         _mm_packs_epi16(words, words));
    }
#else
    float d[kBlockSize];
    for (int i = 0; i < kBlockSize; ++i) d[i] = static_cast<float>(natural[i]) * multipliers[i];
    for (int col = 0; col < 8; ++col) {
        float* p = d + col;
        inverse_8(p[0], p[8], p[16], p[24], p[32], p[40], p[48], p[56]);
    }
    for (int row = 0; row < 8; ++row) {
        float* p = d + 8 * row;
        inverse_8(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
    }
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col)
            dst[row * stride + col] = limit_sample(truncate_to_int(d[8 * row + col]));
#endif
}

void decode_picture_block(const float* multipliers, const int8_t* zigzag, const int8_t* overflow,
                          int8_t* dst, int stride) {
    int32_t natural[kBlockSize];
    unpack_block(zigzag, overflow, natural);
    bool dc_only = true;
    for (int i = 1; i < kBlockSize; ++i) dc_only = dc_only && natural[i] == 0;
    decode_natural_block(multipliers, natural, dc_only, dst, stride);
}

bool encode_plane_blocks_fast(const float* divisors, const int8_t* plane, int width, int height,
                              int8_t (*zigzag)[64], int8_t (*overflow)[3], uint8_t* length,
                              int8_t* copy) {
#if defined(PARLO_CODEC_AVX2)
    if (picture_avx2_enabled()) {
        encode_picture_blocks_avx2(divisors, plane, width, height, zigzag, overflow, length, copy);
        return true;
    }
#else
    (void)divisors, (void)plane, (void)width, (void)height, (void)zigzag, (void)overflow,
        (void)length, (void)copy;
#endif
    return false;
}

bool decode_key_blocks_fast(const float* multipliers, const uint8_t* coefficients,
                            int coefficient_length, const uint8_t* overflow, int overflow_length,
                            int width, int height, int8_t* plane, int* decoded) {
#if defined(PARLO_CODEC_AVX2)
    if (picture_avx2_enabled()) {
        *decoded = decode_key_blocks_avx2(multipliers, coefficients, coefficient_length, overflow,
                                          overflow_length, width, height, plane);
        return true;
    }
#else
    (void)multipliers, (void)coefficients, (void)coefficient_length, (void)overflow,
        (void)overflow_length, (void)width, (void)height, (void)plane, (void)decoded;
#endif
    return false;
}

bool picture_avx2_active() {
#if defined(PARLO_CODEC_AVX2)
    return picture_avx2_enabled();
#else
    return false;
#endif
}

bool picture_avx2_enable(bool on) {
#if defined(PARLO_CODEC_AVX2)
    if (on && !__builtin_cpu_supports("avx2")) return false;
    avx2_switch().store(on, std::memory_order_relaxed);
    return true;
#else
    return !on;
#endif
}
