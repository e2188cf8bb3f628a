// Internal to the picture codec: the AAN butterflies, written once as templates over the lane
// type, and the scalar helpers around them. Everything here has internal linkage, so each
// translation unit (one of them built for AVX2) keeps its own copy.
#pragma once
#include <climits>
#include <cstdint>
#include <cstring>

#include "media/codec/codec_constants.h"
#include "media/codec/picture_codec.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif

namespace {
using codec::kBlockSize;

// In-place forward 8-point AAN DCT: inputs d0..d7, outputs coefficient k in dk.
template <typename T>
inline void forward_8(T& d0, T& d1, T& d2, T& d3, T& d4, T& d5, T& d6, T& d7) {
    T tmp0 = d0 + d7;
    T tmp7 = d0 - d7;
    T tmp1 = d1 + d6;
    T tmp6 = d1 - d6;
    T tmp2 = d2 + d5;
    T tmp5 = d2 - d5;
    T tmp3 = d3 + d4;
    T tmp4 = d3 - d4;

    // Even part.
    T tmp10 = tmp0 + tmp3;
    T tmp13 = tmp0 - tmp3;
    T tmp11 = tmp1 + tmp2;
    T tmp12 = tmp1 - tmp2;
    d0 = tmp10 + tmp11;
    d4 = tmp10 - tmp11;
    T z1 = (tmp12 + tmp13) * 0.707106781f;
    d2 = tmp13 + z1;
    d6 = tmp13 - z1;

    // Odd part.
    tmp10 = tmp4 + tmp5;
    tmp11 = tmp5 + tmp6;
    tmp12 = tmp6 + tmp7;
    T z5 = (tmp10 - tmp12) * 0.382683433f;
    T z2 = tmp10 * 0.541196100f + z5;
    T z4 = tmp12 * 1.306562965f + z5;
    T z3 = tmp11 * 0.707106781f;
    T z11 = tmp7 + z3;
    T z13 = tmp7 - z3;
    d5 = z13 + z2;
    d3 = z13 - z2;
    d1 = z11 + z4;
    d7 = z11 - z4;
}

// In-place inverse 8-point AAN DCT: dequantised coefficients in d0..d7, outputs sample k in dk.
template <typename T>
inline void inverse_8(T& d0, T& d1, T& d2, T& d3, T& d4, T& d5, T& d6, T& d7) {
    // Even part.
    T tmp10 = d0 + d4;
    T tmp11 = d0 - d4;
    T tmp13 = d2 + d6;
    T tmp12 = (d2 - d6) * 1.414213562f - tmp13;
    T tmp0 = tmp10 + tmp13;
    T tmp3 = tmp10 - tmp13;
    T tmp1 = tmp11 + tmp12;
    T tmp2 = tmp11 - tmp12;

    // Odd part.
    T z13 = d5 + d3;
    T z10 = d5 - d3;
    T z11 = d1 + d7;
    T z12 = d1 - d7;
    T tmp7 = z11 + z13;
    tmp11 = (z11 - z13) * 1.414213562f;
    T z5 = (z10 + z12) * 1.847759065f;
    tmp10 = z12 * 1.082392200f - z5;
    tmp12 = z10 * -2.613125930f + z5;
    T tmp6 = tmp12 - tmp7;
    T tmp5 = tmp11 - tmp6;
    T tmp4 = tmp10 + tmp5;

    d0 = tmp0 + tmp7;
    d7 = tmp0 - tmp7;
    d1 = tmp1 + tmp6;
    d6 = tmp1 - tmp6;
    d2 = tmp2 + tmp5;
    d5 = tmp2 - tmp5;
    d4 = tmp3 + tmp4;
    d3 = tmp3 - tmp4;
}

#if defined(__SSSE3__)
// Byte shuffles that gather zig-zag order from natural order: output chunk j (zig-zag positions
// 16j..16j+15) takes from natural chunk i the bytes that mask [j][i] selects (-128 selects none).
struct zigzag_masks {
    int8_t m[4][4][16];
};

constexpr zigzag_masks make_zigzag_masks() {
    constexpr uint8_t natural_of_zigzag[64] = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    zigzag_masks z{};
    for (int p = 0; p < 64; ++p)
        for (int i = 0; i < 4; ++i)
            z.m[p / 16][i][p % 16] = static_cast<int8_t>(
                natural_of_zigzag[p] / 16 == i ? natural_of_zigzag[p] % 16 : -128);
    return z;
}

alignas(16) constexpr zigzag_masks kZigZagMasks = make_zigzag_masks();

// Whether natural chunk i contributes to zig-zag chunk j at all (skips shuffles that select none).
struct zigzag_sources {
    bool used[4][4];
    constexpr const bool* operator[](int j) const { return used[j]; }
};

constexpr zigzag_sources make_zigzag_sources() {
    zigzag_sources z{};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 16; ++k)
                z.used[j][i] = z.used[j][i] || kZigZagMasks.m[j][i][k] >= 0;
    return z;
}

constexpr zigzag_sources kZigZagSources = make_zigzag_sources();

