#include "cli/json_out.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_out_mutex;
}

std::string json_escape(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof(esc), "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string json_array(const std::initializer_list<std::string>& items) {
    std::string out = "[";
    for (const auto& i : items) {
        if (out.size() > 1) out += ",";
        out += i;
    }
    return out + "]";
}

void json_line::key(const char* k) {
    if (!m_body.empty()) m_body += ",";
    m_body += json_escape(k) + ":";
}

json_line& json_line::add(const char* k, long long value) {
    key(k);
    m_body += std::to_string(value);
    return *this;
}

json_line& json_line::add(const char* k, const std::string& value) {
    key(k);
    m_body += json_escape(value);
    return *this;
}

json_line& json_line::add_bool(const char* k, bool value) {
    key(k);
    m_body += value ? "true" : "false";
    return *this;
}

json_line& json_line::add_raw(const char* k, const std::string& json) {
    key(k);
    m_body += json;
    return *this;
}

void json_line::print() const {
    std::string line = str() + "\n";
    std::lock_guard<std::mutex> lk(g_out_mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
