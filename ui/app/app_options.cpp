#include "ui/app/app_options.h"

#include <cstring>

int parse_app_args(int argc, char** argv, app_options* out, std::string* error) {
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        auto value = [&](std::string* dst) {
            if (i + 1 >= argc) {
                *error = std::string(a) + " needs a value";
                return false;
            }
            *dst = argv[++i];
            return true;
        };
        if (std::strcmp(a, "--home") == 0) {
            if (!value(&out->home)) return -1;
        } else if (std::strcmp(a, "--server") == 0) {
            if (!value(&out->server)) return -1;
        } else if (std::strcmp(a, "--bind") == 0) {
            if (!value(&out->bind)) return -1;
        } else if (std::strcmp(a, "--lang") == 0) {
            if (!value(&out->lang)) return -1;
            if (out->lang != "en" && out->lang != "zh") {
                *error = "--lang takes en or zh";
                return -1;
            }
        } else if (std::strcmp(a, "--email") == 0) {
            if (!value(&out->email)) return -1;
        } else if (std::strcmp(a, "--password") == 0) {
            if (!value(&out->password)) return -1;
        } else if (std::strcmp(a, "--no-peer-listener") == 0) {
            out->peer_listener = false;
        } else if (std::strcmp(a, "--no-extensions") == 0) {
            out->extensions = false;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            out->help = true;
        } else if (std::strncmp(a, "--", 2) == 0) {
            *error = std::string("unknown flag ") + a;
            return -1;
        }
    }
    return 0;
}

std::string app_usage_text() {
    return "usage: parlo [--home DIR] [--server HOST] [--bind ADDR] [--lang en|zh]\n"
           "             [--email E --password P] [--no-peer-listener] [--no-extensions]\n"
           "  --home DIR        settings and logs in DIR (default: PARLO_HOME or the XDG folders)\n"
           "  --server HOST     messenger server host (default: the setting, else 127.0.0.1)\n"
           "  --bind ADDR       local address for every socket\n"
           "  --lang en|zh      language of the texts (default: the user's locale)\n"
           "  --email E --password P  sign in at start (otherwise the Sign In link does)\n"
           "  --no-peer-listener  no incoming peer connections on 8188\n"
           "  --no-extensions   speak only the base protocol (no offline-message receipts)\n";
}
