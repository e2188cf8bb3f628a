// The real device backend on this machine's sound library, pointed by a configuration of the
// test's own at a device that reads capture data from one file and writes playback to another,
// so the device code runs without a sound card.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "media/audio/audio_service.h"
#include "media/audio/volume.h"
#include "media/audio/wave_device.h"
#include "tests/media/audio/audio_test_support.h"
#include "tests/support/loopback.h"

namespace {
using namespace audiotest;

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
             << "pcm.second {\n  type file\n  slave.pcm \"null\"\n  file \"" << m_dir
             << "/second.raw\"\n  format \"raw\"\n}\n"
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

TEST_F(portaudio_device, OutputsShareOneStreamAndAreMixed) {
    // The file device takes one stream: ten players and the knock must fit in it.
    auto a = backend->make_output(0);
    auto b = backend->make_output(1);
    std::string error;
    ASSERT_EQ(a->open(notice(), &error), 0) << error;
    ASSERT_EQ(b->open(notice(), &error), 0) << error;
    for (int i = 0; i < 4; i++) {
        a->write(audiotest::buffer_of(128 + 10));
        b->write(audiotest::buffer_of(128 + 20));
    }
    ASSERT_TRUE(wait_for(8));
    a->close();
    b->write(audiotest::buffer_of(250));
    b->write(audiotest::buffer_of(250));
    ASSERT_TRUE(wait_for(10)) << "the other output plays on alone";
    b->close();
    std::ifstream f(m_dir + "/out.raw", std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string played = ss.str();
    size_t both = std::count(played.begin(), played.end(), static_cast<char>(128 + 30));
    EXPECT_GE(both, static_cast<size_t>(audio::kBufferBytes)) << "the two outputs were not added";
    EXPECT_GE(std::count(played.begin(), played.end(), static_cast<char>(250)),
              audio::kBufferBytes);
}

TEST_F(portaudio_device, ResetHandsBackEveryBufferAtOnceAndTheStreamGoesOn) {
    // The buffers the callbacks hold are taken back on the spot: one output while the other keeps
    // the shared stream playing, the microphone after its stream stopped.
    auto a = backend->make_output(0);
    auto b = backend->make_output(1);
    auto in = backend->make_input();
    std::string error;
    ASSERT_EQ(a->open(notice(), &error), 0) << error;
    ASSERT_EQ(b->open(notice(), &error), 0) << error;
    ASSERT_EQ(in->open(notice(), &error), 0) << error;
    for (int i = 0; i < 40; i++) ASSERT_EQ(a->write(audiotest::buffer_of(140, 1)), 0);
    ASSERT_EQ(a->reset(), 0);
    auto count_peer = [&](int peer) {
        std::lock_guard<std::mutex> lk(m);
        return std::count_if(got.begin(), got.end(), [&](auto& g) { return g->peer_id == peer; });
    };
    EXPECT_EQ(count_peer(1), 40) << "a reset returns what was written, played or not";
    for (int i = 0; i < 3; i++) in->add_buffer(audiotest::buffer_of(0, 3));
    ASSERT_EQ(in->start(&error), 0) << error;
    ASSERT_TRUE(wait_for(41));
    ASSERT_EQ(in->reset(), 0);
    EXPECT_EQ(count_peer(3), 3) << "the microphone's buffers come back filled or empty";
    b->write(audiotest::buffer_of(150, 2));
    a->write(audiotest::buffer_of(150, 1));
    ASSERT_TRUE(wait_for(45)) << "both outputs play on after a reset";
    in->close();
    a->close();
    b->close();
    std::lock_guard<std::mutex> lk(m);
    for (auto& g : got) {
        if (g->peer_id == 3 && g->recorded != 0) {
            EXPECT_EQ(g->recorded, audio::kBufferBytes);
        }
    }
}

TEST_F(portaudio_device, AClipLongerThanTheDeviceTakesAtOnceIsPlayedWhole) {
    // 40 seconds: more buffers than an output holds, so the rest wait for room.
    std::vector<uint8_t> clip(40 * audio::kSampleRate);
    for (size_t i = 0; i < clip.size(); i++) clip[i] = static_cast<uint8_t>(129 + (i * 7) % 120);
    const std::string path = m_dir + "/long.wav";
    SF_INFO info{};
    info.samplerate = audio::kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_raw(f, clip.data(), static_cast<sf_count_t>(clip.size()));
    sf_close(f);
    ASSERT_EQ(start_audio(cfg), 0);
    ASSERT_EQ(play_sound_file(path), 0);
    // The players are silent: what is not silence in the stream is the clip.
    std::string sound;
    bool whole = testsupport::wait_until([&] {
        std::ifstream in(m_dir + "/out.raw", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        sound = ss.str();
        sound.erase(std::remove(sound.begin(), sound.end(), static_cast<char>(128)), sound.end());
        return sound.size() >= clip.size();
    });
    stop_audio();
    ASSERT_TRUE(whole) << sound.size() << " of " << clip.size() << " samples played";
    EXPECT_TRUE(sound == std::string(clip.begin(), clip.end())) << "the clip came out changed";
}

TEST_F(portaudio_device, AnOpenOutputMovesToAnotherDeviceOrRunsSilentWithoutOne) {
    auto out = backend->make_output(0);
    std::string error;
    ASSERT_EQ(out->open(notice(), &error), 0) << error;
    out->write(audiotest::buffer_of(200));
    ASSERT_TRUE(wait_for(1));
    auto names = backend->device_names(false);
    ASSERT_NE(std::find(names.begin(), names.end(), "second"), names.end());

    ASSERT_EQ(backend->use_devices("", "second"), 0);
    out->write(audiotest::buffer_of(210));
    out->write(audiotest::buffer_of(210));
    ASSERT_TRUE(wait_for(3));
    auto played = [&](const char* file) {
        std::ifstream f(m_dir + file, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    };
    // The file device writes whole periods: the last one may still be on its way.
    std::string second;
    EXPECT_TRUE(testsupport::wait_until([&] {
        second = played("/second.raw");
        return std::count(second.begin(), second.end(), static_cast<char>(210)) >=
               audio::kBufferBytes;
    }));
    EXPECT_EQ(played("/out.raw").find(static_cast<char>(210)), std::string::npos);

    // No such device: the output runs silent, its buffers still come back at the real pace
    // through the watchdog's looks, and silence is no failure.
    EXPECT_EQ(backend->use_devices("", "unplugged"), -1);
    for (int i = 0; i < 3; i++) out->write(audiotest::buffer_of(220));
    EXPECT_TRUE(testsupport::wait_until([&] {
        EXPECT_EQ(backend->check_devices(), 0);
        std::lock_guard<std::mutex> lk(m);
        return got.size() >= 6;
    }));
    out->close();
    second = played("/second.raw");
    EXPECT_EQ(second.find(static_cast<char>(220)), std::string::npos);
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

TEST_F(no_mixer, WithoutAMixerTheMicrophoneVolumeIsUnavailableToldOnceAndChangesNothing) {
    recorded_boxes boxes;
    set_message_box_handler(&boxes);
    auto v = create_microphone_volume();
    auto again = create_microphone_volume();  // the next chat window's
    set_message_box_handler(nullptr);
    EXPECT_FALSE(v->is_available());
    EXPECT_FALSE(again->is_available());
    EXPECT_EQ(v->get_volume(), -1);
    EXPECT_EQ(v->get_maximum(), -1);
    v->set_volume(10);  // ignored
    const std::string text = "failed to create IVolume, please check your microphone device.";
    EXPECT_EQ(count_of(log_text(), "EnumerateInputLines failed 1 in CWndMySliderMic OnCreate.\n"),
              2u);
    EXPECT_EQ(count_of(log_text(), text), 2u);
    EXPECT_EQ(boxes.shown(), std::vector<std::string>{text});
    // No player: the speaker slider starts at 8191 and setting it touches nothing.
    EXPECT_EQ(speaker_volume_start(), 8191u);
    EXPECT_EQ(set_speaker_volume(30000), 0);
}

// What the process writes on its terminal (both streams) between start and finish.
class captured_terminal {
public:
    explicit captured_terminal(std::string path) : m_path(std::move(path)) {
        std::fflush(stdout);
        std::fflush(stderr);
        int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_out = dup(1);
        m_err = dup(2);
        dup2(fd, 1);
        dup2(fd, 2);
        ::close(fd);
    }
    std::string finish() {
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(m_out, 1);
        dup2(m_err, 2);
        ::close(m_out);
        ::close(m_err);
        std::ifstream in(m_path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    std::string m_path;
    int m_out, m_err;
};

TEST_F(no_mixer, DevicesThatDoNotOpenKeepTheTerminalQuietAndShowOneBoxPerKind) {
    cfg.input_device = "no such microphone";
    cfg.output_device = "no such speaker";
    recorded_boxes boxes;
    set_message_box_handler(&boxes);
    snd_lib_error_set_handler(nullptr);  // start_audio installs its own
    captured_terminal terminal(m_dir + "/terminal.txt");
    bool started = start_audio(cfg) == 0;
    // Each failure is a log line, which wakes the wait.
    bool all_failed = testsupport::wait_until([&] {
        return count_of(log_text(), "WAVEOUT:") >= static_cast<size_t>(audio::kPlayers);
    });
    // A complaint of the sound library after start: to the log, not the terminal.
    snd_pcm_t* pcm = nullptr;
    bool opened = snd_pcm_open(&pcm, "no_such_pcm_here", SND_PCM_STREAM_PLAYBACK, 0) == 0;
    if (opened) snd_pcm_close(pcm);
    stop_audio();
    std::string printed = terminal.finish();
    set_message_box_handler(nullptr);
    ASSERT_TRUE(started);
    ASSERT_TRUE(all_failed) << log_text();
    EXPECT_FALSE(opened);
    EXPECT_EQ(printed, "") << "the sound libraries wrote on the terminal";
    EXPECT_NE(log_text().find("no_such_pcm_here"), std::string::npos);
    EXPECT_EQ(boxes.shown(), std::vector<std::string>{"WAVEOUT:ffffd8f4:Invalid device"})
        << "one box for the ten players, none for the closed microphone";
}
}  // namespace
