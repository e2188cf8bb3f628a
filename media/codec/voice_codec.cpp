// Voice codec. Forward, for a block of n = 64 samples x[j] and output index i:
//   S(i) = sum over j = 0..n-1, in order, of x[j] * cos(i*(2j+1) * P / (2n)),  P = 3.1415926
//   c(i) = trunc(S(i) * a(i) / q[i]) as a signed 16-bit value, a(0) = sqrt(1/n), a(i) = sqrt(2/n)
// Inverse, for output m: T(m) = sum over j of cos(j*(2m+1) * P / (2n)) * (v[j] * a(j)), where v is
// the dequantised coefficient (as a signed 16-bit product), then truncated and clamped to 0..255.
//
// The cosines are computed once into tables with exactly the expression above, so the sums see the
// same values as when every term computes its own cosine. The inner loops run over the 64 outputs
// of a block, each keeping its own sum in j order, so vectorising them changes no result.
#include "media/codec/voice_codec.h"

#include <cmath>
#include <cstring>

#include "media/codec/codec_constants.h"
#include "media/codec/deflate_stream.h"
#include "platform/debug_log.h"

namespace {
using codec::kVoiceBlockSamples;
constexpr double kAngle = 3.1415926;
constexpr int kTableSize = codec::kVoiceQualityTableSize;

struct quality_tables {
    int32_t level[codec::kVoiceQualityLevels][kTableSize];
};

constexpr quality_tables make_quality_tables() {
    quality_tables t{};
    for (int i = 0; i < kTableSize; ++i) {
        t.level[0][i] = 1;
        if (i < 16)
            t.level[1][i] = 1;
        else if (i < 64)
            t.level[1][i] = 2 + (i - 16) / 16;  // 2 for 16-31, 3 for 32-47, 4 for 48-63
        else
            t.level[1][i] = 5;
        if (i < 8)
            t.level[2][i] = 1;
        else if (i < 64)
            t.level[2][i] = i / 8 + 1;  // 2 for 8-15 ... 8 for 56-63
        else if (i < 120)
            t.level[2][i] = 9;
        else
            t.level[2][i] = 0;
    }
    for (int l = 0; l < codec::kVoiceQualityLevels; ++l) t.level[l][0] = 8;
    return t;
}

constexpr quality_tables kQuality = make_quality_tables();

// forward[j][i] = cos(i*(2j+1)*P/(2n)) and inverse[j][m] = cos(j*(2m+1)*P/(2n)): the two
// orientations of the same angles, laid out so that the inner loops read them contiguously.
struct cosine_tables {
    double forward[kVoiceBlockSamples][kVoiceBlockSamples];
    double inverse[kVoiceBlockSamples][kVoiceBlockSamples];
    double scale[kVoiceBlockSamples];  // a(i)
};

cosine_tables make_cosine_tables() {
    cosine_tables t{};
    const int n = kVoiceBlockSamples;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const int k = i * (2 * j + 1);
            const double c = std::cos(static_cast<double>(k) * kAngle / static_cast<double>(2 * n));
            t.forward[j][i] = c;
            t.inverse[i][j] = c;
        }
        t.scale[i] = (i == 0) ? std::sqrt(1.0 / n) : std::sqrt(2.0 / n);
    }
    return t;
}

const cosine_tables& cosines() {
    static const cosine_tables tables = make_cosine_tables();
    return tables;
}

const int32_t* choose_table(int quality) {
    if (quality >= 0 && quality < codec::kVoiceQualityLevels) return kQuality.level[quality];
    log_line("quality:%d out of range in do_one_dimentional_dct_quality\r\n", quality);
    return kQuality.level[0];
}

bool valid_count(int n) {
    return n > 0 && n <= codec::kVoiceMaxSamples && n % kVoiceBlockSamples == 0;
}

