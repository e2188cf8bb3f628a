// Heap allocations of a running voice call, in one process: the capture device fills buffers
// with a tone of our own, the capture thread encodes each one, the planes are deflated as for
// sending and handed to the receiving handler, which inflates, decodes and queues them for a
// player; the master thread feeds the player and its device plays them. Every operator new of
// the process is counted over a steady stretch, after a warm-up.
// Usage: voice_alloc_bench [seconds, default 6] [wav|portaudio|null|idle]
//   wav: the file devices (the default); portaudio: the real device code on the sound library's
//   file device (capture from a file, playback into one, no sound card); null: silence in.
//   idle: no call, the ten players open on the null devices and the capture closed, as in a
//   signed-in client waiting: the CPU time the process spends and how often its threads wake.
#include <sndfile.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/audio/counting_new.h"
#include "media/audio/audio_constants.h"
#include "media/audio/sound_queue.h"
#include "media/audio/sound_threads.h"
#include "media/audio/voice_path.h"
#include "media/codec/deflate_stream.h"
#include "platform/debug_log.h"
#include "protocol/chat_session.h"
#include "protocol/notify.h"

namespace {
constexpr int kPeer = 5150;

// The front end: takes every notification and keeps nothing.
struct discarding_target : notify_target {
    std::atomic<int> posted{0};
    void post(int, intptr_t, intptr_t, note_payload) override { posted++; }
};

// A minute of a voice-like tone (two partials, swelling eight times a second), 8-bit samples.
std::vector<uint8_t> tone() {
    std::vector<uint8_t> s(60 * audio::kSampleRate);
    for (size_t i = 0; i < s.size(); i++) {
        double t = static_cast<double>(i) / audio::kSampleRate;
        double v = (0.6 * std::sin(2 * M_PI * 310 * t) + 0.3 * std::sin(2 * M_PI * 940 * t)) *
                   (0.55 + 0.45 * std::sin(2 * M_PI * 8 * t));
        s[i] = static_cast<uint8_t>(std::lround(128 + 100 * v));
    }
    return s;
}

bool write_wav(const std::string& path, const std::vector<uint8_t>& samples) {
    SF_INFO info{};
    info.samplerate = audio::kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_write_raw(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    return true;
}

// What the client's capture consumer and the peer's 221/220 handlers do, without the network.
void consume(const uint8_t*, const uint8_t* planes, int length, int active, uint32_t) {
    static char body[audio::kQualityFieldLen + audio::kDeflateCapacity];  // the capture thread's
    if (!active) {
        do_talk_silence_from_peer(kPeer);
        return;
    }
    std::memcpy(body, "   0:", audio::kQualityFieldLen);
    int n = 0;
    if (deflate_stream(planes, length, reinterpret_cast<uint8_t*>(body) + audio::kQualityFieldLen,
                       audio::kDeflateCapacity, &n) != 0)
        return;
    do_talk_data_dct_z_from_sever(body, n + audio::kQualityFieldLen, kPeer);
}

double cpu_s() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Voluntary and involuntary context switches of every thread of this process.
long wakeups() {
    long n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream f(task.path() / "status");
        std::string line;
        while (std::getline(f, line))
            if (line.find("ctxt_switches:") != std::string::npos)
                n += std::atol(line.c_str() + line.find(':') + 1);
    }
    return n;
}

int idle(double seconds) {
    std::unique_ptr<audio_backend> backend = make_null_backend();
    sound_queue_init();
    start_sound_master_thread();
    start_players(*backend);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long w0 = wakeups();
    const double c0 = cpu_s();
    const auto t0 = std::chrono::steady_clock::now();
    alloc_count::start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const alloc_count::totals got = alloc_count::stop();
    const double c1 = cpu_s();
    const long w1 = wakeups();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf(
        "idle sound (ten players open, no capture): CPU %.4f%% of one core over %.1f s, "
        "%.1f thread wake-ups/s (the main thread's sleep included), %llu allocations\n",
        100.0 * (c1 - c0) / s, s, static_cast<double>(w1 - w0) / s,
        static_cast<unsigned long long>(got.count));
    stop_players();
    end_sound_threads();
    stop_sound_master_thread();
    return 0;
}

int played() {
    int n = 0;
    for (auto& p : g_play_sound_threads)
        if (CPlaySound* t = p.load()) n += t->m_finished.load();
    return n;
}
}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 6;
    const std::string kind = argc > 2 ? argv[2] : "wav";
    char tmpl[] = "/tmp/parlo-voice-alloc-XXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    open_debug_log_in(dir + "/");
    if (kind == "idle") {
        int rc = idle(seconds);
        close_debug_log();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        return rc;
    }
    discarding_target front_end;
    g_main_dlg = &front_end;
    chat_session_open(kPeer);

    audio_config cfg;
    cfg.backend = kind;
    const std::vector<uint8_t> samples = tone();
    if (kind == "wav") {
        cfg.input_file = dir + "/tone.wav";
        if (!write_wav(cfg.input_file, samples)) return std::fprintf(stderr, "no tone\n"), 1;
    } else if (kind == "portaudio") {
        std::ofstream(dir + "/in.raw", std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size()));
        std::ofstream conf(dir + "/asound.conf");
        conf << "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" << dir
             << "/out.raw\"\n  infile \"" << dir << "/in.raw\"\n  format \"raw\"\n}\n"
             << "pcm.null { type null }\n";
        conf.close();
        setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
    }
    std::unique_ptr<audio_backend> backend = make_audio_backend(cfg);
    sound_queue_init();
    start_sound_master_thread();
    start_players(*backend);
    start_capture(*backend, consume);

    std::this_thread::sleep_for(std::chrono::seconds(2));  // devices open, pools and queues fill
    CRecordSound* rec = capture_thread();
    const int captured0 = rec ? rec->buffers_done() : 0;
    const int queued0 = g_voice_counters.queued.load(), played0 = played();
    const auto t0 = std::chrono::steady_clock::now();
    alloc_count::start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const alloc_count::totals got = alloc_count::stop();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const int captured = (rec ? rec->buffers_done() : 0) - captured0;
    const int queued = g_voice_counters.queued.load() - queued0, play = played() - played0;

    std::printf(
        "voice path (%s): %llu allocations, %llu bytes in %.2f s: %.1f allocations/s, "
        "%.2f per captured buffer; %d buffers captured, %d queued, %d played; "
        "%d notifications\n",
        kind.c_str(), static_cast<unsigned long long>(got.count),
        static_cast<unsigned long long>(got.bytes), s, static_cast<double>(got.count) / s,
        captured > 0 ? static_cast<double>(got.count) / captured : 0.0, captured, queued, play,
        front_end.posted.load());
    stop_capture();
    stop_players();
    end_sound_threads();
    stop_sound_master_thread();
    chat_session_close(kPeer);
    g_main_dlg = nullptr;
    close_debug_log();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return captured > 0 && play > 0 ? 0 : 1;
}
