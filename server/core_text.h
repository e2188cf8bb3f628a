// Text helpers of the server core's handlers: fixed-width numbers and the clients' text fields.
// Internal to server/core*.cpp.
#pragma once
#include <cstdio>
#include <cstring>
#include <string>

namespace srv::core_text {
inline std::string fd(int v) {
    return std::to_string(v);
}

inline std::string f6(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%6d", v);
    return buf;
}

inline std::string f10(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%10d", v);
    return buf;
}

// Text of a fixed slot: up to the first zero byte or the slot's end.
inline std::string slot_text(const std::string& body, size_t offset, size_t width) {
    if (offset >= body.size()) return {};
    size_t n = body.size() - offset < width ? body.size() - offset : width;
    const char* p = body.data() + offset;
    return std::string(p, strnlen(p, n));
}

inline std::string cut(std::string s, size_t n) {
    if (s.size() > n) s.resize(n);
    return s;
}

// Text up to the first zero byte (clients terminate their texts at len, a zero inside ends them).
inline std::string c_text(const std::string& body) {
    return std::string(body.c_str());
}

// A single blank-free word (clients read these fields with "%s").
inline std::string first_word(const std::string& s) {
    size_t start = s.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return {};
    size_t end = s.find_first_of(" \t\r\n", start);
    return s.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

inline bool has_control(const std::string& s) {
    for (unsigned char ch : s)
        if (ch < 0x20 || ch == 0x7f) return true;
    return false;
}
}  // namespace srv::core_text
