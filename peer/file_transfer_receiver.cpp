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
        // The sender starting the accepted file again: the file this transfer created is
        // emptied and written anew. Another target keeps the old part under its incomplete name.
        bool restart = rx.fp && (target == rx.path || target == rx.accepted);
        if (rx.fp) {
            if (!restart) notes.push_back(close_incomplete(rx, idx, FILE_INCOMPLETE_REPLACED));
            rx.armed = true;
        }
        if (!rx.armed || target.empty()) {
            log_line("no accepted file offer in do_file_transfer_begin_from_peer, peer_id:%d\r\n",
                     peer_id);
            rx.discarding = true;
            refused = true;
        } else {
            std::string used = rx.path;
            FILE* fp = nullptr;
            if (restart) {
                std::fflush(rx.fp);
                if (std::ferror(rx.fp) == 0 && ftruncate(fileno(rx.fp), 0) == 0 &&
                    std::fseek(rx.fp, 0, SEEK_SET) == 0)
                    fp = rx.fp;
                else
                    notes.push_back(close_incomplete(rx, idx, FILE_INCOMPLETE_WRITE_FAILED));
            } else {
                fp = create_new_file(target, rx.wanted, &used);
            }
            if (!fp) {
                log_line(
                    "could not open %s for writing in do_file_transfer_begin_from_peer, "
                    "peer_id:%d, errno:%d\r\n",
                    target.c_str(), peer_id, errno);
                rx.armed = false;
                rx.discarding = true;
                refused = true;
            } else {
                if (!restart) {
                    rx.buffer = new char[kFileBufferBytes];
                    std::setvbuf(fp, rx.buffer, _IOFBF, kFileBufferBytes);
                }
                if (used != target)
                    log_line("%s exists, the file from peer_id:%d is saved as %s\r\n",
                             target.c_str(), peer_id, used.c_str());
                rx.fp = fp;
                rx.path = used;
                rx.accepted = target;
                rx.name = base_name(used);
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
                contact_record& rec = g_contact[idx];
                rec.recv_fd = fp;
                // The record names the file actually written (unless a new offer replaced it).
                if (used != target && target == rec.recv_file_path) {
                    if (base_name(target) == rec.recv_file_name)
                        copy_text(rec.recv_file_name, kRecvFileNameMax + 1, rx.name.c_str());
                    copy_text(rec.recv_file_path, kFilePathMax + 1, used.c_str());
                }
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
