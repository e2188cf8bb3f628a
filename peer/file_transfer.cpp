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

#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "peer/slave_header.h"
#include "peer/slave_server.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/debug_log.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/tables.h"

namespace {
// Bytes stdio keeps between the program and the disk, so a 1000-byte block costs no system call.
constexpr size_t kFileBufferBytes = 256 * 1024;
constexpr int kFreeNameTries = 999;

// One incoming transfer; g_in[i] belongs to the contact at g_contact[i]. Every field is guarded
// by m, which is held while the file is written or closed (never while a socket is used or a
// notification goes out). Lock order: m, then tables_mutex(), then g_peer_mutex.
struct incoming {
    std::mutex m;
    int peer_id = 0;
    bool armed = false;       // the user accepted an offer: one 373 may open recv_file_path
    bool no_follow = false;   // the path was built in a folder: a link there is never followed
    bool discarding = false;  // blocks are dropped quietly until 375 (refused or failed transfer)
    bool finished = false;    // the last file was saved completely
    bool ever = false;
    FILE* fp = nullptr;
    char* buffer = nullptr;  // stdio buffer of fp
    std::string path;        // the file being written
    std::string name;
    std::string shown_path;  // saved path (text 210) or the incomplete name (notification 62)
    int64_t bytes = 0;
    uint32_t last_data = 0;
    uint32_t last_report = 0;
    int path_kind = kFilePathUnknown;
    int sock_index = -1;  // the direct connection it came on, and that connection's generation
    uint64_t sock_gen = 0;
    uint64_t serial = 0;  // changes with every file opened in this slot
};
incoming g_in[kMaxContacts];

// One outgoing transfer; guarded by g_ft_mutex except the cancel flag, which the sending thread
// reads for every block.
struct outgoing {
    int peer_id = 0;
    bool offered = false;  // an offer is waiting for its answer; 371 starts it once
    uint32_t offered_tick = 0;
    bool running = false;
    bool finished = false;
    bool ever = false;
    std::atomic<int> cancel{0};  // a file_send_failure reason, 0 while the send may go on
    int64_t bytes = 0;
    int64_t total = -1;
    std::string name;
    std::string path;
};
outgoing g_out[kMaxContacts];

// A leaf lock: nothing is called while it is held.
std::mutex g_ft_mutex;
std::condition_variable g_ft_cv;
bool g_stopping = false;
bool g_watchdog_running = false;
uint64_t g_watch_epoch = 0;
Cjob_group g_ft_jobs;

struct pending_note {
    int n;
    intptr_t w;
    intptr_t l;
};

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

void watchdog_thread();

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
    if (send_control(peer_id, PEER_FILE_ACCEPTED) != 0) {
        log_line("could not send 371 to peer_id:%d\r\n", peer_id);
        return -1;
    }
    return 0;
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
}  // namespace

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

// ---- Receiver: the handlers of the reader threads ----

int do_file_transfer_ask_permission_from_peer(const char* body, int len, int peer_id, int, int) {
    std::string text(body ? body : "",
                     body && len > 0 ? strnlen(body, static_cast<size_t>(len)) : 0);
    int idx = find_contact(peer_id, "do_file_transfer_ask_permission_from_peer");
    if (idx < 0) return -1;
    // The name comes from the network: only its last component is kept, so whatever the user
    // accepts lands inside the folder chosen for it.
    std::string name = safe_file_name(text.c_str(), kRecvFileNameMax);
    if (name.empty()) {
        log_line(
            "file name \"%.200s\" refused in do_file_transfer_ask_permission_from_peer, "
            "peer_id:%d\r\n",
            text.c_str(), peer_id);
        refuse(peer_id);
        return -1;
    }
    {
        tables_guard lk(tables_mutex());
        copy_text(g_contact[idx].recv_file_name, kRecvFileNameMax + 1, name.c_str());
    }
    post_main(NM_FILE_ASK, peer_id, 0);
    return 0;
}

