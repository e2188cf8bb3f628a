#include "peer/peer_socket.h"

#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "peer/file_transfer.h"
#include "peer/peer_commands.h"
#include "peer/peer_session.h"
#include "peer/slave_poller.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "platform/wakeup.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/proxy.h"
#include "protocol/server_link.h"
#include "protocol/texts.h"

Cpeer_socket g_peer_socks[kPeerSlots];
std::mutex g_peer_mutex;

namespace {
std::atomic<bool> g_stopping{false};
Cwakeup g_poller_wakeup;
socket_t g_listen_sock = -1;
std::thread g_listener;
std::thread g_poller;
std::thread g_keepalive;
std::mutex g_keepalive_mutex;
std::condition_variable g_keepalive_cv;
Cjob_group g_readers;
uint64_t g_next_generation = 1;  // guarded by g_peer_mutex

void reader_thread(int index, uint64_t gen);

// A queued message whose connection closed before writing it, sent the way a failed direct send
// falls back to: the slave server, and for a chat line a datagram after that.
void resend_elsewhere(const queued_message& m) {
    msg_header h;
    if (m.bytes.size() < static_cast<size_t>(kHeaderLen) || parse_header(m.bytes.data(), &h) != 0 ||
        h.len < 0 || kHeaderLen + h.len > static_cast<int>(m.bytes.size()))
        return;
    log_line("direct connection to peer_id=%d closed before command %d went out, sending it "
             "another way\r\n",
             m.peer_id, h.command);
    if (general_buf_command_to_peer_through_slave_server(m.peer_id, h.command, h.board_num,
                                                        m.bytes.data() + kHeaderLen, h.len) >= 0)
        return;
    if (h.command == PEER_CHAT_TEXT)
        send_udp_packet_to_peer_server(m.peer_id, m.bytes.data(), static_cast<int>(m.bytes.size()));
}

int write_queued(void* context, queued_message& m) {
    auto* slot = static_cast<Cpeer_socket*>(context);
    return slot->send_owned_on_handle(m.serial, m.bytes, m.from);
}

// On the drainer: the connection failed (or the slot moved on): it is closed unless it was
// reused, and the message goes another way when it may.
void queued_write_failed(void* context, queued_message& m) {
    auto* slot = static_cast<Cpeer_socket*>(context);
    close_peer_slot(static_cast<int>(slot - g_peer_socks), m.generation);
    if (m.resend) resend_elsewhere(m);
}

// Under the queue's lock: admits m while slot index still has generation gen and a handle.
bool admit_to_slot(int index, uint64_t gen, queued_message& m) {
    std::lock_guard<std::mutex> lk(g_peer_mutex);
    const Cpeer_socket& slot = g_peer_socks[index];
    if (slot.in_use != 1 || slot.generation != gen || slot.sock == 0) return false;
    m.generation = gen;
    m.serial = slot.handle_serial();
    m.peer_id = slot.peer_id;
    return true;
}
}  // namespace

Cpeer_socket::Cpeer_socket() {
    clear();
    queue.set_callbacks(write_queued, queued_write_failed, this);
}

int Cpeer_socket::my_close() { return close_and_clear(*this, g_peer_mutex); }

void Cpeer_socket::clear() {
    clear_slot_fields();
    peer_id = 0;
    connected = 0;
    id_sent = 0;
    reserved2 = 0;
    ready = 0;
}

void clear_peer_table() {
    std::lock_guard<std::mutex> lk(g_peer_mutex);
    for (auto& slot : g_peer_socks) slot.clear();
}

void close_all_peer_connections() {
    for (int i = 0; i < kPeerSlots; i++) close_peer_slot(i);
}

bool close_peer_slot(int index, uint64_t gen) {
    if (index < 0 || index >= kPeerSlots) return false;
    Cpeer_socket& slot = g_peer_socks[index];
    socket_t s;
    uint64_t closed;
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        if (gen != 0 && slot.generation != gen) return false;
        closed = slot.generation;
        slot.clear();
        s = slot.take_handle();
    }
    slot.close_taken(s);
    if (closed != 0)
        for (const queued_message& m : slot.queue.take(closed))
            if (m.resend) resend_elsewhere(m);
    slot.queue.retire();
    return true;
}

