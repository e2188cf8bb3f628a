// Command line of parlo-server.
#pragma once
#include <string>

#include "server/server.h"

namespace srv {

struct CommandLine {
    ServerOptions server;
    std::string db_path;
    std::string log_path;
    bool seed_demo = false;
    bool help = false;
};

// Parses argv. Returns 0, or -1 with a message in *error.
int parse_command_line(int argc, char** argv, CommandLine* out, std::string* error);
const char* usage_text();
// Default database path: $XDG_STATE_HOME/parlo/server.db (or ~/.local/state/parlo/server.db).
std::string default_db_path();

}  // namespace srv
