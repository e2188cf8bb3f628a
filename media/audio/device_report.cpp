#include "media/audio/device_report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/debug_log.h"
#include "platform/message_box.h"

namespace {
std::atomic<bool> g_shown[3];
}  // namespace

bool report_device_failure(device_kind kind, const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    log_line("%s\n", text);
    if (g_shown[static_cast<int>(kind)].exchange(true)) return false;
    show_message("%s", text);
    return true;
}

bool device_failure_shown(device_kind kind) {
    return g_shown[static_cast<int>(kind)].load();
}

void reset_device_failure_reports() {
    for (auto& s : g_shown) s = false;
}
