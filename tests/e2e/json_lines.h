// Readers for the one-object-per-line JSON that parlo-cli prints, shared by the end-to-end tests
// and the benchmarks.
#pragma once
#include <cstdlib>
#include <string>

// The number that follows "key": in a JSON line (-1 when the key is absent).
inline int json_int(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return -1;
    return std::atoi(line.c_str() + at + key.size() + 3);
}

// The id in the record of the contact with this e-mail in a "contacts" line (-1 when absent).
inline int contact_id_of(const std::string& line, const std::string& email) {
    size_t at = line.find("\"email\":\"" + email + "\"");
    if (at == std::string::npos) return -1;
    size_t rec = line.rfind("{\"id\":", at);
    return rec == std::string::npos ? -1 : std::atoi(line.c_str() + rec + 6);
}
