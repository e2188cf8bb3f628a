// The command table of the headless client. Each command is one line on standard input: a name
// and its arguments separated by blanks; the last argument of some commands takes the rest of the
// line (texts, names). Later features add their commands to the table in commands.cpp.
#pragma once
#include <string>
#include <vector>

class cli_app;

struct cli_command {
    const char* name;
    const char* usage;
    const char* help;
    // args: the words after the name; rest: the line after the name, untouched.
    int (*run)(cli_app& app, const std::vector<std::string>& args, const std::string& rest);
};

const std::vector<cli_command>& command_table();
std::string command_help();
// path made absolute against the current folder (files named in commands).
std::string absolute_path(const std::string& path);
// Splits and runs one line. Returns 0, or -1 (an error line was printed).
int run_command(cli_app& app, const std::string& line);
