// Literal, slow implementations of both codecs and the colour conversions, written straight
// from the algorithm descriptions (one cosine per term, one block at a time, no tables beyond the
// stated ones). The fast library must produce byte-identical results.
#pragma once
#include <cstdint>
#include <vector>

namespace ref {

// Voice: forward returns the activity flag and fills 2*n plane bytes; inverse fills n samples.
int voice_forward(const uint8_t* samples, int n, int quality, uint8_t* planes);
void voice_inverse(const uint8_t* planes, int n, int quality, uint8_t* samples);

// Picture tables for a quality: scaled tables, divisors and multipliers (natural order).
struct tables {
    int scaled[2][64];
    float divisors[2][64];
    float multipliers[2][64];
};
tables make_tables(int quality);

// One block: 64 zig-zag bytes, 3 overflow bytes, returns the coded length.
int encode_block(const float* divisors, const int8_t* src, int stride, int8_t* zigzag,
                 int8_t* overflow);
void decode_block(const float* multipliers, const int8_t* zigzag, const int8_t* overflow,
                  int8_t* dst, int stride);

struct streams {
    std::vector<uint8_t> coefficients;
    std::vector<uint8_t> overflow;
};
// Key plane: streams plus the reference store (64 zig-zag bytes per block).
streams encode_key_plane(const tables& t, const int8_t* plane, int w, int h, int chroma,
                         std::vector<int8_t>* reference);
// Difference plane: streams, and the percentage in *percent.
streams encode_difference_plane(const tables& t, const int8_t* plane, int w, int h,
                                const std::vector<int8_t>& reference, int threshold, int chroma,
                                int* percent);
void decode_key_plane(const tables& t, const streams& s, int w, int h, int chroma, int8_t* plane);
void decode_difference_plane(const tables& t, const streams& s, int w, int h, int chroma,
                             int8_t* plane);

void rgb_to_yuv(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v);
void yuv_to_rgb(const int8_t* y, const int8_t* u, const int8_t* v, int pixels, uint8_t* rgb);

}  // namespace ref
