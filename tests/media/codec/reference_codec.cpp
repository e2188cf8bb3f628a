#include "tests/media/codec/reference_codec.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace ref {
namespace {
const double P = 3.1415926;

int quality_entry(int level, int i) {
    // The three tables, written out row by row of eight indexes.
    static const int rows[3][8] = {
        {1, 1, 1, 1, 1, 1, 1, 1}, {1, 1, 2, 2, 3, 3, 4, 4}, {1, 2, 3, 4, 5, 6, 7, 8}};
    if (level < 0 || level > 2) level = 0;
    if (i == 0) return 8;
    if (i < 64) return rows[level][i / 8];
    if (level == 0) return 1;
    if (level == 1) return 5;
    return i < 120 ? 9 : 0;
}

const int zz[64] = {0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
                    3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
                    10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
                    21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

const int base[2][64] = {
    {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99},
    {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
     99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99}};

const double aan[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                       1.0, 0.785694958, 0.541196100, 0.275899379};

int32_t to_int(float x) {
    if (x >= -2147483648.0f && x < 2147483648.0f) return static_cast<int32_t>(x);
    return INT_MIN;
}

// The range-limit table as described: index m = v & 0x3FF.
int range_limit(int m) {
    if (m < 128) return m + 128;
    if (m < 512) return 255;
    if (m < 896) return 0;
    return m - 896;
}

void forward_dct(float* data) {
    float tmp0, tmp1, tmp2, tmp3, tmp4, tmp5, tmp6, tmp7;
    float tmp10, tmp11, tmp12, tmp13;
    float z1, z2, z3, z4, z5, z11, z13;
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < 8; ++k) {
            // Pass 0 walks the rows, pass 1 the columns.
            float* d = pass == 0 ? data + 8 * k : data + k;
            const int s = pass == 0 ? 1 : 8;
            tmp0 = d[0 * s] + d[7 * s];
            tmp7 = d[0 * s] - d[7 * s];
            tmp1 = d[1 * s] + d[6 * s];
            tmp6 = d[1 * s] - d[6 * s];
            tmp2 = d[2 * s] + d[5 * s];
            tmp5 = d[2 * s] - d[5 * s];
            tmp3 = d[3 * s] + d[4 * s];
            tmp4 = d[3 * s] - d[4 * s];
            tmp10 = tmp0 + tmp3;
            tmp13 = tmp0 - tmp3;
            tmp11 = tmp1 + tmp2;
            tmp12 = tmp1 - tmp2;
            d[0 * s] = tmp10 + tmp11;
            d[4 * s] = tmp10 - tmp11;
            z1 = (tmp12 + tmp13) * 0.707106781f;
            d[2 * s] = tmp13 + z1;
            d[6 * s] = tmp13 - z1;
            tmp10 = tmp4 + tmp5;
            tmp11 = tmp5 + tmp6;
            tmp12 = tmp6 + tmp7;
            z5 = (tmp10 - tmp12) * 0.382683433f;
            z2 = 0.541196100f * tmp10 + z5;
            z4 = 1.306562965f * tmp12 + z5;
            z3 = tmp11 * 0.707106781f;
            z11 = tmp7 + z3;
            z13 = tmp7 - z3;
            d[5 * s] = z13 + z2;
            d[3 * s] = z13 - z2;
            d[1 * s] = z11 + z4;
            d[7 * s] = z11 - z4;
        }
    }
}

