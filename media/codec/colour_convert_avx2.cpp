// AVX2 variants of the colour conversion, built with -mavx2 and called only on processors that
// have them. The formulas are exact integer arithmetic, so regrouping the products is free:
// forwards each weight is split into 16-bit halves for vpmaddwd, and the sums are the same
// integers as the baseline's; backwards the baseline's shifted products are regrouped into 16-bit
// lanes, and the saturating packs do its limiting to 0..255. 16 pixels per step; the caller converts the
// remaining pixels.
#include <immintrin.h>

#include <cstdint>

#include "media/codec/colour_convert_avx2.h"

namespace {
// Byte shuffles that gather one channel of 16 pixels from the three 16-byte chunks holding them:
// kGather[channel][chunk] (-128 selects none).
struct gather_masks {
    int8_t m[3][3][16];
};

constexpr gather_masks make_gather_masks() {
    gather_masks g{};
    for (int channel = 0; channel < 3; ++channel)
        for (int chunk = 0; chunk < 3; ++chunk)
            for (int pixel = 0; pixel < 16; ++pixel) {
                const int byte = 3 * pixel + channel;
                g.m[channel][chunk][pixel] =
                    static_cast<int8_t>(byte / 16 == chunk ? byte % 16 : -128);
            }
    return g;
}

alignas(16) constexpr gather_masks kGather = make_gather_masks();

// The reverse: kScatter[channel][chunk] places the channel's bytes of 16 pixels where they go in
// the chunk-th 16 bytes of the interleaved output.
constexpr gather_masks make_scatter_masks() {
    gather_masks g{};
    for (int channel = 0; channel < 3; ++channel)
        for (int chunk = 0; chunk < 3; ++chunk)
            for (int at = 0; at < 16; ++at) {
                const int byte = 16 * chunk + at;
                g.m[channel][chunk][at] =
                    static_cast<int8_t>(byte % 3 == channel ? byte / 3 : -128);
            }
    return g;
}

alignas(16) constexpr gather_masks kScatter = make_scatter_masks();

inline __m128i scatter_chunk(__m128i r, __m128i g, __m128i b, int chunk) {
    const auto mask = [chunk](int channel) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kScatter.m[channel][chunk]));
    };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, mask(0)), _mm_shuffle_epi8(g, mask(1))),
                        _mm_shuffle_epi8(b, mask(2)));
}

inline __m128i gather_channel(__m128i a, __m128i b, __m128i c, int channel) {
    const auto mask = [channel](int chunk) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kGather.m[channel][chunk]));
    };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, mask(0)), _mm_shuffle_epi8(b, mask(1))),
                        _mm_shuffle_epi8(c, mask(2)));
}

// Two 16-bit weights as one vpmaddwd operand: lo applies to the first word of each pair.
inline __m256i weights(int lo, int hi) {
    return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) |
                                                  (static_cast<uint32_t>(lo) & 0xFFFFu)));
}

}  // namespace

int rgb_to_yuv_avx2(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v) {
    // Pairs (b0, b1) and (b2, b1) of each pixel as 16-bit words. Weights that do not fit in 16
    // bits are split: 38470 b1 = 19235 b1 + 19235 b1, and 32768 b = -(-32768 b).
    const __m256i y01 = weights(19595, 19235);
    const __m256i y21 = weights(7471, 19235);
    const __m256i u01 = weights(-11058, -21708);
    const __m256i u21 = weights(-32768, 0);  // subtracted
    const __m256i v21 = weights(-5328, -27438);
    const __m256i v01 = weights(-32768, 0);  // subtracted
    const __m128i sign = _mm_set1_epi8(static_cast<char>(0x80));
    int i = 0;
    for (; i + 16 <= pixels; i += 16) {
        const uint8_t* p = rgb + 3 * i;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m256i w0 = _mm256_cvtepu8_epi16(gather_channel(a, b, c, 0));
        const __m256i w1 = _mm256_cvtepu8_epi16(gather_channel(a, b, c, 1));
        const __m256i w2 = _mm256_cvtepu8_epi16(gather_channel(a, b, c, 2));
        // Pixel order per register: lo holds pixels 0-3 and 8-11, hi pixels 4-7 and 12-15; the
        // lane-wise packs below restore 0-15.
        const __m256i p01lo = _mm256_unpacklo_epi16(w0, w1);
        const __m256i p01hi = _mm256_unpackhi_epi16(w0, w1);
        const __m256i p21lo = _mm256_unpacklo_epi16(w2, w1);
        const __m256i p21hi = _mm256_unpackhi_epi16(w2, w1);

        const __m256i ylo =
            _mm256_add_epi32(_mm256_madd_epi16(p01lo, y01), _mm256_madd_epi16(p21lo, y21));
        const __m256i yhi =
            _mm256_add_epi32(_mm256_madd_epi16(p01hi, y01), _mm256_madd_epi16(p21hi, y21));
        const __m256i ulo =
            _mm256_sub_epi32(_mm256_madd_epi16(p01lo, u01), _mm256_madd_epi16(p21lo, u21));
        const __m256i uhi =
            _mm256_sub_epi32(_mm256_madd_epi16(p01hi, u01), _mm256_madd_epi16(p21hi, u21));
        const __m256i vlo =
            _mm256_sub_epi32(_mm256_madd_epi16(p21lo, v21), _mm256_madd_epi16(p01lo, v01));
        const __m256i vhi =
            _mm256_sub_epi32(_mm256_madd_epi16(p21hi, v21), _mm256_madd_epi16(p01hi, v01));

        // Y >> 16 is 0..255: pack unsigned, then flip the top bit to subtract 128.
        const __m256i yw =
            _mm256_packs_epi32(_mm256_srai_epi32(ylo, 16), _mm256_srai_epi32(yhi, 16));
        const __m256i uw =
            _mm256_packs_epi32(_mm256_srai_epi32(ulo, 16), _mm256_srai_epi32(uhi, 16));
        const __m256i vw =
            _mm256_packs_epi32(_mm256_srai_epi32(vlo, 16), _mm256_srai_epi32(vhi, 16));
        const __m128i yb = _mm_xor_si128(
            _mm_packus_epi16(_mm256_castsi256_si128(yw), _mm256_extracti128_si256(yw, 1)), sign);
        const __m128i ub =
            _mm_packs_epi16(_mm256_castsi256_si128(uw), _mm256_extracti128_si256(uw, 1));
        const __m128i vb =
            _mm_packs_epi16(_mm256_castsi256_si128(vw), _mm256_extracti128_si256(vw, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), yb);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i), ub);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i), vb);
    }
    return i;
}

