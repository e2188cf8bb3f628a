// The file and null devices: conversion on input, pacing, one output file per speaker, gain.
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "media/audio/wave_device.h"
#include "tests/media/audio/audio_test_support.h"

namespace {

// Collects the buffers a device hands back.
struct returned {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::unique_ptr<wave_buffer>> got;
    wave_notice notice() {
        return [this](wave_buffer* b) {
            std::lock_guard<std::mutex> lk(m);
            got.emplace_back(b);
            cv.notify_all();
        };
    }
    bool wait_for(size_t n) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, std::chrono::seconds(10), [&] { return got.size() >= n; });
    }
};

class wave_backends : public audiotest::sound_fixture {};

TEST_F(wave_backends, WavCaptureConvertsRateWidthAndChannelsThenFallsSilentWhenPlayedOnce) {
    // 0.15 s of a 500 Hz tone at half scale, 16 kHz, 16 bits, two channels.
    std::string path = m_dir + "/in.wav";
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<short> frames(2 * 2400);
    for (int i = 0; i < 2400; i++)
        frames[2 * i] = frames[2 * i + 1] =
            static_cast<short>(16384 * std::sin(2 * M_PI * 500 * i / 16000.0));
    sf_writef_short(f, frames.data(), 2400);
    sf_close(f);

    audio_config cfg;
    cfg.backend = "wav";
    cfg.input_file = path;
    cfg.input_loop = false;
    auto backend = make_audio_backend(cfg);
    auto in = backend->make_input();
    returned r;
    std::string error;
    ASSERT_EQ(in->open(r.notice(), &error), 0) << error;
    for (int i = 0; i < 3; i++) {
        auto* b = new wave_buffer;
        b->data.assign(audio::kBufferBytes, 0);
        in->add_buffer(b);
    }
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(in->start(&error), 0);
    ASSERT_TRUE(r.wait_for(2));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(230)) << "two buffers take 240 ms of real time";
    in->stop();
    in->close();
    const auto& first = r.got[0]->data;
    EXPECT_EQ(r.got[0]->recorded, audio::kBufferBytes);
    int lo = 255, hi = 0;
    for (int i = 100; i < 900; i++)
        lo = std::min<int>(lo, first[i]), hi = std::max<int>(hi, first[i]);
    EXPECT_NEAR(hi, 192, 4);  // half scale around the middle value 128
    EXPECT_NEAR(lo, 64, 4);
    // 1200 samples at 8 kHz: the second buffer holds 240 of them, then silence.
    const auto& second = r.got[1]->data;
    for (int i = 260; i < audio::kBufferBytes; i++) ASSERT_EQ(second[i], 128) << i;
}

TEST_F(wave_backends, WavPlaybackWritesOneFilePerSpeakerInPlayingOrder) {
    audio_config cfg;
    cfg.backend = "wav";
    cfg.output_dir = m_dir;
    auto backend = make_audio_backend(cfg);
    auto out = backend->make_output(0);
    returned r;
    std::string error;
    ASSERT_EQ(out->open(r.notice(), &error), 0);
    for (int i = 0; i < 3; i++)
        out->write(audiotest::buffer_of(static_cast<uint8_t>(10 + i), i == 1 ? 9 : 7));
    ASSERT_TRUE(r.wait_for(3));
    out->close();
    backend.reset();
    auto read_all = [](const std::string& p) {
        SF_INFO info{};
        SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
        std::vector<uint8_t> bytes;
        if (!f) return bytes;
        EXPECT_EQ(info.samplerate, 8000);
        EXPECT_EQ(info.channels, 1);
        bytes.resize(static_cast<size_t>(info.frames));
        sf_read_raw(f, bytes.data(), info.frames);
        sf_close(f);
        return bytes;
    };
    std::vector<uint8_t> seven = read_all(m_dir + "/peer_7.wav"),
                         nine = read_all(m_dir + "/peer_9.wav");
    ASSERT_EQ(seven.size(), 2u * audio::kBufferBytes);
    ASSERT_EQ(nine.size(), 1u * audio::kBufferBytes);
    EXPECT_EQ(seven[0], 10);
    EXPECT_EQ(seven[audio::kBufferBytes], 12);
    EXPECT_EQ(nine[5], 11);
}

TEST_F(wave_backends, NullDevicesRecordSilenceAndResetReturnsEveryBuffer) {
    auto backend = make_null_backend();
    auto in = backend->make_input();
    returned r;
    std::string error;
    ASSERT_EQ(in->open(r.notice(), &error), 0);
    for (int i = 0; i < 4; i++) in->add_buffer(audiotest::buffer_of(0));
    in->start(&error);
    ASSERT_TRUE(r.wait_for(1));
    EXPECT_EQ(r.got[0]->data[500], 128);
    in->stop();
    in->reset();
    ASSERT_TRUE(r.wait_for(4));
    in->close();
}

TEST(wave_gain, FullVolumeKeepsSamplesAndLowerVolumesScaleAroundTheMiddle) {
    uint8_t s[4] = {0, 64, 128, 255};
    apply_gain(s, 4, 65535);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[3], 255);
    apply_gain(s, 4, 32768);
    EXPECT_EQ(s[0], 64);
    EXPECT_EQ(s[1], 96);
    EXPECT_EQ(s[2], 128);
    apply_gain(s, 4, 0);
    for (uint8_t v : s) EXPECT_EQ(v, 128);
}

}  // namespace
