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
    // One shuffle and two blends per pair instead of two shuffles: blends do not compete with
    // the other shuffles for the one shuffle port.
    const __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 3, 2));
    const __m256 s1 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 3, 2));
    const __m256 s2 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 3, 2));
    const __m256 s3 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 3, 2));
    const __m256 u0 = _mm256_blend_ps(t0, s0, 0xCC);
    const __m256 u1 = _mm256_blend_ps(t2, s0, 0x33);
    const __m256 u2 = _mm256_blend_ps(t1, s1, 0xCC);
    const __m256 u3 = _mm256_blend_ps(t3, s1, 0x33);
    const __m256 u4 = _mm256_blend_ps(t4, s2, 0xCC);
    const __m256 u5 = _mm256_blend_ps(t6, s2, 0x33);
    const __m256 u6 = _mm256_blend_ps(t5, s3, 0xCC);
    const __m256 u7 = _mm256_blend_ps(t7, s3, 0x33);
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

namespace {
// Where the quantised coefficients lie after the saturating packs of encode_block: natural index
// n is byte packed_byte(n % 32) of packed[n / 32]. The packs interleave within 128-bit lanes, so
// natural dword d (bytes 4d..4d+3) sits at dword kPackedDword[d].
constexpr int kPackedDword[8] = {0, 4, 1, 5, 2, 6, 3, 7};
constexpr int packed_byte(int n) {
    return 4 * kPackedDword[n / 4] + n % 4;
}

// Byte shuffles that gather zig-zag order from the packed registers: output half h (zig-zag
// positions 32h..32h+31) takes from source k the bytes that mask [h][k] selects, where sources
// 0 and 1 are packed[0] as it is and with its 128-bit lanes swapped, 2 and 3 the same of
// packed[1] (vpshufb selects within a lane only). -128 selects none.
struct packed_masks {
    int8_t m[2][4][32];
};

constexpr packed_masks make_packed_masks() {
    constexpr uint8_t natural_of_zigzag[64] = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    packed_masks p{};
    for (int h = 0; h < 2; ++h)
        for (int k = 0; k < 4; ++k)
            for (int at = 0; at < 32; ++at) p.m[h][k][at] = -128;
    for (int z = 0; z < 64; ++z) {
        const int n = natural_of_zigzag[z];
        const int h = z / 32;
        const int at = z % 32;       // output byte; its lane is at / 16
        const int byte = packed_byte(n % 32);
        const bool other_lane = byte / 16 != at / 16;
        p.m[h][2 * (n / 32) + (other_lane ? 1 : 0)][at] = static_cast<int8_t>(byte % 16);
    }
    return p;
}

alignas(32) constexpr packed_masks kPackedMasks = make_packed_masks();

struct packed_sources {
    bool used[2][4];
};

constexpr packed_sources make_packed_sources() {
    packed_sources s{};
    for (int h = 0; h < 2; ++h)
        for (int k = 0; k < 4; ++k)
            for (int at = 0; at < 32; ++at)
                s.used[h][k] = s.used[h][k] || kPackedMasks.m[h][k][at] >= 0;
    return s;
}

constexpr packed_sources kPackedSources = make_packed_sources();

__attribute__((always_inline)) inline int encode_block(const float* divisors, const int8_t* src,
                                                       int stride, int8_t* zigzag, int8_t* overflow,
                                                       int8_t* copy) {
    // Transpose the 8x8 bytes first (cheaper than transposing floats): column k's bytes end up
    // in the low or high half of cols[k / 2].
    __m128i rows[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k)
        rows[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + k * stride));
    if (copy != nullptr) {
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(copy + k * stride), rows[k]);
    }
    const __m128i a0 = _mm_unpacklo_epi8(rows[0], rows[1]);
    const __m128i a1 = _mm_unpacklo_epi8(rows[2], rows[3]);
    const __m128i a2 = _mm_unpacklo_epi8(rows[4], rows[5]);
    const __m128i a3 = _mm_unpacklo_epi8(rows[6], rows[7]);
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1);  // columns 0-3 of rows 0-3
    const __m128i b1 = _mm_unpackhi_epi16(a0, a1);  // columns 4-7 of rows 0-3
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3);  // columns 0-3 of rows 4-7
    const __m128i b3 = _mm_unpackhi_epi16(a2, a3);  // columns 4-7 of rows 4-7
    const __m128i cols[4] = {_mm_unpacklo_epi32(b0, b2), _mm_unpackhi_epi32(b0, b2),
                             _mm_unpacklo_epi32(b1, b3), _mm_unpackhi_epi32(b1, b3)};
    v8a r[8];  // r[k] holds column k: the row pass runs on all rows at once
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        r[2 * k].v = _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(cols[k]));
        r[2 * k + 1].v =
            _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(_mm_unpackhi_epi64(cols[k], cols[k])));
    }
    forward_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    transpose_8x8(r);  // r[k] holds row k: the column pass runs on all columns at once
    forward_8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    // Quantise and narrow to 16 bits (the coefficients of 8-bit samples are far inside that
    // range). The packs work within 128-bit lanes: w[j] holds rows 2j and 2j+1 as
    // [row 2j cols 0-3, row 2j+1 cols 0-3 | row 2j cols 4-7, row 2j+1 cols 4-7].
    // The bias of the rounding is taken off after the narrowing, on half as many registers:
    // trunc(F * D + 16384.5) lies in 0..32767 for any block of 8-bit samples.
    const __m256 half = _mm256_set1_ps(16384.5f);
    const __m256i bias = _mm256_set1_epi16(16384);
    __m256i q[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        const __m256 x =
            _mm256_add_ps(_mm256_mul_ps(r[k].v, _mm256_loadu_ps(divisors + 8 * k)), half);
        q[k] = _mm256_cvttps_epi32(x);
    }
    __m256i w[4];
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j)
        w[j] = _mm256_sub_epi16(_mm256_packs_epi32(q[2 * j], q[2 * j + 1]), bias);

    // Overflow of zig-zag positions 0, 1, 2 (natural 0, 1, 8: words 0, 1 and 4 of w[0]): a value
    // outside -126..127 keeps its low 7 bits and sends v >> 7 as the overflow byte.
    const __m256i v = w[0];
    const __m256i outside =
        _mm256_or_si256(_mm256_cmpgt_epi16(v, _mm256_set1_epi16(codec::kCoefficientMax)),
                        _mm256_cmpgt_epi16(_mm256_set1_epi16(codec::kCoefficientMin), v));
    const __m256i first_three =
        _mm256_setr_epi16(-1, -1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i high =
        _mm256_and_si256(_mm256_srai_epi16(v, 7), _mm256_and_si256(outside, first_three));
    w[0] = _mm256_sub_epi16(v, _mm256_slli_epi16(high, 7));
    const __m128i high_words = _mm256_castsi256_si128(high);
    overflow[0] = static_cast<int8_t>(_mm_extract_epi16(high_words, 0));
    overflow[1] = static_cast<int8_t>(_mm_extract_epi16(high_words, 1));
    overflow[2] = static_cast<int8_t>(_mm_extract_epi16(high_words, 4));

    // Clamp to -126..127 (the saturating byte pack gives the upper bound). The packs leave the
    // bytes in a fixed order of their own; the zig-zag shuffles below read them from there.
    const __m256i low = _mm256_set1_epi16(codec::kCoefficientMin);
    const __m256i packed[2] = {
        _mm256_packs_epi16(_mm256_max_epi16(w[0], low), _mm256_max_epi16(w[1], low)),
        _mm256_packs_epi16(_mm256_max_epi16(w[2], low), _mm256_max_epi16(w[3], low))};
    const __m256i swapped[2] = {_mm256_permute4x64_epi64(packed[0], 0x4E),
                                _mm256_permute4x64_epi64(packed[1], 0x4E)};

    // Zig-zag order, and the last non-zero byte from a bit mask.
    uint64_t nonzero = 0;
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        __m256i out = _mm256_setzero_si256();
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            if (!kPackedSources.used[h][k]) continue;
            const __m256i mask =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(kPackedMasks.m[h][k]));
            const __m256i from = k % 2 ? swapped[k / 2] : packed[k / 2];
            out = _mm256_or_si256(out, _mm256_shuffle_epi8(from, mask));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(zigzag + 32 * h), out);
        const uint32_t zero = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(out, _mm256_setzero_si256())));
        nonzero |= static_cast<uint64_t>(~zero) << (32 * h);
    }
    const int last = nonzero == 0 ? 0 : 63 - __builtin_clzll(nonzero);
    return last < kBlockSize - 1 ? last + 2 : kBlockSize;
}
}  // namespace

