#include "peer/slave_server.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "peer/peer_commands.h"
#include "peer/peer_session.h"
#include "peer/relay_server.h"
#include "peer/slave_header.h"
#include "peer/slave_poller.h"
#include "platform/debug_log.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "platform/wakeup.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/tables.h"
#include "protocol/notify.h"

Cpeer_socket_indirect g_slave_socks[kSlaveSlots];
peer_slave_server g_peer_slave_servers[kRouteSlots];
std::mutex g_slave_mutex;

namespace {
slave_assignment g_assignment;   // guarded by g_slave_mutex
uint64_t g_next_generation = 1;  // guarded by g_slave_mutex

std::atomic<bool> g_stopping{false};
Cwakeup g_poller_wakeup;
std::thread g_poller;
std::thread g_slave_keepalive;
std::thread g_route_keepalive;
std::mutex g_sleep_mutex;
std::condition_variable g_sleep_cv;
Cjob_group g_readers;
Cjob_group g_jobs;

void reader_thread(int index, uint64_t gen);

// Sleeps one keep-alive period; false when the service is stopping.
bool keepalive_sleep() {
    std::unique_lock<std::mutex> lk(g_sleep_mutex);
    return !g_sleep_cv.wait_for(lk, std::chrono::milliseconds(kSlaveKeepAliveMs),
                                [] { return g_stopping.load(); });
}

// Index of the first in-use connection to address. Caller holds g_slave_mutex.
int find_slave_index_locked(const char* address) {
    for (int i = 0; i < kSlaveSlots; i++)
        if (g_slave_socks[i].in_use == 1 &&
            std::strcmp(g_slave_socks[i].slave_address, address) == 0)
            return i;
    return -1;
}

void clear_route(peer_slave_server& r) {
    r.in_use = 0;
    r.idle_count = 0;
    r.peer_id = 0;
    r.slave_server_addr[0] = '\0';
}

// Closes slot index if it still belongs to generation gen (0: any).
void close_slave_slot(int index, uint64_t gen) {
    Cpeer_socket_indirect& slot = g_slave_socks[index];
    socket_t s;
    uint64_t closed;
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        if (gen != 0 && slot.generation != gen) return;
        closed = slot.generation;
        slot.clear();
        s = slot.take_handle();
    }
    slot.close_taken(s);
    if (closed != 0) slot.queue.take(closed);
    slot.queue.retire();
}

int write_queued(void* context, queued_message& m) {
    auto* slot = static_cast<Cpeer_socket_indirect*>(context);
    return slot->send_owned_on_handle(m.serial, m.bytes, m.from);
}

// On the drainer: the slave server is gone (unless the slot moved on meanwhile), and so are the
// routes through it.
void queued_write_failed(void* context, queued_message& m) {
    auto* slot = static_cast<Cpeer_socket_indirect*>(context);
    int index = static_cast<int>(slot - g_slave_socks);
    char address[kSlaveAddressKept + 1] = "";
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        if (slot->generation != m.generation) return;
        copy_text(address, slot->slave_address);
    }
    log_line("send through slave server %s failed, peer_id:%d\r\n", address, m.peer_id);
    reset_one_peer_connect_to_slave_server_info(address);
    close_slave_slot(index, m.generation);
}

// Queues m on connection index while it has generation gen and an open connection. 0 or -1
// (-2 when a bulk message found no room within wait_ms).
int queue_on_slot(int index, uint64_t gen, queued_message m, int wait_ms = -1) {
    auto admit = [index, gen](queued_message& q) {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        const Cpeer_socket_indirect& slot = g_slave_socks[index];
        if (slot.in_use != 1 || slot.generation != gen || slot.connecting || slot.sock == 0)
            return false;
        q.generation = gen;
        q.serial = slot.handle_serial();
        return true;
    };
    Csend_queue& queue = g_slave_socks[index].queue;
    return wait_ms < 0 ? queue.push(std::move(m), admit)
                       : queue.push_waiting(std::move(m), wait_ms, admit);
}

// The first usable connection that routes to peer_id, with its generation, or -1.
int find_peer_slave_ticket(int peer_id, uint64_t* gen);
}  // namespace

Cpeer_socket_indirect::Cpeer_socket_indirect() {
    copy_text(name, "slave_server");
    queue.set_callbacks(write_queued, queued_write_failed, this);
    // A slave server that refuses a send is dropped at once (its routes go with it) instead of
    // holding the sender in the base class's retry loop; an unknown host is a log line, not a box.
    retry_on_error = 0;
    report_resolve_error = 0;
    clear();
}

