// The capture processing on synthetic sound: the echo of what the outputs play in a simulated
// room, white and fan noise, quiet and loud talkers, and what the capture thread then sends.
#include "media/audio/voice_dsp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "media/audio/far_end.h"
#include "media/audio/wave_device.h"
#include "platform/paths.h"
#include "protocol/settings_store.h"

namespace {
constexpr int kRate = 8000;
constexpr int kBuf = voice_processor::kSamples;

// Speech-like sound: syllables of a gliding pitch whose harmonics are shaped by two formants (some
// with hiss) under a rise-and-fall envelope, with pauses; rms is the level of the voiced stretches
// (0-1 of full scale). voiced marks the samples inside a syllable.
struct talk {
    std::vector<double> s;
    std::vector<bool> voiced;
};
talk speech(int n, uint32_t seed, double rms, bool pauses = true) {
    talk t{std::vector<double>(static_cast<size_t>(n), 0.0),
           std::vector<bool>(static_cast<size_t>(n), false)};
    uint32_t r = seed;
    auto rnd = [&r] {
        r = r * 1664525u + 1013904223u;
        return static_cast<double>(r >> 8) / 16777216.0;
    };
    int at = 0;
    while (at < n) {
        int len = static_cast<int>(kRate * (0.25 + 0.3 * rnd()));
        double f0 = 100 + 120 * rnd(), glide = (rnd() - 0.5) * 60;
        double f1 = 300 + 500 * rnd(), f2 = 900 + 1500 * rnd();
        double hiss = rnd() < 0.4 ? 0.3 : 0.0, phase = 0;
        for (int i = 0; i < len && at + i < n; i++) {
            double x = static_cast<double>(i) / len, env = std::sin(M_PI * x);
            phase += 2 * M_PI * (f0 + glide * x) / kRate;
            double v = 0;
            for (int h = 1; h <= 20; h++) {
                double f = h * (f0 + glide * x), d1 = (f - f1) / 150, d2 = (f - f2) / 250;
                v += std::sin(h * phase) * (0.1 + std::exp(-d1 * d1) + 0.5 * std::exp(-d2 * d2));
            }
            v += hiss * (rnd() - 0.5) * 6;
            t.s[static_cast<size_t>(at + i)] = v * env;
            t.voiced[static_cast<size_t>(at + i)] = env > 0.3;
        }
        at += len + (pauses ? static_cast<int>(kRate * (0.25 + 0.45 * rnd())) : 0);
    }
    double p = 0;
    int k = 0;
    for (int i = 0; i < n; i++)
        if (t.voiced[static_cast<size_t>(i)])
            p += t.s[static_cast<size_t>(i)] * t.s[static_cast<size_t>(i)], k++;
    double g = rms * 32768 / std::sqrt(p / std::max(k, 1));
    for (double& v : t.s) v *= g;
    return t;
}

std::vector<double> white(int n, uint32_t seed, double rms) {
    std::vector<double> w(static_cast<size_t>(n));
    uint32_t r = seed;
    for (double& v : w) {
        r = r * 1664525u + 1013904223u;
        v = (static_cast<double>(r >> 8) / 16777216.0 - 0.5) * std::sqrt(12.0) * rms * 32768;
    }
    return w;
}

// A fan: a 110 Hz hum with harmonics over low-passed noise, scaled to rms.
std::vector<double> fan(int n, uint32_t seed, double rms) {
    std::vector<double> w = white(n, seed, 1.0), f(static_cast<size_t>(n));
    double lp = 0, p = 0;
    for (int i = 0; i < n; i++) {
        lp += 0.15 * (w[static_cast<size_t>(i)] - lp);
        double t = static_cast<double>(i) / kRate, hum = 0;
        for (int h = 1; h <= 4; h++) hum += std::sin(2 * M_PI * 110 * h * t + h) / h;
        f[static_cast<size_t>(i)] = lp + 6000 * hum;
        p += f[static_cast<size_t>(i)] * f[static_cast<size_t>(i)];
    }
    double g = rms * 32768 / std::sqrt(p / n);
    for (double& v : f) v *= g;
    return f;
}

double power(const std::vector<double>& x, const std::vector<bool>& in, bool want, int from) {
    double p = 0;
    int k = 0;
    for (size_t i = static_cast<size_t>(from); i < x.size(); i++)
        if (in[i] == want) p += x[i] * x[i], k++;
    return p / std::max(k, 1);
}

// The correlation of the processed out with the clean sound b over the marked samples, out being
// late by the processing's delay (none, or kDelay when the preprocessor runs).
double correlation(const std::vector<double>& out, const std::vector<double>& b,
                   const std::vector<bool>& in, int from) {
    double best = -1;
    for (size_t lag : {size_t{0}, size_t{voice_processor::kDelay}}) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = static_cast<size_t>(from); i + lag < out.size(); i++)
            if (in[i]) {
                const double a = out[i + lag];
                ab += a * b[i], aa += a * a, bb += b[i] * b[i];
            }
        best = std::max(best, ab / std::sqrt(aa * bb + 1e-9));
    }
    return best;
}

