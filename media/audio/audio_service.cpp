#include "media/audio/audio_service.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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
#include "media/audio/voice_dsp.h"
#include "media/audio/voice_path.h"
#include "platform/debug_log.h"
#include "protocol/chat_session.h"

namespace {
// Set and cleared by the front end's thread; other threads take a copy under the lock.
std::shared_ptr<audio_backend> g_backend;
std::mutex g_backend_mutex;

std::shared_ptr<audio_backend> running_backend() {
    std::lock_guard<std::mutex> lk(g_backend_mutex);
    return g_backend;
}

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
    void play(const std::string& path) { queue(clip{path, {}}); }
    void play(std::vector<uint8_t> samples) { queue(clip{"", std::move(samples)}); }

private:
    // A sound file, or samples already in the device's format when path is empty.
    struct clip {
        std::string path;
        std::vector<uint8_t> samples;
    };
    void queue(clip c) {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_clips.size() >= 4) return;  // a burst of knocks plays once or twice, not more
            m_clips.push_back(std::move(c));
        }
        m_wake.notify_all();
    }
    void run() {
        std::unique_lock<std::mutex> lk(m_mutex);
        for (;;) {
            m_wake.wait(lk, [this] { return m_quit || !m_clips.empty(); });
            if (m_quit) return;
            clip c = std::move(m_clips.front());
            m_clips.pop_front();
            lk.unlock();
            play_now(std::move(c));
            lk.lock();
        }
    }
    void play_now(clip c) {
        std::vector<uint8_t> samples = std::move(c.samples);
        std::string error;
        if (!c.path.empty() && load_as_voice(c.path, &samples, &error) != 0) {
            log_line("cannot play %s: %s\n", c.path.c_str(), error.c_str());
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
    std::deque<clip> m_clips;
    bool m_quit = false;
    std::thread m_thread;
};
std::unique_ptr<clip_player> g_clips;  // created and ended with g_backend
std::mutex g_clips_mutex;              // play_sound_file may be called from any thread

std::mutex g_observer_mutex;
std::function<void()> g_devices_observer;  // guarded by g_observer_mutex

void tell_devices_observer() {
    std::function<void()> observer;
    {
        std::lock_guard<std::mutex> lk(g_observer_mutex);
        observer = g_devices_observer;
    }
    if (observer) observer();
}

// A call is under way: someone hears my microphone, or a player is bound to a speaker.
bool sound_busy() {
    if (any_listening_peer()) return true;
    for (int i = 0; i < audio::kPlayers; i++)
        if (play_slot_peer(i) >= 0) return true;
    return false;
}

// Keeps the devices of a running service working, on a thread of its own: applies the user's
// choice, and looks at the open devices as often as the backend asks (never for files). A device
// that failed is told once (for the run) and replaced by the default one; where that fails too,
// the backend runs it silent.
// When cards come or go the devices are looked for anew (which pauses the open streams for a
// moment): at once after a fall-back, which a new card may mend, otherwise once no call is under
// way; the observer hears of it after that.
//
// Threads: choose and devices_changed from any thread; the backend is used on the keeper's.
class device_keeper {
public:
    device_keeper(std::shared_ptr<audio_backend> backend, std::string input, std::string output)
        : m_backend(std::move(backend)), m_input(std::move(input)), m_output(std::move(output)) {
        m_thread = std::thread([this] { run(); });
    }
    ~device_keeper() {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void choose(const std::string& input, const std::string& output) {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_want_input = input;
            m_want_output = output;
            m_chosen = true;
        }
        m_wake.notify_all();
    }
    void devices_changed() {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_changed = true;
        }
        m_wake.notify_all();
    }

private:
    void run() {
        // Asked with no lock of ours held: the backend takes its own.
        int period = m_backend->check_period_ms();
        std::unique_lock<std::mutex> lk(m_mutex);
        for (;;) {
            auto woken = [this] { return m_quit || m_chosen || m_changed; };
            if (period > 0)
                m_wake.wait_for(lk, std::chrono::milliseconds(period), woken);
            else
                m_wake.wait(lk, woken);
            if (m_quit) return;
            const bool chosen = std::exchange(m_chosen, false);
            if (std::exchange(m_changed, false)) m_rescan = true;
            if (chosen) {
                m_input = m_want_input;
                m_output = m_want_output;
            }
            lk.unlock();
            if (chosen || (m_rescan && (m_fell_back || !sound_busy()))) {
                use_chosen();
                if (std::exchange(m_rescan, false)) tell_devices_observer();
            }
            if (int failed = m_backend->check_devices()) fall_back(failed);
            period = m_backend->check_period_ms();
            lk.lock();
        }
    }
    // The chosen devices, or the default ones for those that do not open.
    void use_chosen() {
        m_fell_back = false;
        if (m_backend->use_devices(m_input, m_output) == 0) return;
        log_line("sound devices \"%s\" / \"%s\" do not open, the default ones play\n",
                 m_input.c_str(), m_output.c_str());
        m_fell_back = true;
        m_backend->use_devices("", "");
    }
    void fall_back(int failed) {
        log_line("sound device failed (%s%s)\n", failed & kDeviceFailedCapture ? "capture " : "",
                 failed & kDeviceFailedPlayback ? "playback" : "");
        report_device_failure(device_kind::lost, make_text(TXT_SOUND_DEVICE_LOST));
        m_fell_back = true;
        // Chosen devices that still work stay; the default one stands in for a failed one.
        m_backend->use_devices(failed & kDeviceFailedCapture ? "" : m_input,
                               failed & kDeviceFailedPlayback ? "" : m_output);
    }
    std::shared_ptr<audio_backend> m_backend;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_want_input, m_want_output;  // guarded by m_mutex
    bool m_chosen = false;                    // guarded by m_mutex
    bool m_changed = false;                   // guarded by m_mutex
    bool m_quit = false;                      // guarded by m_mutex
    std::string m_input, m_output;            // the keeper thread's
    bool m_fell_back = false;                 // the keeper thread's
    bool m_rescan = false;                    // the keeper thread's: cards came or went
    std::thread m_thread;
};
std::unique_ptr<device_keeper> g_keeper;  // created and ended with g_backend, under g_backend_mutex

