#include "media/audio/voice_dsp.h"

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <strings.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "media/audio/far_end.h"
#include "protocol/settings_store.h"

namespace {
std::atomic<bool> g_echo_cancel{true};
std::atomic<bool> g_noise_suppression{true};
std::atomic<bool> g_auto_gain{true};
std::atomic<bool> g_send_silence_for_noise{false};
std::atomic<int> g_echo_delay_ms{0};

constexpr int kFrames = voice_processor::kSamples / voice_processor::kFrame;
constexpr double kSpeechStart = 2.5;  // frame power over the noise estimate's (4 dB)
constexpr double kSpeechGoesOn = 1.6;
constexpr int kHangoverBuffers = 2;
static_assert(voice_processor::kSamples % voice_processor::kFrame == 0);
}  // namespace

void set_voice_processing(const voice_processing& p) {
    g_echo_cancel.store(p.echo_cancel);
    g_noise_suppression.store(p.noise_suppression);
    g_auto_gain.store(p.auto_gain);
    g_send_silence_for_noise.store(p.send_silence_for_noise);
    g_echo_delay_ms.store(std::clamp(p.echo_delay_ms, 0, 2000));
}

voice_processing current_voice_processing() {
    voice_processing p;
    p.echo_cancel = g_echo_cancel.load();
    p.noise_suppression = g_noise_suppression.load();
    p.auto_gain = g_auto_gain.load();
    p.send_silence_for_noise = g_send_silence_for_noise.load();
    p.echo_delay_ms = g_echo_delay_ms.load();
    return p;
}

bool parse_on_off(const char* text, bool* out) {
    for (const char* on : {"on", "1", "true", "yes"})
        if (strcasecmp(text, on) == 0) return *out = true, true;
    for (const char* off : {"off", "0", "false", "no"})
        if (strcasecmp(text, off) == 0) return *out = false, true;
    return false;
}

void load_voice_processing(voice_processing* p) {
    char buf[64];
    auto flag = [&buf](const char* name, bool* dst) {
        if (reg_read("media", name, buf, sizeof(buf)) == 0) parse_on_off(buf, dst);
    };
    flag("echo_cancel", &p->echo_cancel);
    flag("noise_suppression", &p->noise_suppression);
    flag("auto_gain", &p->auto_gain);
    flag("send_silence_for_noise", &p->send_silence_for_noise);
    int delay = 0;
    if (reg_read_int("media", "echo_delay_ms", &delay) == 0) p->echo_delay_ms = delay;
}

void save_voice_processing(const voice_processing& p) {
    reg_write("media", "echo_cancel", p.echo_cancel ? "on" : "off");
    reg_write("media", "noise_suppression", p.noise_suppression ? "on" : "off");
    reg_write("media", "auto_gain", p.auto_gain ? "on" : "off");
    reg_write("media", "send_silence_for_noise", p.send_silence_for_noise ? "on" : "off");
    reg_write_int("media", "echo_delay_ms", p.echo_delay_ms);
}

// The speex states and the scratch buffers, made once.
struct voice_processor::state {
    SpeexEchoState* echo = nullptr;
    SpeexPreprocessState* pre = nullptr;
    bool echo_linked = false;
    bool echo_was_on = false;
    int denoise = -1;  // what the preprocessor was last told (-1: nothing yet)
    int agc = -1;
    bool can_judge = false;
    bool was_speech = false;
    int hangover = 0;
    spx_int32_t psd[kFrame];
    spx_int32_t noise[kFrame];
    int16_t pcm[kSamples];
    int16_t far[kSamples];
    int16_t out[kFrame];
};

voice_processor::voice_processor() : m(std::make_unique<state>()) {
    m->echo = speex_echo_state_init(kFrame, kTail);
    int rate = audio::kSampleRate;
    speex_echo_ctl(m->echo, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    m->pre = speex_preprocess_state_init(kFrame, audio::kSampleRate);
    float level = kAgcLevel;
    speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_SET_AGC_LEVEL, &level);
    int suppress = kNoiseSuppressDb;
    speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppress);
    // The spectra read for the speech judgement hold one value per sample of a frame; a library
    // that has them otherwise judges nothing (every buffer counts as speech).
    int psd_size = 0, noise_size = 0;
    speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_GET_PSD_SIZE, &psd_size);
    speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_GET_NOISE_PSD_SIZE, &noise_size);
    m->can_judge = psd_size == kFrame && noise_size == kFrame;
}

