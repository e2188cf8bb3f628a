// The poll loop shared by the peer, slave-server and relay-server tables: it watches every idle
// connection of a table together with a wake-up descriptor, and hands each readable connection to
// one reader thread. It blocks in poll() while nothing happens, so an idle table costs no CPU;
// the table's owner signals the wake-up when a connection is added or when the loop must stop.
#pragma once
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/socket.h"
#include "platform/wakeup.h"

// The loops below are woken by their owners; this bounds a wait only in case a wake-up were
// missed, so idle tables wake rarely.
constexpr int kPollSafetyMs = 10000;

struct poll_candidate {
    int index;
    uint64_t generation;
    socket_t sock;
};

// collect(std::vector<poll_candidate>&) lists the in-use, non-busy connections that have a socket
// (under the table's lock); claim(index, generation) marks one busy and starts its reader. A
// failed poll logs "select error in <name>.\n", shows it and ends the loop.
template <class Collect, class Claim>
void run_slot_poller(Cwakeup& wakeup, const std::atomic<bool>& stop, const char* name,
                     Collect collect, Claim claim) {
    std::vector<poll_candidate> candidates;
    std::vector<struct pollfd> fds;
    for (;;) {
        candidates.clear();
        collect(candidates);
        fds.clear();
        fds.push_back({wakeup.fd(), POLLIN, 0});
        for (const auto& c : candidates) fds.push_back({c.sock, POLLIN, 0});
        int r = poll(fds.data(), fds.size(), kPollSafetyMs);
        if (stop.load()) return;
        if (r < 0) {
            if (errno == EINTR) continue;
            log_line("select error in %s.\n", name);
            show_message("select error in %s.\n", name);
            return;
        }
        if (fds[0].revents) wakeup.drain();
        for (size_t k = 1; k < fds.size(); k++)
            if (fds[k].revents) claim(candidates[k - 1].index, candidates[k - 1].generation);
    }
}

// The accept loop of a table's listener: each connection goes to accepted(socket); a listener
// that fails for good calls failed() and ends the loop. The table's owner stops it by setting
// stop and shutting the listening socket down, which wakes the wait at once.
template <class Accepted, class Failed>
void run_accept_loop(socket_t listener, const std::atomic<bool>& stop, Accepted accepted,
                     Failed failed) {
    for (;;) {
        socket_t s = -1;
        accept_result r = accept_ready(listener, kPollSafetyMs, &s);
        if (stop.load()) {
            close_socket(s);
            return;
        }
        if (r == accept_result::nothing) continue;
        if (r == accept_result::failed) {
            failed();
            return;
        }
        set_no_delay(s);
        accepted(s);
    }
}