// The level meter: a capture device of its own, read on the meter's thread.
class mic_meter {
public:
    mic_meter(std::shared_ptr<audio_backend> backend, std::function<void(int)> on_level)
        : m_backend(std::move(backend)), m_on_level(std::move(on_level)) {
        m_thread = std::thread([this] { run(); });
    }
    ~mic_meter() {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
        for (wave_buffer* b : m_filled) delete b;
    }

private:
    void run() {
        std::unique_ptr<wave_in> in = m_backend->make_input();
        std::string error;
        int rc = in->open(
            [this](wave_buffer* b) {
                {
                    std::lock_guard<std::mutex> lk(m_mutex);
                    m_filled.push_back(b);
                }
                m_wake.notify_all();
            },
            &error);
        if (rc != 0) {
            log_line("level meter: no capture device (%s)\n", error.c_str());
            return;
        }
        for (int i = 0; i < 4; i++) {
            auto* b = new wave_buffer;
            b->data.assign(audio::kBufferBytes, 128);
            if (in->add_buffer(b) != 0) delete b;
        }
        if (in->start(&error) == 0) measure(*in);
        in->stop();
        in->reset();
        in->close();
    }
    void measure(wave_in& in) {
        std::unique_lock<std::mutex> lk(m_mutex);
        for (;;) {
            m_wake.wait(lk, [this] { return m_quit || !m_filled.empty(); });
            if (m_quit) return;
            wave_buffer* b = m_filled.front();
            m_filled.pop_front();
            lk.unlock();
            int peak = 0;
            const size_t n =
                std::min(b->data.size(), static_cast<size_t>(std::max(b->recorded, 0)));
            for (size_t i = 0; i < n; i++)
                peak = std::max(peak, std::abs(static_cast<int>(b->data[i]) - 128));
            if (b->recorded > 0) m_on_level(peak);
            b->recorded = 0;
            if (in.add_buffer(b) != 0) delete b;
            lk.lock();
        }
    }
    std::shared_ptr<audio_backend> m_backend;
    std::function<void(int)> m_on_level;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<wave_buffer*> m_filled;  // guarded by m_mutex
    bool m_quit = false;                // guarded by m_mutex
    std::thread m_thread;
};
std::mutex g_meter_mutex;
std::unique_ptr<mic_meter> g_meter;  // guarded by g_meter_mutex
}  // namespace

