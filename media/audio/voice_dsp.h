// The capture side's processing before encoding: echo cancellation against what the outputs play
// (far_end.h), noise suppression, automatic gain control and a voice-activity judgement, on 20 ms
// frames of 16-bit samples. The 8-bit capture samples are widened exactly (128 <-> 0) and
// narrowed back with rounding, so a buffer passes unchanged with everything off.
//
// Threads: the switches are process-wide atomics, set from any thread and read once per buffer;
// a voice_processor belongs to the capture thread that made it.
#pragma once
#include <cstdint>
#include <memory>

#include "media/audio/audio_constants.h"

// The [media] switches echo_cancel, noise_suppression, auto_gain (on by default) and
// send_silence_for_noise (off); echo_delay_ms is how much later than its reference the echo
// reaches the capture buffers beyond what the canceller's tail absorbs by itself.
struct voice_processing {
    bool echo_cancel = true;
    bool noise_suppression = true;
    bool auto_gain = true;
    bool send_silence_for_noise = false;
    int echo_delay_ms = 0;
    bool operator==(const voice_processing&) const = default;
};

// Takes effect with the next capture buffer (any thread).
void set_voice_processing(const voice_processing& p);
voice_processing current_voice_processing();
// Reads the [media] settings over *p (values on/off, 1/0, true/false).
void load_voice_processing(voice_processing* p);
// Writes p to the [media] settings (for the next start; set_voice_processing applies it now).
void save_voice_processing(const voice_processing& p);
// Parses on|off|1|0|true|false; false for anything else.
bool parse_on_off(const char* text, bool* out);

class voice_processor {
public:
    static constexpr int kFrame = 160;  // 20 ms
    static constexpr int kTail = 2400;  // 300 ms of echo path
    // The gain control's level in the preprocessor's weighted loudness; voiced speech comes out
    // at about kSpeechDbfs (rms, dB below full scale).
    static constexpr int kAgcLevel = 16000;
    static constexpr double kSpeechDbfs = -18;
    static constexpr int kNoiseSuppressDb = -25;  // attenuation of noise
    static constexpr int kDelay = kFrame;         // samples the preprocessor delays the sound
    static constexpr int kSamples = audio::kBufferBytes;

    voice_processor();
    ~voice_processor();
    voice_processor(const voice_processor&) = delete;
    voice_processor& operator=(const voice_processor&) = delete;

    // Processes one capture buffer (kSamples samples) in place with the switches p; capture_tick
    // is when the device finished it (0: unknown, no echo reference). Returns false when the
    // buffer was judged to hold no speech (only judged while noise suppression, gain control or
    // send_silence_for_noise is on; true otherwise).
    bool process(uint8_t* samples, uint32_t capture_tick, const voice_processing& p);
    bool process_pcm(int16_t* pcm, uint32_t capture_tick, const voice_processing& p);
    // The canceller starts learning afresh (a new capture stream).
    void restart();

private:
    struct state;
    std::unique_ptr<state> m;
};
