#include "cli/audio_flags.h"

int parse_audio_flag(int argc, char** argv, int* i, cli_audio_options* out, std::string* error) {
    std::string a = argv[*i];
    auto value = [&](std::string* dst) {
        if (*i + 1 >= argc) {
            *error = "missing value for " + a;
            return -1;
        }
        *dst = argv[++*i];
        return 1;
    };
    if (a == "--audio-backend") return value(&out->backend);
    if (a == "--audio-in") return value(&out->input_file);
    if (a == "--audio-out") return value(&out->output_dir);
    if (a == "--audio-in-once") return out->input_once = true, 1;
    if (a == "--audio-input") return value(&out->input_device);
    if (a == "--audio-output") return value(&out->output_device);
    if (a == "--list-devices") return out->list_devices = true, 1;
    if (a == "--list-cameras") return out->list_cameras = true, 1;
    if (a == "--no-audio") return out->no_audio = true, 1;
    return 0;
}

const char* audio_flags_usage() {
    return "  --audio-backend portaudio|wav|null  sound devices (default: the [media] "
           "audio_backend\n"
           "                  setting, else portaudio; devices by name in "
           "audio_input/audio_output)\n"
           "  --audio-in FILE  wav backend: the microphone reads FILE in real time, looping\n"
           "  --audio-in-once  play the file once, then silence\n"
           "  --audio-out DIR  wav backend: what each speaker's player plays goes to "
           "DIR/peer_ID.wav\n"
           "  --audio-input NAME, --audio-output NAME  portaudio: the capture and playback\n"
           "                  devices by name (as --list-devices prints them; default: the\n"
           "                  [media] audio_input/audio_output settings, else the system's)\n"
           "  --list-devices   print the sound devices of the backend and leave\n"
           "  --list-cameras   print the cameras (device and card name) and leave\n"
           "  --no-audio       start no sound threads\n";
}
