// The capture and playback threads with scripted devices: the buffers in flight, what a filled
// buffer becomes, and devices that fail to open.
#include "media/audio/sound_threads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "media/audio/volume.h"
#include "media/codec/voice_codec.h"
#include "tests/e2e/voice_signal.h"
#include "tests/media/audio/audio_test_support.h"

namespace {
using namespace audiotest;

// A capture device whose buffers the test fills, one at a time.
struct scripted_in : wave_in {
    std::mutex m;
    std::vector<wave_buffer*> queued;
    wave_notice notice;
    std::atomic<int> opens{0};
    int open(wave_notice filled, std::string*) override {
        opens++;
        notice = std::move(filled);
        return 0;
    }
    int add_buffer(wave_buffer* b) override {
        std::lock_guard<std::mutex> lk(m);
        queued.push_back(b);
        return 0;
    }
    int start(std::string*) override { return 0; }
    int stop() override { return 0; }
    int reset() override {
        std::vector<wave_buffer*> back;
        {
            std::lock_guard<std::mutex> lk(m);
            back.swap(queued);
        }
        for (auto* b : back) notice(b);
        return 0;
    }
    void close() override {}
    size_t in_flight() {
        std::lock_guard<std::mutex> lk(m);
        return queued.size();
    }
    void fill_one(const std::vector<uint8_t>& samples) {
        wave_buffer* b;
        {
            std::lock_guard<std::mutex> lk(m);
            b = queued.front();
            queued.erase(queued.begin());
        }
        b->data = samples;
        b->recorded = static_cast<int>(samples.size());
        notice(b);
    }
};

struct failing_out : wave_out {
    int open(wave_notice, std::string* error) override {
        *error = "Device unavailable";
        return -9985;
    }
    int write(wave_buffer*) override { return -1; }
    int reset() override { return 0; }
    void close() override {}
};

struct scripted_backend : audio_backend {
    scripted_in* in = nullptr;
    const char* name() const override { return "scripted"; }
    std::unique_ptr<wave_in> make_input() override {
        auto p = std::make_unique<scripted_in>();
        in = p.get();
        return p;
    }
    std::unique_ptr<wave_out> make_output(int) override { return std::make_unique<failing_out>(); }
};

template <class F>
bool eventually(F cond) {
    for (int i = 0; i < 1000; i++) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

using sound_threads = sound_fixture;

TEST_F(sound_threads, CaptureKeepsTwentyFiveBuffersInFlightAndHandsOnEncodedSound) {
    // The samples reach the codec as captured when the voice processing is off.
    const voice_processing before = current_voice_processing();
    set_voice_processing({false, false, false, false, 0});
    scripted_backend backend;
    std::mutex m;
    std::vector<std::vector<uint8_t>> planes_seen;
    std::vector<int> active_seen;
    CRecordSound rec(backend,
                     [&](const uint8_t*, const uint8_t* planes, int length, int active, uint32_t) {
                         std::lock_guard<std::mutex> lk(m);
                         planes_seen.emplace_back(planes, planes + length);
                         active_seen.push_back(active);
                     });
    ASSERT_EQ(rec.start(), 0);
    rec.post(audio::kMsgStartRecording, 0, 0);
    rec.post(audio::kMsgStartRecording, 0, 0);  // a second start while recording does nothing
    ASSERT_TRUE(eventually(
        [&] { return rec.recording() == 1 && backend.in && backend.in->in_flight() == 25; }));
    EXPECT_EQ(backend.in->opens.load(), 1);

    std::vector<uint8_t> tone(audio::kBufferBytes);
    for (int i = 0; i < audio::kBufferBytes; i++)
        tone[i] = static_cast<uint8_t>(128 + ((i / 8) % 2 ? 60 : -60));
    backend.in->fill_one(tone);
    backend.in->fill_one(std::vector<uint8_t>(audio::kBufferBytes, 128));
    ASSERT_TRUE(eventually([&] { return rec.buffers_done() == 2; }));
    EXPECT_TRUE(eventually([&] { return backend.in->in_flight() == 25; }))
        << "each handled buffer is replaced";
    std::vector<uint8_t> want(2 * audio::kBufferBytes);
    int length = 0;
    ASSERT_EQ(
        do_one_dimentional_dct_quality(tone.data(), want.data(), audio::kBufferBytes, &length, 0),
        1);
    {
        std::lock_guard<std::mutex> lk(m);
        ASSERT_EQ(planes_seen.size(), 2u);
        EXPECT_EQ(planes_seen[0], want);
        EXPECT_EQ(active_seen[0], 1);
        EXPECT_EQ(active_seen[1], 0) << "a silent buffer is not active";
    }
    rec.post(audio::kMsgQuitRecording, 0, 0);
    rec.join();
    EXPECT_EQ(rec.recording(), 0);
    set_voice_processing(before);
}

// Noise, then speech over the same noise, then noise again, through the capture thread with the
// processing on: the activity flag of each buffer handed on.
std::vector<int> activity_of_noise_and_speech(const voice_processing& p) {
    const voice_processing before = current_voice_processing();
    set_voice_processing(p);
    scripted_backend backend;
    std::mutex m;
    std::vector<int> active_seen;
    CRecordSound rec(backend, [&](const uint8_t*, const uint8_t*, int, int active, uint32_t) {
        std::lock_guard<std::mutex> lk(m);
        active_seen.push_back(active);
    });
    EXPECT_EQ(rec.start(), 0);
    rec.post(audio::kMsgStartRecording, 0, 0);
    EXPECT_TRUE(eventually(
        [&] { return rec.recording() == 1 && backend.in && backend.in->in_flight() == 25; }));
    uint32_t r = 99;
    const std::vector<uint8_t> talk = voicetest::speech_like(12, 5, false);
    for (int k = 0; k < 48; k++) {
        std::vector<uint8_t> b(audio::kBufferBytes);
        for (int i = 0; i < audio::kBufferBytes; i++) {
            r = r * 1664525u + 1013904223u;
            int v = static_cast<int>(r >> 26) - 32;  // white noise, about -17 dBFS
            if (k >= 30 && k < 42) v += talk[static_cast<size_t>((k - 30) * 960 + i)] - 128;
            b[static_cast<size_t>(i)] = static_cast<uint8_t>(std::clamp(v + 128, 0, 255));
        }
        backend.in->fill_one(b);
        EXPECT_TRUE(eventually([&] { return rec.buffers_done() == k + 1; }));
    }
    rec.post(audio::kMsgQuitRecording, 0, 0);
    rec.join();
    set_voice_processing(before);
    std::lock_guard<std::mutex> lk(m);
    return active_seen;
}

TEST_F(sound_threads, SpeechIsSentWithTheProcessingOnAndNoiseAsSilenceOnlyWhenChosen) {
    for (bool silence_for_noise : {false, true}) {
        std::vector<int> a = activity_of_noise_and_speech({true, true, true, silence_for_noise, 0});
        ASSERT_EQ(a.size(), 48u);
        std::string flags;
        for (int x : a) flags += static_cast<char>('0' + x);
        SCOPED_TRACE("send_silence_for_noise " + std::to_string(silence_for_noise) + ": " + flags);
        // Once the noise is learnt (after 2.4 s), noise-only buffers that the codec finds active
        // are sent as talk data unless the user chose otherwise; speech always is.
        for (int k = 20; k < 30; k++) EXPECT_EQ(a[static_cast<size_t>(k)], silence_for_noise ? 0 : 1) << k;
        for (int k = 30; k < 42; k++) EXPECT_EQ(a[static_cast<size_t>(k)], 1) << k;
        if (silence_for_noise) {
            for (int k = 45; k < 48; k++) EXPECT_EQ(a[static_cast<size_t>(k)], 0) << k;
        }
    }
}

TEST_F(sound_threads, PlayersWhoseDevicesFailShowTheTextOnceLogEachAndAreNeverChosen) {
    scripted_backend backend;
    recorded_boxes boxes;
    set_message_box_handler(&boxes);
    for (int i = 0; i < audio::kPlayers; i++) set_sound_player(i, nullptr);
    CPlaySound p(backend, 0), q(backend, 1);
    set_sound_player(0, &p);
    set_sound_player(1, &q);
    ASSERT_EQ(p.start(), 0);
    ASSERT_EQ(q.start(), 0);
    p.post(audio::kMsgStartPlayback, 0, 0);
    q.post(audio::kMsgStartPlayback, 0, 0);
    const std::string text = "WAVEOUT:ffffd8ff:Device unavailable";
    ASSERT_TRUE(eventually([&] { return count_of(log_text(), text) >= 2; }))
        << "every failed device is logged";
    {
        std::lock_guard<std::mutex> lk(boxes.m);
        ASSERT_EQ(boxes.texts.size(), 1u) << "one box for the playback devices";
        EXPECT_EQ(boxes.texts[0], text);
    }
    EXPECT_FALSE(p.device_open());
    EXPECT_EQ(get_play_sound_slot(77), -1);
    p.post_write(buffer_of(1));  // ignored and freed: the device is closed
    for (CPlaySound* t : {&p, &q}) {
        t->post(audio::kMsgStopPlayback, 0, 0);
        t->post(audio::kMsgQuitPlayback, 0, 0);
        t->join();
    }
    EXPECT_EQ(p.m_written.load(), 0);
    EXPECT_EQ(sound_pacing(0).device_ready, 0);
    set_sound_player(0, nullptr);
    set_sound_player(1, nullptr);
    set_message_box_handler(nullptr);
}

}  // namespace

namespace {
TEST_F(sound_threads, SpeakerVolumeReachesBothChannelsOfEveryOpenPlayer) {
    for (int i = 0; i < audio::kPlayers; i++) set_sound_player(i, nullptr);
    auto backend = make_null_backend();
    start_players(*backend);
    ASSERT_TRUE(eventually([] {
        for (auto& p : g_play_sound_threads)
            if (!p.load() || !p.load()->device_open()) return false;
        return true;
    }));
    EXPECT_EQ(speaker_volume_start(), 65535u);  // a fresh player plays at full volume
    EXPECT_EQ(set_speaker_volume(30000), audio::kPlayers);
    for (auto& p : g_play_sound_threads) EXPECT_EQ(p.load()->volume(), 30000u | (30000u << 16));
    EXPECT_EQ(speaker_volume_start(), 30000u);
    stop_players();
    end_sound_threads();
    for (auto& p : g_play_sound_threads) EXPECT_EQ(p.load(), nullptr);
}
}  // namespace
