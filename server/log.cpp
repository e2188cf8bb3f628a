#include "server/log.h"

#include <sys/time.h>
#include <cstdarg>
#include <ctime>

namespace srv {

Log::~Log() {
    if (m_file) std::fclose(m_file);
}

int Log::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    if (path.empty()) return 0;
    m_file = std::fopen(path.c_str(), "a");
    return m_file ? 0 : -1;
}

void Log::set_quiet(bool quiet) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quiet = quiet;
}

void Log::line(const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);

    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &local);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_quiet) return;
    FILE* out = m_file ? m_file : stderr;
    std::fprintf(out, "%s %s\n", stamp, text);
    std::fflush(out);
}

}  // namespace srv