int Cpeer_socket_indirect::my_close() { return close_and_clear(*this, g_slave_mutex); }

void Cpeer_socket_indirect::clear() {
    clear_slot_fields();
    peer_id = 0;
    id_sent = 0;
    slave_address[0] = '\0';
    connecting = 0;
}

void close_all_slave_connections() {
    for (int i = 0; i < kSlaveSlots; i++) close_slave_slot(i, 0);
    clear_slave_tables();
}

void clear_slave_tables() {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    for (auto& slot : g_slave_socks) slot.clear();
    for (auto& r : g_peer_slave_servers) clear_route(r);
    std::memset(&g_assignment, 0, sizeof(g_assignment));
}

namespace {
// Queues the registration frame (tick 0, our id, receiver 0, no payload) on slot index of
// generation gen. A failed write means the slave server is gone: the slot and every route through
// it are dropped.
void send_registration(int index, uint64_t gen) {
    char frame[kOuterHeaderLen + 1];
    std::snprintf(frame, sizeof(frame), "%12d:%10d:%10d:%10d:", 0, peer_my_user_id(), 0, 0);
    queued_message m;
    m.bytes.assign(frame, frame + kOuterHeaderLen);
    m.from = kOuterHeaderLen;
    queue_on_slot(index, gen, std::move(m));
}
}  // namespace

void close_slave_connections() {
    std::vector<std::pair<int, uint64_t>> chosen;
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        for (auto& r : g_peer_slave_servers) clear_route(r);
        for (int i = 0; i < kSlaveSlots; i++)
            if (g_slave_socks[i].in_use == 1 && g_slave_socks[i].connecting == 0)
                chosen.emplace_back(i, g_slave_socks[i].generation);
    }
    for (auto [index, gen] : chosen) close_slave_slot(index, gen);
}

// ---- own assignment -------------------------------------------------------------------------

void set_slave_server_address(int which, const char* address) {
    if (which < 0 || which > 1) return;
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    copy_text(g_assignment.address[which], kSlaveAddressKept + 1, address);
}

void set_slave_server_port(int which, int slot, int port) {
    if (which < 0 || which > 1 || slot < 0 || slot > 2) return;
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    g_assignment.ports[which][slot] = port;
}

slave_assignment get_slave_assignment() {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    return g_assignment;
}

bool slave_server_known() {
    slave_assignment a = get_slave_assignment();
    return a.address[0][0] != '\0' || a.address[1][0] != '\0';
}

namespace {
int first_positive(const int ports[3]) {
    for (int i = 0; i < 3; i++)
        if (ports[i] > 0) return ports[i];
    return 0;
}

}  // namespace

void connect_slave_server_in_background(const char* address, int port) {
    std::string host = address;
    g_jobs.start([host, port] { connect_to_slave_server(host.c_str(), port); });
}

int connect_my_slave_servers() {
    slave_assignment a = get_slave_assignment();
    for (int which = 0; which < 2; which++) {
        if (a.address[which][0] == '\0') continue;
        int port = first_positive(a.ports[which]);
        if (port > 0) connect_slave_server_in_background(a.address[which], port);
    }
    return 0;
}

// ---- connections and routes -----------------------------------------------------------------

int connect_to_slave_server(const char* address, int port) {
    if (!address) return -1;
    char kept[kSlaveAddressKept + 1];
    copy_text(kept, address);
    if (std::strlen(kept) >= sizeof(Clink_socket::server_host)) {
        // A host name that does not fit the connection's host field cannot be reached as given.
        log_line("slave server address too long in connect_to_slave_server:%s\r\n", kept);
        return -1;
    }
    int index = -1;
    uint64_t gen = 0;
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        if (find_slave_index_locked(kept) >= 0) return 0;
        for (int i = 0; i < kSlaveSlots; i++)
            if (g_slave_socks[i].in_use == 0) {
                index = i;
                break;
            }
        if (index < 0) {
            log_line("count not find vacant index in connect_to_slave_server.");
            return -1;
        }
        Cpeer_socket_indirect& slot = g_slave_socks[index];
        slot.clear();
        copy_text(slot.slave_address, kept);
        copy_text(slot.server_host, kept);
        slot.server_port = static_cast<uint16_t>(port);
        slot.peer_port = port;
        slot.in_use = 1;
        slot.connecting = 1;
        slot.taken_tick = get_tick_count();
        slot.generation = gen = g_next_generation++;
    }
    Cpeer_socket_indirect& slot = g_slave_socks[index];
    // The slot is marked connecting, so no other thread frees or reuses it meanwhile.
    int r = slot.connect_to_server();
    bool wake = false;
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        if (slot.generation == gen) {
            slot.connecting = 0;
            if (r == 0) {
                slot.connect_tick = get_tick_count();
                copy_text(slot.peer_address, kept);
                wake = true;
            }
        }
    }
    if (r != 0) {
        // A failed connect is no route: the slot is freed at once, so the address is tried
        // afresh when the peer's route comes again.
        log_line("could not connect to slave server %s:%d\r\n", kept, port);
        close_slave_slot(index, gen);
        return 0;
    }
    // Register at once: the slave server drops whatever comes for an id it does not know, and a
    // contact may already route lines through it.
    send_registration(index, gen);
    if (wake) g_poller_wakeup.signal();
    post_main(NM_RELAY_CONNECTED, index, 0);
    return 0;
}