void close_peer_connections(int peer_id) {
    std::vector<std::pair<int, uint64_t>> chosen;
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        for (int i = 0; i < kPeerSlots; i++)
            if (g_peer_socks[i].in_use == 1 && (peer_id == 0 || g_peer_socks[i].peer_id == peer_id))
                chosen.emplace_back(i, g_peer_socks[i].generation);
    }
    for (auto [index, gen] : chosen) close_peer_slot(index, gen);
}

int take_peer_slot(uint64_t* gen_out) {
    int chosen = -1;
    socket_t old = 0;
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        for (int i = 0; i < kPeerSlots; i++)
            if (g_peer_socks[i].in_use == 0) {
                chosen = i;
                break;
            }
        if (chosen < 0) {
            // The earliest-taken slot is evicted; ties go to the highest index.
            uint32_t now = get_tick_count();
            uint32_t min = now;
            chosen = 0;
            for (int i = 0; i < kPeerSlots; i++)
                if (static_cast<int32_t>(g_peer_socks[i].taken_tick - min) <= 0) {
                    min = g_peer_socks[i].taken_tick;
                    chosen = i;
                }
        }
        Cpeer_socket& slot = g_peer_socks[chosen];
        slot.clear();
        slot.in_use = 1;
        slot.taken_tick = get_tick_count();
        slot.generation = g_next_generation++;
        if (gen_out) *gen_out = slot.generation;
        old = slot.take_handle();
    }
    // The evicted (or stale) connection closes outside the lock; its reader sees the new
    // generation, and its handle is never read again.
    g_peer_socks[chosen].close_taken(old);
    return chosen;
}

int get_peer_sock_index(int peer_id) {
    std::lock_guard<std::mutex> lk(g_peer_mutex);
    for (int i = 0; i < kPeerSlots; i++)
        if (g_peer_socks[i].in_use == 1 && g_peer_socks[i].peer_id == peer_id) return i;
    return -1;
}

int is_peer_connected(int peer_id) {
    std::lock_guard<std::mutex> lk(g_peer_mutex);
    for (int i = 0; i < kPeerSlots; i++)
        if (g_peer_socks[i].in_use == 1 && g_peer_socks[i].peer_id == peer_id &&
            g_peer_socks[i].sock != 0)
            return 1;
    return 0;
}

int peer_slots_in_use() {
    std::lock_guard<std::mutex> lk(g_peer_mutex);
    int n = 0;
    for (const auto& slot : g_peer_socks) n += slot.in_use;
    return n;
}

peer_ticket find_peer_ticket(int peer_id) {
    std::lock_guard<std::mutex> lk(g_peer_mutex);
    for (int i = 0; i < kPeerSlots; i++)
        if (g_peer_socks[i].in_use == 1 && g_peer_socks[i].peer_id == peer_id)
            return {i, g_peer_socks[i].generation};
    return {};
}

peer_ticket peer_ticket_of_slot(int index, int peer_id) {
    if (index < 0 || index >= kPeerSlots) return {};
    std::lock_guard<std::mutex> lk(g_peer_mutex);
    const Cpeer_socket& slot = g_peer_socks[index];
    if (slot.in_use != 1 || slot.peer_id != peer_id) return {};
    return {index, slot.generation};
}

int queue_peer_message(peer_ticket t, const char* msg, int len, int command, bool resend) {
    if (t.index < 0 || t.index >= kPeerSlots || len <= 0) return -1;
    queued_message m;
    m.bytes = g_peer_socks[t.index].queue.spare_buffer();
    m.bytes.assign(msg, msg + len);
    m.from = kHeaderLen;
    m.kind = send_kind_of(command);
    m.command = command;
    m.resend = resend;
    return g_peer_socks[t.index].queue.push(
        std::move(m), [&](queued_message& q) { return admit_to_slot(t.index, t.generation, q); });
}

int queue_peer_bulk(peer_ticket t, const char* msgs, int len, int ms) {
    if (t.index < 0 || t.index >= kPeerSlots || len <= 0) return -1;
    queued_message m;
    m.bytes = g_peer_socks[t.index].queue.spare_buffer();
    m.bytes.assign(msgs, msgs + len);
    m.from = len;
    m.command = PEER_FILE_DATA;
    return g_peer_socks[t.index].queue.push_waiting(
        std::move(m), ms, [&](queued_message& q) { return admit_to_slot(t.index, t.generation, q); });
}

