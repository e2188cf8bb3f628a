#include "peer/relay_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "peer/slave_header.h"
#include "peer/slave_poller.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "platform/wakeup.h"
#include "protocol/framing.h"
#include "protocol/texts.h"

Cserver_socket g_server_socks[kRelaySlots];
std::mutex g_relay_mutex;

namespace {
constexpr int kAddressKept = 28;
constexpr int kBadHeaderDrop = 2048;

std::atomic<bool> g_stopping{false};
std::atomic<bool> g_listening[kRelayPortCount];
std::mutex g_ports_mutex;
uint16_t g_ports[kRelayPortCount] = {kRelayDefaultPorts[0], kRelayDefaultPorts[1],
                                     kRelayDefaultPorts[2]};  // guarded by g_ports_mutex
socket_t g_listen_socks[kRelayPortCount] = {-1, -1, -1};
std::thread g_listeners[kRelayPortCount];
std::thread g_poller;
Cwakeup g_poller_wakeup;
Cjob_group g_readers;
uint64_t g_next_generation = 1;  // guarded by g_relay_mutex
std::atomic<uint64_t> g_pauses{0};
// A reader waiting for room on a receiver's queue looks again this often at whether its own
// connection and the service are still there (the receiver closing wakes it at once).
constexpr int kRoomWaitMs = 500;

void reader_thread(int index, uint64_t gen);

// Takes the messages still queued for a connection that closed (generation gen) out of its
// queue, which wakes the readers waiting for room there, and lets the drainer end.
void drop_queued(Cserver_socket& slot, uint64_t gen) {
    if (gen != 0) slot.queue.take(gen);
    slot.queue.retire();
}

void close_relay_slot(int index, uint64_t gen) {
    Cserver_socket& slot = g_server_socks[index];
    socket_t s;
    uint64_t closed;
    {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        if (gen != 0 && slot.generation != gen) return;
        closed = slot.generation;
        slot.clear();
        s = slot.take_handle();
    }
    slot.close_taken(s);
    drop_queued(slot, closed);
}

// On the drainer: a message goes out only on the handle it was queued for, so nothing queued
// for a connection reaches the one that took its slot afterwards.
int write_relayed(void* context, queued_message& m) {
    auto* slot = static_cast<Cserver_socket*>(context);
    int length = static_cast<int>(m.bytes.size());
    int r = slot->send_owned_on_handle(m.serial, m.bytes, m.from);
    if (r > 0) slot->add_to_send_traffic(length);
    return r;
}

// On the drainer: the receiver failed or its slot moved on; it is closed unless it was reused.
void relayed_write_failed(void* context, queued_message& m) {
    auto* slot = static_cast<Cserver_socket*>(context);
    if (slot >= g_server_socks && slot < g_server_socks + kRelaySlots)
        close_relay_slot(static_cast<int>(slot - g_server_socks), m.generation);
}

// Under the queue's lock: admits m while slot index still has generation gen and a handle.
bool admit_to_relay_slot(int index, uint64_t gen, queued_message& m) {
    std::lock_guard<std::mutex> lk(g_relay_mutex);
    const Cserver_socket& slot = g_server_socks[index];
    if (slot.in_use != 1 || slot.generation != gen || slot.sock == 0) return false;
    m.generation = gen;
    m.serial = slot.handle_serial();
    return true;
}

// Adds len to a window pair. Caller holds g_relay_mutex.
int add_to_window(stat_window& old_w, stat_window& cur, int len, const char* who) {
    if (len < 0) {
        log_line("len:%d < 0 in Cserver_socket::%s.\r\n", len, who);
        return -1;
    }
    if (len > kStatLargestAdd) {
        log_line("len:%d too big in Cserver_socket:%s.\r\n", len, who);
        return -1;
    }
    uint32_t now = get_tick_count();
    if (cur.start_tick != 0 && now - cur.start_tick <= kStatWindowMs) {
        cur.bytes += static_cast<uint32_t>(len);
        cur.current_tick = now;
        return 0;
    }
    if (cur.start_tick != 0) {
        old_w.start_tick = cur.start_tick;
        old_w.bytes = cur.bytes;
        old_w.current_tick = now;
    }
    cur.bytes = static_cast<uint32_t>(len);
    cur.start_tick = cur.current_tick = now;
    return 0;
}

// Bytes per second of a window pair. Caller holds g_relay_mutex. The products are formed in 64
// bits: 32 bits would overflow once a window holds more than about 4 MB.
uint32_t window_avg(const stat_window& old_w, const stat_window& cur, const char* old_name,
                    const char* who) {
    uint32_t now = get_tick_count();
    if (now - cur.current_tick > kStatWindowMs) return 0;
    uint32_t age = now - cur.start_tick;
    if (age >= kStatMinAgeMs) return static_cast<uint32_t>(uint64_t{cur.bytes} * 1000 / age);
    if (old_w.current_tick > old_w.start_tick)
        return static_cast<uint32_t>(uint64_t{old_w.bytes} * 1000 /
                                     (old_w.current_tick - old_w.start_tick));
    log_line("%s.current_tick:%d<=%s.start_tick:%d in %s()\r\n", old_name,
             static_cast<int>(old_w.current_tick), old_name, static_cast<int>(old_w.start_tick),
             who);
    return 0;
}
}  // namespace

