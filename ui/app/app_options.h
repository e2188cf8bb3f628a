// Command-line flags of the desktop application.
#pragma once
#include <string>

struct app_options {
    std::string home;    // state directory (--home, else PARLO_HOME)
    std::string server;  // messenger server host (--server)
    std::string bind;    // local address for every socket (--bind)
    std::string lang;    // "en" or "zh" (--lang); empty: the user's locale
    std::string email;   // sign in at start when given (--email, --password)
    std::string password;
    bool peer_listener = true;  // --no-peer-listener
    bool extensions = true;     // --no-extensions: only the base protocol
    bool help = false;
};

// Returns 0, or -1 with a reason in error. Qt's own flags (-platform ...) are left to Qt.
int parse_app_args(int argc, char** argv, app_options* out, std::string* error);
std::string app_usage_text();
