// A synthetic speech-like signal for voice tests and benchmarks: syllables of a few harmonics of
// a wandering pitch under a rise-and-fall envelope, some with a noisy hiss, separated by pauses of
// exact silence, as 8 kHz unsigned 8-bit samples. Deterministic, and no two 960-sample buffers
// of sound are alike. Also what the receiving client must write for it: each active buffer
// encoded, deflated and decoded as the voice path does.
#pragma once
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "media/codec/deflate_stream.h"
#include "media/codec/voice_codec.h"

namespace voicetest {

constexpr int kBuffer = 960;

// pauses false: syllables follow each other without a gap (continuous speech).
inline std::vector<uint8_t> speech_like(int buffers, uint32_t seed = 12345, bool pauses = true) {
    std::vector<uint8_t> s(static_cast<size_t>(buffers) * kBuffer, 128);
    uint32_t r = seed;
    auto rnd = [&r]() {
        r = r * 1664525u + 1013904223u;
        return static_cast<double>(r >> 8) / 16777216.0;
    };
    size_t at = 0;
    while (at < s.size()) {
        // A syllable of 250-550 ms, then a pause of 250-700 ms.
        size_t len = static_cast<size_t>(8000 * (0.25 + 0.3 * rnd()));
        double f0 = 100 + 120 * rnd(), glide = (rnd() - 0.5) * 60;
        bool hiss = rnd() < 0.5;
        double phase = 0;
        for (size_t i = 0; i < len && at + i < s.size(); i++) {
            double t = static_cast<double>(i) / static_cast<double>(len);
            double env = std::sin(M_PI * t);
            double f = f0 + glide * t;
            phase += 2 * M_PI * f / 8000.0;
            double v = 0;
            for (int h = 1; h <= 5; h++) v += std::sin(h * phase) / h;
            v *= 45 * env;
            if (hiss) v += (rnd() - 0.5) * 260 * env;
            long x = std::lround(128 + v);
            s[at + i] = static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : x);
        }
        double gap = 8000 * (0.25 + 0.45 * rnd());
        at += len + (pauses ? static_cast<size_t>(gap) : 0);
    }
    return s;
}

// One buffer of the signal as the receiver must play it.
struct expected_buffer {
    bool active = false;
    int message_length = 0;  // header, quality field and deflated planes
    std::vector<uint8_t> played;
};

inline std::vector<expected_buffer> expected_buffers(const std::vector<uint8_t>& signal) {
    std::vector<expected_buffer> out;
    for (size_t at = 0; at + kBuffer <= signal.size(); at += kBuffer) {
        expected_buffer e;
        uint8_t planes[2 * kBuffer], deflated[8000];
        int length = 0, n = 0;
        e.active = do_one_dimentional_dct_quality(&signal[at], planes, kBuffer, &length, 0) == 1;
        if (e.active) {
            deflate_stream(planes, length, deflated, sizeof(deflated), &n);
            e.message_length = 25 + n;
            e.played.resize(kBuffer);
            do_one_dimentional_idct_quality(planes, e.played.data(), kBuffer, 0);
        }
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace voicetest
