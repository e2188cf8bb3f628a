// The INI format is read and written by GLib's key-file parser, which has no line-length limit
// and escapes values itself (line breaks, leading blanks, backslashes), so any text reads back
// unchanged. Writing goes through a temporary file and a rename so that a crash never leaves a
// half-written settings file behind.
#include "platform/settings_file.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {
struct key_file_deleter {
    void operator()(GKeyFile* f) const { g_key_file_free(f); }
};
using key_file = std::unique_ptr<GKeyFile, key_file_deleter>;

struct gfree_deleter {
    void operator()(void* p) const { g_free(p); }
};

bool write_all(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

std::string ini_escape(const std::string& value) {
    key_file f(g_key_file_new());
    g_key_file_set_string(f.get(), "s", "k", value.c_str());
    std::unique_ptr<char, gfree_deleter> raw(g_key_file_get_value(f.get(), "s", "k", nullptr));
    return raw ? std::string(raw.get()) : std::string();
}

std::string ini_unescape(const std::string& value) {
    key_file f(g_key_file_new());
    g_key_file_set_value(f.get(), "s", "k", value.c_str());
    std::unique_ptr<char, gfree_deleter> text(g_key_file_get_string(f.get(), "s", "k", nullptr));
    return text ? std::string(text.get()) : std::string();
}

int ini_load(const std::string& path, ini_data& out) {
    out.clear();
    if (access(path.c_str(), F_OK) != 0) return 0;
    key_file f(g_key_file_new());
    GError* error = nullptr;
    if (!g_key_file_load_from_file(f.get(), path.c_str(), G_KEY_FILE_NONE, &error)) {
        g_clear_error(&error);
        return -1;
    }
    gsize ngroups = 0;
    char** groups = g_key_file_get_groups(f.get(), &ngroups);
    for (gsize g = 0; g < ngroups; g++) {
        ini_section& section = out[groups[g]];
        gsize nkeys = 0;
        char** keys = g_key_file_get_keys(f.get(), groups[g], &nkeys, nullptr);
        for (gsize k = 0; keys && k < nkeys; k++) {
            std::unique_ptr<char, gfree_deleter> text(
                g_key_file_get_string(f.get(), groups[g], keys[k], nullptr));
            section[keys[k]] = text ? text.get() : "";
        }
        g_strfreev(keys);
    }
    g_strfreev(groups);
    return 0;
}

int ini_save_atomic(const std::string& path, const ini_data& data,
                    const std::function<bool()>& before_rename) {
    key_file f(g_key_file_new());
    for (const auto& [section, values] : data) {
        if (values.empty()) continue;
        for (const auto& [name, value] : values)
            g_key_file_set_string(f.get(), section.c_str(), name.c_str(), value.c_str());
    }
    gsize length = 0;
    std::unique_ptr<char, gfree_deleter> text(g_key_file_to_data(f.get(), &length, nullptr));
    if (!text) return -1;

    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    fchmod(fd, 0600);
    bool ok = write_all(fd, text.get(), length) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && before_rename && !before_rename()) ok = false;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return -1;
    }
    return 0;
}
