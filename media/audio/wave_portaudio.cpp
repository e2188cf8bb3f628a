// The "portaudio" backend: real devices, the default ones or those named in the settings. The
// stream callbacks copy samples in and out of the queued buffers, which reach them and come back
// on lock-free rings; the callbacks never wait, allocate or free, and a thread of the backend
// hands the finished buffers to the notices.
#include <dlfcn.h>
#include <portaudio.h>
#include <pthread.h>
#include <semaphore.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "media/audio/audio_constants.h"
#include "media/audio/far_end.h"
#include "media/audio/ring.h"
#include "media/audio/wave_device.h"
#include "platform/debug_log.h"
#include "platform/tick.h"

namespace {
// PortAudio's set-up calls are not thread-safe; ten players open their devices at once.
std::mutex g_pa_mutex;

// The JACK client library that PortAudio loads prints its complaints ("jack server is not
// running...") on the terminal when no JACK server runs: they go to the debug log, and no server
// is started for us. The library is used only when it is already loaded with PortAudio.
void jack_to_log(const char* text) {
    log_line("JACK %s\n", text);
}
void quiet_sound_servers() {
    static std::once_flag once;
    std::call_once(once, [] {
        setenv("JACK_NO_START_SERVER", "1", 0);
        using set_function = void (*)(void (*)(const char*));
        for (const char* name : {"jack_set_error_function", "jack_set_info_function"})
            if (void* f = dlsym(RTLD_DEFAULT, name)) reinterpret_cast<set_function>(f)(jack_to_log);
    });
}

// One initialisation of the library for a backend and its devices, made by the first device
// that opens and ended when the backend and every device are gone: a machine whose devices fail
// to open probes its sound systems once, not once per device.
class pa_library {
public:
    ~pa_library() {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (m_up) Pa_Terminate();
    }
    // With g_pa_mutex held.
    PaError ensure_locked() {
        if (m_up) return paNoError;
        quiet_sound_servers();
        PaError err = Pa_Initialize();
        m_up = err == paNoError;
        return err;
    }
    // With g_pa_mutex held and no stream open: the library learns the devices plugged in or
    // taken away since it started (it reads the list only when it starts).
    PaError rescan_locked() {
        if (m_up) {
            Pa_Terminate();
            m_up = false;
        }
        return ensure_locked();
    }

private:
    bool m_up = false;  // guarded by g_pa_mutex
};

// Finds a device by name (input or output), or the default one for an empty name.
PaDeviceIndex find_device(const std::string& name, bool input) {
    if (name.empty()) return input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    int n = Pa_GetDeviceCount();
    for (int i = 0; i < n; i++) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || (input ? info->maxInputChannels : info->maxOutputChannels) < 1) continue;
        if (name == info->name) return i;
    }
    return paNoDevice;
}

// Opens a one-channel 8-bit stream at 8 kHz; returns paNoError or the error.
PaError open_stream(PaStream** s, const std::string& name, bool input, PaStreamCallback* cb,
                    void* user) {
    PaDeviceIndex dev = find_device(name, input);
    if (dev == paNoDevice) return paInvalidDevice;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(dev);
    PaStreamParameters p{};
    p.device = dev;
    p.channelCount = 1;
    p.sampleFormat = paUInt8;
    p.suggestedLatency = input ? info->defaultLowInputLatency : info->defaultLowOutputLatency;
    return Pa_OpenStream(s, input ? &p : nullptr, input ? nullptr : &p, audio::kSampleRate,
                         input ? audio::kBufferBytes : paFramesPerBufferUnspecified, paClipOff, cb,
                         user);
}

int fail(PaError err, std::string* error) {
    *error = Pa_GetErrorText(err);
    return err == 0 ? -1 : err;
}

// A device whose stream callback hands finished buffers back through the relay below.
class pa_device {
public:
    virtual ~pa_device() = default;
    // With the relay's lock held: reports every buffer the callback has finished.
    virtual void deliver_locked() = 0;
};

