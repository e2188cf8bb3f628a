// Chat round trip on the direct path against a plain loopback TCP round trip, and the CPU an idle
// client spends holding 100 open peer connections.
//
// This process is client A with its real peer service; a responder thread plays client B with a
// plain socket, answering every 210 with a 211 carrying the same body, as a client does. A round
// trip is send_chat_text until A's chat window is handed the echo (notification 7).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/tick.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "tests/support/loopback.h"

namespace {
constexpr const char* kAddr = "127.0.9.1";
constexpr int kPeerId = 9001;

// A's chat window: counts the echoes it is shown.
class echo_window : public chat_window {
public:
    void post(int n, intptr_t, intptr_t, note_payload = {}) override {
        if (n != 7) return;
        std::lock_guard<std::mutex> lk(m);
        shown++;
        cv.notify_all();
    }
    int peer_id() const override { return kPeerId; }
    void wait_for(long count) {
        std::unique_lock<std::mutex> lk(m);
        cv.wait(lk, [&] { return shown >= count; });
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

struct framed_peer {
    socket_t fd;
    bool read_msg(msg_header* h, std::vector<char>& body) {
        char head[kHeaderLen];
        if (!testsupport::read_exact(fd, head, kHeaderLen, 10000) || parse_header(head, h) != 0) return false;
        body.resize(static_cast<size_t>(h->len));
        return h->len == 0 || testsupport::read_exact(fd, body.data(), body.size(), 10000);
    }
};

void percentile_counters(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    if (us.empty()) return;
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

void BM_ChatRoundTripDirect(benchmark::State& state) {
    testsupport::temp_dir home;
    set_home_dir(home.path);
    open_debug_log();
    set_local_bind_address(kAddr);
    clear_all_tables();
    clear_peer_table();
    g_user_id = 1;
    quiet_main main;
    g_main_dlg = &main;
    echo_window window;
    add_chat_dlg(&window);
    start_peer_service();

    // Client B connects, identifies itself and echoes every chat line.
    framed_peer b{tcp_socket()};
    struct in_addr a;
    resolve_ipv4(kAddr, &a);
    connect_ipv4(b.fd, a, kPeerPort);
    char id[kHeaderLen + 11];
    std::snprintf(id, sizeof(id), "%4d:%4d:%4d:%4d:%10d", 0, 0, 200, 10, kPeerId);
    xor_scramble(id + kHeaderLen, 10);
    testsupport::write_all(b.fd, id, kHeaderLen + 10);
    while (get_peer_sock_index(kPeerId) < 0) sleep_ms(1);
    std::atomic<bool> stop{false};
    std::thread responder([&] {
        msg_header h;
        std::vector<char> body;
        std::vector<char> out;
        while (!stop && b.read_msg(&h, body)) {
            if (h.command != 210) continue;
            out.resize(kHeaderLen + body.size());
            build_message(out.data(), static_cast<int>(out.size()), 0, 0, 211, body.data(), h.len);
            testsupport::write_all(b.fd, out.data(), out.size());  // body stays scrambled as sent
        }
    });

    const unsigned char attrs[5] = {0, 0, 0, 10, 0};
    std::vector<double> us;
    long sent = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        send_chat_text(kPeerId, "A", "a line of chat text of ordinary length, about sixty bytes", attrs);
        window.wait_for(++sent);
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    percentile_counters(state, us);
    stop = true;
    close_socket(b.fd);
    responder.join();
    stop_peer_service();
    remove_chat_dlg(&window);
    g_main_dlg = nullptr;
    set_local_bind_address("");
    close_debug_log();
}
BENCHMARK(BM_ChatRoundTripDirect)->Iterations(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same message sizes bounced over plain loopback TCP with no protocol code.
void BM_PlainLoopbackRoundTrip(benchmark::State& state) {
    testsupport::listener l("127.0.9.2");
    socket_t c = tcp_socket();
    struct in_addr a;
    resolve_ipv4("127.0.9.2", &a);
    connect_ipv4(c, a, l.port);
    socket_t s = l.accept_one();
    std::atomic<bool> stop{false};
    constexpr size_t kLen = kHeaderLen + 66;
    std::thread echo([&] {
        char buf[kLen];
        while (!stop && testsupport::read_exact(s, buf, kLen, 10000)) testsupport::write_all(s, buf, kLen);
    });
    char msg[kLen] = {};
    std::vector<double> us;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        testsupport::write_all(c, msg, kLen);
        testsupport::read_exact(c, msg, kLen, 10000);
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    percentile_counters(state, us);
    stop = true;
    close_socket(c);
    echo.join();
    close_socket(s);
}
BENCHMARK(BM_PlainLoopbackRoundTrip)->Iterations(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);

double cpu_seconds() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// CPU used while 100 peer connections stay open and quiet (keep-alives included). The holding
// time is the benchmark argument in seconds.
void BM_IdleHundredConnections(benchmark::State& state) {
    testsupport::temp_dir home;
    set_home_dir(home.path);
    open_debug_log();
    set_local_bind_address("127.0.9.3");
    clear_peer_table();
    quiet_main main;
    g_main_dlg = &main;
    start_peer_service();
    std::vector<socket_t> peers;
    struct in_addr a;
    resolve_ipv4("127.0.9.3", &a);
    for (int i = 0; i < kPeerSlots; i++) {
        socket_t s = tcp_socket();
        connect_ipv4(s, a, kPeerPort);
        peers.push_back(s);
    }
    while (peer_slots_in_use() < kPeerSlots) sleep_ms(10);
    for (auto _ : state) {
        double c0 = cpu_seconds();
        auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.counters["cpu_percent_of_core"] = 100.0 * (cpu_seconds() - c0) / wall;
    }
    for (socket_t s : peers) close_socket(s);
    stop_peer_service();
    g_main_dlg = nullptr;
    set_local_bind_address("");
    close_debug_log();
}
BENCHMARK(BM_IdleHundredConnections)->Arg(60)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
}  // namespace

BENCHMARK_MAIN();
