// The server's own log: one timestamped line per connection event and per error, written to
// stderr or to a file given with --log. Safe to call from any thread.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>

namespace srv {

class Log {
public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Opens path for appending; an empty path logs to stderr. Returns 0 or -1.
    int open(const std::string& path);
    // Drops every line (tests and fuzzers that do not want output).
    void set_quiet(bool quiet);
    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

private:
    std::mutex m_mutex;
    FILE* m_file = nullptr;
    bool m_quiet = false;
};

}  // namespace srv