// Hands the buffers that the stream callbacks finished to their devices' notices. A callback
// only pushes a buffer onto its device's ring and kicks this thread: the kick takes no lock and
// makes at most one system call (a semaphore post). The notices run here, where posting a
// message may take a lock. The thread sleeps until kicked and starts with the first device.
//
// Threads: add, remove and mutex are used by the devices' owner threads, kick by callbacks.
class pa_relay {
public:
    pa_relay() { sem_init(&m_sem, 0, 0); }
    ~pa_relay() {
        m_quit.store(true);
        sem_post(&m_sem);
        if (m_thread.joinable()) m_thread.join();
        sem_destroy(&m_sem);
    }
    // From a stream callback: lock-free and allocation-free.
    void kick() noexcept {
        if (!m_kicked.exchange(true, std::memory_order_acq_rel)) sem_post(&m_sem);
    }
    int add(pa_device* d) {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { run(); });
                pthread_setname_np(m_thread.native_handle(), "snd-relay");
            } catch (...) {
                return -1;
            }
        }
        for (pa_device*& slot : m_devices)
            if (!slot) {
                slot = d;
                return 0;
            }
        return -1;
    }
    // Once this returns, the thread no longer touches d.
    void remove(pa_device* d) {
        std::lock_guard<std::mutex> lk(m_mutex);
        remove_locked(d);
    }
    void remove_locked(pa_device* d) {
        for (pa_device*& slot : m_devices)
            if (slot == d) slot = nullptr;
    }
    // Held by a device that takes its finished buffers back itself (reset, close).
    std::mutex& mutex() { return m_mutex; }

private:
    void run() {
        for (;;) {
            while (sem_wait(&m_sem) != 0 && errno == EINTR) {
            }
            if (m_quit.load()) return;
            // Reading the flag that a callback set makes its pushes visible here.
            m_kicked.exchange(false, std::memory_order_acq_rel);
            std::lock_guard<std::mutex> lk(m_mutex);
            for (pa_device* d : m_devices)
                if (d) d->deliver_locked();
        }
    }
    sem_t m_sem;
    std::atomic<bool> m_kicked{false};
    std::atomic<bool> m_quit{false};
    std::mutex m_mutex;                           // the device table, and each delivery
    pa_device* m_devices[audio::kPlayers + 6]{};  // guarded by m_mutex
    std::thread m_thread;
};

// A stream that has not called back for this long while it should run is taken for dead (an
// unplugged card often stops calling back without an error).
constexpr uint32_t kStallMs = 1500;

// Watches a stream's callback counter: dead when the stream is no longer active, or when the
// counter has not moved for kStallMs. With g_pa_mutex held.
struct progress_watch {
    uint64_t seen = 0;
    uint32_t moved_at = 0;
    void restart(uint64_t calls, uint32_t now) {
        seen = calls;
        moved_at = now;
    }
    bool dead(PaStream* s, uint64_t calls, uint32_t now) {
        if (calls != seen) restart(calls, now);
        return Pa_IsStreamActive(s) != 1 || now - moved_at > kStallMs;
    }
};

// The chosen capture device and the capture devices open on it, which switch with it.
class pa_in;
struct pa_inputs {
    std::string name;          // guarded by g_pa_mutex
    std::vector<pa_in*> open;  // guarded by g_pa_mutex
};

