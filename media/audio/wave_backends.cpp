// The "null" and "wav" backends, the backend choice and the settings.
#include <sndfile.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "media/audio/audio_constants.h"
#include "media/audio/far_end.h"
#include "media/audio/wave_paced.h"
#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/tick.h"
#include "protocol/settings_store.h"

namespace {

class null_in : public paced_wave_in {
    void fill(uint8_t* out, int n) override { std::memset(out, 128, static_cast<size_t>(n)); }
};
class null_out : public paced_wave_out {};

class null_backend : public audio_backend {
public:
    const char* name() const override { return "null"; }
    std::unique_ptr<wave_in> make_input() override { return std::make_unique<null_in>(); }
    std::unique_ptr<wave_out> make_output(int) override { return std::make_unique<null_out>(); }
    std::vector<std::string> list_devices() override { return {"null: silence in, nothing out"}; }
    int check_period_ms() override { return 0; }  // nothing that could go
};

}  // namespace

int load_as_voice(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
        *error = std::string("cannot read ") + path + ": " + sf_strerror(nullptr);
        return -1;
    }
    out->clear();
    if (info.samplerate == audio::kSampleRate && info.channels == 1 &&
        (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8 &&
        (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
        out->resize(static_cast<size_t>(info.frames));
        sf_count_t got = sf_read_raw(f, out->data(), info.frames);
        out->resize(static_cast<size_t>(std::max<sf_count_t>(got, 0)));
        sf_close(f);
        return 0;
    }
    std::vector<float> frames(static_cast<size_t>(info.frames) *
                              static_cast<size_t>(info.channels));
    sf_count_t got = sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    std::vector<float> mono(static_cast<size_t>(std::max<sf_count_t>(got, 0)));
    for (size_t i = 0; i < mono.size(); i++) {
        float sum = 0;
        for (int c = 0; c < info.channels; c++)
            sum += frames[i * static_cast<size_t>(info.channels) + static_cast<size_t>(c)];
        mono[i] = sum / static_cast<float>(info.channels);
    }
    std::vector<float> resampled;
    if (info.samplerate != audio::kSampleRate) {
        int err = 0;
        SpeexResamplerState* rs = speex_resampler_init(
            1, static_cast<spx_uint32_t>(info.samplerate), audio::kSampleRate, 5, &err);
        if (!rs) {
            *error = std::string("resampler: ") + speex_resampler_strerror(err);
            return -1;
        }
        resampled.resize(mono.size() * audio::kSampleRate / static_cast<size_t>(info.samplerate) +
                         64);
        spx_uint32_t in_len = static_cast<spx_uint32_t>(mono.size());
        spx_uint32_t out_len = static_cast<spx_uint32_t>(resampled.size());
        speex_resampler_process_float(rs, 0, mono.data(), &in_len, resampled.data(), &out_len);
        resampled.resize(out_len);
        speex_resampler_destroy(rs);
    } else {
        resampled.swap(mono);
    }
    out->resize(resampled.size());
    for (size_t i = 0; i < resampled.size(); i++) {
        long v = std::lrint(resampled[i] * 128.0f) + 128;
        (*out)[i] = static_cast<uint8_t>(std::clamp(v, 0L, 255L));
    }
    return 0;
}

namespace {

// The capture file (or silence without one), with the simulated room's echo of what the outputs
// play added when a room is set.
class wav_in : public paced_wave_in {
public:
    wav_in(std::string path, bool loop, int room_delay_ms, double room_gain)
        : m_path(std::move(path)),
          m_loop(loop),
          m_room_delay(static_cast<uint64_t>(room_delay_ms) * far_end::kSamplesPerMs),
          m_room_gain(room_gain) {}

private:
    int prepare(std::string* error) override {
        if (!m_samples.empty() || m_path.empty()) return 0;
        if (load_as_voice(m_path, &m_samples, error) != 0) return 1;
        if (m_samples.empty()) {
            *error = m_path + " holds no sound";
            return 1;
        }
        return 0;
    }
    void fill(uint8_t* out, int n) override {
        read_file(out, n);
        if (m_room_gain > 0) add_room(out, n);
    }
    void read_file(uint8_t* out, int n) {
        for (int i = 0; i < n; i++) {
            if (m_pos >= m_samples.size()) {
                if (!m_loop || m_samples.empty()) {
                    std::memset(out + i, 128, static_cast<size_t>(n - i));
                    return;
                }
                m_pos = 0;
            }
            out[i] = m_samples[m_pos++];
        }
    }
    // The buffer is finished now: its samples are those of the last n, and what played
    // room_delay earlier is heard in them.
    void add_room(uint8_t* out, int n) {
        int16_t heard[audio::kBufferBytes];
        uint64_t end = far_end::position_of(get_tick_count());
        for (int at = 0; at < n; at += audio::kBufferBytes) {
            const int k = std::min(n - at, audio::kBufferBytes);
            const uint64_t back = static_cast<uint64_t>(n - at) + m_room_delay;
            if (end < back) continue;
            far_end::read(heard, k, end - back);
            for (int i = 0; i < k; i++) {
                long v = std::lround(out[at + i] - 128 + m_room_gain * heard[i] / 256.0);
                out[at + i] = static_cast<uint8_t>(std::clamp(v, -128L, 127L) + 128);
            }
        }
    }
    std::string m_path;
    bool m_loop;
    uint64_t m_room_delay;
    double m_room_gain;
    std::vector<uint8_t> m_samples;
    size_t m_pos = 0;
};

// One output file per remote speaker, shared by whichever players play that speaker.
class wav_sink {
public:
    explicit wav_sink(SNDFILE* f) : m_file(f) {}
    ~wav_sink() { sf_close(m_file); }
    void write(const uint8_t* data, int n) {
        std::lock_guard<std::mutex> lk(m_mutex);
        sf_write_raw(m_file, data, n);
    }

private:
    std::mutex m_mutex;  // guards only this file
    SNDFILE* m_file;
};

class wav_sinks {
public:
    explicit wav_sinks(std::string dir) : m_dir(std::move(dir)) {}
    std::shared_ptr<wav_sink> for_peer(int peer_id) {
        std::lock_guard<std::mutex> lk(m_mutex);
        auto it = m_sinks.find(peer_id);
        if (it != m_sinks.end()) return it->second;
        std::string path = m_dir + "/peer_" + std::to_string(peer_id) + ".wav";
        SF_INFO info{};
        info.samplerate = audio::kSampleRate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!f) {
            log_line("cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
            return nullptr;
        }
        // Keep the header current, so the file can be read while it grows.
        sf_command(f, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
        auto sink = std::make_shared<wav_sink>(f);
        m_sinks[peer_id] = sink;
        return sink;
    }

private:
    std::mutex m_mutex;
    std::string m_dir;
    std::map<int, std::shared_ptr<wav_sink>> m_sinks;
};

class wav_out : public paced_wave_out {
public:
    explicit wav_out(std::shared_ptr<wav_sinks> sinks) : m_sinks(std::move(sinks)) {}

private:
    void consume(const wave_buffer& b) override {
        if (!m_sinks) return;
        if (b.peer_id != m_peer || !m_sink) {
            m_sink = m_sinks->for_peer(b.peer_id);
            m_peer = b.peer_id;
        }
        if (m_sink) m_sink->write(b.data.data(), static_cast<int>(b.data.size()));
    }
    void closing() override { m_sink.reset(); }
    std::shared_ptr<wav_sinks> m_sinks;
    std::shared_ptr<wav_sink> m_sink;
    int m_peer = 0;
};

class wav_backend : public audio_backend {
public:
    explicit wav_backend(const audio_config& cfg) : m_cfg(cfg) {
        if (!cfg.output_dir.empty()) {
            make_dirs(cfg.output_dir);
            m_sinks = std::make_shared<wav_sinks>(cfg.output_dir);
        }
    }
    const char* name() const override { return "wav"; }
    std::unique_ptr<wave_in> make_input() override {
        if (m_cfg.input_file.empty() && m_cfg.room_gain <= 0) return std::make_unique<null_in>();
        return std::make_unique<wav_in>(m_cfg.input_file, m_cfg.input_loop, m_cfg.room_delay_ms,
                                        m_cfg.room_gain);
    }
    std::unique_ptr<wave_out> make_output(int) override {
        return std::make_unique<wav_out>(m_sinks);
    }
    std::vector<std::string> list_devices() override {
        return {"wav input: " +
                    (m_cfg.input_file.empty() ? std::string("(silence)") : m_cfg.input_file),
                "wav output folder: " +
                    (m_cfg.output_dir.empty() ? std::string("(discarded)") : m_cfg.output_dir)};
    }
    int check_period_ms() override { return 0; }  // files do not go away mid-call

private:
    audio_config m_cfg;
    std::shared_ptr<wav_sinks> m_sinks;
};

std::string setting(const char* name) {
    char buf[512];
    if (reg_read("media", name, buf, sizeof(buf)) == 0) return buf;
    return "";
}

}  // namespace

void load_audio_settings(audio_config* cfg) {
    std::string v;
    if (!(v = setting("audio_backend")).empty()) cfg->backend = v;
    if (!(v = setting("audio_input")).empty()) cfg->input_device = v;
    if (!(v = setting("audio_output")).empty()) cfg->output_device = v;
    if (!(v = setting("audio_in_file")).empty()) cfg->input_file = v;
    if (!(v = setting("audio_out_dir")).empty()) cfg->output_dir = v;
    if (!(v = setting("audio_room_echo")).empty() &&
        !parse_room(v, &cfg->room_delay_ms, &cfg->room_gain))
        log_line("audio_room_echo %s is not DELAY_MS:GAIN\n", v.c_str());
    load_voice_processing(&cfg->processing);
}

bool parse_room(const std::string& text, int* delay_ms, double* gain) {
    int d = 0;
    double g = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d:%lf%c", &d, &g, &tail) != 2) return false;
    if (d < 0 || d > 2000 || !(g >= 0 && g <= 1)) return false;
    *delay_ms = d;
    *gain = g;
    return true;
}

std::unique_ptr<audio_backend> make_null_backend() {
    return std::make_unique<null_backend>();
}
std::unique_ptr<audio_backend> make_wav_backend(const audio_config& cfg) {
    return std::make_unique<wav_backend>(cfg);
}

std::unique_ptr<audio_backend> make_audio_backend(const audio_config& cfg) {
    if (cfg.backend == "wav") return make_wav_backend(cfg);
    if (cfg.backend == "null") return make_null_backend();
    if (cfg.backend == "portaudio") return make_portaudio_backend(cfg);
    log_line("unknown audio backend %s, using null\n", cfg.backend.c_str());
    return make_null_backend();
}

void apply_gain(uint8_t* samples, int n, uint32_t volume) {
    if (volume >= 0xFFFF) return;
    for (int i = 0; i < n; i++) {
        int centred = static_cast<int>(samples[i]) - 128;
        samples[i] = static_cast<uint8_t>(128 + centred * static_cast<int>(volume) / 0xFFFF);
    }
}
