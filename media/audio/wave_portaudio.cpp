// The "portaudio" backend: real devices, the default ones or those named in the settings. The
// stream callbacks copy samples in and out of the queued buffers and hand finished ones back
// through the notice; they never wait on anything but the device's own short lock.
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "media/audio/audio_constants.h"
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

class pa_in : public wave_in {
public:
    pa_in(std::string name, std::shared_ptr<pa_library> lib)
        : m_name(std::move(name)), m_lib(std::move(lib)) {}
    ~pa_in() override { close(); }
    int open(wave_notice filled, std::string* error) override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (m_stream) return 0;
        PaError err = m_lib->ensure_locked();
        if (err != paNoError) return fail(err, error);
        m_filled = std::move(filled);
        err = open_stream(&m_stream, m_name, true, &pa_in::callback, this);
        if (err != paNoError) {
            m_stream = nullptr;
            return fail(err, error);
        }
        return 0;
    }
    int add_buffer(wave_buffer* b) override {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_stream) return -1;
        m_queued.push_back(b);
        return 0;
    }
    int start(std::string* error) override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        PaError err = m_stream ? Pa_StartStream(m_stream) : paBadStreamPtr;
        return err == paNoError ? 0 : fail(err, error);
    }
    int stop() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (m_stream && Pa_IsStreamActive(m_stream) == 1)
            return Pa_StopStream(m_stream) == paNoError ? 0 : -1;
        return 0;
    }
    int reset() override {
        std::deque<wave_buffer*> back;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            back.swap(m_queued);
            m_fill = 0;
        }
        for (wave_buffer* b : back) {
            b->recorded = 0;
            m_filled(b);
        }
        return 0;
    }
    void close() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (!m_stream) return;
        Pa_AbortStream(m_stream);  // the callback has returned for good after this
        Pa_CloseStream(m_stream);
        m_stream = nullptr;
        std::lock_guard<std::mutex> lk(m_mutex);
        for (wave_buffer* b : m_queued) delete b;
        m_queued.clear();
    }

private:
    static int callback(const void* in, void*, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        static_cast<pa_in*>(user)->take(static_cast<const uint8_t*>(in), static_cast<int>(frames));
        return paContinue;
    }
    void take(const uint8_t* in, int frames) {
        while (in && frames > 0) {
            wave_buffer* done = nullptr;
            {
                std::lock_guard<std::mutex> lk(m_mutex);
                if (m_queued.empty()) return;  // no buffer queued: this sound is lost
                wave_buffer* b = m_queued.front();
                int n = std::min(frames, static_cast<int>(b->data.size()) - m_fill);
                std::memcpy(b->data.data() + m_fill, in, static_cast<size_t>(n));
                m_fill += n;
                in += n;
                frames -= n;
                if (m_fill >= static_cast<int>(b->data.size())) {
                    m_queued.pop_front();
                    b->recorded = m_fill;
                    b->capture_tick = get_tick_count();
                    m_fill = 0;
                    done = b;
                }
            }
            if (done) m_filled(done);
        }
    }
    std::string m_name;
    std::shared_ptr<pa_library> m_lib;
    PaStream* m_stream = nullptr;
    wave_notice m_filled;
    std::mutex m_mutex;  // the queue, shared with the callback
    std::deque<wave_buffer*> m_queued;
    int m_fill = 0;
};

// The players and the knock share one output stream, mixed: a plain sound card device takes one
// stream at a time. The stream opens with the first output that opens and closes with the last.
// Its callback holds the list's lock while it uses the outputs, so an output that closes is never
// touched again once it has left the list.
class pa_out;
class pa_mixer {
public:
    // With g_pa_mutex held (open and close of the outputs).
    int attach_locked(pa_out* out, const std::string& device, pa_library& lib, std::string* error);
    void detach_locked(pa_out* out);

private:
    static int callback(const void*, void* out, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        static_cast<pa_mixer*>(user)->mix(static_cast<uint8_t*>(out), static_cast<int>(frames));
        return paContinue;
    }
    void mix(uint8_t* out, int frames);
    PaStream* m_stream = nullptr;  // guarded by g_pa_mutex
    std::mutex m_mutex;            // the list, shared with the callback
    std::vector<pa_out*> m_outs;
    std::vector<int> m_sum;  // the callback's
};