void send_identification(int index, uint64_t gen) {
    char msg[kHeaderLen + 11];
    std::snprintf(msg, sizeof(msg), "%4d:%4d:%4d:%4d:%10d", 0, 0, PEER_IDENTIFY, 10,
                  peer_my_user_id());
    queue_peer_message({index, gen}, msg, kHeaderLen + 10, PEER_IDENTIFY);
}

namespace {
// Queues a built message on the first slot of peer_id. Returns 0, or -1 when the peer has no
// open direct connection.
int send_to_peer(int peer_id, int command, const char* msg, int len, const char* who) {
    peer_ticket t = find_peer_ticket(peer_id);
    if (t.index < 0) {
        if (who) log_line("could not find peer sock index in %s: peer_id=%d\r\n", who, peer_id);
        return -1;
    }
    return queue_peer_message(t, msg, len, command, command == PEER_KNOCK);
}
}  // namespace

int general_command_to_peer(int peer_id, int command, int argument) {
    char msg[kHeaderLen + 1];
    build_header(msg, 0, argument, command, 0);
    return send_to_peer(peer_id, command, msg, kHeaderLen, "general_command_to_peer");
}

int general_str_command_to_peer(int peer_id, int command, int argument, const char* text) {
    char msg[kTextBuilderSize];
    int len = build_message(msg, sizeof(msg), 0, argument, command, text,
                            static_cast<int>(std::strlen(text)));
    if (len < 0) {
        log_line("text too long in general_str_command_to_peer: peer_id=%d\r\n", peer_id);
        return -1;
    }
    return send_to_peer(peer_id, command, msg, len, "general_str_command_to_peer");
}

int general_buf_command_to_peer(int peer_id, int command, const void* bytes, int count) {
    std::vector<char> msg(kPeerBufBuilderSize);
    int len = build_message(msg.data(), kPeerBufBuilderSize, 0, 0, command, bytes, count);
    if (len < 0) return -1;
    return send_to_peer(peer_id, command, msg.data(), len, nullptr);
}

int connect_to_peer(int peer_id, const char* address) {
    if (!address || address[0] == '\0') {
        log_line("peer_address length=0 in connect_to_peer.\r\n");
        return -1;
    }
    if (is_peer_connected(peer_id)) return 0;
    if (peer_signed_out()) return -1;
    if (proxy_everything()) {
        // A direct connection would go around the proxy; the peer is reached through relays.
        log_line("no direct connection to peer_id=%d: everything goes through the proxy\r\n",
                 peer_id);
        return -1;
    }
    if (peer_slave_socks_in_use() < 5) general_command_to_server(CMD_SLAVE_SERVER_REQUEST);

    int index = take_peer_slot();
    Cpeer_socket& slot = g_peer_socks[index];
    uint64_t gen;
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        gen = slot.generation;
        copy_text(slot.server_host, kPeerHostKept + 1, address);
        slot.server_port = kPeerPort;
    }
    if (slot.connect_to_server() != 0) {
        close_peer_slot(index, gen);
        peer_request_connect_back(peer_id);
        return -1;
    }
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        if (slot.generation != gen) return -1;  // evicted while connecting
        slot.connected = 1;
        slot.connect_tick = slot.taken_tick = get_tick_count();
        copy_text(slot.peer_address, kPeerAddressKept + 1, address);
        slot.peer_port = kPeerPort;
        slot.peer_id = peer_id;
        slot.id_sent = 1;
        slot.ready = 1;
    }
    send_identification(index, gen);
    g_poller_wakeup.signal();
    file_paths_changed();
    return 0;
}

int OnContactTextChat(int contact_id) {
    char address[32];
    if (peer_contact_address(contact_id, address, sizeof(address)) != 0) {
        log_line("did not found contact(contact_id=%d) in OnContactTextChat\r\n", contact_id);
        return -1;
    }
    return connect_to_peer(contact_id, address);
}