// Empty buffers go to the callback and filled ones come back on two rings: the callback never
// waits, allocates or frees. A capture device holds the 25 buffers of its thread. A device whose
// card went away stays open without a stream (silent) until it is switched or closed.
class pa_in : public wave_in, public pa_device {
public:
    pa_in(std::shared_ptr<pa_inputs> inputs, std::shared_ptr<pa_library> lib,
          std::shared_ptr<pa_relay> relay)
        : m_inputs(std::move(inputs)), m_lib(std::move(lib)), m_relay(std::move(relay)) {}
    ~pa_in() override { close(); }
    int open(wave_notice filled, std::string* error) override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (m_open) return 0;
        PaError err = m_lib->ensure_locked();
        if (err != paNoError) return fail(err, error);
        m_filled = std::move(filled);
        if (m_relay->add(this) != 0) return fail(paInsufficientMemory, error);
        err = open_stream(&m_stream, m_inputs->name, true, &pa_in::callback, this);
        if (err != paNoError) {
            m_stream = nullptr;
            m_relay->remove(this);
            return fail(err, error);
        }
        m_open = true;
        m_inputs->open.push_back(this);
        return 0;
    }
    int add_buffer(wave_buffer* b) override {
        if (!m_open) return -1;  // the owner thread's own field
        return m_free.push(b) ? 0 : -1;
    }
    int start(std::string* error) override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (!m_open) return fail(paBadStreamPtr, error);
        m_started = true;
        if (!m_stream) return 0;  // silent
        m_watch.restart(m_calls.load(), get_tick_count());
        PaError err = Pa_StartStream(m_stream);
        if (err != paNoError) m_started = false;
        return err == paNoError ? 0 : fail(err, error);
    }
    int stop() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        m_started = false;
        if (m_stream && Pa_IsStreamActive(m_stream) == 1)
            return Pa_StopStream(m_stream) == paNoError ? 0 : -1;
        return 0;
    }
    // With g_pa_mutex held: the stream moves to the chosen device, running if it ran. False
    // when it could not (the device is silent then).
    bool switch_locked() {
        close_stream_locked();
        if (open_stream(&m_stream, m_inputs->name, true, &pa_in::callback, this) != paNoError) {
            m_stream = nullptr;
            return false;
        }
        m_watch.restart(m_calls.load(), get_tick_count());
        if (m_started && Pa_StartStream(m_stream) != paNoError) {
            close_stream_locked();
            return false;
        }
        return true;
    }
    bool has_stream_locked() const { return m_stream != nullptr; }
    void close_stream_locked() {
        if (!m_stream) return;
        Pa_AbortStream(m_stream);  // the callback has returned for good after this
        Pa_CloseStream(m_stream);
        m_stream = nullptr;
    }
    // With g_pa_mutex held: true when a stream that should run is dead.
    bool dead_locked(uint32_t now) {
        return m_stream && m_started && m_watch.dead(m_stream, m_calls.load(), now);
    }
    // The stream stops first (the owner stops it before anyway): only then are the buffers the
    // callback holds free to take back.
    int reset() override {
        if (stop() != 0) return -1;
        std::lock_guard<std::mutex> lk(m_relay->mutex());
        deliver_locked();
        give_back_unfilled([this](wave_buffer* b) {
            b->recorded = 0;
            m_filled(b);
        });
        return 0;
    }
    void close() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (!m_open) return;
        close_stream_locked();
        m_open = false;
        m_started = false;
        auto& open = m_inputs->open;
        open.erase(std::remove(open.begin(), open.end(), this), open.end());
        std::lock_guard<std::mutex> lk(m_relay->mutex());
        deliver_locked();  // what was filled is reported, as it would have been
        give_back_unfilled([](wave_buffer* b) { delete b; });
        m_relay->remove_locked(this);
    }
    void deliver_locked() override {
        wave_buffer* b;
        while (m_done.pop(&b)) m_filled(b);
    }