// Columns first (with the all-zero-AC shortcut), then rows; returns samples 0..255.
void inverse_dct(const int32_t* coef, const float* mult, int* out) {
    float ws[64];
    float tmp0, tmp1, tmp2, tmp3, tmp4, tmp5, tmp6, tmp7;
    float tmp10, tmp11, tmp12, tmp13, z5, z10, z11, z12, z13;
    for (int c = 0; c < 8; ++c) {
        bool ac_zero = true;
        for (int r = 1; r < 8; ++r) ac_zero = ac_zero && coef[8 * r + c] == 0;
        if (ac_zero) {
            const float dc = static_cast<float>(coef[c]) * mult[c];
            for (int r = 0; r < 8; ++r) ws[8 * r + c] = dc;
            continue;
        }
        float in[8];
        for (int r = 0; r < 8; ++r) in[r] = static_cast<float>(coef[8 * r + c]) * mult[8 * r + c];
        tmp10 = in[0] + in[4];
        tmp11 = in[0] - in[4];
        tmp13 = in[2] + in[6];
        tmp12 = (in[2] - in[6]) * 1.414213562f - tmp13;
        tmp0 = tmp10 + tmp13;
        tmp3 = tmp10 - tmp13;
        tmp1 = tmp11 + tmp12;
        tmp2 = tmp11 - tmp12;
        z13 = in[5] + in[3];
        z10 = in[5] - in[3];
        z11 = in[1] + in[7];
        z12 = in[1] - in[7];
        tmp7 = z11 + z13;
        tmp11 = (z11 - z13) * 1.414213562f;
        z5 = (z10 + z12) * 1.847759065f;
        tmp10 = 1.082392200f * z12 - z5;
        tmp12 = -2.613125930f * z10 + z5;
        tmp6 = tmp12 - tmp7;
        tmp5 = tmp11 - tmp6;
        tmp4 = tmp10 + tmp5;
        ws[8 * 0 + c] = tmp0 + tmp7;
        ws[8 * 7 + c] = tmp0 - tmp7;
        ws[8 * 1 + c] = tmp1 + tmp6;
        ws[8 * 6 + c] = tmp1 - tmp6;
        ws[8 * 2 + c] = tmp2 + tmp5;
        ws[8 * 5 + c] = tmp2 - tmp5;
        ws[8 * 4 + c] = tmp3 + tmp4;
        ws[8 * 3 + c] = tmp3 - tmp4;
    }
    for (int r = 0; r < 8; ++r) {
        const float* w = ws + 8 * r;
        tmp10 = w[0] + w[4];
        tmp11 = w[0] - w[4];
        tmp13 = w[2] + w[6];
        tmp12 = (w[2] - w[6]) * 1.414213562f - tmp13;
        tmp0 = tmp10 + tmp13;
        tmp3 = tmp10 - tmp13;
        tmp1 = tmp11 + tmp12;
        tmp2 = tmp11 - tmp12;
        z13 = w[5] + w[3];
        z10 = w[5] - w[3];
        z11 = w[1] + w[7];
        z12 = w[1] - w[7];
        tmp7 = z11 + z13;
        tmp11 = (z11 - z13) * 1.414213562f;
        z5 = (z10 + z12) * 1.847759065f;
        tmp10 = 1.082392200f * z12 - z5;
        tmp12 = -2.613125930f * z10 + z5;
        tmp6 = tmp12 - tmp7;
        tmp5 = tmp11 - tmp6;
        tmp4 = tmp10 + tmp5;
        const float x[8] = {tmp0 + tmp7, tmp1 + tmp6, tmp2 + tmp5, tmp3 - tmp4,
                            tmp3 + tmp4, tmp2 - tmp5, tmp1 - tmp6, tmp0 - tmp7};
        for (int c = 0; c < 8; ++c) {
            const int32_t t = to_int(x[c]);
            const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(t) + 4u) >> 3;
            out[8 * r + c] = range_limit(v & 0x3FF);
        }
    }
}

int read_coded(const std::vector<uint8_t>& s, size_t* pos, int8_t* zigzag) {
    int p = 0;
    while (p < 64 && *pos < s.size()) {
        const int8_t b = static_cast<int8_t>(s[(*pos)++]);
        if (b == -127) break;
        zigzag[p++] = b;
    }
    for (; p < 64; ++p) zigzag[p] = 0;
    return 0;
}

// Bytes 0..k up to the last non-zero position k, then the end marker unless k is 63.
void append_block(std::vector<uint8_t>* out, const int8_t* zigzag) {
    int k = 0;
    for (int p = 0; p < 64; ++p)
        if (zigzag[p] != 0) k = p;
    for (int p = 0; p <= k; ++p) out->push_back(static_cast<uint8_t>(zigzag[p]));
    if (k < 63) out->push_back(0x81);
}
}  // namespace

int voice_forward(const uint8_t* samples, int n, int quality, uint8_t* planes) {
    const int blocks = n / 64;
    int active = 0;
    for (int b = 0; b < blocks; ++b) {
        const uint8_t* x = samples + 64 * b;
        for (int i = 0; i < 64; ++i) {
            const double a = i == 0 ? std::sqrt(1.0 / 64) : std::sqrt(2.0 / 64);
            double s = 0.0;
            for (int j = 0; j < 64; ++j) {
                const int k = i * (2 * j + 1);
                s += x[j] * std::cos(k * P / (2 * 64));
            }
            const double c = s * a / quality_entry(quality, i);
            const int16_t v = static_cast<int16_t>(static_cast<int>(c));
            const int sign = v < 0;
            const int mag = sign ? -v : v;
            const uint8_t low = static_cast<uint8_t>(mag & 0xFF);
            planes[i * blocks + b] = low;
            planes[n + i * blocks + b] = static_cast<uint8_t>((((mag >> 8) & 0x7F) << 1) | sign);
            if (i > 0 && low > 2) active = 1;
        }
    }
    return active;
}

