#include "platform/settings_file.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {
bool needs_escape(unsigned char c) {
    return c < 0x20 || c == 0x7f || c == '%' || c == ';' || c == '#' || c == '[' || c == ']' ||
           c == '=';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int on_value(void* user, const char* section, const char* name, const char* value) {
    auto* data = static_cast<ini_data*>(user);
    (*data)[section][ini_unescape(name)] = ini_unescape(value ? value : "");
    return 1;
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

std::string ini_escape(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); i++) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        bool edge_blank = (c == ' ' || c == '\t') && (i == 0 || i + 1 == value.size());
        if (needs_escape(c) || edge_blank) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%%%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string ini_unescape(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); i++) {
        if (value[i] == '%' && i + 2 < value.size() + 0 && hex_value(value[i + 1]) >= 0 &&
            hex_value(value[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_value(value[i + 1]) * 16 + hex_value(value[i + 2])));
            i += 2;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

int ini_load(const std::string& path, ini_data& out) {
    out.clear();
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return access(path.c_str(), F_OK) == 0 ? -1 : 0;
    int r = ini_parse_file(f, on_value, &out);
    std::fclose(f);
    return r == 0 ? 0 : -1;
}

int ini_save_atomic(const std::string& path, const ini_data& data,
                    const std::function<bool()>& before_rename) {
    std::string text;
    for (const auto& [section, values] : data) {
        text += "[" + section + "]\n";
        for (const auto& [name, value] : values) text += ini_escape(name) + "=" + ini_escape(value) + "\n";
        text += "\n";
    }
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    fchmod(fd, 0600);
    bool ok = write_all(fd, text) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && before_rename && !before_rename()) ok = false;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return -1;
    }
    return 0;
}
