#include "protocol/extensions.h"

#include <atomic>
#include <cstring>
#include <string>

#include "platform/debug_log.h"
#include "protocol/commands.h"
#include "protocol/server_link.h"
#include "protocol/settings_store.h"

namespace {
std::atomic<bool> g_enabled{true};
std::atomic<int> g_server_mask{0};
}  // namespace

void set_extensions_enabled(bool on) {
    g_enabled = on;
}

bool extensions_enabled() {
    return g_enabled.load();
}

void extensions_signed_in() {
    g_server_mask = 0;
}

void announce_extensions() {
    if (!g_enabled.load()) return;
    general_str_command_to_server(CMD_EXTENSIONS, std::to_string(kExtAll).c_str());
}

void server_extensions_received(const char* body, int len) {
    std::string text(body, len > 0 ? static_cast<size_t>(len) : 0);
    int mask = 0;
    size_t i = text.find_first_not_of(' ');
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && mask < (1 << 24); i++)
        mask = mask * 10 + (text[i] - '0');
    g_server_mask = mask & kExtAll;
    log_line("server extensions: %d\r\n", mask);
}

bool extension_usable(int ext, const char* host) {
    if (!g_enabled.load() || (g_server_mask.load() & ext) == 0) return false;
    char server[100];
    deployment_server_host(server, sizeof(server));
    return host != nullptr && std::strcmp(server, host) == 0;
}
