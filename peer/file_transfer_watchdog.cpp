#include "peer/file_transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "peer/file_transfer_state.h"
#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "peer/slave_header.h"
#include "peer/slave_server.h"
#include "platform/debug_log.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/tables.h"

using namespace file_transfer_internal;

namespace file_transfer_internal {
namespace {
void watchdog_thread();
}  // namespace

void ensure_watchdog() {
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        g_watch_epoch++;
        if (g_watchdog_running || g_stopping) return;
        g_watchdog_running = true;
    }
    if (g_ft_jobs.start(watchdog_thread) != 0) {
        log_line("could not start the file transfer watchdog\r\n");
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        g_watchdog_running = false;
    }
}

int watchdog_pass(uint32_t now, int* still_open) {
    int closed = 0;
    int open = 0;
    for (int i = 0; i < kMaxContacts; i++) {
        incoming& rx = g_in[i];
        int kind;
        int sock_index;
        uint64_t gen;
        uint64_t serial;
        {
            std::lock_guard<std::mutex> lk(rx.m);
            if (!rx.fp) continue;
            kind = rx.path_kind;
            sock_index = rx.sock_index;
            gen = rx.sock_gen;
            serial = rx.serial;
        }
        bool path_failed = false;
        if (kind == PEER_PATH_DIRECT && sock_index >= 0 && sock_index < kPeerSlots) {
            std::lock_guard<std::mutex> lk(g_peer_mutex);
            path_failed =
                g_peer_socks[sock_index].generation != gen || g_peer_socks[sock_index].in_use != 1;
        }
        pending_note note{0, 0, 0};
        {
            std::lock_guard<std::mutex> lk(rx.m);
            if (!rx.fp || rx.serial != serial) {
                if (rx.fp) open++;
                continue;
            }
            if (path_failed)
                note = close_incomplete(rx, i, FILE_INCOMPLETE_PATH_FAILED);
            else if (now - rx.last_data >= kFileIdleLimitMs)
                note = close_incomplete(rx, i, FILE_INCOMPLETE_NO_DATA);
            else
                open++;
        }
        if (note.n != 0) {
            closed++;
            post_main(note.n, note.w, note.l);
        }
    }
    if (still_open) *still_open = open;
    return closed;
}

namespace {
// Checks the incoming files every kFileWatchdogMs while any is open.
void watchdog_thread() {
    for (;;) {
        uint64_t epoch;
        {
            std::unique_lock<std::mutex> lk(g_ft_mutex);
            g_ft_cv.wait_for(lk, std::chrono::milliseconds(kFileWatchdogMs),
                             [] { return g_stopping; });
            if (g_stopping) {
                g_watchdog_running = false;
                return;
            }
            epoch = g_watch_epoch;
        }
        int open = 0;
        watchdog_pass(get_tick_count(), &open);
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        // Ends when nothing is open and no file was opened during the pass.
        if (open == 0 && g_watch_epoch == epoch) {
            g_watchdog_running = false;
            return;
        }
    }
}
}  // namespace
}  // namespace file_transfer_internal

int file_transfer_watchdog_pass(uint32_t now) {
    return watchdog_pass(now, nullptr);
}
