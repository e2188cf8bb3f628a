// Colour conversion. The forward direction is the integer formula itself.
//
// The way back is defined in double precision, but computed here in integers with identical
// results. After limiting to 0..255, truncation and flooring agree, so each byte is
// limit(Y + floor(term)) with Y = y + 128 an integer. The exact values of the terms 1.402*v,
// 1.772*u and -0.34414*u - 0.71417*v are multiples of 0.002, 0.004 and 0.00001, so they are
// integers only for u = v = 0 (where the double formula is exact too) and otherwise lie far
// further from an integer than the rounding error of the double formula (below 1e-12); the floor
// of the double result is therefore the floor of the exact value. The fixed-point products
// below give that floor for every u, v in -128..127 (the tests compare all 2^24 inputs).
#include "media/codec/colour_convert.h"

#include "media/codec/picture_block.h"
#include "media/codec/vector_clones.h"

#if defined(PARLO_CODEC_AVX2)
#include "media/codec/colour_convert_avx2.h"
#endif

namespace {
inline uint8_t limit_byte(int32_t x) {
    return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x));
}

PARLO_VECTOR_CLONES
void rgb_to_yuv_loop(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v) {
    for (int i = 0; i < pixels; ++i) {
        const int32_t b0 = rgb[3 * i];
        const int32_t b1 = rgb[3 * i + 1];
        const int32_t b2 = rgb[3 * i + 2];
        y[i] = static_cast<int8_t>(((19595 * b0 + 38470 * b1 + 7471 * b2) >> 16) - 128);
        u[i] = static_cast<int8_t>((-11058 * b0 - 21708 * b1 + 32768 * b2) >> 16);
        v[i] = static_cast<int8_t>((32768 * b0 - 27438 * b1 - 5328 * b2) >> 16);
    }
}

PARLO_VECTOR_CLONES
void yuv_to_rgb_loop(const int8_t* y, const int8_t* u, const int8_t* v, int pixels, uint8_t* rgb) {
    for (int i = 0; i < pixels; ++i) {
        const int32_t luma = y[i] + 128;
        const int32_t cu = u[i];
        const int32_t cv = v[i];
        rgb[3 * i] = limit_byte(luma + ((cv * 91882) >> 16));                       // 1.402 v
        rgb[3 * i + 1] = limit_byte(luma + ((cu * -360856 + cv * -748861) >> 20));  // green
        rgb[3 * i + 2] = limit_byte(luma + ((cu * 116130) >> 16));                  // 1.772 u
    }
}
}  // namespace

int convert_rgb_to_yuv(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v) {
    if (rgb == nullptr || y == nullptr || u == nullptr || v == nullptr || pixels < 0) return -1;
    int done = 0;
#if defined(PARLO_CODEC_AVX2)
    // The vector path shares the picture codec's switch, so tests can compare both.
    if (picture_avx2_active()) done = rgb_to_yuv_avx2(rgb, pixels, y, u, v);
#endif
    rgb_to_yuv_loop(rgb + 3 * done, pixels - done, y + done, u + done, v + done);
    return 0;
}

int convert_yuv_to_rgb(const int8_t* y, const int8_t* u, const int8_t* v, int pixels,
                       uint8_t* rgb) {
    if (rgb == nullptr || y == nullptr || u == nullptr || v == nullptr || pixels < 0) return -1;
    int done = 0;
#if defined(PARLO_CODEC_AVX2)
    if (picture_avx2_active()) done = yuv_to_rgb_avx2(y, u, v, pixels, rgb);
#endif
    yuv_to_rgb_loop(y + done, u + done, v + done, pixels - done, rgb + 3 * done);
    return 0;
}