Cserver_socket::Cserver_socket() {
    copy_text(name, "relay_client");
    // A relay connection never retries a failed send: the drainer's failure closes it.
    retry_on_error = 0;
    clear();
    queue.set_room(kRelayQueuedBytes);
    queue.set_callbacks(write_relayed, relayed_write_failed, this);
}

int Cserver_socket::my_close() {
    close_and_clear(*this, g_relay_mutex);
    // What is still queued has the old handle's serial and fails; the drainer ends once empty.
    queue.retire();
    return 0;
}

void Cserver_socket::clear() {
    clear_slot_fields();
    user_id = 0;
    paused = 0;
    stalled_passes = 0;
    written_at_pass = queue.written.load();
    connected = 0;
    m_stat_recv_old = {0, 0, 0};
    m_stat_recv = {0, 0, 0};
    m_stat_send_old = {0, 0, 0};
    m_stat_send = {0, 0, 0};
}

int Cserver_socket::add_to_recv_traffic(int len) {
    std::lock_guard<std::mutex> lk(g_relay_mutex);
    return add_to_window(m_stat_recv_old, m_stat_recv, len, "add_to_recv_traffic");
}

int Cserver_socket::add_to_send_traffic(int len) {
    std::lock_guard<std::mutex> lk(g_relay_mutex);
    return add_to_window(m_stat_send_old, m_stat_send, len, "add_to_send_traffic");
}

uint32_t Cserver_socket::get_recv_avg() {
    std::lock_guard<std::mutex> lk(g_relay_mutex);
    return window_avg(m_stat_recv_old, m_stat_recv, "m_stat_recv_old", "get_recv_avg");
}

uint32_t Cserver_socket::get_send_avg() {
    std::lock_guard<std::mutex> lk(g_relay_mutex);
    return window_avg(m_stat_send_old, m_stat_send, "m_stat_send_old", "get_send_avg");
}

int Cserver_socket::counting_recv_fixed_len(char* buffer, int n) {
    int r = my_recv_fixed_len(buffer, n);
    if (r > 0) add_to_recv_traffic(n);
    return r;
}

int Cserver_socket::counting_recv(char* buffer, int max) {
    int r = my_recv(buffer, max);
    if (r > 0) add_to_recv_traffic(r);
    return r;
}

void close_all_relay_connections() {
    for (int i = 0; i < kRelaySlots; i++) close_relay_slot(i, 0);
}

void clear_relay_table() {
    std::lock_guard<std::mutex> lk(g_relay_mutex);
    for (auto& slot : g_server_socks) slot.clear();
}

void set_relay_ports(const uint16_t* ports) {
    std::lock_guard<std::mutex> lk(g_ports_mutex);
    for (int i = 0; i < kRelayPortCount; i++) g_ports[i] = ports ? ports[i] : kRelayDefaultPorts[i];
}

bool relay_port_listening(int slot) {
    return slot >= 0 && slot < kRelayPortCount && g_listening[slot].load();
}

int relay_listen_port(int slot) {
    if (slot < 0 || slot >= kRelayPortCount) return 0;
    std::lock_guard<std::mutex> lk(g_ports_mutex);
    return g_ports[slot];
}

int relay_connection_count() {
    std::lock_guard<std::mutex> lk(g_relay_mutex);
    int n = 0;
    for (const auto& slot : g_server_socks) n += slot.in_use == 1;
    return n;
}