int encode_picture_block_avx2(const float* divisors, const int8_t* src, int stride, int8_t* zigzag,
                              int8_t* overflow) {
    return encode_block(divisors, src, stride, zigzag, overflow, nullptr);
}

void encode_picture_blocks_avx2(const float* divisors, const int8_t* plane, int width, int height,
                                int8_t (*zigzag)[kBlockSize], int8_t (*overflow)[3],
                                uint8_t* length, int8_t* copy) {
    int b = 0;
    // Two loops, so that neither tests for the copy block by block.
    if (copy == nullptr) {
        for (int r = 0; r < height; r += 8)
            for (int c = 0; c < width; c += 8, ++b)
                length[b] = static_cast<uint8_t>(encode_block(
                    divisors, plane + r * width + c, width, zigzag[b], overflow[b], nullptr));
        return;
    }
    for (int r = 0; r < height; r += 8)
        for (int c = 0; c < width; c += 8, ++b)
            length[b] = static_cast<uint8_t>(encode_block(divisors, plane + r * width + c, width,
                                                          zigzag[b], overflow[b],
                                                          copy + r * width + c));
}

namespace {
// Inverse transform of dequantised rows r[0..7] and the descaled, range-limited store.
__attribute__((always_inline)) inline void inverse_and_store(v8a* r, int8_t* dst, int stride) {
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

// The reverse of kZigZagMasks: natural chunk i (natural indexes 16i..16i+15) takes from zig-zag
// chunk j the bytes that mask [i][j] selects (-128 selects none).
constexpr zigzag_masks make_natural_masks() {
    zigzag_masks n{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 16; ++k) n.m[i][j][k] = -128;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 16; ++k)
                if (kZigZagMasks.m[j][i][k] >= 0)
                    n.m[i][j][kZigZagMasks.m[j][i][k]] = static_cast<int8_t>(k);
    return n;
}

alignas(16) constexpr zigzag_masks kNaturalMasks = make_natural_masks();

constexpr zigzag_sources make_natural_sources() {
    zigzag_sources z{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 16; ++k)
                z.used[i][j] = z.used[i][j] || kNaturalMasks.m[i][j][k] >= 0;
    return z;
}

constexpr zigzag_sources kNaturalSources = make_natural_sources();

// A block whose coefficients but the first are all zero: both passes of the inverse transform
// pass the dequantised DC through unchanged (x + 0 and x - 0 are exact), so every sample is it.
__attribute__((always_inline)) inline void fill_block(int8_t* dst, int stride, int32_t dc,
                                                      float multiplier) {
    const int8_t v = limit_sample(truncate_to_int(static_cast<float>(dc) * multiplier));
    const uint64_t fill = 0x0101010101010101ull * static_cast<uint8_t>(v);
    for (int row = 0; row < 8; ++row) __builtin_memcpy(dst + row * stride, &fill, 8);
}

// One coded block of a key plane: its first 64 stream bytes in a and b, of which count are
// coefficients (zig-zag order), and its three overflow bytes o.
__attribute__((always_inline)) inline void decode_block(__m256i a, __m256i b, int count,
                                                        const int8_t* o, const float* multipliers,
                                                        int8_t* dst, int stride) {
    // Bytes from the end marker on are zero coefficients.
    const __m256i index_lo = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,
                                              15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
                                              28, 29, 30, 31);
    const __m256i index_hi = _mm256_add_epi8(index_lo, _mm256_set1_epi8(32));
    const __m256i n = _mm256_set1_epi8(static_cast<char>(count));
    a = _mm256_and_si256(a, _mm256_cmpgt_epi8(n, index_lo));
    b = _mm256_and_si256(b, _mm256_cmpgt_epi8(n, index_hi));
    const __m128i zz[4] = {_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1),
                           _mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1)};
    __m128i natural[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        __m128i out = _mm_setzero_si128();
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            if (!kNaturalSources.used[i][j]) continue;
            const __m128i mask =
                _mm_load_si128(reinterpret_cast<const __m128i*>(kNaturalMasks.m[i][j]));
            out = _mm_or_si128(out, _mm_shuffle_epi8(zz[j], mask));
        }
        natural[i] = out;
    }
    // Coefficients written out as zero bytes may still leave only the DC.
    const __m128i ac0 = _mm_srli_si128(natural[0], 1);
    const __m128i any =
        _mm_or_si128(_mm_or_si128(ac0, natural[1]), _mm_or_si128(natural[2], natural[3]));
    if (_mm_testz_si128(any, any) && o[1] == 0 && o[2] == 0) {
        fill_block(dst, stride,
                   static_cast<int8_t>(_mm_cvtsi128_si32(natural[0])) + 128 * o[0],
                   multipliers[0]);
        return;
    }
    v8a rows[8];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        __m256i lo = _mm256_cvtepi8_epi32(natural[i]);
        __m256i hi = _mm256_cvtepi8_epi32(_mm_srli_si128(natural[i], 8));
        if (i == 0) {
            // Overflow bytes of natural positions 0, 1 (row 0) and 8 (row 1).
            lo = _mm256_add_epi32(lo,
                                  _mm256_setr_epi32(128 * o[0], 128 * o[1], 0, 0, 0, 0, 0, 0));
            hi = _mm256_add_epi32(hi, _mm256_setr_epi32(128 * o[2], 0, 0, 0, 0, 0, 0, 0));
        }
        rows[2 * i].v =
            _mm256_mul_ps(_mm256_cvtepi32_ps(lo), _mm256_loadu_ps(multipliers + 16 * i));
        rows[2 * i + 1].v =
            _mm256_mul_ps(_mm256_cvtepi32_ps(hi), _mm256_loadu_ps(multipliers + 16 * i + 8));
    }
    inverse_and_store(rows, dst, stride);
}
}  // namespace