void peer_keepalive_pass() {
    std::vector<std::pair<int, uint64_t>> silent, live;
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        for (int i = 0; i < kPeerSlots; i++) {
            Cpeer_socket& slot = g_peer_socks[i];
            if (slot.in_use != 1) continue;
            if (++slot.idle_count > kPeerIdleLimit)
                silent.emplace_back(i, slot.generation);
            else
                live.emplace_back(i, slot.generation);
        }
    }
    for (auto [index, gen] : silent)
        if (close_peer_slot(index, gen))
            log_line("peer slot %d silent for %d passes, closing\r\n", index, kPeerIdleLimit + 1);
    char msg[kHeaderLen + 1];
    build_header(msg, 0, 0, PEER_KEEP_ALIVE, 0);
    for (auto [index, gen] : live) {
        // A queue that has not moved for as long as a silent connection is tolerated belongs to
        // a peer that stopped reading: closing it wakes its drainer.
        if (g_peer_socks[index].queue.check_stall() > kPeerIdleLimit) {
            log_line("send queue of peer slot %d stood still for %d passes, closing\r\n", index,
                     kPeerIdleLimit + 1);
            if (close_peer_slot(index, gen)) g_send_queue_totals.closed_stalled++;
            continue;
        }
        queue_peer_message({index, gen}, msg, kHeaderLen, PEER_KEEP_ALIVE);
    }
}

namespace {
void listener_thread() {
    run_accept_loop(
        g_listen_sock, g_stopping,
        [](socket_t s) {
            if (peer_signed_out()) {
                close_socket(s);
                return;
            }
            uint64_t gen = 0;
            int index = take_peer_slot(&gen);
            Cpeer_socket& slot = g_peer_socks[index];
            char addr[32] = "";
            uint16_t port = 0;
            peer_address_of(s, addr, sizeof(addr), &port);
            {
                std::lock_guard<std::mutex> lk(g_peer_mutex);
                if (slot.generation != gen || slot.sock != 0) {
                    // Taken again by a connect while this one was being set up.
                    close_socket(s);
                    return;
                }
                slot.sock = s;
                slot.connected = 1;
                slot.connect_tick = slot.taken_tick = get_tick_count();
                copy_text(slot.peer_address, kPeerAddressKept + 1, addr);
                slot.peer_port = port;
                slot.ready = 1;
            }
            g_poller_wakeup.signal();
        },
        [] {
            log_line("accept failed in g_peer_server_thread.\n");
            show_user_text(make_text(TXT_PEER_ACCEPT_FAILED));
        });
}

void poller_thread() {
    run_slot_poller(
        g_poller_wakeup, g_stopping, "g_peer_recv_thread",
        [](std::vector<poll_candidate>& out) {
            std::lock_guard<std::mutex> lk(g_peer_mutex);
            for (int i = 0; i < kPeerSlots; i++) {
                const Cpeer_socket& slot = g_peer_socks[i];
                socket_t s = slot.sock;
                if (slot.in_use != 1 || s == 0 || slot.busy != 0 || slot.ready != 1) continue;
                // A handle seen twice is watched once, so it never gets two readers.
                bool dup = false;
                for (const poll_candidate& c : out) dup = dup || c.sock == s;
                if (!dup) out.push_back({i, slot.generation, s});
            }
        },
        [](int index, uint64_t gen) {
            // Readers of evicted connections end as soon as their handle is shut down; until
            // they have, no more than kPeerMaxReaders run.
            if (!g_readers.wait_below(kPeerMaxReaders, 1000)) return;
            {
                std::lock_guard<std::mutex> lk(g_peer_mutex);
                Cpeer_socket& slot = g_peer_socks[index];
                if (slot.generation != gen || slot.busy) return;
                slot.busy = 1;
            }
            g_readers.start([index, gen] { reader_thread(index, gen); });
        });
}

void reader_thread(int index, uint64_t gen) {
    if (index < 0 || index >= kPeerSlots) {
        log_line("index:%d out of range 0-%d in g_peer_one_client_thread\n", index, kPeerSlots - 1);
        return;
    }
    Cpeer_socket& slot = g_peer_socks[index];
    // Bound before the first generation check: while the slot still has this generation, the
    // handle bound here is this connection's, and no later one is ever read.
    slot.bind_reader();
    std::vector<char> buffer(kRecvBufSize);
    char* buf = buffer.data();
    // Every message is handed over in a buffer that is zero behind it, as if cleared whole; only
    // the bytes the previous message wrote are cleared again (a file block is about 1 KB of 8).
    int used = 0;
    for (;;) {
        bool identify = false;
        std::memset(buf, 0, static_cast<size_t>(used));
        used = 0;
        int w = slot.wait_readable_for(-1);
        if (g_stopping) return;
        if (w < 0) {
            close_peer_slot(index, gen);
            return;
        }
        {
            std::lock_guard<std::mutex> lk(g_peer_mutex);
            if (slot.generation != gen) return;
            if (slot.id_sent == 0) {
                slot.id_sent = 1;
                identify = true;
            }
        }
        if (identify) send_identification(index, gen);

        // A peer that closed the connection ends the reader at once and frees the slot.
        used = kHeaderLen;
        if (slot.my_recv_fixed_len(buf, kHeaderLen) < 0) {
            close_peer_slot(index, gen);
            return;
        }
        msg_header h;
        int bad = parse_header(buf, &h);
        if (bad != 0) {
            buf[kHeaderLen] = '\0';
            log_line("g_peer_one_client_thread command format error at:%d.\n", bad);
            log_line("content is:%s.\n", buf);
            used = kHeaderLen + 2048 + 1;
            slot.my_recv(buf + kHeaderLen, 2048);
            continue;
        }
        if (h.len < 0 || h.len > kMaxRecvBody) {
            // A length that cannot fit the buffer: drop the message (or the connection when the
            // length says nothing about where the next message starts).
            log_line("len:%d out of range in g_peer_one_client_thread, command:%d\n", h.len, h.command);
            if (h.len < 0 || slot.skip_fixed_len(h.len) != 0) {
                close_peer_slot(index, gen);
                return;
            }
            continue;
        }
        used = kHeaderLen + h.len + 1;
        if (slot.my_recv_fixed_len(buf + kHeaderLen, h.len) < 0) {
            close_peer_slot(index, gen);
            return;
        }
        xor_scramble(buf + kHeaderLen, h.len);
        buf[kHeaderLen + h.len] = '\0';
        // The peer id is read once the message is here: the connecting side sets it after its
        // connect returned, which may be after this reader started waiting.
        int peer_id;
        {
            std::lock_guard<std::mutex> lk(g_peer_mutex);
            if (slot.generation != gen) return;
            slot.idle_count = 0;
            peer_id = slot.peer_id;
        }
        dispatch_peer_command(PEER_PATH_DIRECT, h.command, buf + kHeaderLen, h.len, h.board_num,
                              peer_id, index);
    }
}

void keepalive_thread() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lk(g_keepalive_mutex);
            if (g_keepalive_cv.wait_for(lk, std::chrono::milliseconds(kPeerKeepAliveMs),
                                        [] { return g_stopping.load(); }))
                return;
        }
        peer_keepalive_pass();
    }
}
}  // namespace