namespace {
// 16 pixels back to 16-bit red, green and blue before limiting. The baseline's 32-bit products,
// regrouped exactly into 16-bit lanes (x >> 16 of a 32-bit product is the floor of x / 65536,
// and so is mulhi):
//   (v * 91882) >> 16  = v + mulhi(v, 26346)          since 91882 = 65536 + 26346
//   (u * 116130) >> 16 = 2u + mulhi(u, -14942)        since 116130 = 131072 - 14942
//   (u * -360856 + v * -748861) >> 20 = (H + (L >> 16)) >> 4 with H = -6u - 11v and
//   L = 32360u - 27965v, since -360856 = -6 * 65536 + 32360 and -748861 = -11 * 65536 - 27965.
// All intermediate values fit in 16 bits; L is a 32-bit vpmaddwd sum.
inline void back_to_rgb16(const int8_t* y, const int8_t* u, const int8_t* v, __m256i* r,
                          __m256i* g, __m256i* b) {
    const __m256i luma = _mm256_add_epi16(
        _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y))),
        _mm256_set1_epi16(128));
    const __m256i cu = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u)));
    const __m256i cv = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
    *r = _mm256_add_epi16(
        luma, _mm256_add_epi16(cv, _mm256_mulhi_epi16(cv, _mm256_set1_epi16(26346))));
    *b = _mm256_add_epi16(luma,
                          _mm256_add_epi16(_mm256_add_epi16(cu, cu),
                                           _mm256_mulhi_epi16(cu, _mm256_set1_epi16(-14942))));
    // Pairs (u, v) per pixel; lo holds pixels 0-3 and 8-11, hi 4-7 and 12-15, and the lane-wise
    // pack restores 0-15.
    const __m256i kg_low = weights(32360, -27965);
    const __m256i low_lo =
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(cu, cv), kg_low), 16);
    const __m256i low_hi =
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(cu, cv), kg_low), 16);
    const __m256i high = _mm256_add_epi16(_mm256_mullo_epi16(cu, _mm256_set1_epi16(-6)),
                                          _mm256_mullo_epi16(cv, _mm256_set1_epi16(-11)));
    *g = _mm256_add_epi16(
        luma, _mm256_srai_epi16(_mm256_add_epi16(high, _mm256_packs_epi32(low_lo, low_hi)), 4));
}

// Two groups of 16 values limited to 0..255, pixels 0-15 in the low lane and 16-31 in the high.
inline __m256i to_bytes(__m256i first, __m256i second) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8);
}

inline __m256i scatter_mask(int channel, int chunk) {
    return _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(kScatter.m[channel][chunk])));
}
}  // namespace

int yuv_to_rgb_avx2(const int8_t* y, const int8_t* u, const int8_t* v, int pixels, uint8_t* rgb) {
    int i = 0;
    // 32 pixels per step: each 256-bit shuffle builds 16 output bytes of both halves at once.
    for (; i + 32 <= pixels; i += 32) {
        __m256i r[2], g[2], b[2];
        back_to_rgb16(y + i, u + i, v + i, &r[0], &g[0], &b[0]);
        back_to_rgb16(y + i + 16, u + i + 16, v + i + 16, &r[1], &g[1], &b[1]);
        const __m256i rb = to_bytes(r[0], r[1]);
        const __m256i gb = to_bytes(g[0], g[1]);
        const __m256i bb = to_bytes(b[0], b[1]);
        uint8_t* out = rgb + 3 * i;
        for (int chunk = 0; chunk < 3; ++chunk) {
            const __m256i bytes = _mm256_or_si256(
                _mm256_or_si256(_mm256_shuffle_epi8(rb, scatter_mask(0, chunk)),
                                _mm256_shuffle_epi8(gb, scatter_mask(1, chunk))),
                _mm256_shuffle_epi8(bb, scatter_mask(2, chunk)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * chunk),
                             _mm256_castsi256_si128(bytes));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48 + 16 * chunk),
                             _mm256_extracti128_si256(bytes, 1));
        }
    }
    for (; i + 16 <= pixels; i += 16) {
        __m256i r, g, b;
        back_to_rgb16(y + i, u + i, v + i, &r, &g, &b);
        const __m128i rb =
            _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
        const __m128i gb =
            _mm_packus_epi16(_mm256_castsi256_si128(g), _mm256_extracti128_si256(g, 1));
        const __m128i bb =
            _mm_packus_epi16(_mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1));
        uint8_t* out = rgb + 3 * i;
        for (int chunk = 0; chunk < 3; ++chunk)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * chunk),
                             scatter_chunk(rb, gb, bb, chunk));
    }
    return i;
}
