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
    // Offered the moment the contact showed Online: its address may still be on its way.
    if (address[0] == '\0' && !is_peer_connected(peer_id)) {
        log_line("waiting for the address of peer_id:%d to offer a file\r\n", peer_id);
        if (!wait_contact_address(peer_id, kFileAddressWaitMs, address, sizeof(address)))
            log_line("no address for peer_id:%d after %d ms, offering through the relays\r\n", peer_id,
                 kFileAddressWaitMs);
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
    return accept_into(peer_id, idx, full, chosen, true, name);
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
    return accept_into(peer_id, idx, p, base_name(p), false, base_name(p));
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