class pa_out : public wave_out {
public:
    pa_out(std::string name, std::shared_ptr<pa_library> lib, std::shared_ptr<pa_mixer> mixer)
        : m_name(std::move(name)), m_lib(std::move(lib)), m_mixer(std::move(mixer)) {}
    ~pa_out() override { close(); }
    int open(wave_notice done, std::string* error) override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        if (m_attached) return 0;
        m_done = std::move(done);
        if (int rc = m_mixer->attach_locked(this, m_name, *m_lib, error)) return rc;
        std::lock_guard<std::mutex> lk(m_mutex);
        m_attached = true;
        return 0;
    }
    int write(wave_buffer* b) override {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_attached) return -1;
        m_written.push_back(b);
        return 0;
    }
    int reset() override {
        std::deque<wave_buffer*> back;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            back.swap(m_written);
            m_pos = 0;
        }
        for (wave_buffer* b : back) m_done(b);
        return 0;
    }
    void close() override {
        std::lock_guard<std::mutex> g(g_pa_mutex);
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (!m_attached) return;
            m_attached = false;
        }
        m_mixer->detach_locked(this);  // the callback no longer sees this output
        std::lock_guard<std::mutex> lk(m_mutex);
        for (wave_buffer* b : m_written) delete b;
        m_written.clear();
        m_pos = 0;
    }
    // Called by the mixer's callback: adds the next frames (centred on 0) to sum and hands every
    // finished buffer back.
    void add_to(int* sum, int frames) {
        while (frames > 0) {
            wave_buffer* done = nullptr;
            {
                std::lock_guard<std::mutex> lk(m_mutex);
                if (m_written.empty()) return;  // nothing to play: silence
                wave_buffer* b = m_written.front();
                int n = std::min(frames, static_cast<int>(b->data.size()) - m_pos);
                for (int i = 0; i < n; i++) sum[i] += static_cast<int>(b->data[m_pos + i]) - 128;
                m_pos += n;
                sum += n;
                frames -= n;
                if (m_pos >= static_cast<int>(b->data.size())) {
                    m_written.pop_front();
                    m_pos = 0;
                    done = b;
                }
            }
            if (done) m_done(done);
        }
    }

private:
    std::string m_name;
    std::shared_ptr<pa_library> m_lib;
    std::shared_ptr<pa_mixer> m_mixer;
    wave_notice m_done;
    bool m_attached = false;  // guarded by m_mutex; changed with g_pa_mutex held too
    std::mutex m_mutex;
    std::deque<wave_buffer*> m_written;
    int m_pos = 0;
};

int pa_mixer::attach_locked(pa_out* out, const std::string& device, pa_library& lib,
                            std::string* error) {
    if (!m_stream) {
        PaError err = lib.ensure_locked();
        if (err != paNoError) return fail(err, error);
        err = open_stream(&m_stream, device, false, &pa_mixer::callback, this);
        if (err == paNoError) err = Pa_StartStream(m_stream);
        if (err != paNoError) {
            if (m_stream) Pa_CloseStream(m_stream);
            m_stream = nullptr;
            return fail(err, error);
        }
    }
    std::lock_guard<std::mutex> lk(m_mutex);
    m_outs.push_back(out);
    return 0;
}

void pa_mixer::detach_locked(pa_out* out) {
    bool last;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_outs.erase(std::remove(m_outs.begin(), m_outs.end(), out), m_outs.end());
        last = m_outs.empty();
    }
    if (!last || !m_stream) return;
    Pa_AbortStream(m_stream);  // the callback has returned for good after this
    Pa_CloseStream(m_stream);
    m_stream = nullptr;
}

void pa_mixer::mix(uint8_t* out, int frames) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_sum.assign(static_cast<size_t>(frames), 0);
    for (pa_out* o : m_outs) o->add_to(m_sum.data(), frames);
    for (int i = 0; i < frames; i++)
        out[i] = static_cast<uint8_t>(std::clamp(m_sum[static_cast<size_t>(i)], -128, 127) + 128);
}

class pa_backend : public audio_backend {
public:
    explicit pa_backend(const audio_config& cfg) : m_cfg(cfg) {}
    const char* name() const override { return "portaudio"; }
    std::unique_ptr<wave_in> make_input() override {
        return std::make_unique<pa_in>(m_cfg.input_device, m_lib);
    }
    std::unique_ptr<wave_out> make_output(int) override {
        return std::make_unique<pa_out>(m_cfg.output_device, m_lib, m_mixer);
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
    audio_config m_cfg;
    std::shared_ptr<pa_library> m_lib = std::make_shared<pa_library>();
    std::shared_ptr<pa_mixer> m_mixer = std::make_shared<pa_mixer>();
};
}  // namespace

std::unique_ptr<audio_backend> make_portaudio_backend(const audio_config& cfg) {
    return std::make_unique<pa_backend>(cfg);
}