int do_file_transfer_begin_from_peer(const char*, int, int peer_id, int path, int index) {
    int idx = find_contact(peer_id, "do_file_transfer_begin_from_peer");
    if (idx < 0) return -1;
    uint64_t gen = 0;
    if (path == PEER_PATH_DIRECT && index >= 0 && index < kPeerSlots) {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        gen = g_peer_socks[index].generation;
    }
    std::vector<pending_note> notes;
    bool refused = false;
    {
        incoming& rx = g_in[idx];
        std::lock_guard<std::mutex> lk(rx.m);
        claim_slot(rx, idx, peer_id, &notes);
        std::string target;
        {
            tables_guard tl(tables_mutex());
            target = g_contact[idx].recv_file_path;
        }
        if (rx.fp) {
            // A new file while one is being written: the old one is closed and the transfer
            // starts again. A different target keeps the old part under its incomplete name.
            if (target != rx.path)
                notes.push_back(close_incomplete(rx, idx, FILE_INCOMPLETE_REPLACED));
            else
                close_file(rx, idx);
            rx.armed = true;
        }
        if (!rx.armed || target.empty()) {
            log_line("no accepted file offer in do_file_transfer_begin_from_peer, peer_id:%d\r\n",
                     peer_id);
            rx.discarding = true;
            refused = true;
        } else {
            int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (rx.no_follow ? O_NOFOLLOW : 0);
            int fd = ::open(target.c_str(), flags, 0644);
            FILE* fp = fd >= 0 ? fdopen(fd, "wb") : nullptr;
            if (!fp) {
                log_line(
                    "could not open %s for writing in do_file_transfer_begin_from_peer, "
                    "peer_id:%d, errno:%d\r\n",
                    target.c_str(), peer_id, errno);
                if (fd >= 0) ::close(fd);
                rx.armed = false;
                rx.discarding = true;
                refused = true;
            } else {
                rx.buffer = new char[kFileBufferBytes];
                std::setvbuf(fp, rx.buffer, _IOFBF, kFileBufferBytes);
                rx.fp = fp;
                rx.path = target;
                rx.name = base_name(target);
                rx.discarding = false;
                rx.finished = false;
                rx.bytes = 0;
                rx.last_data = rx.last_report = get_tick_count();
                rx.path_kind = path;
                rx.sock_index = path == PEER_PATH_DIRECT ? index : -1;
                rx.sock_gen = gen;
                rx.serial++;
                rx.ever = true;
                tables_guard tl(tables_mutex());
                g_contact[idx].recv_fd = fp;
                notes.push_back({NM_FILE_RECV_PROGRESS, peer_id, 0});
            }
        }
    }
    post_all(notes);
    if (refused) {
        refuse(peer_id);
        return -1;
    }
    ensure_watchdog();
    return 0;
}

int do_file_transfer_cont_from_peer(const char* body, int len, int peer_id, int, int) {
    int idx = find_contact(peer_id, "do_file_transfer_cont_from_peer");
    if (idx < 0) return -1;
    pending_note note{0, 0, 0};
    bool failed = false;
    {
        incoming& rx = g_in[idx];
        std::lock_guard<std::mutex> lk(rx.m);
        if (rx.peer_id == peer_id && rx.fp) {
            size_t n = len > 0 ? static_cast<size_t>(len) : 0;
            uint32_t now = get_tick_count();
            rx.last_data = now;
            if (n > 0 && std::fwrite(body, 1, n, rx.fp) != n) {
                log_line(
                    "writing %s failed in do_file_transfer_cont_from_peer, peer_id:%d, "
                    "errno:%d\r\n",
                    rx.path.c_str(), peer_id, errno);
                note = close_incomplete(rx, idx, FILE_INCOMPLETE_WRITE_FAILED);
                failed = true;
            } else {
                rx.bytes += static_cast<int64_t>(n);
                if (now - rx.last_report >= kFileProgressMs) {
                    rx.last_report = now;
                    note = {NM_FILE_RECV_PROGRESS, peer_id, static_cast<intptr_t>(rx.bytes)};
                }
            }
        } else if (rx.peer_id == peer_id && rx.discarding) {
            return 0;  // a refused or failed transfer: its blocks are dropped without a line each
        } else {
            log_line("g_contact[%d].recv_fd is NULL in do_file_transfer_cont_from_peer.\r\n", idx);
            return -1;
        }
    }
    if (note.n != 0) post_main(note.n, note.w, note.l);
    if (failed) {
        refuse(peer_id);  // the only word the sender understands for "stop sending"
        return -1;
    }
    return 0;
}

