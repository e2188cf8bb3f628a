// The settings file backend: one INI file of sections holding string values.
#pragma once
#include <functional>
#include <map>
#include <string>

using ini_section = std::map<std::string, std::string>;
using ini_data = std::map<std::string, ini_section>;

// Reads path into out. A missing file gives empty data and 0; an unreadable or malformed file -1.
int ini_load(const std::string& path, ini_data& out);

// Writes data to path atomically: a temporary file beside it (mode 0600) is written and synced,
// then renamed over path. before_rename, when given, runs between the two and may return false to
// abandon the write (the old file then stays as it was). Returns 0 or -1.
int ini_save_atomic(const std::string& path, const ini_data& data,
                    const std::function<bool()>& before_rename = {});

// Values are written escaped so that any text (a password with ';' or '#', leading blanks, line
// breaks) reads back unchanged.
std::string ini_escape(const std::string& value);
std::string ini_unescape(const std::string& value);
