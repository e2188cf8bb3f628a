#include "cli/args.h"

#include <cstring>

#include "cli/commands.h"

int parse_args(int argc, char** argv, cli_options* out, std::string* error) {
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](std::string* dst) {
            if (i + 1 >= argc) {
                *error = "missing value for " + a;
                return false;
            }
            *dst = argv[++i];
            return true;
        };
        if (a == "--server") {
            if (!value(&out->server)) return -1;
        } else if (a == "--bind") {
            if (!value(&out->bind)) return -1;
        } else if (a == "--home") {
            if (!value(&out->home)) return -1;
        } else if (a == "--email") {
            if (!value(&out->email)) return -1;
        } else if (a == "--password") {
            if (!value(&out->password)) return -1;
        } else if (a == "--auto-accept") {
            out->auto_accept = true;
        } else if (a == "--relay-ports") {
            if (!value(&out->relay_ports)) return -1;
        } else if (a == "--accept-files") {
            if (!value(&out->accept_files_dir)) return -1;
        } else if (a == "--proxy-everything") {
            if (!value(&out->proxy_everything)) return -1;
            if (out->proxy_everything != "on" && out->proxy_everything != "off") {
                *error = "--proxy-everything wants on or off";
                return -1;
            }
        } else if (a == "--no-peer-listener") {
            out->peer_listener = false;
        } else if (a == "--no-extensions") {
            out->extensions = false;
        } else if (a == "--video-in") {
            if (!value(&out->video_input)) return -1;
        } else if (a == "--video-dump") {
            if (!value(&out->video_dump_dir)) return -1;
        } else if (a == "--help" || a == "-h") {
            out->help = true;
        } else if (int r = parse_audio_flag(argc, argv, &i, &out->audio, error)) {
            if (r < 0) return -1;
        } else {
            *error = "unknown flag " + a;
            return -1;
        }
    }
    return 0;
}

std::string usage_text() {
    std::string text =
        "Usage: parlo-cli [--server HOST] [--bind ADDR] [--home DIR] [--email E --password P]\n"
        "                 [--auto-accept] [--no-peer-listener] [--no-extensions]\n"
        "                 [--relay-ports A,B,C]\n"
        "                 [--proxy-everything on|off]\n"
        "                 [--accept-files DIR] [--video-in SOURCE] [--help]\n"
        "\n"
        "  --server HOST   messenger server (default: the \"server_host\" setting, else 127.0.0.1)\n"
        "  --bind ADDR     local address for every connection (several clients on one machine)\n"
        "  --home DIR      directory for settings and debug logs (also PARLO_HOME)\n"
        "  --email E --password P   sign in at start\n"
        "  --auto-accept   answer Yes to every question (contact requests, waiting messages)\n"
        "  --proxy-everything  with a proxy set: on (the default) makes no connection outside the\n"
        "                 proxy and takes none (no peer listener, no relay ports, no own address\n"
        "                 announced; peers through relays); off also uses direct peer connections\n"
        "  --no-peer-listener  accept no incoming peer connections, as behind a firewall: peers\n"
        "                  then reach this client by asking it to connect back, or through relays\n"
        "  --no-extensions  speak only the base protocol: announce no extensions and use none\n"
        "                  (offline messages then count as sent once handed over unanswered)\n"
        "  --relay-ports A,B,C  ports of this client's relay server for other clients (default\n"
        "                  80,443,8199; the first two need privileges, a port that cannot be\n"
        "                  opened is left unreported)\n"
        "  --accept-files DIR  save every file a contact offers into DIR (as accept-files DIR);\n"
        "                  without it each offer is printed as a question\n"
        "  --video-in SOURCE  camera: v4l2[:/dev/videoN] (default), pattern (a moving test\n"
        "                  picture) or y4m:FILE (a YUV4MPEG2 file, looped)\n"
        "  --video-dump DIR  write every video frame record sent into DIR (for tests)\n"
        "\n";
    text += audio_flags_usage();
    text +=
        "\n"
        "Commands, one per line on standard input; every event and notification is printed as one\n"
        "JSON object per line on standard output.\n\n";
    text += command_help();
    return text;
}