int relay_traffic_sum() {
    uint32_t sum = 0;
    for (auto& slot : g_server_socks) {
        bool live;
        {
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            live = slot.in_use == 1;
        }
        if (live) sum += slot.get_recv_avg() + slot.get_send_avg();
    }
    return static_cast<int>(sum);
}

void relay_aging_pass() {
    std::vector<std::pair<int, uint64_t>> live;
    {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        for (int i = 0; i < kRelaySlots; i++)
            if (g_server_socks[i].in_use == 1) live.emplace_back(i, g_server_socks[i].generation);
    }
    // The queues are read without the table's lock, which comes after theirs.
    std::vector<std::pair<uint64_t, size_t>> queued(live.size());
    for (size_t k = 0; k < live.size(); k++) {
        Csend_queue& q = g_server_socks[live[k].first].queue;
        queued[k] = {q.written.load(), q.pending()};
    }
    std::vector<std::pair<int, uint64_t>> idle;
    {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        for (size_t k = 0; k < live.size(); k++) {
            auto [i, gen] = live[k];
            Cserver_socket& slot = g_server_socks[i];
            if (slot.in_use != 1 || slot.generation != gen) continue;
            auto [written, pending] = queued[k];
            // A write that ended since the last pass starts the count again; the pass counts
            // when something is still queued or being written.
            if (written != slot.written_at_pass) slot.stalled_passes = 0;
            slot.written_at_pass = written;
            if (pending == 0) {
                slot.stalled_passes = 0;
            } else if (++slot.stalled_passes > kRelayHoldPasses) {
                log_line("relay client %d takes nothing of what is relayed to it, closed\n",
                         slot.user_id);
                idle.emplace_back(i, gen);
                continue;
            }
            // A reader held up by a slow receiver is silent because of the receiver.
            if (slot.paused == 0 && ++slot.idle_count > kRelayIdleLimit) idle.emplace_back(i, gen);
        }
    }
    for (auto [index, gen] : idle) close_relay_slot(index, gen);
}

uint64_t relay_pause_count() { return g_pauses.load(); }

void close_relay_connections() {
    std::vector<std::pair<int, uint64_t>> chosen;
    {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        for (int i = 0; i < kRelaySlots; i++)
            if (g_server_socks[i].in_use == 1) chosen.emplace_back(i, g_server_socks[i].generation);
    }
    for (auto [index, gen] : chosen) close_relay_slot(index, gen);
}