double db(double ratio) {
    return 10 * std::log10(ratio);
}

// Runs the microphone signal through a processor buffer by buffer, on 16-bit samples or on the
// 8-bit samples of the wire (widened again for measuring). far (optional) is played at the same
// positions as mic is captured, each buffer before its capture.
std::vector<double> run(const std::vector<double>& mic, const voice_processing& p, bool eight_bit,
                        const std::vector<double>* far = nullptr) {
    far_end::clear();
    voice_processor dsp;
    const uint64_t start = far_end::position_of(100000);
    std::vector<double> out(mic.size());
    for (size_t at = 0; at + kBuf <= mic.size(); at += kBuf) {
        int16_t pcm[kBuf];
        if (far) {
            for (int i = 0; i < kBuf; i++)
                pcm[i] = static_cast<int16_t>(
                    std::clamp(std::lround((*far)[at + static_cast<size_t>(i)]), -32768L, 32767L));
            far_end::push(pcm, kBuf, start + at);
        }
        const uint32_t tick = static_cast<uint32_t>((start + at + kBuf) / far_end::kSamplesPerMs);
        if (eight_bit) {
            uint8_t u8[kBuf];
            for (int i = 0; i < kBuf; i++)
                u8[i] = static_cast<uint8_t>(std::clamp(
                    std::lround(mic[at + static_cast<size_t>(i)] / 256) + 128, 0L, 255L));
            dsp.process(u8, tick, p);
            for (int i = 0; i < kBuf; i++) out[at + static_cast<size_t>(i)] = (u8[i] - 128) * 256.0;
        } else {
            for (int i = 0; i < kBuf; i++)
                pcm[i] = static_cast<int16_t>(
                    std::clamp(std::lround(mic[at + static_cast<size_t>(i)]), -32768L, 32767L));
            dsp.process_pcm(pcm, tick, p);
            for (int i = 0; i < kBuf; i++) out[at + static_cast<size_t>(i)] = pcm[i];
        }
    }
    return out;
}

