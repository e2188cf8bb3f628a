// Quantisation tables of the picture codec. The base tables are the luminance and chrominance
// tables of the JPEG standard (Annex K), scaled by a percentage that depends on the quality:
//   entry = (base * percent + 50) / 100, at least 1 and at most 255.
// Natural position i = 8*row + col takes its table entry from the zig-zag position of i (both
// ends of every connection do so). With the AAN scale factors s[k] = 1 for k = 0 and
// sqrt(2) * cos(k * pi / 16) otherwise, the encoder divides by Q * s[row] * s[col] * 8 (double
// precision, stored as float) and the decoder multiplies by Q * s[row] * s[col] (single
// precision); the factor 8 undoes the scaling of the forward transform.
#include "media/codec/picture_codec.h"

namespace {
using codec::kBlockSize;

constexpr double kAanScale[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                                 1.0, 0.785694958, 0.541196100, 0.275899379};
constexpr float kAanScaleFloat[8] = {1.0f, 1.387039845f, 1.306562965f, 1.175875602f,
                                     1.0f, 0.785694958f, 0.541196100f, 0.275899379f};
}  // namespace

const uint8_t kZigZagOfNatural[kBlockSize] = {
    0,  1,  5,  6,  14, 15, 27, 28,  //
    2,  4,  7,  13, 16, 26, 29, 42,  //
    3,  8,  12, 17, 25, 30, 41, 43,  //
    9,  11, 18, 24, 31, 40, 44, 53,  //
    10, 19, 23, 32, 39, 45, 52, 54,  //
    20, 22, 33, 38, 46, 51, 55, 60,  //
    21, 34, 37, 47, 50, 56, 59, 61,  //
    35, 36, 48, 49, 57, 58, 62, 63,
};

const uint8_t kNaturalOfZigZag[kBlockSize] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,   //
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,  //
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,  //
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

const uint8_t kBaseQuantTables[2][kBlockSize] = {
    {
        16, 11, 10, 16, 24,  40,  51,  61,   //
        12, 12, 14, 19, 26,  58,  60,  55,   //
        14, 13, 16, 24, 40,  57,  69,  56,   //
        14, 17, 22, 29, 51,  87,  80,  62,   //
        18, 22, 37, 56, 68,  109, 103, 77,   //
        24, 35, 55, 64, 81,  104, 113, 92,   //
        49, 64, 78, 87, 103, 121, 120, 101,  //
        72, 92, 95, 98, 112, 100, 103, 99,
    },
    {
        17, 18, 24, 47, 99, 99, 99, 99,  //
        18, 21, 26, 66, 99, 99, 99, 99,  //
        24, 26, 56, 99, 99, 99, 99, 99,  //
        47, 66, 99, 99, 99, 99, 99, 99,  //
        99, 99, 99, 99, 99, 99, 99, 99,  //
        99, 99, 99, 99, 99, 99, 99, 99,  //
        99, 99, 99, 99, 99, 99, 99, 99,  //
        99, 99, 99, 99, 99, 99, 99, 99,
    },
};

int snap_picture_quality(int quality) {
    const int a = quality / 10;
    if (a <= 4) return 50;
    return a > 9 ? 100 : 10 * a;
}

int picture_scale_percent(int snapped_quality) {
    switch (snapped_quality) {
        case 60:
            return 100;
        case 70:
            return 70;
        case 80:
            return 50;
        case 90:
            return 35;
        case 100:
            return 20;
        default:
            return 200;
    }
}

int build_picture_tables(int quality, picture_tables* tables) {
    if (tables == nullptr) return -1;
    tables->quality = snap_picture_quality(quality);
    const int percent = picture_scale_percent(tables->quality);
    for (int t = 0; t < 2; ++t) {
        for (int j = 0; j < kBlockSize; ++j) {
            int entry = (kBaseQuantTables[t][j] * percent + 50) / 100;
            if (entry <= 0) entry = 1;
            if (entry > 255) entry = 255;
            tables->scaled[t][j] = entry;
        }
        for (int i = 0; i < kBlockSize; ++i) {
            const int row = i / 8;
            const int col = i % 8;
            const int q = tables->scaled[t][kZigZagOfNatural[i]];
            tables->divisors[t][i] = static_cast<float>(
                1.0 / (static_cast<double>(q) * kAanScale[row] * kAanScale[col] * 8.0));
            tables->multipliers[t][i] =
                static_cast<float>(q) * kAanScaleFloat[row] * kAanScaleFloat[col];
        }
    }
    return 0;
}