inline void zigzag_shuffle(const int8_t* natural, int8_t* zigzag) {
    __m128i n[4];
    for (int i = 0; i < 4; ++i)
        n[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(natural + 16 * i));
    for (int j = 0; j < 4; ++j) {
        __m128i out = _mm_setzero_si128();
        for (int i = 0; i < 4; ++i) {
            const __m128i mask =
                _mm_load_si128(reinterpret_cast<const __m128i*>(kZigZagMasks.m[j][i]));
            out = _mm_or_si128(out, _mm_shuffle_epi8(n[i], mask));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(zigzag + 16 * j), out);
    }
}
#endif

// Packs 64 quantised coefficients (natural order) into zig-zag bytes and overflow bytes.
inline int pack_block(int32_t* c, int8_t* zigzag, int8_t* overflow) {
    // Natural positions 0, 1 and 8 are zig-zag positions 0, 1 and 2, which carry overflow bytes.
    static constexpr int kOverflowNatural[3] = {0, 1, 8};
    for (int p = 0; p < 3; ++p) {
        int32_t& v = c[kOverflowNatural[p]];
        if (v > codec::kCoefficientMax || v < codec::kCoefficientMin) {
            const int32_t high = v >> 7;
            overflow[p] = static_cast<int8_t>(high);
            v -= 128 * high;
        } else {
            overflow[p] = 0;
        }
    }
#if defined(__SSE2__)
    // Clamp to -126..127 with saturating packs (the three adjusted values are already in range),
    // reorder into zig-zag order, and find the last non-zero byte from a bit mask.
    alignas(16) int8_t natural[kBlockSize];
    const __m128i low = _mm_set1_epi16(codec::kCoefficientMin);
    for (int k = 0; k < kBlockSize; k += 16) {
        const __m128i* in = reinterpret_cast<const __m128i*>(c + k);
        const __m128i a =
            _mm_max_epi16(_mm_packs_epi32(_mm_load_si128(in), _mm_load_si128(in + 1)), low);
        const __m128i b =
            _mm_max_epi16(_mm_packs_epi32(_mm_load_si128(in + 2), _mm_load_si128(in + 3)), low);
        _mm_store_si128(reinterpret_cast<__m128i*>(natural + k), _mm_packs_epi16(a, b));
    }
#if defined(__SSSE3__)
    zigzag_shuffle(natural, zigzag);
#else
    for (int p = 0; p < kBlockSize; ++p) zigzag[p] = natural[kNaturalOfZigZag[p]];
#endif
    uint64_t nonzero = 0;
    for (int k = 0; k < kBlockSize; k += 16) {
        const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + k));
        const unsigned zero =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(z, _mm_setzero_si128())));
        nonzero |= static_cast<uint64_t>(~zero & 0xFFFFu) << k;
    }
    const int last = nonzero == 0 ? 0 : 63 - __builtin_clzll(nonzero);
#else
    int last = 0;
    for (int p = 0; p < kBlockSize; ++p) {
        int32_t v = c[kNaturalOfZigZag[p]];
        if (v > codec::kCoefficientMax) v = codec::kCoefficientMax;
        if (v < codec::kCoefficientMin) v = codec::kCoefficientMin;
        zigzag[p] = static_cast<int8_t>(v);
        if (v != 0) last = p;
    }
#endif
    return last < kBlockSize - 1 ? last + 2 : kBlockSize;
}

// Natural-order integer coefficients of a coded block, before dequantisation.
inline void unpack_block(const int8_t* zigzag, const int8_t* overflow, int32_t* natural) {
    for (int i = 0; i < kBlockSize; ++i) natural[i] = zigzag[kZigZagOfNatural[i]];
    natural[0] += 128 * overflow[0];
    natural[1] += 128 * overflow[1];
    natural[8] += 128 * overflow[2];
}

// Truncation toward zero; values outside the 32-bit range give INT_MIN, as the x86 conversion
// instructions do, so that the scalar and vector paths agree on every input.
inline int32_t truncate_to_int(float x) {
    if (x >= -2147483648.0f && x < 2147483648.0f) return static_cast<int32_t>(x);
    return INT_MIN;
}

// Descale by 8 with rounding and range-limit through the low 10 bits, giving a centred sample.
inline int8_t limit_sample(int32_t t) {
    const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(t) + 4u) >> 3;
    int32_t m = v & 0x3FF;
    m = (m ^ 0x200) - 0x200;  // sign-extend 10 bits
    if (m > 127) m = 127;
    if (m < -128) m = -128;
    return static_cast<int8_t>(m);
}
}  // namespace

// Variants of the block functions for processors with AVX2 (same results, eight lanes at once).
int encode_picture_block_avx2(const float* divisors, const int8_t* src, int stride, int8_t* zigzag,
                              int8_t* overflow);
// Codes every block of a plane in raster order (width and height multiples of 8), copying the
// samples into copy on the way when it is not null.
void encode_picture_blocks_avx2(const float* divisors, const int8_t* plane, int width, int height,
                                int8_t (*zigzag)[kBlockSize], int8_t (*overflow)[3],
                                uint8_t* length, int8_t* copy);
void decode_natural_block_avx2(const float* multipliers, const int32_t* natural, int8_t* dst,
                               int stride);
// Every block of a key plane from its two streams, as decode_key_plane does; returns the number
// of blocks decoded.
int decode_key_blocks_avx2(const float* multipliers, const uint8_t* coefficients,
                           int coefficient_length, const uint8_t* overflow, int overflow_length,
                           int width, int height, int8_t* plane);
