#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

child_process::child_process(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return;
    }
    m_pid = pid;
    m_in = in[1];
    m_out = out[0];
    m_thread = std::thread([this] { reader(); });
}

child_process::~child_process() { stop(2000); }

void child_process::reader() {
    std::string pending;
    char buf[4096];
    for (;;) {
        ssize_t n = read(m_out, buf, sizeof(buf));
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t at;
        while ((at = pending.find('\n')) != std::string::npos) {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_lines.push_back(pending.substr(0, at));
            m_taken.push_back(false);
            pending.erase(0, at + 1);
            m_cond.notify_all();
        }
    }
}

void child_process::write_line(const std::string& line) {
    if (m_in < 0) return;
    std::string l = line + "\n";
    ssize_t r = write(m_in, l.data(), l.size());
    (void)r;
}

std::string child_process::wait_line(const std::vector<std::string>& parts, int ms) {
    return wait_line_if(
        [&parts](const std::string& line) {
            for (const auto& p : parts)
                if (line.find(p) == std::string::npos) return false;
            return true;
        },
        ms);
}

std::string child_process::wait_line_if(const std::function<bool(const std::string&)>& pred, int ms,
                                        size_t from) {
    std::unique_lock<std::mutex> lk(m_mutex);
    std::string found;
    m_cond.wait_for(lk, std::chrono::milliseconds(ms), [&] {
        for (size_t i = from; i < m_lines.size(); i++) {
            if (m_taken[i] || !pred(m_lines[i])) continue;
            m_taken[i] = true;
            found = m_lines[i];
            return true;
        }
        return false;
    });
    return found;
}

size_t child_process::line_count() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_lines.size();
}

std::vector<std::string> child_process::lines() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_lines;
}

int child_process::stop(int ms) {
    if (m_pid <= 0) return -1;
    if (m_in >= 0) {
        close(m_in);
        m_in = -1;
    }
    kill(m_pid, SIGTERM);
    int status = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pid_t r = 0;
    while ((r = waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end)
        usleep(10000);
    if (r == 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    }
    reap();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void child_process::kill_now() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    reap();
}

void child_process::reap() {
    m_pid = -1;
    if (m_in >= 0) close(m_in);
    m_in = -1;
    if (m_thread.joinable()) m_thread.join();
    if (m_out >= 0) close(m_out);
    m_out = -1;
}

double process_cpu_s(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t close_paren = text.rfind(')');
    if (close_paren == std::string::npos) return 0;
    std::istringstream rest(text.substr(close_paren + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; rest >> field; i++) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}