int do_file_transfer_end_from_peer(const char*, int, int peer_id, int, int) {
    int idx = find_contact(peer_id, "do_file_transfer_end_from_peer");
    if (idx < 0) return -1;
    std::vector<pending_note> notes;
    {
        incoming& rx = g_in[idx];
        std::lock_guard<std::mutex> lk(rx.m);
        if (rx.peer_id == peer_id && rx.fp) {
            if (close_file(rx, idx)) {
                rx.shown_path = rx.path;
                rx.finished = true;
                rx.armed = false;
                notes.push_back({NM_FILE_RECV_PROGRESS, peer_id, static_cast<intptr_t>(rx.bytes)});
                notes.push_back({NM_FILE_DONE, peer_id, 0});
            } else {
                // The last buffered bytes did not reach the disk: not a saved file.
                log_line("closing %s failed in do_file_transfer_end_from_peer, peer_id:%d\r\n",
                         rx.path.c_str(), peer_id);
                rx.fp = nullptr;
                notes.push_back(close_incomplete(rx, idx, FILE_INCOMPLETE_WRITE_FAILED));
                rx.discarding = false;
            }
        } else if (rx.peer_id == peer_id && rx.discarding) {
            rx.discarding = false;
            log_line("end of a refused file from peer_id:%d in do_file_transfer_end_from_peer\r\n",
                     peer_id);
            return 0;
        } else {
            log_line("g_contact[%d].recv_fd is NULL in do_file_transfer_end_from_peer.\r\n", idx);
            return -1;
        }
    }
    post_all(notes);
    return 0;
}

int file_transfer_watchdog_pass(uint32_t now) {
    return watchdog_pass(now, nullptr);
}

// ---- Sender ----

namespace {
// Blocks gathered into one send on the direct path: each stays its own framed 374 on the wire,
// but sixteen of them cost one system call instead of sixteen.
constexpr int kBlocksPerSend = 16;
constexpr int kBlockMessageBytes = kHeaderLen + kFileBlockBytes;

// Sends already framed and scrambled messages on the peer's direct connection (looked up for
// every send, so a connection replaced by a new one to the same peer carries on).
int send_direct(int peer_id, const char* messages, int len) {
    int index = get_peer_sock_index(peer_id);
    if (index < 0) {
        log_line("could not find peer sock index in send_file_to_peer_thread: peer_id=%d\r\n",
                 peer_id);
        return -1;
    }
    return g_peer_socks[index].send_raw(messages, len);
}

void publish_send(int idx, int peer_id, int64_t bytes) {
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        if (g_out[idx].peer_id == peer_id) g_out[idx].bytes = bytes;
    }
    post_main(NM_FILE_SEND_PROGRESS, peer_id, static_cast<intptr_t>(bytes));
}

void end_send(int idx, int peer_id, bool finished) {
    std::lock_guard<std::mutex> lk(g_ft_mutex);
    if (g_out[idx].peer_id != peer_id) return;
    g_out[idx].running = false;
    g_out[idx].finished = finished;
}

bool receiver_online(int peer_id) {
    contact_record c;
    return contact_by_id(peer_id, &c) && c.presence != PS_OFFLINE;
}

int fail_send(int idx, int peer_id, int reason) {
    end_send(idx, peer_id, false);
    post_main(NM_FILE_SEND_FAILED, peer_id, reason);
    return -1;
}
}  // namespace

