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
    // The part is renamed without replacing a file of that name: "x.incomplete", else
    // "x (1).incomplete" ...
    std::string kept = rx.path;
    for (int k = 0; k <= kFreeNameTries; k++) {
        std::string candidate =
            k == 0 ? rx.path + kIncompleteSuffix
                   : rx.path + " (" + std::to_string(k) + ")" + kIncompleteSuffix;
        if (renameat2(AT_FDCWD, rx.path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) ==
            0) {
            kept = candidate;
            break;
        }
        if (errno != EEXIST) {
            log_line("could not rename %s to %s after an incomplete transfer, errno:%d\r\n",
                     rx.path.c_str(), candidate.c_str(), errno);
            break;
        }
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
    rx.accepted.clear();
    rx.wanted.clear();
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
                bool no_follow, const std::string& wanted) {
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
        rx.wanted = wanted;
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
    for (int k = 0; k <= kFreeNameTries; k++) {
        std::string candidate = k == 0 ? name : numbered_name(name, k);
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

std::string numbered_name(const std::string& name, int k) {
    size_t dot = name.find_last_of('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    if (ext.size() > 20) ext.clear();
    std::string tag = " (" + std::to_string(k) + ")";
    size_t room = kRecvFileNameMax - tag.size() - ext.size();
    return utf8_prefix(stem, room) + tag + ext;
}

FILE* create_new_file(const std::string& target, const std::string& wanted, std::string* used) {
    size_t slash = target.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string first = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string& name = wanted.empty() ? first : wanted;
    for (int k = 0; k <= kFreeNameTries; k++) {
        std::string candidate = k == 0 ? first : numbered_name(name, k);
        if (k > 0 && candidate == first) continue;
        std::string full = dir + candidate;
        if (full.size() > static_cast<size_t>(kFilePathMax)) break;
        int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        FILE* fp = fdopen(fd, "wb");
        if (!fp) {
            int e = errno;
            ::close(fd);
            ::unlink(full.c_str());
            errno = e;
            return nullptr;
        }
        *used = full;
        return fp;
    }
    errno = EEXIST;
    return nullptr;
}
}  // namespace file_transfer_internal

namespace {
// Skips the escape sequence that starts at s[i] (ESC): a CSI "ESC [ ... final", a string
// (OSC, DCS, ...) up to BEL or "ESC \\", or ESC with its intermediates and final byte.
size_t skip_escape(const std::string& s, size_t i) {
    auto at = [&](size_t j) { return static_cast<unsigned char>(s[j]); };
    if (++i >= s.size()) return i;
    char kind = s[i];
    if (kind == '[') {
        for (i++; i < s.size() && at(i) >= 0x20 && at(i) <= 0x3f; i++) {
        }
        return i < s.size() && at(i) >= 0x40 && at(i) <= 0x7e ? i + 1 : i;
    }
    if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {
        for (i++; i < s.size(); i++) {
            if (s[i] == '\a') return i + 1;
            if (s[i] == '\x1b' && i + 1 < s.size() && s[i + 1] == '\\') return i + 2;
        }
        return i;
    }
    while (i < s.size() && at(i) >= 0x20 && at(i) <= 0x2f) i++;
    return i < s.size() && at(i) >= 0x30 && at(i) <= 0x7e ? i + 1 : i;
}

// Length of the well-formed UTF-8 character at s[i] and its code point; 0 when the bytes there
// are not one (a stray or cut sequence, an overlong form, a surrogate).
size_t utf8_char(const std::string& s, size_t i, uint32_t* cp) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? (c <= 0xef ? 3 : 0) : c >= 0xc2 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    uint32_t v = c & (0x7f >> n);
    for (size_t k = 1; k < n; k++) {
        unsigned char b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xc0) != 0x80) return 0;
        v = v << 6 | (b & 0x3f);
    }
    if ((n == 3 && (v < 0x800 || (v >= 0xd800 && v <= 0xdfff))) ||
        (n == 4 && (v < 0x10000 || v > 0x10ffff)))
        return 0;
    *cp = v;
    return n;
}

// Characters that move or hide text instead of showing: bidirectional overrides and marks.
bool is_format_control(uint32_t cp) {
    return (cp >= 0x200e && cp <= 0x200f) || (cp >= 0x202a && cp <= 0x202e) ||
           (cp >= 0x2066 && cp <= 0x2069);
}
}  // namespace

std::string utf8_prefix(const std::string& s, size_t max) {
    if (s.size() <= max) return s;
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xc0) == 0x80) cut--;
    return s.substr(0, cut);
}

std::string safe_file_name(const char* name, int max) {
    if (!name) return "";
    const char* start = name;
    for (const char* p = name; *p; p++)
        if (*p == '/' || *p == '\\') start = p + 1;
    std::string raw(start);
    std::string s;
    for (size_t i = 0; i < raw.size();) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == 0x1b) {
            i = skip_escape(raw, i);  // colours, titles, cursor moves: nothing of the name
        } else if (c < 0x20 || c == 0x7f) {
            s += '_';
            i++;
        } else if (c < 0x80) {
            s += static_cast<char>(c);
            i++;
        } else {
            uint32_t cp = 0;
            size_t n = utf8_char(raw, i, &cp);
            if (n == 0) {
                // A character cut at the end of the field is dropped, other bad bytes shown as _.
                bool cut_tail = (c & 0xc0) == 0xc0;
                for (size_t k = i + 1; cut_tail && k < raw.size(); k++)
                    cut_tail = (static_cast<unsigned char>(raw[k]) & 0xc0) == 0x80;
                if (cut_tail) break;
                s += '_';
                i++;
            } else if (cp == 0x9b) {
                i = skip_escape(std::string("\x1b[") + raw.substr(i + n), 0) - 2 + i + n;
            } else if (cp < 0xa0) {
                s += '_';  // other C1 controls
                i += n;
            } else if (is_format_control(cp)) {
                i += n;
            } else {
                s.append(raw, i, n);
                i += n;
            }
        }
    }
    // No hidden files and nothing a program could read as an option.
    size_t lead = s.find_first_not_of("-. ");
    s.erase(0, lead == std::string::npos ? s.size() : lead);
    if (max >= 0) s = utf8_prefix(s, static_cast<size_t>(max));
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