private:
    // With the stream stopped: the buffer being filled, then those still queued.
    template <typename F>
    void give_back_unfilled(F&& f) {
        wave_buffer* b;
        if (m_cur) f(std::exchange(m_cur, nullptr));
        while (m_free.pop(&b)) f(b);
        m_fill = 0;
    }
    static int callback(const void* in, void*, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<pa_in*>(user);
        self->m_calls.fetch_add(1, std::memory_order_relaxed);
        self->take(static_cast<const uint8_t*>(in), static_cast<int>(frames));
        return paContinue;
    }
    void take(const uint8_t* in, int frames) {
        bool finished = false;
        while (in && frames > 0) {
            if (!m_cur) {
                // A buffer is taken only when its way back has room, so the push below holds.
                if (m_done.full() || !m_free.pop(&m_cur)) break;  // this sound is lost
                m_fill = 0;
            }
            int n = std::min(frames, static_cast<int>(m_cur->data.size()) - m_fill);
            std::memcpy(m_cur->data.data() + m_fill, in, static_cast<size_t>(n));
            m_fill += n;
            in += n;
            frames -= n;
            if (m_fill >= static_cast<int>(m_cur->data.size())) {
                m_cur->recorded = m_fill;
                m_cur->capture_tick = get_tick_count();
                m_done.push(m_cur);
                m_cur = nullptr;
                m_fill = 0;
                finished = true;
            }
        }
        if (finished) m_relay->kick();
    }
    std::shared_ptr<pa_inputs> m_inputs;
    std::shared_ptr<pa_library> m_lib;
    std::shared_ptr<pa_relay> m_relay;
    PaStream* m_stream = nullptr;  // guarded by g_pa_mutex
    bool m_open = false;     // changed by the owner thread with g_pa_mutex held
    bool m_started = false;  // guarded by g_pa_mutex
    progress_watch m_watch;  // guarded by g_pa_mutex
    std::atomic<uint64_t> m_calls{0};  // callbacks so far
    wave_notice m_filled;
    spsc_ring<wave_buffer*, 64> m_free;  // owner -> callback
    spsc_ring<wave_buffer*, 64> m_done;  // callback -> relay
    wave_buffer* m_cur = nullptr;        // the callback's while the stream runs
    int m_fill = 0;
};

// The players and the knock share one output stream, mixed: a plain sound card device takes one
// stream at a time. The stream opens with the first output that opens and closes with the last.
// The outputs sit in a fixed table of atomic pointers that the callback reads without a lock;
// an output that leaves it waits until no callback that may have seen it still runs, and is
// never touched by one again. When the card goes away the mixer runs silent: the watchdog's
// calls mix at the real pace into nothing, so the players' buffers keep coming back.
class pa_out;
class pa_mixer {
public:
    explicit pa_mixer(std::shared_ptr<pa_relay> relay) : m_relay(std::move(relay)) {}
    // With g_pa_mutex held (open and close of the outputs). attach gives the output's place.
    int attach_locked(pa_out* out, pa_library& lib, int* place, std::string* error);
    void detach_locked(int place);
    // With g_pa_mutex held: the device the stream plays on from now on ("" = the default one).
    // An open stream moves there; false when it could not (the mixer runs silent then).
    bool switch_locked(const std::string& device);
    // With g_pa_mutex held, from the watchdog: true when the open stream is dead. A silent
    // mixer mixes what is due since the last call instead.
    bool check_locked(uint32_t now);
    bool silent_locked() const { return m_count > 0 && !m_stream; }
    bool has_stream_locked() const { return m_stream != nullptr; }
    void close_stream_locked();
    // Takes an attached output out of the callback's sight for a while, and puts it back.
    void unplug(int place) {
        m_outs[place].store(nullptr);
        wait_for_callback();
    }
    void plug(int place, pa_out* out) { m_outs[place].store(out); }
    pa_relay& relay() { return *m_relay; }

private:
    static constexpr int kPlaces = audio::kPlayers + 4;  // the players, the knock and spares
    static constexpr int kChunk = 1024;                  // frames mixed at a time
    static int callback(const void*, void* out, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        static_cast<pa_mixer*>(user)->mix(static_cast<uint8_t*>(out), static_cast<int>(frames));
        return paContinue;
    }
    void mix(uint8_t* out, int frames);
    PaError open_locked();
    // Returns once a callback that may have read the table before the caller's change has ended.
    void wait_for_callback() {
        uint64_t seen = m_calls.load();
        if (seen & 1)
            while (m_calls.load() == seen) std::this_thread::yield();
    }
    std::shared_ptr<pa_relay> m_relay;
    std::string m_device;          // guarded by g_pa_mutex
    PaStream* m_stream = nullptr;  // guarded by g_pa_mutex; null while silent
    bool m_taken[kPlaces]{};       // guarded by g_pa_mutex
    int m_count = 0;               // guarded by g_pa_mutex
    progress_watch m_watch;        // guarded by g_pa_mutex
    uint32_t m_silent_at = 0;      // guarded by g_pa_mutex: mixed up to here while silent
    std::vector<uint8_t> m_nowhere;  // guarded by g_pa_mutex: what a silent mixer plays
    std::atomic<pa_out*> m_outs[kPlaces]{};
    std::atomic<uint64_t> m_calls{0};  // odd while a callback runs
    std::atomic<int> m_latency{0};     // samples from the callback until they are heard
    far_end::stream_cursor m_heard;    // the callback's
    int m_sum[kChunk]{};               // the callback's
};