void voice_inverse(const uint8_t* planes, int n, int quality, uint8_t* samples) {
    const int blocks = n / 64;
    for (int b = 0; b < blocks; ++b) {
        int16_t v[64];
        for (int k = 0; k < 64; ++k) {
            const int low = planes[k * blocks + b];
            const int high = planes[n + k * blocks + b];
            int m = low + 256 * (high >> 1);
            if (high & 1) m = -m;
            v[k] = static_cast<int16_t>(m * quality_entry(quality, k));
        }
        for (int m = 0; m < 64; ++m) {
            double t = 0.0;
            for (int j = 0; j < 64; ++j) {
                const double a = j == 0 ? std::sqrt(1.0 / 64) : std::sqrt(2.0 / 64);
                const int k = j * (2 * m + 1);
                t += std::cos(k * P / (2 * 64)) * (v[j] * a);
            }
            samples[64 * b + m] = t > 255 ? 255 : (t < 0 ? 0 : static_cast<uint8_t>(t));
        }
    }
}

tables make_tables(int quality) {
    int a = quality / 10;
    int q;
    if (a <= 4) {
        q = 50;
    } else {
        q = 10 * a;
        if (a > 9 && q != 100) q = 100;
    }
    const int f = q == 50 ? 200 : q == 60 ? 100 : q == 70 ? 70 : q == 80 ? 50 : q == 90 ? 35 : 20;
    tables t{};
    for (int c = 0; c < 2; ++c) {
        for (int j = 0; j < 64; ++j) {
            int e = (base[c][j] * f + 50) / 100;
            if (e == 0) e = 1;
            if (e > 255) e = 255;
            t.scaled[c][j] = e;
        }
        for (int i = 0; i < 64; ++i) {
            const int row = i / 8, col = i % 8;
            const int Q = t.scaled[c][zz[i]];
            t.divisors[c][i] = static_cast<float>(1.0 / (Q * aan[row] * aan[col] * 8));
            t.multipliers[c][i] =
                static_cast<float>(Q) * static_cast<float>(aan[row]) * static_cast<float>(aan[col]);
        }
    }
    return t;
}

int encode_block(const float* divisors, const int8_t* src, int stride, int8_t* zigzag,
                 int8_t* overflow) {
    float data[64];
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) data[8 * r + c] = static_cast<float>(src[r * stride + c]);
    forward_dct(data);
    for (int i = 0; i < 64; ++i) {
        int c = static_cast<int>(data[i] * divisors[i] + 16384.5f) - 16384;
        const int p = zz[i];
        if (p <= 2) {
            if (c > 127 || c < -126) {
                overflow[p] = static_cast<int8_t>(c >> 7);
                c = c - 128 * (c >> 7);
            } else {
                overflow[p] = 0;
            }
        } else {
            c = c > 127 ? 127 : (c < -126 ? -126 : c);
        }
        zigzag[p] = static_cast<int8_t>(c);
    }
    int k = 0;
    for (int p = 0; p < 64; ++p)
        if (zigzag[p] != 0) k = p;
    return k < 63 ? k + 2 : 64;
}

void decode_block(const float* multipliers, const int8_t* zigzag, const int8_t* overflow,
                  int8_t* dst, int stride) {
    int32_t zvals[64];
    for (int p = 0; p < 64; ++p) zvals[p] = zigzag[p];
    for (int p = 0; p < 3; ++p) zvals[p] += 128 * overflow[p];
    int32_t coef[64];
    for (int i = 0; i < 64; ++i) coef[i] = zvals[zz[i]];
    int out[64];
    inverse_dct(coef, multipliers, out);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) dst[r * stride + c] = static_cast<int8_t>(out[8 * r + c] - 128);
}

