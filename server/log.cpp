#include "server/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace srv {

bool LineBudget::take(std::chrono::steady_clock::time_point now, int* held) {
    if (m_last != std::chrono::steady_clock::time_point{}) {
        const double seconds = std::chrono::duration<double>(now - m_last).count();
        m_tokens = std::min<double>(kBurst, m_tokens + (seconds > 0 ? seconds : 0));
    }
    m_last = now;
    if (m_tokens < 1) {
        m_held++;
        return false;
    }
    m_tokens -= 1;
    *held = m_held;
    m_held = 0;
    return true;
}

namespace {
// Opens the log file for appending, private to its owner whatever the umask or the mode an
// older version left it with.
int open_private(const std::string& path, size_t* size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0777) != 0600) fchmod(fd, 0600);
    *size = fstat(fd, &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    return fd;
}
}  // namespace

Log::~Log() {
    if (m_fd >= 0) ::close(m_fd);
}

int Log::open(const std::string& path, size_t limit) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_path = path;
    m_limit = limit;
    m_size = 0;
    if (path.empty()) return 0;
    m_fd = open_private(path, &m_size);
    return m_fd >= 0 ? 0 : -1;
}

void Log::set_quiet(bool quiet) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quiet = quiet;
}

void Log::set_hook(std::function<void(const char*)> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

void Log::line(const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    write_line(text, 0);
}

void Log::limited(LineBudget& budget, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vlimited(budget, fmt, args);
    va_end(args);
}

void Log::vlimited(LineBudget& budget, const char* fmt, va_list args) {
    int held = 0;
    if (!budget.take(std::chrono::steady_clock::now(), &held)) return;
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, args);
    write_line(text, held);
}

void Log::rotate_locked() {
    ::close(m_fd);
    m_fd = -1;
    const std::string old = m_path + ".old";
    std::rename(m_path.c_str(), old.c_str());
    m_fd = open_private(m_path, &m_size);
}

void Log::write_line(const char* text, int held) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &local);
    char out[1200];
    int n = std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s",
                          local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, static_cast<int>(tv.tv_usec / 1000), text);
    if (n < 0) return;
    size_t len = static_cast<size_t>(n) < sizeof out ? static_cast<size_t>(n) : sizeof out - 1;
    if (held > 0) {
        int m = std::snprintf(out + len, sizeof out - len, " (%d similar lines not logged)", held);
        if (m > 0) len = std::min(len + static_cast<size_t>(m), sizeof out - 2);
    }
    out[len++] = '\n';

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_hook) m_hook(text);
    if (m_quiet) return;
    if (m_path.empty()) {
        std::fwrite(out, 1, len, stderr);
        std::fflush(stderr);
        return;
    }
    if (m_fd >= 0 && m_size > 0 && m_size + len > m_limit) rotate_locked();
    if (m_fd < 0) return;
    ssize_t w = ::write(m_fd, out, len);
    if (w > 0) m_size += static_cast<size_t>(w);
}

}  // namespace srv