voice_processor::~voice_processor() {
    speex_preprocess_state_destroy(m->pre);
    speex_echo_state_destroy(m->echo);
}

void voice_processor::restart() {
    speex_echo_state_reset(m->echo);
}

bool voice_processor::process(uint8_t* samples, uint32_t capture_tick, const voice_processing& p) {
    if (!p.echo_cancel && !p.noise_suppression && !p.auto_gain && !p.send_silence_for_noise)
        return true;
    int16_t* pcm = m->pcm;
    for (int i = 0; i < kSamples; i++) pcm[i] = static_cast<int16_t>((samples[i] - 128) * 256);
    bool speech = process_pcm(pcm, capture_tick, p);
    for (int i = 0; i < kSamples; i++) {
        int v = (pcm[i] + 128) >> 8;  // rounds to the nearest step; 0 gives 128 again
        samples[i] = static_cast<uint8_t>(std::clamp(v, -128, 127) + 128);
    }
    return speech;
}

bool voice_processor::process_pcm(int16_t* pcm, uint32_t capture_tick, const voice_processing& p) {
    if (p.echo_cancel) {
        if (!m->echo_was_on) speex_echo_state_reset(m->echo);
        // The buffer's samples were heard during the kSamples before the device finished it;
        // their echo comes from what played echo_delay_ms earlier.
        if (capture_tick != 0) {
            const uint64_t end = far_end::position_of(capture_tick);
            const uint64_t back =
                static_cast<uint64_t>(kSamples + p.echo_delay_ms * far_end::kSamplesPerMs);
            if (end >= back)
                far_end::read(m->far, kSamples, end - back);
            else
                std::memset(m->far, 0, sizeof(m->far));
        } else {
            std::memset(m->far, 0, sizeof(m->far));
        }
        for (int f = 0; f < kFrames; f++) {
            int16_t* frame = pcm + f * kFrame;
            speex_echo_cancellation(m->echo, frame, m->far + f * kFrame, m->out);
            std::memcpy(frame, m->out, sizeof(m->out));
        }
    }
    m->echo_was_on = p.echo_cancel;
    const bool judge = p.noise_suppression || p.auto_gain || p.send_silence_for_noise;
    if (!judge) return true;
    // Residual echo is suppressed with the noise when the canceller runs.
    if (p.echo_cancel != m->echo_linked) {
        speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_SET_ECHO_STATE,
                             p.echo_cancel ? m->echo : nullptr);
        m->echo_linked = p.echo_cancel;
    }
    int denoise = p.noise_suppression ? 1 : 0, agc = p.auto_gain ? 1 : 0;
    if (denoise != m->denoise) {
        speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_SET_DENOISE, &denoise);
        m->denoise = denoise;
    }
    if (agc != m->agc) {
        speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_SET_AGC, &agc);
        m->agc = agc;
    }
    // A frame is speech when its power passes the noise estimate's kSpeechStart times, or
    // kSpeechGoesOn times right after speech; the buffer is speech when one of its frames is.
    bool speech = !m->can_judge;
    for (int f = 0; f < kFrames; f++) {
        speex_preprocess_run(m->pre, pcm + f * kFrame);
        if (!m->can_judge) continue;
        speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_GET_PSD, m->psd);
        speex_preprocess_ctl(m->pre, SPEEX_PREPROCESS_GET_NOISE_PSD, m->noise);
        double sound = 0, noise = 1;
        for (int i = 2; i < kFrame; i++) sound += m->psd[i], noise += m->noise[i];
        const double ratio = sound / noise;
        m->was_speech = ratio >= (m->was_speech ? kSpeechGoesOn : kSpeechStart);
        speech = speech || m->was_speech;
    }
    // The quiet ends of words: a buffer after speech counts as speech too.
    if (speech)
        m->hangover = kHangoverBuffers;
    else if (m->hangover > 0)
        m->hangover--, speech = true;
    return speech;
}
