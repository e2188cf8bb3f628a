// One JSON object per line on standard output. Lines of different threads never interleave.
// Objects are built with nlohmann-json: keys keep the order they were added in, and text that is
// not valid UTF-8 (a peer writing in another encoding) still gives valid JSON, each bad byte
// replaced by U+FFFD.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

#include <nlohmann/json.hpp>

class json_line {
public:
    json_line& add(const char* key, long long value);
    json_line& add(const char* key, int value) { return add(key, static_cast<long long>(value)); }
    json_line& add(const char* key, long value) { return add(key, static_cast<long long>(value)); }
    json_line& add(const char* key, const std::string& value);
    json_line& add(const char* key, const char* value) { return add(key, std::string(value ? value : "")); }
    json_line& add_bool(const char* key, bool value);
    // value must already be JSON (an array or object built with json_array / json_line::str);
    // text that does not parse is stored as a string.
    json_line& add_raw(const char* key, const std::string& json);
    std::string str() const;
    // Writes the object and a newline to standard output and flushes.
    void print() const;

private:
    nlohmann::ordered_json m_body = nlohmann::ordered_json::object();
};

// Prints {"error":message} and returns -1: a command that could not be done.
int fail(const std::string& message);
// Parses a whole decimal number; false for anything else.
bool to_int(const std::string& s, int* out);

// The JSON string literal of text (quotes included), bad UTF-8 replaced.
std::string json_escape(const std::string& text);
// "[a,b,c]" from already-encoded items.
std::string json_array(const std::initializer_list<std::string>& items);