class pa_out : public wave_out, public pa_device {
public:
    pa_out(std::shared_ptr<pa_library> lib, std::shared_ptr<pa_mixer> mixer)
        : m_lib(std::move(lib)), m_mixer(std::move(mixer)) {}
    ~pa_out() override { close(); }
    int open(wave_notice done, std::string* error) override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (m_place >= 0) return 0;
        m_done = std::move(done);
        if (m_mixer->relay().add(this) != 0) return fail(paInsufficientMemory, error);
        if (int rc = m_mixer->attach_locked(this, *m_lib, &m_place, error)) {
            m_mixer->relay().remove(this);
            return rc;
        }
        return 0;
    }
    int write(wave_buffer* b) override {
        if (m_place < 0) return -1;  // the owner thread's own field
        return m_written.push(b) ? 0 : -1;
    }
    int reset() override {
        if (m_place < 0) return 0;
        m_mixer->unplug(m_place);
        {
            std::lock_guard<std::mutex> lk(m_mixer->relay().mutex());
            deliver_locked();
            give_back_unplayed([this](wave_buffer* b) { m_done(b); });
        }
        m_mixer->plug(m_place, this);
        return 0;
    }
    void close() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (m_place < 0) return;
        m_mixer->detach_locked(std::exchange(m_place, -1));  // the callback no longer sees it
        std::lock_guard<std::mutex> lk(m_mixer->relay().mutex());
        deliver_locked();  // what was played is reported, as it would have been
        give_back_unplayed([](wave_buffer* b) { delete b; });
        m_mixer->relay().remove_locked(this);
    }
    void deliver_locked() override {
        wave_buffer* b;
        while (m_played.pop(&b)) m_done(b);
    }
    // Called by the mixer's callback: adds the next frames (centred on 0) to sum. True when a
    // buffer was finished (the relay is to be kicked).
    bool add_to(int* sum, int frames) {
        bool finished = false;
        while (frames > 0) {
            if (!m_cur) {
                // A buffer is taken only when its way back has room, so the push below holds.
                if (m_played.full() || !m_written.pop(&m_cur)) break;  // silence
                m_pos = 0;
            }
            const int size = static_cast<int>(m_cur->data.size());
            int n = std::min(frames, size - m_pos);
            const uint8_t* d = m_cur->data.data() + m_pos;
            for (int i = 0; i < n; i++) sum[i] += static_cast<int>(d[i]) - 128;
            m_pos += n;
            sum += n;
            frames -= n;
            if (m_pos >= size) {
                m_played.push(m_cur);
                m_cur = nullptr;
                m_pos = 0;
                finished = true;
            }
        }
        return finished;
    }

private:
    // With the output out of the callback's sight: the buffer being played, then those written.
    template <typename F>
    void give_back_unplayed(F&& f) {
        wave_buffer* b;
        if (m_cur) f(std::exchange(m_cur, nullptr));
        while (m_written.pop(&b)) f(b);
        m_pos = 0;
    }
    std::shared_ptr<pa_library> m_lib;
    std::shared_ptr<pa_mixer> m_mixer;
    wave_notice m_done;
    int m_place = -1;  // in the mixer while >= 0; the owner thread's, changed with g_pa_mutex held
    // A clip of up to half a minute can be written at once.
    spsc_ring<wave_buffer*, 256> m_written;  // owner -> callback
    spsc_ring<wave_buffer*, 256> m_played;   // callback -> relay
    wave_buffer* m_cur = nullptr;            // the callback's while the output is in the mixer
    int m_pos = 0;
};