namespace {
int start_with(std::shared_ptr<audio_backend> backend, const std::string& input,
               const std::string& output) {
    snd_lib_error_set_handler(alsa_to_log);
    sound_queue_init();
    register_voice_commands();
    if (const char* trace = std::getenv("PARLO_VOICE_TRACE")) set_voice_trace_file(trace);
    {
        std::lock_guard<std::mutex> lk(g_backend_mutex);
        g_backend = std::move(backend);
    }
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
    {
        std::lock_guard<std::mutex> lk(g_backend_mutex);
        g_keeper = std::make_unique<device_keeper>(g_backend, input, output);
    }
    return rc;
}
}  // namespace

int start_audio(const audio_config& cfg) {
    if (running_backend()) return 0;
    set_voice_processing(cfg.processing);
    return start_with(make_audio_backend(cfg), cfg.input_device, cfg.output_device);
}

int start_audio_on(std::shared_ptr<audio_backend> backend) {
    if (running_backend()) return 0;
    return start_with(std::move(backend), "", "");
}

void stop_audio() {
    if (!running_backend()) return;
    stop_mic_meter();
    std::unique_ptr<device_keeper> keeper;
    {
        std::lock_guard<std::mutex> lk(g_backend_mutex);
        keeper = std::move(g_keeper);
    }
    keeper.reset();
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
    std::lock_guard<std::mutex> lk(g_backend_mutex);
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

std::vector<std::string> audio_device_names(const audio_config& cfg, bool input) {
    std::shared_ptr<audio_backend> backend = running_backend();
    if (!backend) {
        snd_lib_error_set_handler(alsa_to_log);
        backend = make_audio_backend(cfg);
    }
    return backend->device_names(input);
}

void choose_audio_devices(const std::string& input, const std::string& output) {
    std::lock_guard<std::mutex> lk(g_backend_mutex);
    if (g_keeper) g_keeper->choose(input, output);
}

void audio_devices_changed() {
    {
        // A running service tells the observer once it has looked for the devices anew.
        std::lock_guard<std::mutex> lk(g_backend_mutex);
        if (g_keeper) return g_keeper->devices_changed();
    }
    tell_devices_observer();
}

void set_devices_changed_observer(std::function<void()> observer) {
    std::lock_guard<std::mutex> lk(g_observer_mutex);
    g_devices_observer = std::move(observer);
}

void voice_processing_settings_changed() {
    // The capture path takes the switches up with its next buffer.
    voice_processing p = current_voice_processing();
    load_voice_processing(&p);
    set_voice_processing(p);
}

int start_mic_meter(std::function<void(int level)> on_level) {
    std::shared_ptr<audio_backend> backend = running_backend();
    if (!backend) return -1;
    std::lock_guard<std::mutex> lk(g_meter_mutex);
    g_meter.reset();
    g_meter = std::make_unique<mic_meter>(std::move(backend), std::move(on_level));
    return 0;
}

void stop_mic_meter() {
    std::unique_ptr<mic_meter> meter;
    {
        std::lock_guard<std::mutex> lk(g_meter_mutex);
        meter = std::move(g_meter);
    }
}

int play_test_tone() {
    std::vector<uint8_t> tone(audio::kSampleRate / 2);
    for (size_t i = 0; i < tone.size(); i++) {
        // A soft start and end, so the tone does not click.
        const double edge = std::min<double>({1.0, i / 400.0, (tone.size() - i) / 400.0});
        const double v = std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / audio::kSampleRate);
        tone[i] = static_cast<uint8_t>(std::lround(128 + 80 * edge * v));
    }
    std::lock_guard<std::mutex> lk(g_clips_mutex);
    if (!g_clips) return -1;
    g_clips->play(std::move(tone));
    return 0;
}
