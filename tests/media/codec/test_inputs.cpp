#include "tests/media/codec/test_inputs.h"

#include <cmath>

namespace testdata {
namespace {
uint8_t clamp_byte(double x) {
    return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x));
}

// Noise that depends on the position and the frame, as a camera sensor's would.
double sensor_noise(int x, int y, int frame) {
    uint64_t h = static_cast<uint64_t>(x) * 0x9E3779B97F4A7C15ull ^
                 static_cast<uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^
                 static_cast<uint64_t>(frame) * 0x165667B19E3779F9ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<double>(h % 5) - 2.0;  // -2..2
}
}  // namespace

uint64_t rng::next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::vector<uint8_t> scene_rgb(int width, int height, int frame) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    // Coordinates in a 640x480 frame of reference so every size shows the same scene.
    const double sx = 640.0 / width;
    const double sy = 480.0 / height;
    const double t = frame;
    const double ball_x = 320 + 200 * std::sin(t * 0.05);
    const double ball_y = 300 + 60 * std::cos(t * 0.07);
    const double head_x = 200 + 4 * std::sin(t * 0.11);  // a person swaying a little
    const double head_y = 200 + 3 * std::cos(t * 0.13);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double X = x * sx;
            const double Y = y * sy;
            // Wall: vertical gradient with a soft texture; floor: a wood-like pattern.
            double r = 150 + 40 * Y / 480 + 6 * std::sin(X * 0.05 + Y * 0.02);
            double g = 140 + 30 * Y / 480 + 6 * std::sin(X * 0.04);
            double b = 120 + 10 * std::cos(Y * 0.03);
            if (Y > 360) {
                const double grain = 20 * std::sin(X * 0.15 + 6 * std::sin(Y * 0.05));
                r = 120 + grain;
                g = 80 + grain * 0.7;
                b = 50 + grain * 0.4;
            }
            // A window with a bright sky and a sharp frame.
            if (X > 420 && X < 600 && Y > 40 && Y < 200) {
                const bool frame_bar = std::fabs(X - 510) < 4 || std::fabs(Y - 120) < 4;
                r = frame_bar ? 240 : 110 + Y * 0.3;
                g = frame_bar ? 240 : 160 + Y * 0.2;
                b = frame_bar ? 235 : 230;
            }
            // Head and shoulders: shaded ellipses.
            const double dx = (X - head_x) / 60;
            const double dy = (Y - head_y) / 80;
            const double d2 = dx * dx + dy * dy;
            if (d2 < 1.0) {
                const double shade = 1.0 - 0.35 * d2 + 0.1 * dx;
                r = 225 * shade;
                g = 180 * shade;
                b = 150 * shade;
                if (std::fabs(dy + 0.2) < 0.06 && std::fabs(std::fabs(dx) - 0.35) < 0.12)
                    r = g = b = 40;  // eyes
            } else if (Y > head_y + 70 && std::fabs(X - head_x) < 130 - (Y - head_y - 70) * -0.5) {
                r = 40;
                g = 60;
                b = 140 + 20 * std::sin(Y * 0.1);
            }
            // A red ball moving across the scene.
            const double bx = X - ball_x;
            const double by = Y - ball_y;
            if (bx * bx + by * by < 45 * 45) {
                const double light = 1.0 - (bx + by + 64) / 300;
                r = 230 * light + 20;
                g = 30 * light;
                b = 40 * light;
            }
            const double n = sensor_noise(x, y, frame);
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = clamp_byte(r + n);
            p[1] = clamp_byte(g + n);
            p[2] = clamp_byte(b + n);
        }
    }
    return rgb;
}

std::vector<uint8_t> voice_samples(int n, uint64_t seed) {
    rng random(seed);
    std::vector<uint8_t> out(static_cast<size_t>(n));
    const double pitch = 90 + random.below(160);  // Hz
    const double level = 10 + random.below(90);   // peak amplitude
    const double syllable = 2 + random.below(5);  // syllables per second
    const double phase = random.below(1000) / 100.0;
    for (int i = 0; i < n; ++i) {
        const double t = i / 8000.0 + phase;
        const double envelope = std::fmax(0.0, std::sin(t * syllable * 3.14159));
        const double f = pitch * (1 + 0.1 * std::sin(t * 3));
        double s = std::sin(2 * 3.14159 * f * t) + 0.5 * std::sin(4 * 3.14159 * f * t) +
                   0.25 * std::sin(6 * 3.14159 * f * t + 1);
        s = s * level * envelope / 1.75 + (random.below(5) - 2);
        out[static_cast<size_t>(i)] = clamp_byte(128 + s);
    }
    return out;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se);
}

double psnr(const int8_t* a, const int8_t* b, size_t n) {
    std::vector<uint8_t> ua(n), ub(n);
    for (size_t i = 0; i < n; ++i) {
        ua[i] = static_cast<uint8_t>(a[i] + 128);
        ub[i] = static_cast<uint8_t>(b[i] + 128);
    }
    return psnr(ua.data(), ub.data(), n);
}

}  // namespace testdata
