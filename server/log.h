// The server's own log: one timestamped line per connection event and per error, written to
// stderr or to a file given with --log. The file is private to its owner (mode 0600) and kept
// under a size limit: when a line would pass it, the file becomes path.old (replacing the one
// before) and a fresh file starts. Safe to call from any thread.
#pragma once
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace srv {

// Lines a source (one connection, the datagram socket) may write: a burst of kBurst, then one
// per second. Owned and used by one thread.
class LineBudget {
public:
    static constexpr int kBurst = 20;
    // True when a line may be written at `now`; *held then receives the number of lines refused
    // since the last one written.
    bool take(std::chrono::steady_clock::time_point now, int* held);

private:
    double m_tokens = kBurst;
    std::chrono::steady_clock::time_point m_last{};
    int m_held = 0;
};

class Log {
public:
    static constexpr size_t kDefaultLimit = 10u * 1024 * 1024;

    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Opens path for appending (created with mode 0600); an empty path logs to stderr.
    // limit: size at which the file is rotated. Returns 0 or -1.
    int open(const std::string& path, size_t limit = kDefaultLimit);
    // Drops every line (tests and fuzzers that do not want output).
    void set_quiet(bool quiet);
    // Hands every line's text (without the time) to hook as well, quiet or not; a test waits on
    // what the server logs. Called with the log's lock held: hook must not log.
    void set_hook(std::function<void(const char*)> hook);
    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // A line caused by a peer's input: written only while the budget allows, and the first line
    // written after a pause says how many were left out.
    void limited(LineBudget& budget, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void vlimited(LineBudget& budget, const char* fmt, va_list args);

private:
    void write_line(const char* text, int held);
    void rotate_locked();

    std::mutex m_mutex;
    int m_fd = -1;
    std::string m_path;
    size_t m_size = 0;
    size_t m_limit = kDefaultLimit;
    bool m_quiet = false;
    std::function<void(const char*)> m_hook;
};

}  // namespace srv
