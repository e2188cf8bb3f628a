// Where the process keeps its state: the program's own directory, the settings file and the log
// directory. A process may be given a home directory (--home DIR or PARLO_HOME) that holds both.
#pragma once
#include <string>

// The directory of the running program file with its trailing '/', cut to 254 characters.
// Returns 0, or -1 when it cannot be found (out is then empty).
int program_directory(char* out);
std::string program_directory_of(const std::string& program_path);

// Sets the process home (empty clears it). Called once at start, before any other thread runs.
void set_home_dir(const std::string& dir);
std::string home_dir();

// The settings file: HOME/settings.ini, else $XDG_CONFIG_HOME/Hollin/settings.ini
// (~/.config/Hollin/settings.ini).
std::string settings_file_path();

// The directory for the debug log files, with a trailing '/': HOME when one is set, else the
// program directory when it is writable, else $XDG_STATE_HOME/parlo (~/.local/state/parlo).
std::string log_directory();

// Creates dir and its parents (mode 0700 for new ones). Returns 0 or -1.
int make_dirs(const std::string& dir);
