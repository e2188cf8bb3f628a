#include "platform/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <mutex>

#include "platform/local_time.h"
#include "platform/message_box.h"
#include "platform/paths.h"

namespace {
constexpr size_t kDefaultLimit = 10u * 1024 * 1024;

std::mutex g_log_mutex;
int g_log_fd = -1;
size_t g_log_size = 0;
size_t g_log_limit = kDefaultLimit;
std::string g_log_dir;

void message_sink(const char* text) { log_line("%s", text); }

int open_log_file_locked() {
    std::string path = g_log_dir + "dbg_log.txt";
    g_log_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (g_log_fd < 0) return -1;
    struct stat st;
    g_log_size = (fstat(g_log_fd, &st) == 0) ? static_cast<size_t>(st.st_size) : 0;
    return 0;
}

void close_locked() {
    if (g_log_fd >= 0) close(g_log_fd);
    g_log_fd = -1;
}

void rotate_locked() {
    close_locked();
    std::string path = g_log_dir + "dbg_log.txt";
    std::string old = g_log_dir + "dbg_log.old.txt";
    rename(path.c_str(), old.c_str());
    open_log_file_locked();
}
}  // namespace

std::string log_prefix(int day, int hour, int minute, int second, int millisecond) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%d %d:%d:%d %d ", day, hour, minute, second, millisecond);
    return buf;
}

int open_debug_log_in(const std::string& dir) {
    std::lock_guard<std::mutex> lk(g_log_mutex);
    close_locked();
    g_log_dir = dir;
    if (!g_log_dir.empty() && g_log_dir.back() != '/') g_log_dir.push_back('/');
    make_dirs(g_log_dir);
    for (const char* extra : {"dbg_log1.txt", "dbg_log2.txt"}) {
        int fd = open((g_log_dir + extra).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) close(fd);
    }
    if (open_log_file_locked() != 0) return -1;
    set_message_log_sink(message_sink);
    return 0;
}

int open_debug_log() { return open_debug_log_in(log_directory()); }

void close_debug_log() {
    set_message_log_sink(nullptr);
    std::lock_guard<std::mutex> lk(g_log_mutex);
    close_locked();
}

void set_debug_log_limit(size_t bytes) {
    std::lock_guard<std::mutex> lk(g_log_mutex);
    g_log_limit = bytes;
}

std::string debug_log_path() {
    std::lock_guard<std::mutex> lk(g_log_mutex);
    return g_log_fd >= 0 ? g_log_dir + "dbg_log.txt" : std::string();
}

namespace {
std::atomic<void (*)()> g_log_observer{nullptr};
}  // namespace

void set_debug_log_observer(void (*observer)()) {
    g_log_observer.store(observer);
}

int log_line(const char* format, ...) {
    char line[64 + 4096];
    local_time t = get_local_time();
    int prefix = std::snprintf(line, 64, "%d %d:%d:%d %d ", t.day, t.hour, t.minute, t.second,
                               t.millisecond);
    if (prefix < 0) return 0;
    va_list ap;
    va_start(ap, format);
    int text = std::vsnprintf(line + prefix, 4096, format, ap);
    va_end(ap);
    if (text < 0) return 0;
    size_t total = static_cast<size_t>(prefix) + (text > 4095 ? 4095u : static_cast<size_t>(text));

    {
        std::lock_guard<std::mutex> lk(g_log_mutex);
        if (g_log_fd < 0) return 0;
        if (g_log_size + total > g_log_limit && g_log_size > 0) rotate_locked();
        if (g_log_fd < 0) return 0;
        ssize_t n = write(g_log_fd, line, total);
        if (n > 0) g_log_size += static_cast<size_t>(n);
    }
    if (auto observer = g_log_observer.load()) observer();
    return 0;
}