void decode_natural_block_avx2(const float* multipliers, const int32_t* natural, int8_t* dst,
                               int stride) {
    v8a r[8];
    for (int k = 0; k < 8; ++k) {
        const __m256i n = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(natural + 8 * k));
        r[k].v = _mm256_mul_ps(_mm256_cvtepi32_ps(n), _mm256_loadu_ps(multipliers + 8 * k));
    }
    inverse_and_store(r, dst, stride);
}

int decode_key_blocks_avx2(const float* multipliers, const uint8_t* coefficients,
                           int coefficient_length, const uint8_t* overflow, int overflow_length,
                           int width, int height, int8_t* plane) {
    const __m256i marker = _mm256_set1_epi8(static_cast<char>(codec::kEndOfBlock));
    // The last bytes of a stream are read from a copy, so that no load passes its end.
    alignas(32) uint8_t tail[codec::kBlockSize];
    int cpos = 0;
    int opos = 0;
    int decoded = 0;
    for (int r = 0; r < height; r += 8) {
        for (int c = 0; c < width; c += 8) {
            if (opos + codec::kOverflowBytesPerBlock > overflow_length) return decoded;
            const int left = coefficient_length - cpos;
            if (left <= 0) return decoded;
            const uint8_t* in = coefficients + cpos;
            const int8_t* o = reinterpret_cast<const int8_t*>(overflow + opos);
            int8_t* dst = plane + r * width + c;
            constexpr uint8_t kMarker = static_cast<uint8_t>(codec::kEndOfBlock);
            int used = 0;
            if ((in[0] == kMarker || (left >= 2 && in[1] == kMarker)) && o[1] == 0 &&
                o[2] == 0) {
                // At most the first coefficient (most blocks): every sample equals the DC.
                const bool empty = in[0] == kMarker;
                used = empty ? 1 : 2;
                fill_block(dst, width, (empty ? 0 : static_cast<int8_t>(in[0])) + 128 * o[0],
                           multipliers[0]);
            } else {
                if (left < codec::kBlockSize) {
                    __builtin_memset(tail, 0, sizeof(tail));
                    __builtin_memcpy(tail, in, static_cast<size_t>(left));
                    in = tail;
                }
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
                uint64_t ends =
                    static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, marker))) |
                    static_cast<uint64_t>(static_cast<uint32_t>(
                        _mm256_movemask_epi8(_mm256_cmpeq_epi8(b, marker))))
                        << 32;
                if (left < codec::kBlockSize) ends &= (uint64_t{1} << left) - 1;
                int count = codec::kBlockSize;
                used = codec::kBlockSize;
                if (ends != 0) {
                    count = __builtin_ctzll(ends);
                    used = count + 1;
                } else if (left < codec::kBlockSize) {
                    return decoded;  // the stream ends inside the block
                }
                decode_block(a, b, count, o, multipliers, dst, width);
            }
            cpos += used;
            opos += codec::kOverflowBytesPerBlock;
            ++decoded;
        }
    }
    return decoded;
}
