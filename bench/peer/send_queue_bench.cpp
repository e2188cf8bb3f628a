// Voice to ten listeners while one of them never reads: the share of buffers the nine healthy
// listeners receive, and how long the capture call (one buffer queued for every listener, as the
// voice path does) was held, as a maximum and a rough histogram.
// Second: heap allocations per message once a queue runs steadily, for voice buffers and for
// video frames in pieces, counted with a counting allocator.
//
// This process runs the real peer service; ten raw listeners connect and identify themselves.
// The stalled one has a small receive buffer and never reads after identifying; each healthy one
// has a thread that counts the talk-data messages it receives. Buffers go out every 5 ms (24
// times the capture rate) so a run takes a few seconds.
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "bench/audio/counting_new.h"
#include "peer/peer_socket.h"
#include "peer/send_queue.h"
#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "tests/support/loopback.h"

namespace {
constexpr const char* kAddr = "127.0.9.5";
constexpr int kListeners = 10;
constexpr int kFirstId = 9100;
constexpr int kBuffers = 600;

class quiet_main : public notify_target {
public:
    void post(int, intptr_t, intptr_t, note_payload = {}) override {}
};

struct listener_peer {
    socket_t fd = -1;
    std::atomic<long> voice{0};
    std::thread reader;
};

void BM_VoiceWithOneStalledListener(benchmark::State& state) {
    testsupport::temp_dir home;
    set_home_dir(home.path);
    open_debug_log();
    set_local_bind_address(kAddr);
    clear_all_tables();
    clear_peer_table();
    g_user_id = 1;
    quiet_main main;
    g_main_dlg = &main;
    start_peer_service();

    std::vector<std::unique_ptr<listener_peer>> peers;  // the healthy ones
    std::unique_ptr<listener_peer> stalled;
    std::vector<peer_ticket> tickets;
    for (int i = 0; i < kListeners; i++) {
        auto p = std::make_unique<listener_peer>();
        p->fd = tcp_socket();
        if (i == 0) {
            int size = 4096;
            setsockopt(p->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
        }
        struct in_addr a;
        resolve_ipv4(kAddr, &a);
        connect_ipv4(p->fd, a, kPeerPort);
        char id[kHeaderLen + 11];
        std::snprintf(id, sizeof(id), "%4d:%4d:%4d:%4d:%10d", 0, 0, PEER_IDENTIFY, 10, kFirstId + i);
        xor_scramble(id + kHeaderLen, 10);
        testsupport::write_all(p->fd, id, kHeaderLen + 10);
        while (get_peer_sock_index(kFirstId + i) < 0) sleep_ms(1);
        tickets.push_back(find_peer_ticket(kFirstId + i));
        if (i == 0) {
            int size = 4096;  // our end of the stalled connection fills within a few buffers
            setsockopt(g_peer_socks[tickets[0].index].sock.load(), SOL_SOCKET, SO_SNDBUF, &size,
                       sizeof(size));
            stalled = std::move(p);  // never reads
            continue;
        }
        listener_peer* raw = p.get();
        p->reader = std::thread([raw] {
            char head[kHeaderLen];
            std::vector<char> body;
            msg_header h;
            while (testsupport::read_exact(raw->fd, head, kHeaderLen, 20000) &&
                   parse_header(head, &h) == 0) {
                body.resize(static_cast<size_t>(h.len));
                if (h.len > 0 && !testsupport::read_exact(raw->fd, body.data(), body.size(), 20000))
                    break;
                if (h.command == PEER_TALK_DATA) raw->voice++;
            }
        });
        peers.push_back(std::move(p));
    }

    std::vector<char> msg(kHeaderLen + 900);
    std::vector<double> held_us;
    long sent = 0;
    for (auto _ : state) {
        for (int b = 0; b < kBuffers; b++) {
            std::snprintf(msg.data(), msg.size(), "%4d:%4d:%4d:%4d:%4d:", 0, 0, PEER_TALK_DATA, 900, 0);
            auto t0 = std::chrono::steady_clock::now();
            for (const peer_ticket& t : tickets)
                queue_peer_message(t, msg.data(), static_cast<int>(msg.size()), PEER_TALK_DATA);
            held_us.push_back(std::chrono::duration<double, std::micro>(
                                  std::chrono::steady_clock::now() - t0)
                                  .count());
            sent++;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Wait (bounded) for the healthy listeners to read what was queued for them.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto delivered = [&] {
        long n = 0;
        for (auto& p : peers) n += p->voice.load();
        return n;
    };
    while (delivered() < sent * (kListeners - 1) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    state.counters["healthy_delivered_pct"] =
        100.0 * static_cast<double>(delivered()) / static_cast<double>(sent * (kListeners - 1));
    state.counters["stalled_dropped"] =
        static_cast<double>(g_peer_socks[tickets[0].index].queue.dropped_voice.load());
    std::sort(held_us.begin(), held_us.end());
    state.counters["held_max_us"] = held_us.back();
    state.counters["held_p50_us"] = held_us[held_us.size() / 2];
    state.counters["held_p99_us"] = held_us[held_us.size() * 99 / 100];
    // How many calls were held for: under 10 us, 10-100 us, 0.1-1 ms, 1-10 ms, 10 ms or more.
    const double edges[] = {0, 10, 100, 1000, 10000, 1e12};
    const char* names[] = {"held_lt10us", "held_10_100us", "held_100us_1ms", "held_1_10ms",
                           "held_ge10ms"};
    for (int k = 0; k < 5; k++)
        state.counters[names[k]] = static_cast<double>(
            std::lower_bound(held_us.begin(), held_us.end(), edges[k + 1]) -
            std::lower_bound(held_us.begin(), held_us.end(), edges[k]));

    stop_peer_service();  // closes every connection, which ends the readers
    for (auto& p : peers) {
        close_socket(p->fd);
        if (p->reader.joinable()) p->reader.join();
    }
    close_socket(stalled->fd);
    g_main_dlg = nullptr;
    set_local_bind_address("");
    close_debug_log();
}
BENCHMARK(BM_VoiceWithOneStalledListener)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
}  // namespace

namespace {

// A drainer that writes nowhere; the producer keeps a few messages in flight, as a call does.
int discard(void*, queued_message&) {
    return 0;
}

void BM_SteadyQueueAllocations(benchmark::State& state) {
    const bool video = state.range(0) != 0;
    Csend_queue queue;
    queue.set_callbacks(discard, nullptr, nullptr);
    std::vector<char> body(video ? 1024 : 600, 'v');
    auto admit = [](queued_message&) { return true; };
    auto push_one = [&](int command) {
        queued_message m;
        m.bytes = queue.spare_buffer();
        m.bytes.assign(body.begin(), body.end());
        m.from = kHeaderLen;
        m.kind = send_kind_of(command);
        m.command = command;
        m.peer_id = 7;
        queue.push(std::move(m), admit);
    };
    auto one_round = [&] {
        if (!video) {
            push_one(PEER_TALK_DATA);
        } else {
            push_one(PEER_VIDEO_BEGIN);
            for (int k = 0; k < 12; k++) push_one(PEER_VIDEO_CONT);
            push_one(PEER_VIDEO_END);
        }
        queue.wait_idle(1000);
    };
    for (int i = 0; i < 200; i++) one_round();  // warm-up: the queue's storage settles
    const int rounds = 2000;
    uint64_t allocations = 0;
    for (auto _ : state) {
        alloc_count::start();
        for (int i = 0; i < rounds; i++) one_round();
        allocations += alloc_count::stop().count;
    }
    const double messages = static_cast<double>(rounds) * (video ? 14 : 1) *
                            static_cast<double>(state.iterations());
    state.counters["allocs_per_message"] = static_cast<double>(allocations) / messages;
}
BENCHMARK(BM_SteadyQueueAllocations)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