namespace {
// First free slot, else the earliest taken (ties to the highest index). The handle the slot held
// is shut down and closed before the new one goes in, so its reader wakes and ends.
void take_relay_slot(socket_t s, const char* address, uint16_t port) {
    int chosen = -1;
    uint64_t gen;
    uint64_t evicted;
    socket_t old;
    {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        for (int i = 0; i < kRelaySlots; i++)
            if (g_server_socks[i].in_use == 0) {
                chosen = i;
                break;
            }
        if (chosen < 0) {
            uint32_t min = get_tick_count();
            for (int i = 0; i < kRelaySlots; i++)
                if (chosen < 0 || static_cast<int32_t>(g_server_socks[i].taken_tick - min) <= 0) {
                    min = g_server_socks[i].taken_tick;
                    chosen = i;
                }
        }
        Cserver_socket& slot = g_server_socks[chosen];
        evicted = slot.generation;
        old = slot.take_handle();
        slot.clear();
        slot.in_use = 1;
        slot.connect_tick = slot.taken_tick = get_tick_count();
        copy_text(slot.peer_address, kAddressKept + 1, address);
        slot.peer_port = port;
        slot.generation = gen = g_next_generation++;
    }
    Cserver_socket& slot = g_server_socks[chosen];
    slot.close_taken(old);
    drop_queued(slot, evicted);
    {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        if (slot.generation == gen && slot.sock == 0) {
            slot.sock = s;
            slot.connected = 1;
            return;
        }
    }
    close_socket(s);  // the slot was taken by another listener meanwhile
}

void listener_thread(int which) {
    run_accept_loop(
        g_listen_socks[which], g_stopping,
        [](socket_t s) {
            char address[32] = "";
            uint16_t port = 0;
            peer_address_of(s, address, sizeof(address), &port);
            take_relay_slot(s, address, port);
            g_poller_wakeup.signal();
        },
        [which] {
            g_listening[which] = false;
            log_line("accept failed in g_server_thread.\n");
            show_user_text(make_text(TXT_RELAY_ACCEPT_FAILED));
        });
}

void poller_thread() {
    run_slot_poller(
        g_poller_wakeup, g_stopping, "g_server_recv_thread",
        [](std::vector<poll_candidate>& out) {
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            for (int i = 0; i < kRelaySlots; i++) {
                const Cserver_socket& slot = g_server_socks[i];
                socket_t s = slot.sock;
                if (slot.in_use == 1 && s != 0 && slot.busy == 0)
                    out.push_back({i, slot.generation, s});
            }
        },
        [](int index, uint64_t gen) {
            if (!g_readers.wait_below(2 * kRelaySlots, 1000)) return;
            {
                std::lock_guard<std::mutex> lk(g_relay_mutex);
                Cserver_socket& slot = g_server_socks[index];
                if (slot.generation != gen || slot.busy) return;
                slot.busy = 1;
            }
            g_readers.start([index, gen] { reader_thread(index, gen); });
        });
}

// Queues a message for the first connection registered as to_id; dropped when there is none.
// While that connection's queue is full, the reader of slot self (generation self_gen) waits for
// room; the wait ends when the receiver goes away (the message then goes to the next connection
// registered as to_id, if any), when self does or when the service stops.
void forward(const char* msg, int length, int to_id, int self_index, uint64_t self_gen) {
    if (to_id == 0) return;  // only registration frames name no receiver
    Cserver_socket& self = g_server_socks[self_index];
    bool waiting = false;
    for (;;) {
        int dest = -1;
        uint64_t dest_gen = 0;
        {
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            if (g_stopping || self.generation != self_gen) break;
            for (int i = 0; i < kRelaySlots; i++)
                if (g_server_socks[i].in_use == 1 && g_server_socks[i].user_id == to_id) {
                    dest = i;
                    dest_gen = g_server_socks[i].generation;
                    break;
                }
            if (dest < 0) break;
        }
        // The payload goes on as it came, still scrambled: unscrambling and scrambling it again
        // with the same key from the same offset would give the same bytes.
        queued_message m;
        m.bytes = g_server_socks[dest].queue.spare_buffer();
        m.bytes.assign(msg, msg + length);
        m.from = length;
        m.peer_id = to_id;
        int r = g_server_socks[dest].queue.push_waiting(
            std::move(m), waiting ? kRoomWaitMs : 0,
            [dest, dest_gen](queued_message& q) { return admit_to_relay_slot(dest, dest_gen, q); });
        if (r == 0) break;
        if (r == -2 && !waiting) {
            waiting = true;
            {
                std::lock_guard<std::mutex> lk(g_relay_mutex);
                if (self.generation == self_gen) self.paused = 1;
            }
            g_pauses++;
        }
        // -2 again: still full, look at both connections again; -1: the receiver closed.
    }
    if (waiting) {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        if (self.generation == self_gen) self.paused = 0;
    }
}

// What one connection has received ahead of the message being handled: one receive takes
// whatever has arrived, often many messages, instead of two receives per message.
constexpr int kReadAheadBytes = 16 * 1024;  // below what one traffic count may add
struct read_ahead {
    std::vector<char> data = std::vector<char>(kReadAheadBytes);
    int start = 0;
    int end = 0;
    int available() const { return end - start; }
    char* at() { return data.data() + start; }
};

// Makes at least n bytes available (n at most kReadAheadBytes). False when the connection ended
// or the service is stopping.
bool fill(Cserver_socket& slot, read_ahead& in, int n) {
    while (in.available() < n) {
        if (in.start > 0) {
            std::memmove(in.data.data(), in.at(), static_cast<size_t>(in.available()));
            in.end -= in.start;
            in.start = 0;
        }
        // The reader waits on its own handle only: a slot taken over ends the wait.
        if (slot.wait_readable_for(-1) < 0 || g_stopping) return false;
        int r = slot.counting_recv(in.data.data() + in.end, kReadAheadBytes - in.end);
        if (r <= 0) return false;
        in.end += r;
    }
    return true;
}

// Drops n bytes of the stream.
bool skip(Cserver_socket& slot, read_ahead& in, int n) {
    while (n > 0) {
        if (in.available() == 0 && !fill(slot, in, 1)) return false;
        int take = n < in.available() ? n : in.available();
        in.start += take;
        n -= take;
    }
    return true;
}

void reader_thread(int index, uint64_t gen) {
    if (index < 0 || index >= kRelaySlots) {
        log_line("index:%d out of range 0-%d in g_server_one_client_thread\n", index,
                 kRelaySlots - 1);
        return;
    }
    Cserver_socket& slot = g_server_socks[index];
    slot.bind_reader();  // before the generation check: see the peer reader
    {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        if (slot.generation != gen) return;
    }
    read_ahead in;
    // Messages to one receiver that lie back to back in the read-ahead go out as one send.
    int span_start = 0;
    int span_len = 0;
    int span_to = 0;
    auto flush = [&] {
        if (span_len > 0) forward(in.data.data() + span_start, span_len, span_to, index, gen);
        span_len = 0;
    };
    for (;;) {
        if (in.available() < kOuterHeaderLen) flush();
        if (!fill(slot, in, kOuterHeaderLen)) {
            if (!g_stopping) close_relay_slot(index, gen);
            return;
        }
        {
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            if (slot.generation != gen) return;
            slot.idle_count = 0;
        }
        char* head = in.at();
        int bad = check_outer_header(head);
        if (bad >= 0) {
            flush();
            char shown[kOuterHeaderLen + 1];
            std::memcpy(shown, head, kOuterHeaderLen);
            shown[kOuterHeaderLen] = '\0';
            log_line("g_server_one_client_thread command format error at:%d.\n", bad);
            log_line("content is:%s.\n", shown);
            // The header and what came with it (at most a drop's worth) are discarded.
            in.start += kOuterHeaderLen;
            in.start += in.available() < kBadHeaderDrop ? in.available() : kBadHeaderDrop;
            continue;
        }
        outer_header oh;
        parse_outer_header(head, &oh);
        int want = oh.payload_len;
        if (want < 0) want = 0;
        if (want > kOuterPayloadCap) {
            // Its header announces more than is kept; passed on, the receiver would take the
            // next message for the rest of this one. The whole message is dropped.
            flush();
            log_line("payload_len:%d > %d in g_server_one_client_thread, message dropped\n",
                     oh.payload_len, kOuterPayloadCap);
            if (!skip(slot, in, kOuterHeaderLen + want)) {
                if (!g_stopping) close_relay_slot(index, gen);
                return;
            }
            continue;
        }
        if (in.available() < kOuterHeaderLen + want) flush();
        if (!fill(slot, in, kOuterHeaderLen + want)) {
            if (!g_stopping) close_relay_slot(index, gen);
            return;
        }
        int at = in.start;
        in.start += kOuterHeaderLen + want;
        if (oh.send_tick == 0) {
            flush();
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            if (slot.generation != gen) return;
            slot.user_id = oh.first_id;  // registration frame
            continue;
        }
        if (oh.second_id == 0) continue;  // only registration frames name no receiver
        if (span_len > 0 && (span_to != oh.second_id || span_start + span_len != at)) flush();
        if (span_len == 0) {
            span_start = at;
            span_to = oh.second_id;
        }
        span_len += kOuterHeaderLen + want;
    }
}
}  // namespace

