// The real device backend on this machine's sound library, pointed by a configuration of the
// test's own at a device that reads capture data from one file and writes playback to another,
// so the device code runs without a sound card.
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include "media/audio/volume.h"
#include "media/audio/wave_device.h"
#include "tests/media/audio/audio_test_support.h"

namespace {

class portaudio_device : public audiotest::sound_fixture {
protected:
    void SetUp() override {
        sound_fixture::SetUp();
        std::ofstream in(m_dir + "/in.raw", std::ios::binary);
        for (int i = 0; i < 4 * audio::kBufferBytes; i++) in.put(static_cast<char>((i * 7) & 0xFF));
        in.close();
        std::ofstream conf(m_dir + "/asound.conf");
        conf << "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" << m_dir
             << "/out.raw\"\n  infile \"" << m_dir << "/in.raw\"\n  format \"raw\"\n}\n"
             << "pcm.null { type null }\n";
        conf.close();
        setenv("ALSA_CONFIG_PATH", (m_dir + "/asound.conf").c_str(), 1);
        cfg.backend = "portaudio";
        backend = make_audio_backend(cfg);
    }
    void TearDown() override {
        backend.reset();
        unsetenv("ALSA_CONFIG_PATH");
        sound_fixture::TearDown();
    }
    audio_config cfg;
    std::unique_ptr<audio_backend> backend;
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

TEST_F(portaudio_device, CaptureDeliversTheDeviceSamplesInWholeBuffersInOrder) {
    auto in = backend->make_input();
    std::string error;
    ASSERT_EQ(in->open(notice(), &error), 0) << error;
    for (int i = 0; i < 2; i++) in->add_buffer(audiotest::buffer_of(0));
    ASSERT_EQ(in->start(&error), 0) << error;
    ASSERT_TRUE(wait_for(2));
    in->stop();
    in->close();
    for (int k = 0; k < 2; k++) {
        ASSERT_EQ(got[k]->recorded, audio::kBufferBytes);
        for (int i = 0; i < audio::kBufferBytes; i += 97)
            ASSERT_EQ(got[k]->data[i], ((k * audio::kBufferBytes + i) * 7) & 0xFF) << k << " " << i;
        EXPECT_NE(got[k]->capture_tick, 0u);
    }
}

TEST_F(portaudio_device, PlaybackPlaysEveryWrittenBufferAndHandsItBack) {
    auto out = backend->make_output(0);
    std::string error;
    ASSERT_EQ(out->open(notice(), &error), 0) << error;
    auto* b = new wave_buffer;
    for (int i = 0; i < audio::kBufferBytes; i++) b->data.push_back(static_cast<uint8_t>(i % 251));
    std::string pattern(b->data.begin(), b->data.end());
    out->write(b);
    out->write(audiotest::buffer_of(3));
    ASSERT_TRUE(wait_for(2));
    out->close();
    std::ifstream f(m_dir + "/out.raw", std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string played = ss.str();
    size_t at = played.find(pattern);
    ASSERT_NE(at, std::string::npos) << "the buffer never reached the device";
    EXPECT_EQ(played.substr(at + pattern.size(), audio::kBufferBytes),
              std::string(audio::kBufferBytes, '\3'));
}

TEST_F(portaudio_device, UnknownDeviceFailsToOpenWithTheLibrarysErrorText) {
    cfg.input_device = "no such microphone";
    auto in = make_audio_backend(cfg)->make_input();
    std::string error;
    int rc = in->open(notice(), &error);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(error, "Invalid device");
}

}  // namespace

namespace {
class no_mixer : public portaudio_device {};

TEST_F(no_mixer, WithoutAMixerTheMicrophoneVolumeIsUnavailableAndChangesNothing) {
    auto v = create_microphone_volume();
    EXPECT_FALSE(v->is_available());
    EXPECT_EQ(v->get_volume(), -1);
    EXPECT_EQ(v->get_maximum(), -1);
    v->set_volume(10);  // ignored
    EXPECT_NE(log_text().find("EnumerateInputLines failed 1 in CWndMySliderMic OnCreate.\n"),
              std::string::npos);
    EXPECT_NE(log_text().find("failed to create IVolume, please check your microphone device."),
              std::string::npos);
    // No player: the speaker slider starts at 8191 and setting it touches nothing.
    EXPECT_EQ(speaker_volume_start(), 8191u);
    EXPECT_EQ(set_speaker_volume(30000), 0);
}
}  // namespace
