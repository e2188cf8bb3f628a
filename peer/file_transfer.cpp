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
incoming g_in[kMaxContacts];
outgoing g_out[kMaxContacts];
std::mutex g_ft_mutex;
std::condition_variable g_ft_cv;
bool g_stopping = false;
bool g_watchdog_running = false;
uint64_t g_watch_epoch = 0;
Cjob_group g_ft_jobs;
uint64_t g_paths_serial = 0;

void post_all(const std::vector<pending_note>& notes) {
    for (const auto& x : notes) post_main(x.n, x.w, x.l);
}

// Header-only 371, 372 (and 375 on the control path): directly, else through the slave server.
int send_control(int peer_id, int command) {
    if (general_command_to_peer(peer_id, command, 0) >= 0) return 0;
    return general_str_command_to_peer_through_slave_server(peer_id, command, 0, "") >= 0 ? 0 : -1;
}

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_directory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Clears the record's recv_fd when it still holds fp.
void unmirror(int idx, FILE* fp) {
    tables_guard lk(tables_mutex());
    if (g_contact[idx].recv_fd == fp) g_contact[idx].recv_fd = nullptr;
}

// Closes the file of rx. Returns false when data could not be written out.
bool close_file(incoming& rx, int idx) {
    FILE* fp = rx.fp;
    if (!fp) return true;
    // The record stops pointing at the file before it is closed.
    unmirror(idx, fp);
    bool ok = std::ferror(fp) == 0;
    if (std::fclose(fp) != 0) ok = false;
    rx.fp = nullptr;
    delete[] rx.buffer;
    rx.buffer = nullptr;
    return ok;
}

// Closes the open file of rx and keeps what arrived under the name with ".incomplete" added.
// The caller holds rx.m and posts the returned notification after releasing it.
pending_note close_incomplete(incoming& rx, int idx, int reason) {
    close_file(rx, idx);
    std::string kept = rx.path + kIncompleteSuffix;
    if (std::rename(rx.path.c_str(), kept.c_str()) != 0) {
        log_line("could not rename %s to %s after an incomplete transfer, errno:%d\r\n",
                 rx.path.c_str(), kept.c_str(), errno);
        kept = rx.path;
    }
    log_line("file from peer_id:%d incomplete after %lld bytes (reason %d), kept as %s\r\n",
             rx.peer_id, static_cast<long long>(rx.bytes), reason, kept.c_str());
    rx.shown_path = kept;
    rx.armed = false;
    rx.finished = false;
    rx.discarding = true;  // blocks still on their way are dropped quietly
    return {NM_FILE_RECV_INCOMPLETE, rx.peer_id, reason};
}

// Makes g_in[idx] belong to peer_id; a transfer left there by another contact (the contact list
// changed under it) is closed as incomplete.
void claim_slot(incoming& rx, int idx, int peer_id, std::vector<pending_note>* notes) {
    if (rx.peer_id == peer_id) return;
    if (rx.fp) notes->push_back(close_incomplete(rx, idx, FILE_INCOMPLETE_REPLACED));
    rx.peer_id = peer_id;
    rx.armed = rx.discarding = rx.finished = false;
    rx.bytes = 0;
    rx.path.clear();
    rx.name.clear();
    rx.shown_path.clear();
}

// Finds the contact of a received command; logs the handler's line for an unknown peer.
int find_contact(int peer_id, const char* handler) {
    int idx = get_contact_index(peer_id);
    if (idx < 0) log_line("could not find peer index in %s, peer_id:%d\r\n", handler, peer_id);
    return idx;
}

// Refuses a file: 372 back to the sender.
void refuse(int peer_id) {
    send_control(peer_id, PEER_FILE_REFUSED);
}