int add_peer_slave_server(int peer_id, const char* slave_server_addr) {
    char kept[kSlaveAddressKept + 1];
    copy_text(kept, slave_server_addr);
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    for (auto& r : g_peer_slave_servers)
        if (r.in_use == 1 && r.peer_id == peer_id && std::strcmp(r.slave_server_addr, kept) == 0)
            return 0;
    for (auto& r : g_peer_slave_servers)
        if (r.in_use == 0) {
            r.in_use = 1;
            r.peer_id = peer_id;
            copy_text(r.slave_server_addr, kept);
            r.idle_count = 0;
            return 0;
        }
    log_line(
        "could not find a vacant place to put peer in add_peer_slave_server. peer_id:%d, "
        "slave_server_addr:%s\r\n",
        peer_id, kept);
    return -1;
}

int find_slave_server_index(const char* address) {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    return find_slave_index_locked(address);
}

int find_peer_slave_sock(int peer_id) {
    uint64_t gen;
    return find_peer_slave_ticket(peer_id, &gen);
}

namespace {
int find_peer_slave_ticket(int peer_id, uint64_t* gen) {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    // Only a connection that is up counts: a slot still connecting, or whose connect failed, is
    // no route, and the next route of the peer (or the next path) is tried instead.
    for (const auto& r : g_peer_slave_servers) {
        if (r.in_use != 1 || r.peer_id != peer_id) continue;
        int index = find_slave_index_locked(r.slave_server_addr);
        if (index >= 0 && g_slave_socks[index].connecting == 0 && g_slave_socks[index].sock != 0) {
            *gen = g_slave_socks[index].generation;
            return index;
        }
    }
    return -1;
}
}  // namespace

void refresh_peer_slave_server(int peer_id, const char* address) {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    for (auto& r : g_peer_slave_servers)
        if (r.in_use == 1 && r.peer_id == peer_id && std::strcmp(r.slave_server_addr, address) == 0)
            r.idle_count = 0;
}

void reset_one_peer_connect_to_slave_server_info(const char* address) {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    for (auto& r : g_peer_slave_servers)
        if (r.in_use == 1 && std::strcmp(r.slave_server_addr, address) == 0) clear_route(r);
}

int peer_slave_routes_in_use() {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    int n = 0;
    for (const auto& r : g_peer_slave_servers) n += r.in_use;
    return n;
}

int peer_slave_socks_in_use() {
    std::lock_guard<std::mutex> lk(g_slave_mutex);
    int n = 0;
    for (const auto& slot : g_slave_socks) n += slot.in_use;
    return n;
}

// ---- senders --------------------------------------------------------------------------------

namespace {
// A relay that has gone (its close arrived but its reader has not seen it yet) would swallow a
// message without a failure: the route through it is given up, and true tells the caller to
// take its next way.
bool relay_gone(int index, uint64_t gen, int peer_id) {
    if (!g_slave_socks[index].peer_gone()) return false;
    char address[kSlaveAddressKept + 1];
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        copy_text(address, g_slave_socks[index].slave_address);
    }
    log_line("send through slave server %s failed, peer_id:%d\r\n", address, peer_id);
    reset_one_peer_connect_to_slave_server_info(address);
    close_slave_slot(index, gen);
    return true;
}

