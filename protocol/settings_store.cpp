#include "protocol/settings_store.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/settings_file.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "protocol/texts.h"

const char* const kDeploymentSection = "deployment";
const char* const kDefaultServerHost = "127.0.0.1";
const char* const kDefaultWebBase = "http://127.0.0.1";

namespace {
// The parsed file, kept while the file on disk is the one it was parsed from (same path, device,
// inode, size and modification time; the atomic rewrite always makes a new inode).
struct settings_cache {
    bool valid = false;
    bool exists = false;
    std::string path;
    struct stat st {};
    ini_data data;
};

// The store's state lives for the whole process and is never destroyed: a thread still sending
// while the process exits (the main connection's writer reads the proxy settings) must not meet a
// destroyed cache.
struct settings_state {
    std::mutex mutex;  // serialises the read-modify-write of the file and guards the rest
    std::string server_override;
    std::string web_override;
    settings_cache cache;
    int loads = 0;
};
settings_state& state() {
    static settings_state* s = new settings_state;
    return *s;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The current contents of the settings file (the state's mutex held). 0, or -1 when it cannot be
// read (the cache is then dropped).
int load_cached(const std::string& path, ini_data** out) {
    struct stat st {};
    bool exists = stat(path.c_str(), &st) == 0;
    if (state().cache.valid && state().cache.path == path && state().cache.exists == exists &&
        (!exists || same_file(state().cache.st, st))) {
        *out = &state().cache.data;
        return 0;
    }
    state().cache.valid = false;
    ini_data data;
    state().loads++;
    if (ini_load(path, data) != 0) return -1;
    state().cache.data = std::move(data);
    state().cache.path = path;
    state().cache.exists = exists;
    state().cache.st = st;
    state().cache.valid = true;
    *out = &state().cache.data;
    return 0;
}

std::string dir_of(const std::string& path) {
    size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}
}  // namespace

int reg_write(const char* section, const char* name, const char* text) {
    std::lock_guard<std::mutex> lk(state().mutex);
    std::string path = settings_file_path();
    ini_data* cached = nullptr;
    if (make_dirs(dir_of(path)) != 0 || load_cached(path, &cached) != 0) {
        show_user_text(make_text(TXT_SETTINGS_CREATE_FAILED));
        return 0;
    }
    ini_data data = *cached;
    data[section][name] = text ? text : "";
    if (ini_save_atomic(path, data) != 0) {
        state().cache.valid = false;  // the next read looks at the file again
        show_user_text(make_text(TXT_SETTINGS_WRITE_FAILED));
        return 0;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        state().cache.data = std::move(data);
        state().cache.exists = true;
        state().cache.st = st;
    } else {
        state().cache.valid = false;
    }
    return 0;
}

int reg_read(const char* section, const char* name, char* buffer, int size) {
    if (size <= 0) return 0;
    buffer[0] = '\0';
    std::lock_guard<std::mutex> lk(state().mutex);
    ini_data* cached = nullptr;
    if (load_cached(settings_file_path(), &cached) != 0) {
        show_user_text(make_text(TXT_SETTINGS_READ_FAILED));
        return 0;
    }
    const ini_data& data = *cached;
    auto sec = data.find(section);
    if (sec == data.end()) return 0;
    auto val = sec->second.find(name);
    if (val == sec->second.end()) return 0;
    copy_text(buffer, static_cast<size_t>(size), val->second.c_str());
    return 0;
}

int settings_file_loads() {
    std::lock_guard<std::mutex> lk(state().mutex);
    return state().loads;
}

int reg_write_int(const char* section, const char* name, int value) {
    char text[20];
    std::snprintf(text, sizeof(text), "%d", value);
    return reg_write(section, name, text);
}

int reg_read_int(const char* section, const char* name, int* out) {
    char text[20];
    reg_read(section, name, text, sizeof(text));
    *out = 0;
    if (text[0] != '\0') std::sscanf(text, "%d", out);
    return 0;
}

void set_server_host_override(const char* host) {
    std::lock_guard<std::mutex> lk(state().mutex);
    state().server_override = host ? host : "";
}

void set_web_base_override(const char* base) {
    std::lock_guard<std::mutex> lk(state().mutex);
    state().web_override = base ? base : "";
}

void deployment_server_host(char* out, int size) {
    {
        std::lock_guard<std::mutex> lk(state().mutex);
        if (!state().server_override.empty()) {
            copy_text(out, static_cast<size_t>(size), state().server_override.c_str());
            return;
        }
    }
    reg_read(kDeploymentSection, "server_host", out, size);
    if (out[0] == '\0') copy_text(out, static_cast<size_t>(size), kDefaultServerHost);
}

void deployment_web_base(char* out, int size) {
    {
        std::lock_guard<std::mutex> lk(state().mutex);
        if (!state().web_override.empty()) {
            copy_text(out, static_cast<size_t>(size), state().web_override.c_str());
            return;
        }
    }
    reg_read(kDeploymentSection, "web_base", out, size);
    if (out[0] == '\0') copy_text(out, static_cast<size_t>(size), kDefaultWebBase);
}

void apply_bind_address_setting() {
    char current[64];
    get_local_bind_address(current, sizeof(current));
    if (current[0] != '\0') return;
    char setting[64];
    reg_read(kDeploymentSection, "bind_address", setting, sizeof(setting));
    if (setting[0] != '\0') set_local_bind_address(setting);
}