// Arms the incoming slot for an accepted offer saved under path, stores the record's fields and
// sends 371.
int accept_into(int peer_id, int idx, const std::string& path, const std::string& name,
                bool no_follow) {
    std::vector<pending_note> notes;
    {
        incoming& rx = g_in[idx];
        std::lock_guard<std::mutex> lk(rx.m);
        claim_slot(rx, idx, peer_id, &notes);
        {
            tables_guard tl(tables_mutex());
            copy_text(g_contact[idx].recv_file_path, kFilePathMax + 1, path.c_str());
            copy_text(g_contact[idx].recv_file_name, kRecvFileNameMax + 1, name.c_str());
        }
        rx.armed = true;
        rx.no_follow = no_follow;
        rx.ever = true;
    }
    post_all(notes);
    if (send_control(peer_id, PEER_FILE_ACCEPTED) == 0) return 0;
    // Accepted before any way back to the sender exists (no connection yet, its relay route still
    // to be learnt): the answer waits for one instead of being lost.
    log_line("no way yet to send 371 to peer_id:%d, waiting for one\r\n", peer_id);
    if (g_ft_jobs.start([peer_id] { send_control_when_possible(peer_id, PEER_FILE_ACCEPTED); }) != 0) {
        log_line("could not send 371 to peer_id:%d\r\n", peer_id);
        return -1;
    }
    return 0;
}

void send_control_when_possible(int peer_id, int command) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFileIdleLimitMs);
    uint64_t seen;
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        seen = g_paths_serial;
    }
    // A path that appeared between the failed send and here is tried at once.
    for (bool first = true;; first = false) {
        if (!first) {
            std::unique_lock<std::mutex> lk(g_ft_mutex);
            if (!g_ft_cv.wait_until(lk, deadline, [&] { return g_stopping || g_paths_serial != seen; }) ||
                g_stopping)
                break;
            seen = g_paths_serial;
        }
        if (send_control(peer_id, command) == 0) {
            log_line("sent %d to peer_id:%d once a way was there\r\n", command, peer_id);
            return;
        }
    }
    log_line("could not send %d to peer_id:%d\r\n", command, peer_id);
}

// A name in folder that is not taken yet: name, else "stem (1).ext" ... Empty when none is free
// or the path would be longer than a path field holds.
std::string free_path_in(const std::string& folder, const std::string& name, std::string* chosen) {
    std::string dir = folder;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    size_t dot = name.find_last_of('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    for (int k = 0; k <= kFreeNameTries; k++) {
        std::string candidate = name;
        if (k > 0) {
            std::string tag = " (" + std::to_string(k) + ")";
            size_t room = kRecvFileNameMax - tag.size() - std::min(ext.size(), size_t{20});
            candidate = stem.substr(0, room) + tag + (ext.size() <= 20 ? ext : "");
        }
        std::string full = (dir == "/" ? "" : dir) + "/" + candidate;
        if (full.size() > static_cast<size_t>(kFilePathMax)) return "";
        struct stat st;
        if (lstat(full.c_str(), &st) != 0 && errno == ENOENT) {
            *chosen = candidate;
            return full;
        }
    }
    return "";
}
}  // namespace file_transfer_internal

std::string safe_file_name(const char* name, int max) {
    if (!name) return "";
    const char* start = name;
    for (const char* p = name; *p; p++)
        if (*p == '/' || *p == '\\') start = p + 1;
    std::string s(start);
    if (max >= 0 && s.size() > static_cast<size_t>(max)) s.resize(static_cast<size_t>(max));
    if (s.empty() || s == "." || s == "..") return "";
    return s;
}

void file_paths_changed() {
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        g_paths_serial++;
    }
    g_ft_cv.notify_all();
}

void stop_file_transfers(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        g_stopping = true;
        for (auto& tx : g_out)
            if (tx.running) tx.cancel = FILE_SEND_STOPPED;
    }
    g_ft_cv.notify_all();
    g_ft_jobs.wait(ms);
    for (int i = 0; i < kMaxContacts; i++) {
        pending_note note{0, 0, 0};
        {
            std::lock_guard<std::mutex> lk(g_in[i].m);
            if (g_in[i].fp) note = close_incomplete(g_in[i], i, FILE_INCOMPLETE_STOPPED);
            // A stopped program forgets every offer and answer.
            g_in[i].peer_id = 0;
            g_in[i].armed = g_in[i].discarding = g_in[i].finished = g_in[i].ever = false;
        }
        if (note.n != 0) post_main(note.n, note.w, note.l);
    }
    std::lock_guard<std::mutex> lk(g_ft_mutex);
    for (auto& tx : g_out) {
        if (tx.running) continue;  // a thread that did not end in time keeps its slot
        tx.peer_id = 0;
        tx.offered = tx.running = tx.finished = tx.ever = false;
        tx.cancel = 0;
    }
    g_stopping = false;
}