// Puts the outer header in front of payload and queues both on connection index of generation
// gen, the payload to be scrambled as one unit. Returns 0, or -1 when the connection is no longer
// there, so the caller tries the next path.
int send_relayed(int index, uint64_t gen, int peer_id, int command, const char* payload,
                 int payload_len) {
    queued_message m;
    m.bytes = g_slave_socks[index].queue.spare_buffer();
    m.bytes.resize(static_cast<size_t>(kOuterHeaderLen + payload_len + 1));
    build_outer_header(m.bytes.data(), outer_tick_field(get_tick_count()), peer_my_user_id(),
                       peer_id, payload_len);
    m.bytes.pop_back();
    std::memcpy(m.bytes.data() + kOuterHeaderLen, payload, static_cast<size_t>(payload_len));
    m.from = kOuterHeaderLen;
    m.kind = send_kind_of(command);
    m.command = command;
    m.peer_id = peer_id;
    // What is never dropped (a chat line, a knock, a command) goes another way rather than into
    // a relay that has gone; voice and video are not worth the check.
    if (m.kind == send_kind::control && relay_gone(index, gen, peer_id)) return -1;
    if (queue_on_slot(index, gen, std::move(m)) == 0) return 0;
    log_line("send through slave server failed, peer_id:%d\r\n", peer_id);
    return -1;
}

int send_command_relayed(int index, uint64_t gen, int peer_id, int command, int board_num,
                         const void* body, int count) {
    char payload[kHeaderLen + kSlaveBufLimit + 1];
    build_message(payload, sizeof(payload), 0, board_num, command, body, count);
    return send_relayed(index, gen, peer_id, command, payload, kHeaderLen + count);
}
}  // namespace

int frame_relayed_in_place(char* message, int peer_id, int command, int count) {
    build_outer_header(message, outer_tick_field(get_tick_count()), peer_my_user_id(), peer_id,
                       kHeaderLen + count);
    char header[kHeaderLen + 1];
    build_header(header, 0, 0, command, count);
    std::memcpy(message + kOuterHeaderLen, header, kHeaderLen);
    xor_scramble(message + kOuterHeaderLen, kHeaderLen + count);
    return kOuterHeaderLen + kHeaderLen + count;
}

int send_framed_through_slave_server(int peer_id, const char* messages, int length) {
    uint64_t gen = 0;
    int index = find_peer_slave_ticket(peer_id, &gen);
    if (index < 0) {
        log_line("could not find peer slave sock, peer_id:%d\r\n", peer_id);
        return -1;
    }
    if (length <= 0) return -1;
    if (relay_gone(index, gen, peer_id)) return -1;
    char address[kSlaveAddressKept + 1];
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        copy_text(address, g_slave_socks[index].slave_address);
    }
    queued_message m;
    m.bytes = g_slave_socks[index].queue.spare_buffer();
    m.bytes.assign(messages, messages + length);
    m.from = length;
    m.command = PEER_FILE_DATA;
    m.peer_id = peer_id;
    if (queue_on_slot(index, gen, std::move(m), kSlaveBulkWaitMs) == 0) return 0;
    log_line("send through slave server %s failed, peer_id:%d\r\n", address, peer_id);
    reset_one_peer_connect_to_slave_server_info(address);
    close_slave_slot(index, gen);
    return -1;
}

int general_str_command_to_peer_through_slave_server(int peer_id, int command, int board_num,
                                                     const char* text) {
    uint64_t gen = 0;
    int index = find_peer_slave_ticket(peer_id, &gen);
    if (index < 0) {
        log_line("could not find peer slave sock, peer_id:%d\r\n", peer_id);
        return -1;
    }
    size_t len = text ? std::strlen(text) : 0;
    if (len > static_cast<size_t>(kSlaveTextLimit)) {
        log_line("string length > 1000 in general_str_command_to_peer_through_slave_server\r\n");
        return -1;
    }
    return send_command_relayed(index, gen, peer_id, command, board_num, text ? text : "",
                                static_cast<int>(len));
}

int general_buf_command_to_peer_through_slave_server(int peer_id, int command, int board_num,
                                                     const void* bytes, int count) {
    uint64_t gen = 0;
    int index = find_peer_slave_ticket(peer_id, &gen);
    if (index < 0) {
        log_line("could not find peer slave sock, peer_id:%d\r\n", peer_id);
        request_missing_slave_route(peer_id);
        return -1;
    }
    if (count > kSlaveBufLimit) {
        log_line("buf length > 1200 in general_buf_command_to_peer_through_slave_server\r\n");
        return -1;
    }
    if (count < 0) return -1;
    return send_command_relayed(index, gen, peer_id, command, board_num, bytes, count);
}