int send_file_to_peer_thread(int peer_id) {
    if (peer_id <= 0) {
        log_line("peer_id:%d not valid in send_file_to_peer_thread.\r\n", peer_id);
        return -1;
    }
    int idx = get_contact_index(peer_id);
    if (idx < 0) {
        log_line("did not find contact_index in send_file_to_peer_thread, peer_id is:%d\r\n",
                 peer_id);
        return -1;
    }
    std::string path;
    std::string name;
    {
        tables_guard lk(tables_mutex());
        path = g_contact[idx].send_file_path;
        name = g_contact[idx].send_file_name;
    }
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        outgoing& tx = g_out[idx];
        if (tx.peer_id != peer_id) tx.cancel = 0;
        tx.peer_id = peer_id;
        tx.running = true;
        tx.finished = false;
        tx.ever = true;
        tx.bytes = 0;
        tx.total = -1;
        tx.name = name;
        tx.path = path;
    }
    FILE* fp = path.empty() ? nullptr : std::fopen(path.c_str(), "rbe");
    if (!fp) {
        log_line("could not open file %s in send_file_to_peer_thread, peer_id:%d, errno:%d\r\n",
                 path.c_str(), peer_id, errno);
        return fail_send(idx, peer_id, FILE_SEND_OPEN_FAILED);
    }
    std::vector<char> read_buffer(kFileBufferBytes);
    std::setvbuf(fp, read_buffer.data(), _IOFBF, read_buffer.size());
    struct stat st;
    int64_t total = fstat(fileno(fp), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        g_out[idx].total = total;
    }

    // The path is chosen once: a connection that opens or closes later does not move the file.
    bool direct = get_peer_sock_index(peer_id) >= 0;
    // A receiver seen online now and offline later has gone: the send ends as failed.
    bool was_online = receiver_online(peer_id);
    log_line("sending file %s to peer_id:%d %s\r\n", path.c_str(), peer_id,
             direct ? "directly" : "through the slave server");

    auto finish = [&](int reason) {
        std::fclose(fp);
        return fail_send(idx, peer_id, reason);
    };
    outgoing& tx = g_out[idx];
    int r = direct ? general_str_command_to_peer(peer_id, PEER_FILE_BEGIN, 0, name.c_str())
                   : general_str_command_to_peer_through_slave_server(peer_id, PEER_FILE_BEGIN, 0,
                                                                      name.c_str());
    if (r < 0) {
        log_line("sending 373 failed in send_file_to_peer_thread, peer_id:%d\r\n", peer_id);
        return finish(FILE_SEND_PATH_FAILED);
    }
    publish_send(idx, peer_id, 0);

    // One buffer for the whole file: blocks are read straight behind their headers.
    // On the slave-server path each block also carries the outer header.
    const int head = direct ? kHeaderLen : kOuterHeaderLen + kHeaderLen;
    std::vector<char> batch(
        static_cast<size_t>(kBlocksPerSend * (kOuterHeaderLen + kBlockMessageBytes) + 1));
    char header[kHeaderLen + 1];
    int64_t sent = 0;
    uint32_t last_report = get_tick_count();
    bool at_end = false;
    while (!at_end) {
        if (int reason = tx.cancel.load(std::memory_order_relaxed)) {
            log_line(
                "file transfer to peer_id:%d stopped after %lld bytes in "
                "send_file_to_peer_thread\r\n",
                peer_id, static_cast<long long>(sent));
            return finish(reason);
        }
        int used = 0;
        int64_t bytes = 0;
        for (int b = 0; b < kBlocksPerSend; b++) {
            char* block = batch.data() + used;
            size_t n = std::fread(block + head, 1, kFileBlockBytes, fp);
            if (n == 0) {
                if (std::ferror(fp)) {
                    log_line(
                        "reading %s failed in send_file_to_peer_thread, peer_id:%d, errno:%d\r\n",
                        path.c_str(), peer_id, errno);
                    return finish(FILE_SEND_READ_FAILED);
                }
                at_end = true;
                break;
            }
            int count = static_cast<int>(n);
            if (!direct) {
                used += frame_relayed_in_place(block, peer_id, PEER_FILE_DATA, count);
                bytes += count;
                continue;
            }
            build_header(header, 0, 0, PEER_FILE_DATA, count);
            std::memcpy(block, header, kHeaderLen);
            xor_scramble(block + kHeaderLen, count);
            used += kHeaderLen + count;
            bytes += count;
        }
        if (used > 0)
            r = direct ? send_direct(peer_id, batch.data(), used)
                       : send_framed_through_slave_server(peer_id, batch.data(), used);
        if (r < 0) {
            log_line(
                "sending a block failed in send_file_to_peer_thread, peer_id:%d, after %lld "
                "bytes\r\n",
                peer_id, static_cast<long long>(sent));
            return finish(FILE_SEND_PATH_FAILED);
        }
        sent += bytes;
        uint32_t now = get_tick_count();
        if (now - last_report >= kFileProgressMs) {
            last_report = now;
            // A relay takes the blocks whether or not the receiver is still there: a receiver
            // that went offline ends the send as failed.
            if (was_online && !receiver_online(peer_id)) {
                log_line("peer_id:%d went offline after %lld bytes in send_file_to_peer_thread\r\n",
                         peer_id, static_cast<long long>(sent));
                return finish(FILE_SEND_PATH_FAILED);
            }
            publish_send(idx, peer_id, sent);
        }
    }
    std::fclose(fp);
    if (was_online && !receiver_online(peer_id)) {
        log_line("peer_id:%d went offline before the end in send_file_to_peer_thread\r\n", peer_id);
        return fail_send(idx, peer_id, FILE_SEND_PATH_FAILED);
    }
    r = direct ? general_command_to_peer(peer_id, PEER_FILE_END, 0)
               : general_str_command_to_peer_through_slave_server(peer_id, PEER_FILE_END, 0, "");
    if (r < 0) {
        log_line("sending 375 failed in send_file_to_peer_thread, peer_id:%d\r\n", peer_id);
        return fail_send(idx, peer_id, FILE_SEND_PATH_FAILED);
    }
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        if (g_out[idx].peer_id == peer_id) g_out[idx].bytes = sent;
    }
    end_send(idx, peer_id, true);
    post_main(NM_FILE_SEND_PROGRESS, peer_id, static_cast<intptr_t>(sent));
    return 0;
}