int start_peer_service(bool listen) {
    g_stopping = false;
    int result = 0;
    g_listen_sock = listen ? tcp_listen(nullptr, kPeerPort, kPeerBacklog) : -1;
    if (!listen) {
        log_line("peer listener off: incoming peer connections are not accepted\r\n");
    } else if (g_listen_sock < 0) {
        log_line("peer socket server bind failed in g_peer_server_thread.");
        show_user_text(make_text(TXT_PEER_BIND_FAILED));
        result = -1;
    } else {
        g_listener = std::thread(listener_thread);
    }
    g_poller = std::thread(poller_thread);
    g_keepalive = std::thread(keepalive_thread);
    return result;
}

void stop_peer_service() {
    g_stopping = true;
    {
        std::lock_guard<std::mutex> lk(g_keepalive_mutex);
    }
    g_keepalive_cv.notify_all();
    g_poller_wakeup.signal();
    if (g_listen_sock > 0) shutdown(g_listen_sock, SHUT_RDWR);
    if (g_listener.joinable()) g_listener.join();
    if (g_poller.joinable()) g_poller.join();
    if (g_keepalive.joinable()) g_keepalive.join();
    close_socket(g_listen_sock);
    g_listen_sock = -1;
    for (int i = 0; i < kPeerSlots; i++) close_peer_slot(i);
    // Every connection is shut down, so no drainer is left waiting on a socket.
    for (auto& slot : g_peer_socks) slot.queue.stop();
    g_readers.wait(10000);
}
