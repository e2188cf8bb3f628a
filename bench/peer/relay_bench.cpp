// Relayed paths: the forwarding throughput of the local relay server with 1, 10 and 50
// sender/receiver pairs (1000-byte payloads), and the chat round trip through a slave server and
// through the datagram path, each next to the direct path measured in the same run.
//
// This process plays client A with its real peer, slave-server and datagram code. Client B is a
// plain socket: on the slave path it is registered with the relay and answers every 210 with a
// 211 carrying the same body; on the datagram path a UDP stand-in for B's home server
// acknowledges each datagram and hands B's 211 back to A as the server's command 2000 would.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "peer/relay_server.h"
#include "peer/slave_header.h"
#include "peer/slave_server.h"
#include "peer/udp_packets.h"
#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "tests/support/loopback.h"

namespace {
constexpr int kPeerId = 9101;
constexpr int kMe = 1;
constexpr const char* kLine = "a line of chat text of ordinary length, about sixty bytes";
const uint16_t kRelayPorts[3] = {7281, 7282, 7283};

class echo_window : public chat_window {
public:
    void post(int n, intptr_t, intptr_t, note_payload = {}) override {
        if (n != 7) return;
        std::lock_guard<std::mutex> lk(m);
        shown++;
        cv.notify_all();
    }
    int peer_id() const override { return kPeerId; }
    bool wait_for(long count) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, std::chrono::seconds(10), [&] { return shown >= count; });
    }
    std::mutex m;
    std::condition_variable cv;
    long shown = 0;
};

// Hands each chat line to the open window, as the main window's queue does.
class quiet_main : public notify_target {
public:
    void post(int n, intptr_t w, intptr_t l, note_payload = {}) override {
        if (n == NM_PEER_CHAT_LINE)
            hand_chat_delivery(get_chat_dlg_from_peer_id(static_cast<int>(w)),
                               *reinterpret_cast<const chat_delivery*>(l));
    }
};

// Client A's process state: a private home, its own loopback address, no tables.
struct client_a {
    explicit client_a(const char* address) {
        set_home_dir(home.path);
        open_debug_log();
        set_local_bind_address(address);
        clear_all_tables();
        clear_peer_table();
        clear_slave_tables();
        clear_relay_table();
        clear_udp_duplicate_ring();
        g_user_id = kMe;
        g_main_dlg = &main;
        add_chat_dlg(&window);
    }
    ~client_a() {
        remove_chat_dlg(&window);
        g_main_dlg = nullptr;
        set_local_bind_address("");
        close_debug_log();
    }
    testsupport::temp_dir home;
    quiet_main main;
    echo_window window;
};