streams encode_key_plane(const tables& t, const int8_t* plane, int w, int h, int chroma,
                         std::vector<int8_t>* reference) {
    streams s;
    reference->assign(static_cast<size_t>(w) * h, 0);
    int b = 0;
    for (int r = 0; r < h / 8; ++r) {
        for (int c = 0; c < w / 8; ++c, ++b) {
            int8_t zig[64], ovf[3];
            encode_block(t.divisors[chroma], plane + 8 * r * w + 8 * c, w, zig, ovf);
            append_block(&s.coefficients, zig);
            for (int k = 0; k < 3; ++k) s.overflow.push_back(static_cast<uint8_t>(ovf[k]));
            for (int k = 0; k < 64; ++k) (*reference)[64 * b + k] = zig[k];
        }
    }
    return s;
}

streams encode_difference_plane(const tables& t, const int8_t* plane, int w, int h,
                                const std::vector<int8_t>& reference, int threshold, int chroma,
                                int* percent) {
    streams s;
    int changed = 0, unchanged = 0, b = 0;
    for (int r = 0; r < h / 8; ++r) {
        for (int c = 0; c < w / 8; ++c, ++b) {
            int8_t zig[64], ovf[3];
            encode_block(t.divisors[chroma], plane + 8 * r * w + 8 * c, w, zig, ovf);
            bool differs = false;
            for (int k = 0; k < 64 && !differs; ++k)
                differs = std::abs(zig[k] - reference[64 * b + k]) > threshold;
            if (!differs) {
                ++unchanged;
                continue;
            }
            ++changed;
            s.coefficients.push_back(static_cast<uint8_t>(r));
            s.coefficients.push_back(static_cast<uint8_t>(c));
            append_block(&s.coefficients, zig);
            for (int k = 0; k < 3; ++k) s.overflow.push_back(static_cast<uint8_t>(ovf[k]));
        }
    }
    *percent = changed * 100 / (changed + unchanged);
    return s;
}

void decode_key_plane(const tables& t, const streams& s, int w, int h, int chroma, int8_t* plane) {
    size_t pos = 0, opos = 0;
    for (int r = 0; r < h / 8; ++r) {
        for (int c = 0; c < w / 8; ++c) {
            int8_t zig[64];
            read_coded(s.coefficients, &pos, zig);
            const int8_t* ovf = reinterpret_cast<const int8_t*>(s.overflow.data() + opos);
            opos += 3;
            decode_block(t.multipliers[chroma], zig, ovf, plane + 8 * r * w + 8 * c, w);
        }
    }
}

void decode_difference_plane(const tables& t, const streams& s, int w, int h, int chroma,
                             int8_t* plane) {
    size_t pos = 0, opos = 0;
    for (int r = 0; r < h / 8; ++r) {
        for (int c = 0; c < w / 8; ++c) {
            if (pos + 2 > s.coefficients.size()) return;
            if (s.coefficients[pos] != r || s.coefficients[pos + 1] != c) continue;
            pos += 2;
            int8_t zig[64];
            read_coded(s.coefficients, &pos, zig);
            const int8_t* ovf = reinterpret_cast<const int8_t*>(s.overflow.data() + opos);
            opos += 3;
            decode_block(t.multipliers[chroma], zig, ovf, plane + 8 * r * w + 8 * c, w);
        }
    }
}

void rgb_to_yuv(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v) {
    for (int i = 0; i < pixels; ++i) {
        const int b0 = rgb[3 * i], b1 = rgb[3 * i + 1], b2 = rgb[3 * i + 2];
        y[i] = static_cast<int8_t>(((19595 * b0 + 38470 * b1 + 7471 * b2) >> 16) - 128);
        u[i] = static_cast<int8_t>((-11058 * b0 - 21708 * b1 + 32768 * b2) >> 16);
        v[i] = static_cast<int8_t>((32768 * b0 - 27438 * b1 - 5328 * b2) >> 16);
    }
}

void yuv_to_rgb(const int8_t* y, const int8_t* u, const int8_t* v, int pixels, uint8_t* rgb) {
    for (int i = 0; i < pixels; ++i) {
        const double vals[3] = {y[i] + 128 + 1.402 * v[i],
                                y[i] + 128 - 0.34414 * u[i] - 0.71417 * v[i],
                                y[i] + 128 + 1.772 * u[i]};
        for (int k = 0; k < 3; ++k) {
            int t = static_cast<int>(vals[k]);
            rgb[3 * i + k] = static_cast<uint8_t>(t < 0 ? 0 : (t > 255 ? 255 : t));
        }
    }
}

}  // namespace ref