int file_send_threads_running() {
    std::lock_guard<std::mutex> lk(g_ft_mutex);
    int n = 0;
    for (const auto& tx : g_out) n += tx.running ? 1 : 0;
    return n;
}

// ---- The user's side ----

int offer_file(int peer_id, const char* path) {
    int idx = get_contact_index(peer_id);
    if (peer_id <= 0 || idx < 0) {
        log_line("could not find contact peer_id:%d in offer_file\r\n", peer_id);
        return -1;
    }
    if (!path || path[0] == '\0') {
        log_line("no file chosen in offer_file, peer_id:%d\r\n", peer_id);
        return -1;
    }
    // A cut path would name another file, so a path that does not fit is refused.
    if (std::strlen(path) > static_cast<size_t>(kFilePathMax)) {
        log_line("file path longer than %d characters in offer_file: %s\r\n", kFilePathMax, path);
        return -1;
    }
    std::string name = safe_file_name(path, kSendFileNameMax);
    if (name.empty()) {
        log_line("no file name in path %s in offer_file\r\n", path);
        return -1;
    }
    {
        // One transfer per contact: while a file streams, or an offer waits for its answer (for
        // at most the idle limit), a further offer is refused before it changes anything.
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        const outgoing& tx = g_out[idx];
        if (tx.peer_id == peer_id &&
            (tx.running || (tx.offered && get_tick_count() - tx.offered_tick < kFileIdleLimitMs))) {
            log_line("a file transfer with peer_id:%d is still going on, %s not offered\r\n",
                     peer_id, path);
            return kFileOfferBusy;
        }
    }
    char address[32];
    {
        tables_guard lk(tables_mutex());
        copy_text(g_contact[idx].send_file_path, kFilePathMax + 1, path);
        copy_text(g_contact[idx].send_file_name, kSendFileNameMax + 1, name.c_str());
        copy_text(address, sizeof(address), g_contact[idx].address);
    }
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        outgoing& tx = g_out[idx];
        if (tx.peer_id != peer_id) {
            tx.running = false;
            tx.finished = false;
            tx.bytes = 0;
            tx.total = -1;
        }
        tx.peer_id = peer_id;
        tx.offered = true;
        tx.offered_tick = get_tick_count();
        tx.ever = true;
        tx.name = name;
        tx.path = path;
    }
    connect_to_peer(peer_id, address);
    if (general_str_command_to_peer(peer_id, PEER_FILE_OFFER, 0, name.c_str()) >= 0) return 0;
    return general_str_command_to_peer_through_slave_server(peer_id, PEER_FILE_OFFER, 0,
                                                            name.c_str()) >= 0
               ? 0
               : -1;
}

user_text file_select_contact_text() { return make_text(TXT_SELECT_CONTACT_LOWER); }

user_text file_offer_confirm_text(int peer_id, const char* path) {
    contact_record c;
    if (!contact_by_id(peer_id, &c)) return {};
    return make_text(TXT_CONFIRM_TRANSFER_FILE,
                     {safe_file_name(path, kSendFileNameMax), c.display_name});
}