int start_relay_service() {
    g_stopping = false;
    uint16_t ports[kRelayPortCount];
    {
        std::lock_guard<std::mutex> lk(g_ports_mutex);
        std::memcpy(ports, g_ports, sizeof(ports));
    }
    for (int i = 0; i < kRelayPortCount; i++) {
        g_listening[i] = false;
        g_listen_socks[i] = tcp_listen(nullptr, ports[i], kRelayBacklog);
        if (g_listen_socks[i] < 0) {
            // Ports below 1024 need privileges; the other listeners go on without this one.
            log_line("peer socket server bind failed in g_server_thread. port:%d\r\n", ports[i]);
            continue;
        }
        g_listening[i] = true;
        g_listeners[i] = std::thread(listener_thread, i);
    }
    g_poller = std::thread(poller_thread);
    return 0;
}

void stop_relay_service() {
    g_stopping = true;
    g_poller_wakeup.signal();
    for (int i = 0; i < kRelayPortCount; i++) {
        if (g_listen_socks[i] > 0) shutdown(g_listen_socks[i], SHUT_RDWR);
        if (g_listeners[i].joinable()) g_listeners[i].join();
        close_socket(g_listen_socks[i]);
        g_listen_socks[i] = -1;
        g_listening[i] = false;
    }
    if (g_poller.joinable()) g_poller.join();
    for (int i = 0; i < kRelaySlots; i++) close_relay_slot(i, 0);
    g_readers.wait(10000);
    // Every handle is shut down, so no drainer is held in a write.
    for (auto& slot : g_server_socks) slot.queue.stop();
}