int general_buf_to_peer_through_slave_server(int peer_id, const void* message, int length) {
    uint64_t gen = 0;
    int index = find_peer_slave_ticket(peer_id, &gen);
    if (index < 0) {
        log_line(
            "could not find peer slave sock in general_buf_to_peer_through_slave_server, "
            "peer_id:%d\r\n",
            peer_id);
        request_missing_slave_route(peer_id);
        return -1;
    }
    if (length > kSlaveBufLimit) {
        log_line("buf length > 1200 in general_buf_to_peer_through_slave_server\r\n");
        return -1;
    }
    if (length <= 0) return -1;
    const char* msg = static_cast<const char*>(message);
    msg_header h;
    int command = length >= kHeaderLen && parse_header(msg, &h) == 0 ? h.command : 0;
    return send_relayed(index, gen, peer_id, command, msg, length);
}

// ---- keep-alive -----------------------------------------------------------------------------

void slave_keepalive_pass() {
    relay_aging_pass();
    for (int i = 0; i < kSlaveSlots; i++) {
        uint64_t gen;
        char address[kSlaveAddressKept + 1];
        {
            std::lock_guard<std::mutex> lk(g_slave_mutex);
            const Cpeer_socket_indirect& slot = g_slave_socks[i];
            if (slot.in_use != 1 || slot.connecting) continue;
            gen = slot.generation;
            copy_text(address, slot.slave_address);
        }
        // A slave server that has stopped reading is dropped, with its routes, once its queue
        // has stood still for as long as a silent route is kept.
        if (g_slave_socks[i].queue.check_stall() > kSlaveIdleLimit) {
            log_line("send queue of slave server %s stood still for %d passes, closing\r\n",
                     address, kSlaveIdleLimit + 1);
            reset_one_peer_connect_to_slave_server_info(address);
            close_slave_slot(i, gen);
            g_send_queue_totals.closed_stalled++;
            continue;
        }
        send_registration(i, gen);
    }
}

void route_keepalive_pass() {
    // A peer may send its keep-alives through a relay of its own rather than through ours, so
    // none arrives on the connection a route uses: a route to an online contact lives as long as
    // the connection to its slave server does (the slave keep-alive closes a dead one).
    std::vector<int> online;
    for (const contact_record& c : contacts_snapshot())
        if (c.presence != PS_OFFLINE) online.push_back(c.contact_id);
    auto is_online = [&online](int id) {
        for (int o : online)
            if (o == id) return true;
        return false;
    };
    std::vector<int> live;
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        for (auto& r : g_peer_slave_servers) {
            if (r.in_use != 1) continue;
            int index = find_slave_index_locked(r.slave_server_addr);
            bool carried = index >= 0 && g_slave_socks[index].sock != 0 &&
                           g_slave_socks[index].connecting == 0 && is_online(r.peer_id);
            if (carried)
                r.idle_count = 0;
            else if (++r.idle_count > kSlaveIdleLimit)
                clear_route(r);
        }
        for (const auto& r : g_peer_slave_servers)
            if (r.in_use == 1) live.push_back(r.peer_id);
    }
    for (int peer_id : live)
        general_str_command_to_peer_through_slave_server(peer_id, PEER_ROUTE_KEEP_ALIVE, 0, "");
}

// ---- poller and reader ----------------------------------------------------------------------