int file_offer_question(int peer_id, user_text* question, std::string* offered_name) {
    contact_record c;
    if (!contact_by_id(peer_id, &c)) {
        log_line(
            "could not find peer_id:%d in contact list in OnMyMsgFileTransferAskPermission.\r\n",
            peer_id);
        return -1;
    }
    if (question)
        *question = make_text(TXT_FILE_OFFER_QUESTION,
                              {c.first_name, c.last_name, c.email, c.recv_file_name});
    if (offered_name) *offered_name = c.recv_file_name;
    return 0;
}

int file_offer_answer(int peer_id, bool accept, const char* folder) {
    int idx = get_contact_index(peer_id);
    if (idx < 0) {
        log_line("could not find peer_id:%d in contact list in file_offer_answer.\r\n", peer_id);
        return -1;
    }
    if (!accept) return send_control(peer_id, PEER_FILE_REFUSED);
    std::string offered;
    {
        tables_guard lk(tables_mutex());
        offered = g_contact[idx].recv_file_name;
    }
    std::string name = safe_file_name(offered.c_str(), kRecvFileNameMax);
    if (name.empty()) {
        log_line("no file offered by peer_id:%d in file_offer_answer\r\n", peer_id);
        send_control(peer_id, PEER_FILE_REFUSED);
        return -1;
    }
    if (!folder || !is_directory(folder) || access(folder, W_OK | X_OK) != 0) {
        log_line("folder %s cannot take files in file_offer_answer, peer_id:%d\r\n",
                 folder ? folder : "", peer_id);
        send_control(peer_id, PEER_FILE_REFUSED);
        return -1;
    }
    std::string chosen;
    std::string full = free_path_in(folder, name, &chosen);
    if (full.empty()) {
        log_line("no free name for %s in folder %s in file_offer_answer, peer_id:%d\r\n",
                 name.c_str(), folder, peer_id);
        send_control(peer_id, PEER_FILE_REFUSED);
        return -1;
    }
    return accept_into(peer_id, idx, full, chosen, true);
}

int file_offer_accept_as(int peer_id, const char* path) {
    int idx = get_contact_index(peer_id);
    if (idx < 0) {
        log_line("could not find peer_id:%d in contact list in file_offer_accept_as.\r\n", peer_id);
        return -1;
    }
    std::string p = path ? path : "";
    std::string name = safe_file_name(p.c_str(), kRecvFileNameMax);
    size_t slash = p.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string(".")
                      : slash == 0                ? std::string("/")
                                                  : std::string(p, 0, slash);
    bool usable = !name.empty() && p.size() <= static_cast<size_t>(kFilePathMax);
    if (usable) {
        struct stat st;
        if (stat(p.c_str(), &st) == 0)
            usable = S_ISREG(st.st_mode) && access(p.c_str(), W_OK) == 0;
        else
            usable = is_directory(dir.c_str()) && access(dir.c_str(), W_OK | X_OK) == 0;
    }
    if (!usable) {
        log_line("cannot save a file as %s in file_offer_accept_as, peer_id:%d\r\n", p.c_str(),
                 peer_id);
        send_control(peer_id, PEER_FILE_REFUSED);
        return -1;
    }
    return accept_into(peer_id, idx, p, name, false);
}

user_text on_file_offer_accepted(int peer_id) {
    int idx = get_contact_index(peer_id);
    if (idx < 0) {
        log_line("did not find contact_index in OnMyMsgFileTransferAccepted, peer_id is:%d\r\n",
                 peer_id);
        return {};
    }
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        outgoing& tx = g_out[idx];
        // One send per offer: an answer without an offer (or a repeated one) starts nothing, so
        // two threads never interleave their blocks in one file.
        if (tx.peer_id != peer_id || !tx.offered || tx.running || g_stopping) {
            log_line("no file offer waiting for peer_id:%d when 371 arrived\r\n", peer_id);
            return {};
        }
        tx.offered = false;
        tx.running = true;
        tx.cancel = 0;
    }
    if (g_ft_jobs.start([peer_id] { send_file_to_peer_thread(peer_id); }) != 0) {
        log_line("could not start send_file_to_peer_thread, peer_id:%d\r\n", peer_id);
        end_send(idx, peer_id, false);
        return {};
    }
    contact_record c;
    if (!contact_by_id(peer_id, &c)) return {};
    return make_text(TXT_FILE_SENDING, {c.send_file_name, c.first_name, c.last_name, c.email});
}

