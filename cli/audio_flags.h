// The headless client's sound flags: the backend, the capture file, the output folder, the voice
// processing switches.
#pragma once
#include <string>

struct cli_audio_options {
    std::string
        backend;  // --audio-backend portaudio|wav|null (default: the setting, else portaudio)
    std::string input_file;     // --audio-in FILE (wav backend)
    bool input_once = false;    // --audio-in-once: play the file once, then silence
    std::string output_dir;     // --audio-out DIR (wav backend)
    std::string input_device;   // --audio-input NAME (portaudio; "" = the setting, else default)
    std::string output_device;  // --audio-output NAME
    bool list_devices = false;  // --list-devices
    bool list_cameras = false;  // --list-cameras
    bool no_audio = false;      // --no-audio: start no sound threads at all
    // --echo-cancel, --noise-suppression, --auto-gain, --send-silence-for-noise on|off:
    // -1 leaves the setting, else 0 or 1.
    int echo_cancel = -1;
    int noise_suppression = -1;
    int auto_gain = -1;
    int send_silence_for_noise = -1;
    std::string room;  // --audio-room DELAY_MS:GAIN (wav backend)
};

// Consumes the sound flag at argv[*i] (and its value). Returns 1 when it was one, 0 when not,
// -1 with *error set for a missing value.
int parse_audio_flag(int argc, char** argv, int* i, cli_audio_options* out, std::string* error);
// The flags' lines of the --help text.
const char* audio_flags_usage();
