// The sound service as a client runs it: the microphone follows the chat partners who receive my
// sound, and a sound file (the knock) reaches the backend's output whole.
#include "media/audio/audio_service.h"

#include <sndfile.h>

#include <functional>

#include "media/audio/sound_threads.h"
#include "protocol/chat_session.h"
#include "tests/media/audio/audio_test_support.h"
#include "tests/support/loopback.h"

namespace {
using namespace audiotest;

// The capture thread's state: checked again whenever the product logs, and at least every 50 ms.
bool eventually(const std::function<bool()>& cond) {
    return testsupport::wait_until(cond);
}

class audio_service : public sound_fixture {
protected:
    void TearDown() override {
        stop_audio();
        for (int id : {501, 502}) chat_session_close(id);
        sound_fixture::TearDown();
    }
    static void set_talk(int peer, bool on) {
        chat_session_update(peer, [on](chat_media_state& s) { s.my_audio = on; });
    }
    // Returns once the capture thread has handled everything posted to it so far: a buffer
    // posted behind those messages has come through.
    static bool settled() {
        CRecordSound* rec = capture_thread();
        int before = rec->buffers_done();
        wave_buffer* b = buffer_of(128);
        b->recorded = audio::kBufferBytes;
        rec->post(audio::kMsgWimData, 0, reinterpret_cast<intptr_t>(b));
        return eventually([&] { return rec->buffers_done() > before; });
    }
    static bool recording() {
        CRecordSound* rec = capture_thread();
        return rec && rec->recording() == 1;
    }
};

TEST_F(audio_service, TheMicrophoneIsOpenOnlyWhileSomeoneReceivesMySound) {
    audio_config cfg;
    cfg.backend = "null";
    ASSERT_EQ(start_audio(cfg), 0);
    chat_session_open(501);
    chat_session_open(502);
    ASSERT_NE(capture_thread(), nullptr);
    set_talk(501, false);  // no change
    capture_listeners_changed();
    ASSERT_TRUE(settled());
    EXPECT_FALSE(recording()) << "the microphone opened with nobody listening";

    set_talk(501, true);
    ASSERT_TRUE(eventually(recording));
    int done = capture_thread()->buffers_done();
    ASSERT_TRUE(eventually([&] { return capture_thread()->buffers_done() > done; }))
        << "an open microphone delivers sound";
    set_talk(502, true);
    set_talk(501, false);  // 502 still listens
    chat_session_close(501);
    EXPECT_TRUE(eventually(recording));
    chat_session_close(502);  // the last listener goes with its window
    EXPECT_TRUE(eventually([] { return !recording(); }));
    chat_session_open(501);
    set_talk(501, true);
    EXPECT_TRUE(eventually(recording)) << "the microphone opens again";
    set_talk(501, false);
    EXPECT_TRUE(eventually([] { return !recording(); }));
}

TEST_F(audio_service, ASoundFilePlaysWholeOnTheBackendsOutput) {
    // 8 kHz 8-bit mono, two whole device buffers and a part of one.
    std::vector<uint8_t> knock(2 * audio::kBufferBytes + 333);
    for (size_t i = 0; i < knock.size(); i++) knock[i] = static_cast<uint8_t>(20 + (i * 13) % 200);
    std::string path = m_dir + "/knock.wav";
    SF_INFO info{};
    info.samplerate = audio::kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_raw(f, knock.data(), static_cast<sf_count_t>(knock.size()));
    sf_close(f);

    EXPECT_EQ(play_sound_file(path), -1) << "no sound service yet";
    audio_config cfg;
    cfg.backend = "wav";
    cfg.output_dir = m_dir + "/out";
    ASSERT_EQ(start_audio(cfg), 0);
    ASSERT_EQ(play_sound_file(path), 0);
    // The output of the sound that belongs to no speaker.
    const std::string out = cfg.output_dir + "/peer_0.wav";
    std::vector<uint8_t> played;
    ASSERT_TRUE(eventually([&] {
        SF_INFO in{};
        SNDFILE* g = sf_open(out.c_str(), SFM_READ, &in);
        if (!g) return false;
        played.assign(static_cast<size_t>(in.frames), 0);
        played.resize(
            static_cast<size_t>(std::max<sf_count_t>(0, sf_read_raw(g, played.data(), in.frames))));
        sf_close(g);
        return played.size() >= knock.size();
    })) << played.size()
        << " samples played";
    EXPECT_EQ(played, knock);
}

}  // namespace
