#include "media/audio/audio_service.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "media/audio/audio_constants.h"
#include "media/audio/device_report.h"
#include "media/audio/sound_queue.h"
#include "media/audio/sound_threads.h"
#include "media/audio/voice_path.h"
#include "platform/debug_log.h"
#include "protocol/chat_session.h"

namespace {
std::unique_ptr<audio_backend> g_backend;  // front end's thread only

// The sound library's complaints (a machine without a card has many) go to the debug log, not
// to the terminal.
__attribute__((format(printf, 5, 6))) void alsa_to_log(const char* file, int line,
                                                       const char* function, int err,
                                                       const char* fmt, ...) {
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof(text), fmt, ap);
    va_end(ap);
    log_line("ALSA %s:%d %s: %s (%d)\n", file, line, function, text, err);
}

void on_my_switches(int which) {
    if (which & kMySwitchAudio) capture_listeners_changed();
}

// Plays sound files (the knock) on an output of their own (the sound card's stream mixes it with
// the players), one file after the other, on its own thread: the caller only queues the path.
class clip_player {
public:
    explicit clip_player(audio_backend& backend) : m_backend(backend) {
        m_thread = std::thread([this] { run(); });
    }
    ~clip_player() {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void play(const std::string& path) {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_paths.size() >= 4) return;  // a burst of knocks plays once or twice, not more
            m_paths.push_back(path);
        }
        m_wake.notify_all();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lk(m_mutex);
        for (;;) {
            m_wake.wait(lk, [this] { return m_quit || !m_paths.empty(); });
            if (m_quit) return;
            std::string path = std::move(m_paths.front());
            m_paths.pop_front();
            lk.unlock();
            play_now(path);
            lk.lock();
        }
    }
    void play_now(const std::string& path) {
        std::vector<uint8_t> samples;
        std::string error;
        if (load_as_voice(path, &samples, &error) != 0) {
            log_line("cannot play %s: %s\n", path.c_str(), error.c_str());
            return;
        }
        if (samples.empty()) return;
        std::unique_ptr<wave_out> out = m_backend.make_output(audio::kPlayers);
        int pending = 0;  // buffers written and not yet back; guarded by m_mutex
        int rc = out->open(
            [this, &pending](wave_buffer* b) {
                delete b;
                std::lock_guard<std::mutex> g(m_mutex);
                pending--;
                m_wake.notify_all();
            },
            &error);
        if (rc != 0) {
            report_device_failure(device_kind::playback,
                                  make_text(TXT_WAVEOUT_FAILED, {device_error_code(rc), error}));
            return;
        }
        for (size_t at = 0; at < samples.size(); at += audio::kBufferBytes) {
            auto* b = new wave_buffer;
            size_t n = std::min<size_t>(audio::kBufferBytes, samples.size() - at);
            b->data.assign(samples.begin() + static_cast<long>(at),
                           samples.begin() + static_cast<long>(at + n));
            {
                std::lock_guard<std::mutex> g(m_mutex);
                pending++;
            }
            rc = out->write(b);
            // A buffer that came back does not always leave room at once: the device takes the
            // next one on its following round. Each try waits for one more to come back.
            while (rc != 0 && wait_for_room(pending)) rc = out->write(b);
            if (rc != 0) {
                delete b;
                std::lock_guard<std::mutex> g(m_mutex);
                pending--;
                break;
            }
        }
        // Until every buffer came back (or the sound is stopped), with room for a slow device.
        auto length = std::chrono::milliseconds(samples.size() / 8);
        {
            std::unique_lock<std::mutex> lk(m_mutex);
            m_wake.wait_for(lk, length + std::chrono::seconds(5),
                            [&] { return m_quit || pending <= 0; });
        }
        out->reset();  // what has not come back comes back now
        out->close();
    }
    // A device takes a few hundred buffers at a time: a long clip waits until one more of the
    // buffers before this one came back. False when none is out, none came back for a while, or
    // the player ends.
    bool wait_for_room(const int& pending) {
        std::unique_lock<std::mutex> lk(m_mutex);
        const int others = pending - 1;
        if (others <= 0) return false;
        return m_wake.wait_for(lk, std::chrono::seconds(5), [&] {
            return m_quit || pending - 1 < others;
        }) && !m_quit;
    }
    audio_backend& m_backend;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::string> m_paths;
    bool m_quit = false;
    std::thread m_thread;
};
std::unique_ptr<clip_player> g_clips;  // created and ended with g_backend
std::mutex g_clips_mutex;              // play_sound_file may be called from any thread
}  // namespace

int start_audio(const audio_config& cfg) {
    if (g_backend) return 0;
    snd_lib_error_set_handler(alsa_to_log);
    sound_queue_init();
    register_voice_commands();
    if (const char* trace = std::getenv("PARLO_VOICE_TRACE")) set_voice_trace_file(trace);
    set_voice_processing(cfg.processing);
    g_backend = make_audio_backend(cfg);
    log_line("sound backend %s\n", g_backend->name());
    int rc = start_sound_master_thread();
    start_players(*g_backend);
    // The microphone is open only while some chat partner receives my sound.
    if (start_capture_on_demand(*g_backend, voice_capture_consumer, any_listening_peer) != 0)
        rc = -1;
    add_my_switch_observer(on_my_switches);
    {
        std::lock_guard<std::mutex> lk(g_clips_mutex);
        g_clips = std::make_unique<clip_player>(*g_backend);
    }
    return rc;
}

void stop_audio() {
    if (!g_backend) return;
    remove_my_switch_observer(on_my_switches);
    std::unique_ptr<clip_player> clips;
    {
        std::lock_guard<std::mutex> lk(g_clips_mutex);
        clips = std::move(g_clips);
    }
    clips.reset();
    stop_capture();
    stop_players();
    end_sound_threads();
    stop_sound_master_thread();
    set_voice_trace_file(nullptr);
    g_backend.reset();
}

int play_sound_file(const std::string& path) {
    std::lock_guard<std::mutex> lk(g_clips_mutex);
    if (!g_clips) {
        log_line("no sound output for %s\n", path.c_str());
        return -1;
    }
    g_clips->play(path);
    return 0;
}

std::vector<std::string> list_audio_devices(const audio_config& cfg) {
    snd_lib_error_set_handler(alsa_to_log);
    return make_audio_backend(cfg)->list_devices();
}