PaError pa_mixer::open_locked() {
    PaError err = open_stream(&m_stream, m_device, false, &pa_mixer::callback, this);
    m_watch.restart(m_calls.load(), get_tick_count());
    if (err == paNoError) {
        // The far-end reference places what is mixed when it will be heard.
        if (const PaStreamInfo* si = Pa_GetStreamInfo(m_stream))
            m_latency.store(static_cast<int>(si->outputLatency * audio::kSampleRate));
        err = Pa_StartStream(m_stream);
    }
    if (err != paNoError) {
        if (m_stream) Pa_CloseStream(m_stream);
        m_stream = nullptr;
    }
    return err;
}

void pa_mixer::close_stream_locked() {
    if (!m_stream) return;
    Pa_AbortStream(m_stream);  // the callback has returned for good after this
    Pa_CloseStream(m_stream);
    m_stream = nullptr;
}

int pa_mixer::attach_locked(pa_out* out, pa_library& lib, int* place, std::string* error) {
    int free_place = -1;
    for (int i = 0; i < kPlaces && free_place < 0; i++)
        if (!m_taken[i]) free_place = i;
    if (free_place < 0) return fail(paDeviceUnavailable, error);
    // The first output opens the stream; later ones join it, or the silence it fell into.
    if (m_count == 0) {
        PaError err = lib.ensure_locked();
        if (err == paNoError) err = open_locked();
        if (err != paNoError) return fail(err, error);
    }
    m_taken[free_place] = true;
    m_count++;
    *place = free_place;
    m_outs[free_place].store(out);
    return 0;
}

void pa_mixer::detach_locked(int place) {
    unplug(place);
    m_taken[place] = false;
    if (--m_count > 0) return;
    close_stream_locked();
}

bool pa_mixer::switch_locked(const std::string& device) {
    m_device = device;
    if (m_count == 0) return true;  // the next output opens it
    close_stream_locked();
    if (open_locked() == paNoError) return true;
    m_silent_at = get_tick_count();
    return false;
}

bool pa_mixer::check_locked(uint32_t now) {
    if (m_count == 0) return false;
    if (m_stream) return m_watch.dead(m_stream, m_calls.load(), now);
    // Silent: what the card would have played since the last look, at most a second of it.
    const uint32_t ms = std::min<uint32_t>(now - m_silent_at, 1000);
    const int frames = static_cast<int>(ms * audio::kSampleRate / 1000);
    if (frames <= 0) return false;
    m_silent_at = now;
    m_nowhere.resize(static_cast<size_t>(frames));
    mix(m_nowhere.data(), frames);
    return false;
}

void pa_mixer::mix(uint8_t* out, int frames) {
    m_calls.fetch_add(1);  // odd: the table is being read
    bool finished = false;
    // What is mixed goes to the echo canceller's reference, placed when it will be heard.
    uint64_t heard = m_heard.place(
        far_end::position_of(get_tick_count()) + static_cast<uint64_t>(m_latency.load()), frames);
    while (frames > 0) {
        const int n = std::min(frames, kChunk);
        std::fill(m_sum, m_sum + n, 0);
        for (std::atomic<pa_out*>& slot : m_outs)
            if (pa_out* o = slot.load()) finished |= o->add_to(m_sum, n);
        for (int i = 0; i < n; i++)
            out[i] = static_cast<uint8_t>(std::clamp(m_sum[i], -128, 127) + 128);
        far_end::push_u8(out, n, heard);
        heard += static_cast<uint64_t>(n);
        out += n;
        frames -= n;
    }
    m_calls.fetch_add(1);
    if (finished) m_relay->kick();
}

