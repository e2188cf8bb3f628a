// Command-line flags of the headless client.
#pragma once
#include <string>

#include "cli/audio_flags.h"

struct cli_options {
    std::string server;    // messenger server host (--server)
    std::string bind;      // local address for every socket (--bind)
    std::string home;      // state directory (--home)
    std::string email;     // sign in at start when given (--email, --password)
    std::string password;
    bool auto_accept = false;  // answer Yes to every question the GUI would ask
    std::string proxy_everything;  // "on" or "off": stored before the start (--proxy-everything)
    bool peer_listener = true;  // accept incoming peer connections on 8188 (--no-peer-listener)
    bool extensions = true;     // announce and use our protocol extensions (--no-extensions)
    std::string relay_ports;    // "A,B,C": ports of the local relay server instead of 80,443,8199
    std::string accept_files_dir;  // save every offered file into this folder (--accept-files)
    cli_audio_options audio;  // sound flags
    std::string video_input;     // camera source (--video-in), else the [media] video_input setting
    std::string video_dump_dir;  // test aid: write every frame record sent into this folder
    bool help = false;
};

// Returns 0, or -1 with a reason in error.
int parse_args(int argc, char** argv, cli_options* out, std::string* error);
// The --help text: flags, then every command of the command table.
std::string usage_text();
