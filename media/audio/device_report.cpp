#include "media/audio/device_report.h"

#include <atomic>
#include <cstdio>

#include "platform/debug_log.h"

namespace {
std::atomic<bool> g_shown[4];
}  // namespace

bool report_device_failure(device_kind kind, const user_text& text) {
    log_line("%s\n", english(text).c_str());
    if (g_shown[static_cast<int>(kind)].exchange(true)) return false;
    show_user_text(text);
    return true;
}

std::string device_error_code(int rc) {
    char code[16];
    std::snprintf(code, sizeof(code), "%x", static_cast<unsigned>(rc));
    return code;
}

bool device_failure_shown(device_kind kind) {
    return g_shown[static_cast<int>(kind)].load();
}

void reset_device_failure_reports() {
    for (auto& s : g_shown) s = false;
}
