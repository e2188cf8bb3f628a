#include "server/options.h"

#include <cstdlib>
#include <cstring>

namespace srv {

const char* usage_text() {
    return "Usage: parlo-server [options]\n"
           "Messenger server and home server of its users: TCP and UDP on one port.\n"
           "\n"
           "  --listen ADDR       address to listen on (default 127.0.0.1)\n"
           "  --port N            TCP and UDP port (default 9015)\n"
           "  --advertise HOST    home-server address given to clients (default: the listen\n"
           "                      address; 127.0.0.1 when listening on all addresses)\n"
           "  --db PATH           SQLite database (default $XDG_STATE_HOME/parlo/server.db)\n"
           "  --log FILE          append the log to FILE instead of stderr (private to the\n"
           "                      owner; past 10 MB it moves to FILE.old and starts afresh)\n"
           "  --seed-demo         create the demo accounts alice@example.com, bob@example.com\n"
           "                      and carol@example.com (password demo1234) with contacts\n"
           "  --fast-hash         hash new passwords with the minimum Argon2id limits (tests,\n"
           "                      benchmarks and demo data only; never for real accounts)\n"
           "  --notice-file FILE  on SIGUSR1 send the file's text (up to 1023 bytes) to every\n"
           "                      signed-in user as notice 998, on SIGUSR2 as notice 999\n"
           "  --idle-timeout S    close connections silent for S seconds (default 90)\n"
           "  --hash-threads N    threads that hash passwords off the event loop (default 2)\n"
           "  --relay-port N      run a relay of the server's own on the listen address, port N\n"
           "                      (1-9999), handed to clients that ask for relays while no\n"
           "                      signed-in client offers one (default: no relay of its own)\n"
           "  --max-per-address N connections one source address may hold (default 256)\n"
           "  --max-pending-per-address N\n"
           "                      of those, connections not signed in (default 32)\n"
           "  --no-extensions     speak only the base protocol: no answer to extension\n"
           "                      announcements, no offline-message receipts\n"
           "  --help              show this text\n"
           "\n"
           "SIGTERM or SIGINT stops the server; every acknowledged change is already on disk.\n";
}

std::string default_db_path() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string dir;
    if (state && *state) {
        dir = state;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home && *home ? home : ".") + "/.local/state";
    }
    return dir + "/parlo/server.db";
}

namespace {
bool to_int(const char* s, int lo, int hi, int* out) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}
}  // namespace

int parse_command_line(int argc, char** argv, CommandLine* out, std::string* error) {
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        auto value = [&](const char** v) {
            if (i + 1 >= argc) {
                *error = std::string(a) + " needs a value";
                return false;
            }
            *v = argv[++i];
            return true;
        };
        const char* v = nullptr;
        // A whole number within [lo, hi]; anything else is "bad <option> value".
        auto number = [&](int lo, int hi, int* field) {
            if (!value(&v)) return false;
            if (to_int(v, lo, hi, field)) return true;
            *error = std::string("bad ") + a + " value";
            return false;
        };
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            out->help = true;
        } else if (!std::strcmp(a, "--seed-demo")) {
            out->seed_demo = true;
        } else if (!std::strcmp(a, "--no-extensions")) {
            out->server.extensions = false;
        } else if (!std::strcmp(a, "--max-per-address")) {
            if (!number(1, 1000000, &out->server.max_per_address)) return -1;
        } else if (!std::strcmp(a, "--max-pending-per-address")) {
            if (!number(1, 1000000, &out->server.max_unsigned_per_address)) return -1;
        } else if (!std::strcmp(a, "--fast-hash")) {
            out->server.fast_hash = true;
        } else if (!std::strcmp(a, "--listen")) {
            if (!value(&v)) return -1;
            out->server.listen = v;
        } else if (!std::strcmp(a, "--advertise")) {
            if (!value(&v)) return -1;
            out->server.advertise = v;
        } else if (!std::strcmp(a, "--db")) {
            if (!value(&v)) return -1;
            out->db_path = v;
        } else if (!std::strcmp(a, "--log")) {
            if (!value(&v)) return -1;
            out->log_path = v;
        } else if (!std::strcmp(a, "--notice-file")) {
            if (!value(&v)) return -1;
            out->server.notice_file = v;
        } else if (!std::strcmp(a, "--port")) {
            if (!number(0, 65535, &out->server.port)) return -1;
        } else if (!std::strcmp(a, "--relay-port")) {
            // The port is handed to clients in the header's 4-digit board_num.
            if (!number(1, 9999, &out->server.relay_port)) return -1;
        } else if (!std::strcmp(a, "--idle-timeout")) {
            if (!number(1, 86400, &out->server.idle_seconds)) return -1;
        } else if (!std::strcmp(a, "--hash-threads")) {
            if (!number(1, 64, &out->server.hash_threads)) return -1;
        } else {
            *error = std::string("unknown option ") + a;
            return -1;
        }
    }
    if (out->db_path.empty()) out->db_path = default_db_path();
    return 0;
}

}  // namespace srv
