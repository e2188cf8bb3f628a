#include "cli/json_out.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_out_mutex;

std::string dump(const nlohmann::ordered_json& j) {
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

nlohmann::ordered_json parse_or_text(const std::string& json) {
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(json, nullptr, false);
    return j.is_discarded() ? nlohmann::ordered_json(json) : j;
}
}  // namespace

std::string json_escape(const std::string& text) { return dump(nlohmann::ordered_json(text)); }

std::string json_array(const std::initializer_list<std::string>& items) {
    nlohmann::ordered_json a = nlohmann::ordered_json::array();
    for (const auto& i : items) a.push_back(parse_or_text(i));
    return dump(a);
}

json_line& json_line::add(const char* k, long long value) {
    m_body[k] = value;
    return *this;
}

json_line& json_line::add(const char* k, const std::string& value) {
    m_body[k] = value;
    return *this;
}

json_line& json_line::add_bool(const char* k, bool value) {
    m_body[k] = value;
    return *this;
}

json_line& json_line::add_raw(const char* k, const std::string& json) {
    m_body[k] = parse_or_text(json);
    return *this;
}

std::string json_line::str() const { return dump(m_body); }

void json_line::print() const {
    std::string line = str() + "\n";
    std::lock_guard<std::mutex> lk(g_out_mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

int fail(const std::string& message) {
    json_line().add("error", message).print();
    return -1;
}

bool to_int(const std::string& s, int* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0') return false;
    *out = static_cast<int>(v);
    return true;
}
