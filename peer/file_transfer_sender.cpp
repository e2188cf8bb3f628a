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

// ---- Sender ----

namespace file_transfer_internal {
void end_send(int idx, int peer_id, bool finished) {
    std::lock_guard<std::mutex> lk(g_ft_mutex);
    if (g_out[idx].peer_id != peer_id) return;
    g_out[idx].running = false;
    g_out[idx].finished = finished;
}
}  // namespace file_transfer_internal

namespace {
// Blocks gathered into one send on the direct path: each stays its own framed 374 on the wire,
// but sixteen of them cost one system call instead of sixteen.
constexpr int kBlocksPerSend = 16;
constexpr int kBlockMessageBytes = kHeaderLen + kFileBlockBytes;

// Queues already framed and scrambled messages on the peer's direct connection (looked up for
// every send, so a connection replaced by a new one to the same peer carries on), waiting for
// room in its queue as long as a receiver waits for data before it gives up.
int send_direct(int peer_id, const char* messages, int len) {
    peer_ticket t = find_peer_ticket(peer_id);
    if (t.index < 0) {
        log_line("could not find peer sock index in send_file_to_peer_thread: peer_id=%d\r\n",
                 peer_id);
        return -1;
    }
    if (queue_peer_bulk(t, messages, len, static_cast<int>(kFileIdleLimitMs)) == 0) return 0;
    log_line("no room in the send queue in send_file_to_peer_thread: peer_id=%d\r\n", peer_id);
    return -1;
}

void publish_send(int idx, int peer_id, int64_t bytes) {
    {
        std::lock_guard<std::mutex> lk(g_ft_mutex);
        if (g_out[idx].peer_id == peer_id) g_out[idx].bytes = bytes;
    }
    post_main(NM_FILE_SEND_PROGRESS, peer_id, static_cast<intptr_t>(bytes));
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