user_text on_file_offer_refused(int peer_id) {
    int idx = get_contact_index(peer_id);
    if (idx >= 0) {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        outgoing& tx = g_out[idx];
        if (tx.peer_id == peer_id) {
            tx.offered = false;
            // A refusal while the file streams (the receiver could not write it) stops the send.
            if (tx.running) tx.cancel = FILE_SEND_REFUSED;
        }
    }
    contact_record c;
    if (!contact_by_id(peer_id, &c)) return {};
    return make_text(TXT_FILE_REFUSED, {c.first_name, c.last_name, c.email});
}

user_text on_file_saved(int peer_id) {
    int idx = get_contact_index(peer_id);
    if (idx < 0) return {};
    std::string saved;
    {
        std::lock_guard<std::mutex> lk(g_in[idx].m);
        if (g_in[idx].peer_id == peer_id && g_in[idx].finished) saved = g_in[idx].shown_path;
    }
    contact_record c;
    {
        tables_guard lk(tables_mutex());
        contact_record& rec = g_contact[idx];
        if (saved.empty()) saved = rec.recv_file_path;
        // Emptied only when they still describe this file (a new offer may have arrived since).
        if (saved == rec.recv_file_path) {
            if (base_name(saved) == rec.recv_file_name) rec.recv_file_name[0] = '\0';
            rec.recv_file_path[0] = '\0';
        }
        c = rec;
    }
    return make_text(TXT_FILE_SAVED, {saved, c.first_name, c.last_name, c.email});
}

user_text handle_file_notification(int n, intptr_t wparam, intptr_t lparam) {
    int peer_id = static_cast<int>(wparam);
    switch (n) {
        case NM_FILE_ASK: {
            user_text question;
            file_offer_question(peer_id, &question, nullptr);
            return question;
        }
        case NM_FILE_ACCEPTED:
            return on_file_offer_accepted(peer_id);
        case NM_FILE_REFUSED:
            return on_file_offer_refused(peer_id);
        case NM_FILE_DONE:
            return on_file_saved(peer_id);
        case NM_FILE_RECV_INCOMPLETE: {
            file_progress p;
            contact_record c;
            if (!file_recv_progress(peer_id, &p) || !contact_by_id(peer_id, &c)) return {};
            return make_text(TXT_FILE_INCOMPLETE,
                             {p.name, c.first_name, c.last_name, c.email, p.path});
        }
        case NM_FILE_SEND_FAILED: {
            file_progress p;
            contact_record c;
            if (!file_send_progress(peer_id, &p) || !contact_by_id(peer_id, &c)) return {};
            if (lparam == FILE_SEND_OPEN_FAILED)
                return make_text(TXT_FILE_OPEN_FAILED, {p.path, c.first_name, c.last_name, c.email});
            if (lparam == FILE_SEND_REFUSED) return {};  // text 209 was shown for the refusal
            return make_text(TXT_FILE_SEND_STOPPED, {p.name, c.first_name, c.last_name, c.email});
        }
        default:
            return {};
    }
}

bool file_send_progress(int peer_id, file_progress* out) {
    int idx = get_contact_index(peer_id);
    if (idx < 0) return false;
    std::lock_guard<std::mutex> lk(g_ft_mutex);
    const outgoing& tx = g_out[idx];
    if (tx.peer_id != peer_id || !tx.ever) return false;
    out->active = tx.running;
    out->finished = tx.finished;
    out->bytes = tx.bytes;
    out->total = tx.total;
    out->name = tx.name;
    out->path = tx.path;
    return true;
}

bool file_recv_progress(int peer_id, file_progress* out) {
    int idx = get_contact_index(peer_id);
    if (idx < 0) return false;
    std::lock_guard<std::mutex> lk(g_in[idx].m);
    const incoming& rx = g_in[idx];
    if (rx.peer_id != peer_id || !rx.ever) return false;
    out->active = rx.fp != nullptr;
    out->finished = rx.finished;
    out->bytes = rx.bytes;
    out->total = -1;
    out->name = rx.name;
    out->path = rx.fp ? rx.path : rx.shown_path;
    return true;
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
