// Forwarding throughput of the server's own relay: one sender pushes 16 MB of full-size messages
// through it to one receiver. Arg 0: the receiver reads 64 KB at a time and keeps up; arg 1: it
// reads 200 bytes at a time, so the receiver's queue fills and the relay holds the sender back.
// Counters, over all of a run's iterations: the longest the queue grew (MB) and how often the
// sender was paused.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include <asio.hpp>

#include "server/log.h"
#include "server/relay.h"

namespace {

const char* kAddr = "127.0.7.3";
constexpr int kPayload = 2000;
constexpr size_t kTotal = 16u * 1024 * 1024;

std::string outer(int tick, int from, int to, int len) {
    char b[64];
    std::snprintf(b, sizeof b, "%12d:%10d:%10d:%10d:", tick, from, to, len);
    return b;
}

int connect_to(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, kAddr, &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool write_all(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t r = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

void BM_ServerRelayForwarding(benchmark::State& state) {
    const size_t read_size = state.range(0) == 0 ? 64 * 1024 : 200;
    asio::io_context io;
    auto work = asio::make_work_guard(io);
    srv::Log log;
    log.set_quiet(true);
    srv::Relay relay(io, log);
    if (relay.start(kAddr, 0, 70) != 0) {
        state.SkipWithError("relay did not start");
        return;
    }
    std::thread loop([&] { io.run(); });
    int receiver = connect_to(relay.port());
    int sender = connect_to(relay.port());
    // Registrations; a first message proves the receiver's is in place before timing starts.
    write_all(receiver, outer(0, 42, 0, 0));
    write_all(sender, outer(0, 7, 0, 0));
    std::string probe = outer(1, 7, 42, 0);
    std::string got(probe.size(), '\0');
    for (bool through = false; !through;) {
        write_all(sender, probe);
        through = ::recv(receiver, got.data(), got.size(), MSG_WAITALL) ==
                  static_cast<ssize_t>(got.size());
    }
    std::string block;
    while (block.size() < 64 * 1024)
        block += outer(2, 7, 42, kPayload) + std::string(kPayload, 'x');
    const size_t blocks = kTotal / block.size();
    std::string buf(read_size, '\0');
    for (auto _ : state) {
        std::thread writer([&] {
            for (size_t i = 0; i < blocks; i++)
                if (!write_all(sender, block)) return;
        });
        size_t left = blocks * block.size();
        while (left > 0) {
            ssize_t r = ::recv(receiver, buf.data(), std::min(left, buf.size()), 0);
            if (r <= 0) break;
            left -= static_cast<size_t>(r);
        }
        writer.join();
        if (left > 0) state.SkipWithError("the stream ended early");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blocks * block.size()));
    srv::Relay::Stats st = relay.stats();
    state.counters["peak_queue_MB"] = static_cast<double>(st.peak_queued_bytes) / (1024 * 1024);
    state.counters["pauses"] = static_cast<double>(st.pauses);
    ::close(sender);
    ::close(receiver);
    asio::post(io, [&] {
        relay.stop();
        work.reset();
    });
    loop.join();
}
BENCHMARK(BM_ServerRelayForwarding)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
