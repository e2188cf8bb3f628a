// A child process with pipes to its standard input and output, whose output lines are collected
// by a reader thread. The child is always killed when the object goes away.
#pragma once
#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class child_process {
public:
    child_process(const std::string& program, const std::vector<std::string>& args);
    ~child_process();
    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    void write_line(const std::string& line);
    // Waits at most ms for an output line (not yet taken) containing every one of the parts.
    // Returns the line, or an empty text on time-out. Lines before it stay available.
    std::string wait_line(const std::vector<std::string>& parts, int ms = 10000);
    // The same for the first line not yet taken that satisfies pred, among the lines from number
    // `from` on (line_count() before a request: only what came after it).
    std::string wait_line_if(const std::function<bool(const std::string&)>& pred, int ms = 10000,
                             size_t from = 0);
    size_t line_count();
    std::vector<std::string> lines();
    // SIGTERM, then SIGKILL after ms; returns the exit status (-1 when killed or unknown).
    int stop(int ms = 5000);
    // SIGKILL, returning once the child is gone (its connections closed).
    void kill_now();

private:
    void reader();
    void reap();  // after the child was waited for
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<std::string> m_lines;
    std::vector<bool> m_taken;
};

// User plus system CPU seconds a process has used so far (0 when it cannot be read).
double process_cpu_s(pid_t pid);