// Transforms one block; writes its low and high coefficient bytes at stride `blocks` and returns
// 1 when the block is active.
int forward_block(const cosine_tables& t, const int32_t* q, const uint8_t* x, uint8_t* low,
                  uint8_t* high, int blocks) {
    double sum[kVoiceBlockSamples] = {};
    for (int j = 0; j < kVoiceBlockSamples; ++j) {
        const double xj = x[j];
        const double* c = t.forward[j];
        for (int i = 0; i < kVoiceBlockSamples; ++i) sum[i] += xj * c[i];
    }
    int active = 0;
    for (int i = 0; i < kVoiceBlockSamples; ++i) {
        const double value = sum[i] * t.scale[i] / q[i];
        const int16_t coefficient = static_cast<int16_t>(static_cast<int>(value));
        const int sign = coefficient < 0 ? 1 : 0;
        const int magnitude = sign ? -coefficient : coefficient;
        const uint8_t l = static_cast<uint8_t>(magnitude & 0xFF);
        low[i * blocks] = l;
        high[i * blocks] = static_cast<uint8_t>((((magnitude >> 8) & 0x7F) << 1) | sign);
        if (i > 0 && l > codec::kVoiceActiveLowByte) active = 1;
    }
    return active;
}

void inverse_block(const cosine_tables& t, const int32_t* q, const uint8_t* low,
                   const uint8_t* high, int blocks, uint8_t* out) {
    double weighted[kVoiceBlockSamples];
    for (int j = 0; j < kVoiceBlockSamples; ++j) {
        const int h = high[j * blocks];
        int value = low[j * blocks] + 256 * (h >> 1);
        if (h & 1) value = -value;
        const int16_t v = static_cast<int16_t>(value * q[j]);
        weighted[j] = static_cast<double>(v) * t.scale[j];
    }
    double sum[kVoiceBlockSamples] = {};
    for (int j = 0; j < kVoiceBlockSamples; ++j) {
        const double w = weighted[j];
        const double* c = t.inverse[j];
        for (int m = 0; m < kVoiceBlockSamples; ++m) sum[m] += c[m] * w;
    }
    for (int m = 0; m < kVoiceBlockSamples; ++m) {
        const double s = sum[m];
        out[m] = s > 255.0 ? 255 : (s < 0.0 ? 0 : static_cast<uint8_t>(static_cast<int>(s)));
    }
}
}  // namespace

const int32_t* voice_quality_table(int quality) {
    if (quality < 0 || quality >= codec::kVoiceQualityLevels) quality = 0;
    return kQuality.level[quality];
}

int do_one_dimentional_dct_quality(const uint8_t* samples, uint8_t* planes_out, int n,
                                   int* out_length, int quality) {
    const int32_t* q = choose_table(quality);
    if (!valid_count(n) || samples == nullptr || planes_out == nullptr) {
        log_line(
            "sample count:%d not a multiple of %d in 1-%d in do_one_dimentional_dct_quality\r\n", n,
            kVoiceBlockSamples, codec::kVoiceMaxSamples);
        return -1;
    }
    const cosine_tables& t = cosines();
    const int blocks = n / kVoiceBlockSamples;
    int active = 0;
    for (int b = 0; b < blocks; ++b) {
        active |= forward_block(t, q, samples + b * kVoiceBlockSamples, planes_out + b,
                                planes_out + n + b, blocks);
    }
    if (out_length != nullptr) *out_length = 2 * n;
    return active;
}

int do_one_dimentional_idct_quality(const uint8_t* planes, uint8_t* samples_out, int n,
                                    int quality) {
    const int32_t* q = choose_table(quality);
    if (!valid_count(n) || planes == nullptr || samples_out == nullptr) {
        log_line(
            "sample count:%d not a multiple of %d in 1-%d in do_one_dimentional_idct_quality\r\n",
            n, kVoiceBlockSamples, codec::kVoiceMaxSamples);
        return -1;
    }
    const cosine_tables& t = cosines();
    const int blocks = n / kVoiceBlockSamples;
    for (int b = 0; b < blocks; ++b) {
        inverse_block(t, q, planes + b, planes + n + b, blocks,
                      samples_out + b * kVoiceBlockSamples);
    }
    return 0;
}

int voice_inflate_and_decode(const uint8_t* deflated, int deflated_length, int quality,
                             uint8_t* samples_out, int samples_capacity) {
    uint8_t planes[codec::kVoiceInflateCapacity];
    int length = 0;
    if (inflate_stream(deflated, deflated_length, planes, sizeof(planes), &length) != 0) {
        log_line("inflate failed in voice_inflate_and_decode, len:%d\r\n", deflated_length);
        return -1;
    }
    const int n = length / 2;
    if (length % 2 != 0 || !valid_count(n) || n > samples_capacity) {
        log_line("inflated length:%d unusable in voice_inflate_and_decode\r\n", length);
        return -1;
    }
    if (do_one_dimentional_idct_quality(planes, samples_out, n, quality) != 0) return -1;
    return n;
}
