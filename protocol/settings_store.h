// The settings store: string values in named sections, kept in one INI file (see platform/paths.h
// for where). Integers are stored as decimal text. The file is rewritten atomically with mode 0600
// since it may hold the remembered password. The parsed file is kept in memory and parsed again
// only when the file changed (another process, an edit by hand); reads are then cheap enough for
// any thread.
#pragma once

// Sets value `name` of `section` to text. Returns 0.
int reg_write(const char* section, const char* name, const char* text);
// Reads value `name` into buffer (size bytes), cut and terminated; a missing value leaves it empty.
// Returns 0.
int reg_read(const char* section, const char* name, char* buffer, int size);
int reg_write_int(const char* section, const char* name, int value);
// Empty or missing text gives 0, otherwise the decimal number at the start of the text.
int reg_read_int(const char* section, const char* name, int* out);
// How many times the settings file was parsed in this process (for tests and diagnostics).
int settings_file_loads();

// Deployment values that a build for one site would fix, kept as settings with defaults and
// overridable by command-line flags (section "deployment").
extern const char* const kDeploymentSection;       // "deployment"
extern const char* const kDefaultServerHost;       // "127.0.0.1"
extern const char* const kDefaultWebBase;          // "http://127.0.0.1"

// The messenger server host: the override, else the setting, else the default. out >= 100 bytes.
void deployment_server_host(char* out, int size);
void deployment_web_base(char* out, int size);
// Overrides (from flags) win over the settings file for this process. Empty clears an override.
void set_server_host_override(const char* host);
void set_web_base_override(const char* base);
// Reads the "bind_address" setting into the platform's local bind address unless a flag set one.
void apply_bind_address_setting();
