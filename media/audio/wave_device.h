// The wave device layer: capture and playback devices that take and return 960-byte buffers of
// 8 kHz 8-bit mono in order, behind one interface with three backends ("portaudio", "wav",
// "null"). A device reports every finished buffer through the notice function given at open;
// the notice is called on a device thread and must only hand the buffer over (post a message).
//
// Threads: open, add, write, start, stop, reset and close are called by the one thread that owns
// the device (its capture or playback thread); notices arrive on the device's own thread (for
// "portaudio", the backend's thread that takes the buffers back from the stream callbacks), or
// on the owner's thread during reset and close.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/audio/voice_dsp.h"

// One sound buffer with its sample data. Whoever holds the pointer owns both.
struct wave_buffer {
    std::vector<uint8_t> data;
    int recorded = 0;           // bytes filled by a capture device
    uint32_t capture_tick = 0;  // tick when the capture device finished it (0: unknown)
    int peer_id = 0;            // the remote speaker whose sound this is (playback)
    uint32_t tag = 0;           // identifies the message the sound came from (traces)
};

using wave_notice = std::function<void(wave_buffer*)>;

// The buffers of a running call come from a pool and go back to it with their sample storage, so
// steady capture and playback do not allocate. take gives a buffer with data of any size (the
// caller sizes it) and null when memory ran out; recycle takes any buffer made with new (null is
// ignored). Any thread.
wave_buffer* take_wave_buffer();
void recycle_wave_buffer(wave_buffer* buffer);

class wave_in {
public:
    virtual ~wave_in() = default;
    // Opens the device; 0, or a nonzero backend error code with its text in *error.
    virtual int open(wave_notice filled, std::string* error) = 0;
    // Queues an empty buffer to be filled. 0 or an error code.
    virtual int add_buffer(wave_buffer* buffer) = 0;
    virtual int start(std::string* error) = 0;
    virtual int stop() = 0;
    // Returns every queued buffer through the notice (recorded 0 for unfilled ones). 0 or error.
    virtual int reset() = 0;
    virtual void close() = 0;
};

class wave_out {
public:
    virtual ~wave_out() = default;
    virtual int open(wave_notice done, std::string* error) = 0;
    // Plays the buffer after those already written; it comes back through the notice.
    virtual int write(wave_buffer* buffer) = 0;
    // Returns every written buffer at once through the notice. 0 or error.
    virtual int reset() = 0;
    virtual void close() = 0;
};

// A backend makes the devices. Names select devices in the settings ("" = the default one).
class audio_backend {
public:
    virtual ~audio_backend() = default;
    virtual const char* name() const = 0;
    virtual std::unique_ptr<wave_in> make_input() = 0;
    virtual std::unique_ptr<wave_out> make_output(int player_index) = 0;
    // Human-readable device lines (for --list-devices).
    virtual std::vector<std::string> list_devices() { return {}; }
    // The names of the capture (input true) or playback devices a user can choose; the default
    // device ("") is not among them. Looks for new devices only while none is open. Not on the
    // GUI thread (it may probe the sound systems).
    virtual std::vector<std::string> device_names(bool /*input*/) { return {}; }
    // Takes the next buffers from, and gives them to, these devices ("" = the default one):
    // devices already open switch at once and keep their queued buffers, later ones open there.
    // The devices plugged in since the last switch are looked for anew (open streams pause for
    // the moment it takes).
    // A device that cannot be opened runs silent (its buffers are played to nobody at the real
    // pace; capture delivers nothing). 0, or -1 when an open device went silent. Any thread but
    // the GUI thread; not from a notice.
    virtual int use_devices(const std::string& /*input*/, const std::string& /*output*/) {
        return 0;
    }
    // The watchdog's look at the open devices, a few times a second from one thread: the
    // kDeviceFailed* bits of a device whose stream reported an error or stopped making progress.
    // A silent output's buffers move on here.
    virtual int check_devices() { return 0; }
    // How soon the watchdog looks again, in ms; 0 when nothing needs watching (it then waits for
    // a choice or a change of the cards).
    virtual int check_period_ms() { return 200; }
};

constexpr int kDeviceFailedCapture = 1;
constexpr int kDeviceFailedPlayback = 2;

struct audio_config {
    std::string backend = "portaudio";  // "portaudio", "wav" or "null"
    std::string input_device;           // portaudio: device name ("" = default)
    std::string output_device;
    std::string input_file;  // wav: the capture file
    bool input_loop = true;  // wav: start again at the end (else silence follows)
    std::string output_dir;  // wav: one file per remote speaker
    // wav: a simulated room: what the outputs play reaches the capture room_delay_ms later,
    // scaled by room_gain (0: no room).
    int room_delay_ms = 0;
    double room_gain = 0;
    voice_processing processing;  // the capture side's processing switches
};

// Reads [media] audio_backend, audio_input, audio_output, audio_in_file, audio_out_dir,
// audio_room_echo (DELAY_MS:GAIN) and the voice processing switches (load_voice_processing) from the settings over the defaults; fields already set in *cfg by flags win when override_* is true.
void load_audio_settings(audio_config* cfg);

// Parses a room's "DELAY_MS:GAIN" (delay 0-2000, gain 0-1); false when it is not one.
bool parse_room(const std::string& text, int* delay_ms, double* gain);

// Makes the chosen backend; an unknown name gives the null backend after a log line.
std::unique_ptr<audio_backend> make_audio_backend(const audio_config& cfg);
std::unique_ptr<audio_backend> make_null_backend();
std::unique_ptr<audio_backend> make_wav_backend(const audio_config& cfg);
std::unique_ptr<audio_backend> make_portaudio_backend(const audio_config& cfg);

// Reads a whole sound file as 8 kHz 8-bit mono: files already in that format are taken byte for
// byte; others are mixed down to one channel and resampled. 0, or -1 with the reason in *error.
int load_as_voice(const std::string& path, std::vector<uint8_t>* out, std::string* error);

// Applies a player volume (0-65535, the same on both channels) to 8-bit samples in place:
// 65535 leaves them unchanged, 0 gives silence (128).
void apply_gain(uint8_t* samples, int n, uint32_t volume);
