#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/text.h"

namespace {
std::mutex g_home_mutex;
std::string g_home;

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

std::string user_home() { return env_or("HOME", "/tmp"); }

std::string with_slash(std::string d) {
    if (d.empty() || d.back() != '/') d.push_back('/');
    return d;
}
}  // namespace

std::string program_directory_of(const std::string& program_path) {
    size_t cut = program_path.find_last_of('/');
    if (cut == std::string::npos) return std::string();
    std::string dir = program_path.substr(0, cut + 1);
    if (dir.size() > 254) dir.resize(254);
    return dir;
}

int program_directory(char* out) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        out[0] = '\0';
        return -1;
    }
    path[n] = '\0';
    copy_text(out, 255, program_directory_of(path).c_str());
    return 0;
}

void set_home_dir(const std::string& dir) {
    std::lock_guard<std::mutex> lk(g_home_mutex);
    g_home = dir;
}

std::string home_dir() {
    std::lock_guard<std::mutex> lk(g_home_mutex);
    if (!g_home.empty()) return g_home;
    const char* v = std::getenv("PARLO_HOME");
    return v ? std::string(v) : std::string();
}

std::string settings_file_path() {
    std::string home = home_dir();
    if (!home.empty()) return with_slash(home) + "settings.ini";
    return with_slash(env_or("XDG_CONFIG_HOME", user_home() + "/.config")) + "Hollin/settings.ini";
}

std::string log_directory() {
    std::string home = home_dir();
    if (!home.empty()) return with_slash(home);
    char dir[256];
    if (program_directory(dir) == 0 && access(dir, W_OK) == 0) return dir;
    return with_slash(env_or("XDG_STATE_HOME", user_home() + "/.local/state")) + "parlo/";
}

int make_dirs(const std::string& dir) {
    if (dir.empty()) return -1;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    }
    struct stat st;
    return (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? 0 : -1;
}