TEST(voice_dsp, EchoOfThePlayedSoundIsRemovedAndTheNearTalkerKept) {
    const int n = 22 * kRate;
    // The far talker speaks during 0-14 s and 18-22 s, the near one during 12-18 s. The
    // canceller has converged after 8 s.
    talk far = speech(n, 11, 0.1), near = speech(n, 22, 0.1);
    std::vector<bool> far_only(static_cast<size_t>(n)), near_only(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        bool f = i < 14 * kRate || i >= 18 * kRate, m = i >= 12 * kRate && i < 18 * kRate;
        if (!f) far.s[static_cast<size_t>(i)] = 0;
        if (!m) near.s[static_cast<size_t>(i)] = 0;
        far_only[static_cast<size_t>(i)] = f && !m && i >= 8 * kRate;
        near_only[static_cast<size_t>(i)] = m && !f && near.voiced[static_cast<size_t>(i)];
    }
    // The room: the loudspeaker's sound reaches the microphone 60 ms later, low-passed, at half
    // amplitude, with a weaker reflection 25 ms after that.
    std::vector<double> mic(static_cast<size_t>(n)), echo(static_cast<size_t>(n));
    double lp = 0;
    for (int i = 0; i < n; i++) {
        double d = i >= 480 ? far.s[static_cast<size_t>(i - 480)] : 0;
        double d2 = i >= 680 ? far.s[static_cast<size_t>(i - 680)] : 0;
        lp += 0.5 * (d - lp);
        echo[static_cast<size_t>(i)] = 0.5 * lp + 0.15 * d2;
        mic[static_cast<size_t>(i)] = echo[static_cast<size_t>(i)] + near.s[static_cast<size_t>(i)];
    }
    // The canceller with the residual echo suppression of the preprocessor; no gain control, which
    // would lift what is left.
    voice_processing p{true, true, false, false, 0};
    for (bool eight_bit : {false, true}) {
        std::vector<double> out = run(mic, p, eight_bit, &far.s);
        double erle = db(power(mic, far_only, true, 0) / power(out, far_only, true, 0));
        double corr = correlation(out, near.s, near_only, 0);
        std::printf("echo (%s): ERLE %.1f dB, near-end correlation %.3f\n",
                    eight_bit ? "8-bit" : "16-bit", erle, corr);
        if (eight_bit) continue;  // the 8-bit figures are reported, the 16-bit ones held
        EXPECT_GE(erle, 20.0);
        EXPECT_GE(corr, 0.9);
    }
}