class pa_backend : public audio_backend {
public:
    explicit pa_backend(const audio_config& cfg) {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        m_inputs->name = cfg.input_device;
        m_mixer->switch_locked(cfg.output_device);
    }
    const char* name() const override { return "portaudio"; }
    std::unique_ptr<wave_in> make_input() override {
        return std::make_unique<pa_in>(m_inputs, m_lib, m_relay);
    }
    std::unique_ptr<wave_out> make_output(int) override {
        return std::make_unique<pa_out>(m_lib, m_mixer);
    }
    std::vector<std::string> device_names(bool input) override {
        std::vector<std::string> names;
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (rescan_if_idle_locked() != paNoError) return names;
        for (int i = 0; i < Pa_GetDeviceCount(); i++) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info && (input ? info->maxInputChannels : info->maxOutputChannels) > 0)
                names.emplace_back(info->name);
        }
        return names;
    }
    int use_devices(const std::string& input, const std::string& output) override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        // Every stream closes first: the library reads the devices anew only while none is open,
        // and a card plugged in since it started is found then. The streams keep their buffers.
        m_mixer->close_stream_locked();
        for (pa_in* in : m_inputs->open) in->close_stream_locked();
        m_lib->rescan_locked();
        int rc = m_mixer->switch_locked(output) ? 0 : -1;
        m_inputs->name = input;
        for (pa_in* in : m_inputs->open)
            if (!in->switch_locked()) rc = -1;
        return rc;
    }
    int check_devices() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        const uint32_t now = get_tick_count();
        int failed = m_mixer->check_locked(now) ? kDeviceFailedPlayback : 0;
        for (pa_in* in : m_inputs->open)
            if (in->dead_locked(now)) failed |= kDeviceFailedCapture;
        return failed;
    }
    // A silent output is paced by these looks; a live stream needs only a look now and then
    // to find that it stopped.
    int check_period_ms() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        return m_mixer->silent_locked() ? 200 : 1000;
    }
    std::vector<std::string> list_devices() override {
        std::vector<std::string> lines;
        std::lock_guard<std::mutex> g(g_pa_mutex);
        quiet_sound_servers();
        PaError err = Pa_Initialize();
        if (err != paNoError) {
            lines.push_back(std::string("portaudio: ") + Pa_GetErrorText(err));
            return lines;
        }
        PaDeviceIndex din = Pa_GetDefaultInputDevice(), dout = Pa_GetDefaultOutputDevice();
        for (int i = 0; i < Pa_GetDeviceCount(); i++) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (!info) continue;
            std::string kind;
            if (info->maxInputChannels > 0) kind += i == din ? "input (default) " : "input ";
            if (info->maxOutputChannels > 0) kind += i == dout ? "output (default) " : "output ";
            if (kind.empty()) continue;
            const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
            lines.push_back(kind + "\t" + info->name + "\t(" + (api ? api->name : "?") + ")");
        }
        Pa_Terminate();
        return lines;
    }

private:
    // With g_pa_mutex held: a new scan of the devices when no stream is open, else the library
    // as it is (the list it read when it started).
    PaError rescan_if_idle_locked() {
        bool idle = !m_mixer->has_stream_locked();
        for (pa_in* in : m_inputs->open) idle = idle && !in->has_stream_locked();
        return idle ? m_lib->rescan_locked() : m_lib->ensure_locked();
    }
    std::shared_ptr<pa_inputs> m_inputs = std::make_shared<pa_inputs>();
    std::shared_ptr<pa_library> m_lib = std::make_shared<pa_library>();
    std::shared_ptr<pa_relay> m_relay = std::make_shared<pa_relay>();
    std::shared_ptr<pa_mixer> m_mixer = std::make_shared<pa_mixer>(m_relay);
};
}  // namespace

std::unique_ptr<audio_backend> make_portaudio_backend(const audio_config& cfg) {
    return std::make_unique<pa_backend>(cfg);
}