namespace {
void poller_thread() {
    run_slot_poller(
        g_poller_wakeup, g_stopping, "g_peer_indirect_recv_thread",
        [](std::vector<poll_candidate>& out) {
            std::lock_guard<std::mutex> lk(g_slave_mutex);
            for (int i = 0; i < kSlaveSlots; i++) {
                const Cpeer_socket_indirect& slot = g_slave_socks[i];
                socket_t s = slot.sock;
                if (slot.in_use == 1 && s != 0 && slot.busy == 0 && slot.connecting == 0)
                    out.push_back({i, slot.generation, s});
            }
        },
        [](int index, uint64_t gen) {
            if (!g_readers.wait_below(2 * kSlaveSlots, 1000)) return;
            {
                std::lock_guard<std::mutex> lk(g_slave_mutex);
                Cpeer_socket_indirect& slot = g_slave_socks[index];
                if (slot.generation != gen || slot.busy) return;
                slot.busy = 1;
            }
            g_readers.start([index, gen] { reader_thread(index, gen); });
        });
}

void reader_thread(int index, uint64_t gen) {
    if (index < 0 || index >= kSlaveSlots) {
        log_line("index:%d out of range 0-%d in g_peer_indirect_one_client_thread\n", index,
                 kSlaveSlots - 1);
        return;
    }
    Cpeer_socket_indirect& slot = g_slave_socks[index];
    slot.bind_reader();  // before the generation check: see the peer reader
    std::vector<char> buffer(kRecvBufSize);
    char* buf = buffer.data();
    char* payload = buf + kOuterHeaderLen;
    for (;;) {
        char address[kSlaveAddressKept + 1];
        {
            std::lock_guard<std::mutex> lk(g_slave_mutex);
            if (slot.generation != gen) return;
            copy_text(address, slot.slave_address);
        }
        std::memset(buf, 0, kRecvBufSize);
        int w = slot.wait_readable_for(-1);
        if (g_stopping) return;
        if (w < 0 || slot.my_recv_fixed_len(buf, kOuterHeaderLen) < 0) {
            close_slave_slot(index, gen);
            return;
        }
        int bad = check_outer_header(buf);
        if (bad >= 0) {
            buf[kOuterHeaderLen] = '\0';
            log_line("g_peer_indirect_one_client_thread command format error at:%d.\n", bad);
            log_line("content is:%s.\n", buf);
            slot.my_recv(payload, 2048);
            continue;
        }
        outer_header oh;
        parse_outer_header(buf, &oh);
        int want = oh.payload_len;
        int excess = 0;
        if (want > kOuterPayloadCap) {
            // Only 2000 bytes are kept; the rest is read and dropped so that it is not taken for
            // the next outer header.
            log_line("payload_len:%d > %d in g_peer_indirect_one_client_thread, rest dropped\n",
                     want, kOuterPayloadCap);
            excess = want - kOuterPayloadCap;
            want = kOuterPayloadCap;
        }
        if ((want > 0 && slot.my_recv_fixed_len(payload, want) < 0) ||
            (excess > 0 && slot.skip_fixed_len(excess) != 0)) {
            close_slave_slot(index, gen);
            return;
        }
        xor_scramble(payload, want);
        {
            std::lock_guard<std::mutex> lk(g_slave_mutex);
            if (slot.generation != gen) return;
            slot.idle_count = 0;
        }
        if (want < kHeaderLen) continue;  // nothing to dispatch
        msg_header h;
        if (parse_header(payload, &h) != 0 || h.len < 0 || h.len > want - kHeaderLen) {
            // A command that does not fit its payload would be cut; it is not dispatched.
            log_line(
                "payload command does not fit payload_len:%d in "
                "g_peer_indirect_one_client_thread\n",
                want);
            continue;
        }
        payload[kHeaderLen + h.len] = '\0';
        if (h.command == PEER_ROUTE_KEEP_ALIVE) {
            refresh_peer_slave_server(oh.first_id, address);
            continue;
        }
        dispatch_peer_command(PEER_PATH_SLAVE, h.command, payload + kHeaderLen, h.len, h.board_num,
                              oh.first_id, -1);
    }
}

void slave_keepalive_thread() {
    while (keepalive_sleep()) slave_keepalive_pass();
}

void route_keepalive_thread() {
    while (keepalive_sleep()) route_keepalive_pass();
}
}  // namespace

int start_slave_service() {
    g_stopping = false;
    g_poller = std::thread(poller_thread);
    g_slave_keepalive = std::thread(slave_keepalive_thread);
    g_route_keepalive = std::thread(route_keepalive_thread);
    return 0;
}

void stop_slave_service() {
    g_stopping = true;
    { std::lock_guard<std::mutex> lk(g_sleep_mutex); }
    g_sleep_cv.notify_all();
    g_poller_wakeup.signal();
    if (g_poller.joinable()) g_poller.join();
    if (g_slave_keepalive.joinable()) g_slave_keepalive.join();
    if (g_route_keepalive.joinable()) g_route_keepalive.join();
    g_jobs.wait(15000);
    for (int i = 0; i < kSlaveSlots; i++) close_slave_slot(i, 0);
    // Every connection is shut down, so no drainer is left waiting on a socket.
    for (auto& slot : g_slave_socks) slot.queue.stop();
    g_readers.wait(10000);
}

Cjob_group& slave_job_group() {
    return g_jobs;
}