void percentile_counters(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    if (us.empty()) return;
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

socket_t connect_to(const char* address, uint16_t port) {
    socket_t s = tcp_socket();
    struct in_addr a;
    resolve_ipv4(address, &a);
    if (connect_ipv4(s, a, port) != 0) {
        close_socket(s);
        return -1;
    }
    return s;
}

std::string outer(int tick, int first, int second, int len) {
    char h[kOuterHeaderLen + 1];
    build_outer_header(h, tick, first, second, len);
    return std::string(h, kOuterHeaderLen);
}

// Chat round trip over a direct connection (B connects to A's peer listener and echoes).
void BM_ChatRoundTripDirect(benchmark::State& state) {
    client_a a("127.0.9.21");
    start_peer_service();
    socket_t b = connect_to("127.0.9.21", kPeerPort);
    char id[kHeaderLen + 11];
    std::snprintf(id, sizeof(id), "%4d:%4d:%4d:%4d:%10d", 0, 0, 200, 10, kPeerId);
    xor_scramble(id + kHeaderLen, 10);
    testsupport::write_all(b, id, kHeaderLen + 10);
    while (get_peer_sock_index(kPeerId) < 0) sleep_ms(1);
    std::thread responder([b] {
        char head[kHeaderLen];
        std::vector<char> msg;
        msg_header h;
        while (testsupport::read_exact(b, head, kHeaderLen, 10000) && parse_header(head, &h) == 0) {
            msg.resize(kHeaderLen + static_cast<size_t>(h.len));
            if (!testsupport::read_exact(b, msg.data() + kHeaderLen, static_cast<size_t>(h.len), 10000)) break;
            if (h.command != 210) continue;
            build_header(msg.data(), 0, 0, 211, h.len);  // the body stays scrambled as sent
            testsupport::write_all(b, msg.data(), msg.size());
        }
    });
    const unsigned char attrs[5] = {0, 0, 0, 10, 0};
    std::vector<double> us;
    long sent = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        send_chat_text(kPeerId, "A", kLine, attrs);
        if (!a.window.wait_for(++sent)) {
            state.SkipWithError("echo lost");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    percentile_counters(state, us);
    shutdown(b, SHUT_RDWR);
    responder.join();
    close_socket(b);
    stop_peer_service();
}
BENCHMARK(BM_ChatRoundTripDirect)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Chat round trip through a slave server: A's slave connection and route lead to the local relay
// server of this process, where B is registered.
void BM_ChatRoundTripSlaveServer(benchmark::State& state) {
    const char* addr = "127.0.9.22";
    client_a a(addr);
    set_relay_ports(kRelayPorts);
    start_relay_service();
    start_slave_service();
    socket_t b = connect_to(addr, kRelayPorts[0]);
    std::string reg = outer(0, kPeerId, 0, 0);
    testsupport::write_all(b, reg.data(), reg.size());
    connect_to_slave_server(addr, kRelayPorts[0]);
    add_peer_slave_server(kPeerId, addr);
    while (find_peer_slave_sock(kPeerId) < 0) sleep_ms(1);
    slave_keepalive_pass();  // A's registration frame
    sleep_ms(100);
    std::thread responder([b] {
        char head[kOuterHeaderLen + 1] = {};
        std::string payload;
        while (testsupport::read_exact(b, head, kOuterHeaderLen, 10000) && check_outer_header(head) < 0) {
            outer_header oh;
            parse_outer_header(head, &oh);
            payload.assign(static_cast<size_t>(oh.payload_len), '\0');
            if (!testsupport::read_exact(b, payload.data(), payload.size(), 10000)) break;
            xor_scramble(payload.data(), static_cast<long>(payload.size()));
            msg_header h;
            if (payload.size() < static_cast<size_t>(kHeaderLen) || parse_header(payload.data(), &h) != 0 ||
                h.command != 210)
                continue;
            build_header(payload.data(), 0, 0, 211, h.len);
            xor_scramble(payload.data(), static_cast<long>(payload.size()));
            std::string reply = outer(oh.send_tick, kPeerId, oh.first_id, oh.payload_len) + payload;
            testsupport::write_all(b, reply.data(), reply.size());
        }
    });
    const unsigned char attrs[5] = {0, 0, 0, 10, 0};
    std::vector<double> us;
    long sent = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        send_chat_text(kPeerId, "A", kLine, attrs);
        if (!a.window.wait_for(++sent)) {
            state.SkipWithError("echo lost");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    percentile_counters(state, us);
    shutdown(b, SHUT_RDWR);
    responder.join();
    close_socket(b);
    stop_slave_service();
    stop_relay_service();
    set_relay_ports(nullptr);
}
BENCHMARK(BM_ChatRoundTripSlaveServer)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Chat round trip by datagram: A sends to B's home server (a UDP stand-in on port 9015) and waits
// for the acknowledgement; the stand-in hands B's echo to A as command 2000 would.
void BM_ChatRoundTripDatagram(benchmark::State& state) {
    const char* addr = "127.0.9.23";
    client_a a(addr);
    add_one_contact(kPeerId, 0, "peer");
    {
        tables_guard lk(tables_mutex());
        copy_text(g_contact[get_contact_index(kPeerId)].home_server, addr);
    }
    socket_t u = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(kServerPort);
    inet_pton(AF_INET, addr, &sa.sin_addr);
    if (bind(u, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        state.SkipWithError("UDP port 9015 not free");
        return;
    }
    std::atomic<bool> stop{false};
    std::thread home([u, &stop] {
        char buf[2048];
        int tick = 1;
        while (!stop) {
            if (wait_readable(u, 100) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof(from);
            ssize_t n = recvfrom(u, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < kOuterHeaderLen + kHeaderLen) continue;
            sendto(u, buf, kOuterHeaderLen, 0, reinterpret_cast<sockaddr*>(&from), len);
            msg_header h;
            if (parse_header(buf + kOuterHeaderLen, &h) != 0 || h.command != 210) continue;
            // B's echo as A receives it in 2000: A first, then B, the inner body in plain text.
            std::string d = outer(tick++, kMe, kPeerId, kHeaderLen + h.len);
            char head[kHeaderLen + 1];
            build_header(head, 0, 0, 211, h.len);
            d.append(head, kHeaderLen);
            std::string body(buf + kOuterHeaderLen + kHeaderLen, static_cast<size_t>(h.len));
            xor_scramble(body.data(), h.len);
            d += body;
            do_relay_peer_udp_from_server(d.data(), static_cast<int>(d.size()), 0);
        }
    });
    const unsigned char attrs[5] = {0, 0, 0, 10, 0};
    std::vector<double> us;
    long sent = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        send_chat_text(kPeerId, "A", kLine, attrs);
        if (!a.window.wait_for(++sent)) {
            state.SkipWithError("echo lost");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    percentile_counters(state, us);
    wait_udp_jobs(5000);
    stop = true;
    home.join();
    close_socket(u);
}
BENCHMARK(BM_ChatRoundTripDatagram)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Forwarding throughput of the local relay server: N senders each send 1000-byte payloads to
// their own receiver through the relay; one iteration is 200 messages per pair, all received.
void BM_RelayForwarding(benchmark::State& state) {
    const char* addr = "127.0.9.24";
    const int pairs = static_cast<int>(state.range(0));
    constexpr int kPerPair = 200;
    constexpr int kPayload = 1000;
    client_a a(addr);
    set_relay_ports(kRelayPorts);
    start_relay_service();
    std::vector<socket_t> senders, receivers;
    for (int i = 0; i < pairs; i++) {
        socket_t r = connect_to(addr, kRelayPorts[i % 3]);
        socket_t s = connect_to(addr, kRelayPorts[(i + 1) % 3]);
        std::string reg = outer(0, 20000 + i, 0, 0);
        testsupport::write_all(r, reg.data(), reg.size());
        receivers.push_back(r);
        senders.push_back(s);
    }
    while (relay_connection_count() < 2 * pairs) sleep_ms(1);
    sleep_ms(200);  // the registrations are read
    std::string payload(kPayload, 'p');
    long delivered = 0;
    for (auto _ : state) {
        std::vector<std::thread> threads;
        std::atomic<long> got{0};
        for (int i = 0; i < pairs; i++) {
            threads.emplace_back([&, i] {
                std::string msg = outer(1000 + i, 30000 + i, 20000 + i, kPayload) + payload;
                std::string batch;
                for (int k = 0; k < kPerPair; k++) batch += msg;
                testsupport::write_all(senders[i], batch.data(), batch.size());
            });
            threads.emplace_back([&, i] {
                std::vector<char> buf(static_cast<size_t>(kOuterHeaderLen + kPayload) * kPerPair);
                if (testsupport::read_exact(receivers[i], buf.data(), buf.size(), 20000)) got += kPerPair;
            });
        }
        for (auto& t : threads) t.join();
        delivered += got;
        if (got != static_cast<long>(kPerPair) * pairs) {
            state.SkipWithError("messages lost");
            break;
        }
    }
    state.SetItemsProcessed(delivered);
    state.SetBytesProcessed(delivered * kPayload);
    for (socket_t s : senders) close_socket(s);
    for (socket_t r : receivers) close_socket(r);
    stop_relay_service();
    set_relay_ports(nullptr);
}
BENCHMARK(BM_RelayForwarding)->Arg(1)->Arg(10)->Arg(50)->UseRealTime()->Unit(benchmark::kMillisecond);

// The anchor for one pair: the same messages through a plain relay with a thread per connection
// that reads each message (outer header, then its payload) and writes it to the receiver, with no
// other protocol work, measured the same way.
void BM_PlainRelayForwarding(benchmark::State& state) {
    constexpr int kPerPair = 200;
    constexpr int kPayload = 1000;
    testsupport::listener relay("127.0.9.25");
    socket_t receiver = connect_to("127.0.9.25", relay.port);
    socket_t receiver_end = relay.accept_one();
    socket_t sender = connect_to("127.0.9.25", relay.port);
    socket_t sender_end = relay.accept_one();
    if (receiver < 0 || receiver_end < 0 || sender < 0 || sender_end < 0) {
        state.SkipWithError("no connection");
        return;
    }
    set_no_delay(receiver_end);
    std::thread copier([sender_end, receiver_end] {
        std::vector<char> buf(kOuterHeaderLen + kOuterPayloadCap);
        outer_header oh;
        while (testsupport::read_exact(sender_end, buf.data(), kOuterHeaderLen, 20000)) {
            parse_outer_header(buf.data(), &oh);
            size_t len = static_cast<size_t>(oh.payload_len);
            if (!testsupport::read_exact(sender_end, buf.data() + kOuterHeaderLen, len, 20000) ||
                !testsupport::write_all(receiver_end, buf.data(), kOuterHeaderLen + len))
                return;
        }
    });
    std::string msg = outer(1000, 30000, 20000, kPayload) + std::string(kPayload, 'p');
    std::string batch;
    for (int k = 0; k < kPerPair; k++) batch += msg;
    long delivered = 0;
    for (auto _ : state) {
        std::thread writer([&] { testsupport::write_all(sender, batch.data(), batch.size()); });
        std::vector<char> buf(batch.size());
        bool ok = testsupport::read_exact(receiver, buf.data(), buf.size(), 20000);
        writer.join();
        if (!ok) {
            state.SkipWithError("messages lost");
            break;
        }
        delivered += kPerPair;
    }
    state.SetItemsProcessed(delivered);
    state.SetBytesProcessed(delivered * kPayload);
    shutdown(sender, SHUT_RDWR);
    shutdown(sender_end, SHUT_RDWR);
    copier.join();
    for (socket_t s : {sender, sender_end, receiver, receiver_end}) close_socket(s);
}
BENCHMARK(BM_PlainRelayForwarding)->UseRealTime()->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
