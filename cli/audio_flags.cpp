#include "cli/audio_flags.h"

#include "media/audio/voice_dsp.h"
#include "media/audio/wave_device.h"

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
    auto on_off = [&](int* dst) {
        std::string v;
        if (value(&v) < 0) return -1;
        bool on = false;
        if (!parse_on_off(v.c_str(), &on)) {
            *error = a + " takes on or off, not " + v;
            return -1;
        }
        *dst = on ? 1 : 0;
        return 1;
    };
    if (a == "--echo-cancel") return on_off(&out->echo_cancel);
    if (a == "--noise-suppression") return on_off(&out->noise_suppression);
    if (a == "--auto-gain") return on_off(&out->auto_gain);
    if (a == "--send-silence-for-noise") return on_off(&out->send_silence_for_noise);
    if (a == "--audio-room") {
        if (value(&out->room) < 0) return -1;
        int d = 0;
        double g = 0;
        if (!parse_room(out->room, &d, &g)) {
            *error = "--audio-room takes DELAY_MS:GAIN (0-2000 ms, gain 0-1), not " + out->room;
            return -1;
        }
        return 1;
    }
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
           "  --no-audio       start no sound threads\n"
           "  --echo-cancel on|off        cancel the echo of what the speakers play (default: "
           "the\n"
           "                  [media] echo_cancel setting, else on)\n"
           "  --noise-suppression on|off  suppress steady noise (noise_suppression, else on)\n"
           "  --auto-gain on|off          level the microphone automatically (auto_gain, else "
           "on)\n"
           "  --send-silence-for-noise on|off  a buffer of noise without speech is sent as "
           "silence\n"
           "                  (send_silence_for_noise, else off)\n"
           "  --audio-room DELAY_MS:GAIN  wav backend: what the players write is heard by the "
           "microphone\n"
           "                  DELAY_MS later at GAIN (0-1), as in a room (audio_room_echo)\n";
}