TEST(voice_dsp, NoiseAtFiveDbIsSuppressedAndTheSpeechKept) {
    const int n = 16 * kRate, settle = 3 * kRate;
    talk t = speech(n, 33, 0.1);
    std::vector<bool> after(static_cast<size_t>(n));
    for (int i = settle; i < n; i++) after[static_cast<size_t>(i)] = true;
    const double speech_power = power(t.s, t.voiced, true, settle);
    const double noise_rms = std::sqrt(speech_power / std::pow(10, 0.5)) / 32768;
    struct {
        const char* name;
        std::vector<double> noise;
    } kinds[] = {{"white", white(n, 5, noise_rms)}, {"fan", fan(n, 6, noise_rms)}};
    voice_processing p{false, true, false, false, 0};
    for (auto& k : kinds) {
        std::vector<double> mic(static_cast<size_t>(n));
        for (size_t i = 0; i < mic.size(); i++) mic[i] = t.s[i] + k.noise[i];
        // Speech against noise where the talker speaks, noise alone in the pauses.
        std::vector<bool> pause(static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            pause[static_cast<size_t>(i)] = t.s[static_cast<size_t>(i)] == 0.0;
        const double snr_in = db(speech_power / power(k.noise, after, true, settle));
        for (bool eight_bit : {false, true}) {
            std::vector<double> out = run(mic, p, eight_bit);
            const double noise_out = power(out, pause, true, settle);
            const double snr_out =
                db(std::max(power(out, t.voiced, true, settle) - noise_out, 1e-9) / noise_out);
            const double corr = correlation(out, t.s, t.voiced, settle);
            std::printf("%s noise (%s): SNR %.1f -> %.1f dB, speech correlation %.3f\n", k.name,
                        eight_bit ? "8-bit" : "16-bit", snr_in, snr_out, corr);
            if (eight_bit) continue;
            EXPECT_GE(snr_out - snr_in, 10.0) << k.name;
            EXPECT_GE(corr, 0.85) << k.name;
        }
    }
}

TEST(voice_dsp, QuietAndLoudTalkersComeOutNearTheTargetLevel) {
    const int n = 24 * kRate, settle = 12 * kRate;
    const double target = voice_processor::kSpeechDbfs;
    for (double level_db : {-30.0, -6.0}) {
        talk t = speech(n, 44, std::pow(10, level_db / 20));
        voice_processing p{true, true, true, false, 0};
        for (bool eight_bit : {false, true}) {
            std::vector<double> out = run(t.s, p, eight_bit);
            const double got = db(power(out, t.voiced, true, settle) / (32768.0 * 32768.0));
            std::printf("talker at %.0f dBFS (%s): %.1f dBFS, target %.1f dBFS\n", level_db,
                        eight_bit ? "8-bit" : "16-bit", got, target);
            if (eight_bit) continue;
            EXPECT_NEAR(got, target, 6.0) << "talker at " << level_db << " dBFS";
        }
    }
}

TEST(voice_dsp, SwitchedOffMidCallTheSamplesPassAsTheyAreAndSilenceStaysSilent) {
    voice_processor dsp;
    std::vector<double> talk = speech(10 * kBuf, 9, 0.1).s;
    uint8_t buf[kBuf], copy[kBuf];
    for (int k = 0; k < 10; k++) {
        for (int i = 0; i < kBuf; i++)
            buf[i] = static_cast<uint8_t>(
                std::lround(talk[static_cast<size_t>(k * kBuf + i)] / 256) + 128);
        dsp.process(buf, 1000 + 120 * static_cast<uint32_t>(k), voice_processing{});
    }
    for (int i = 0; i < kBuf; i++) buf[i] = copy[i] = static_cast<uint8_t>(i * 7);
    EXPECT_TRUE(dsp.process(buf, 2200, {false, false, false, false, 0}));
    EXPECT_EQ(0, std::memcmp(buf, copy, kBuf));
    // On again: after a buffer that flushes what the filters held, silence comes out as silence.
    std::memset(buf, 128, kBuf);
    for (int k = 0; k < 2; k++)
        dsp.process(buf, 2320 + 120 * static_cast<uint32_t>(k), voice_processing{});
    for (int i = 0; i < kBuf; i++) ASSERT_EQ(buf[i], 128) << i;
}

TEST(far_end, OutputsPlayingTogetherAddUpAndOldOrUnplayedSoundReadsAsSilence) {
    far_end::clear();
    const uint64_t at = far_end::position_of(5000);
    std::vector<int16_t> a(960, 1000), b(480, -300), got(1200);
    far_end::push(a.data(), 960, at);
    far_end::push(b.data(), 480, at + 480);
    far_end::read(got.data(), 1200, at - 120);
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[120], 1000);
    EXPECT_EQ(got[600], 700);
    EXPECT_EQ(got[1100], 0);
    // The timeline keeps far_end::kCapacity samples: the slot of a position that much later holds
    // nothing yet, and the old sound is gone once it is written over.
    far_end::read(got.data(), 1, at + 120 + far_end::kCapacity);
    EXPECT_EQ(got[0], 0);
    far_end::push(b.data(), 1, at + 120 + far_end::kCapacity);
    far_end::read(got.data(), 1, at + 120);
    EXPECT_EQ(got[0], 0);

    // A stream's next buffer follows the last one when the clock reading jitters, and starts
    // afresh after a pause.
    far_end::stream_cursor c;
    EXPECT_EQ(c.place(8000, 960), 8000u);
    EXPECT_EQ(c.place(8000 + 960 + 40, 960), 8000u + 960);
    EXPECT_EQ(c.place(8000 + 1920 - 40, 960), 8000u + 1920);
    EXPECT_EQ(c.place(50000, 960), 50000u);
}

TEST(voice_dsp, SwitchesAreReadFromTheSettingsAndWrittenBack) {
    char tmpl[] = "/tmp/parlo-dsp-XXXXXX";
    const std::string home = mkdtemp(tmpl);
    set_home_dir(home);
    reg_write("media", "echo_cancel", "off");
    reg_write("media", "auto_gain", "0");
    reg_write("media", "send_silence_for_noise", "on");
    reg_write("media", "noise_suppression", "maybe");  // not a switch: the default stays
    audio_config cfg;
    load_audio_settings(&cfg);
    EXPECT_EQ(cfg.processing, (voice_processing{false, true, false, true, 0}));
    save_voice_processing({true, false, true, false, 40});
    voice_processing back;
    load_voice_processing(&back);
    EXPECT_EQ(back, (voice_processing{true, false, true, false, 40}));
    set_home_dir("");
    std::filesystem::remove_all(home);
}
}  // namespace
