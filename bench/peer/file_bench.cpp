// A 200 MB file between two headless clients on the direct path and through a third client's
// relay server, against a plain loopback TCP copy of the same bytes in 1020-byte messages,
// measured in the same run.
//
// The transfer runs between two parlo-cli processes signed in to a parlo-server, all on loopback:
// the time is from the send-file command to the receiver's file_saved line (offer, answer, 373,
// 200 MB of 374 blocks, 375, the file closed on disk). The CPU time of each client is read from
// /proc before and after. The plain copy runs in this process: one thread reads the file 1000
// bytes at a time and sends each with a 20-byte header as one 1020-byte message, the other
// receives each message and writes its 1000 bytes to a file; no scrambling, no protocol.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/cli_accounts.h"
#include "tests/e2e/json_lines.h"

namespace {
constexpr size_t kBytes = 200u << 20;
constexpr const char* kBlock = "127.0.62.";

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}


double thread_cpu_s() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}


struct bench_dir {
    std::string path;
    bench_dir() {
        char tmpl[] = "/tmp/parlo-file-bench-XXXXXX";
        path = mkdtemp(tmpl) ? tmpl : "";
    }
    ~bench_dir() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

void make_source(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::mt19937_64 gen(42);
    std::vector<uint64_t> chunk(1 << 15);
    for (size_t done = 0; done < kBytes; done += chunk.size() * 8) {
        for (auto& w : chunk) w = gen();
        std::fwrite(chunk.data(), 8, chunk.size(), f);
    }
    std::fclose(f);
}

// The server and two signed-in clients that are contacts of each other; Bob saves into inbox.
struct client_pair {
    std::unique_ptr<child_process> server, ann, bob, relay;
    int ann_id = 0, bob_id = 0;
    std::string error;

    bool ready(child_process& c) { return !c.wait_line({"\"event\":\"ready\""}).empty(); }
    int sign_in(child_process& c, const std::string& email, const std::string& nick) {
        return register_and_sign_in(c, email, "pw", nick, nick, nick);
    }
    // relayed: neither client accepts peer connections, and a third client runs a relay server.
    bool start(const std::string& dir, const std::string& inbox, bool relayed) {
        std::string block = relayed ? "127.0.63." : kBlock;
        server = std::make_unique<child_process>(
            PARLO_SERVER_PATH, std::vector<std::string>{"--listen", block + "1", "--db", dir + "/server.db",
                                                        "--fast-hash", "--log", dir + "/server.log"});
        server->wait_line({"parlo-server listening on"}, 20000);
        auto cli = [&](const std::string& name, std::vector<std::string> extra) {
            std::string host = name == "ann" ? "2" : name == "bob" ? "3" : "4";
            std::vector<std::string> args{"--server", block + "1", "--bind", block + host, "--home", dir + "/" + name};
            args.insert(args.end(), extra.begin(), extra.end());
            return std::make_unique<child_process>(PARLO_CLI_PATH, args);
        };
        if (relayed) {
            relay = cli("cat", {"--relay-ports", "7080,7443,8199"});
            if (!ready(*relay) || sign_in(*relay, "cat@example.org", "cat") <= 0) return fail("no relay client");
        }
        std::vector<std::string> closed;
        if (relayed) closed.push_back("--no-peer-listener");
        ann = cli("ann", closed);
        closed.insert(closed.end(), {"--accept-files", inbox});
        bob = cli("bob", closed);
        if (!ready(*ann) || !ready(*bob)) return fail("clients did not start");
        ann_id = sign_in(*ann, "ann@example.org", "ann");
        bob_id = sign_in(*bob, "bob@example.org", "bob");
        if (ann_id <= 0 || bob_id <= 0) return fail("sign-in failed");
        ann->write_line("add-contact bob@example.org");
        if (bob->wait_line({"\"question\":\"added_me\""}).empty()) return fail("no contact request");
        bob->write_line("accept-contact " + std::to_string(ann_id));
        if (ann->wait_line({"\"w\":" + std::to_string(bob_id), "\"presence_text\":\"Online\""}, 15000).empty())
            return fail("Bob not seen online");
        // Relay routes come with the periodic exchange: wait until a chat line takes one.
        for (int i = 0; relayed && i < 30; i++) {
            std::string text = "route" + std::to_string(i);
            ann->write_line("chat " + std::to_string(bob_id) + " " + text);
            std::string got = bob->wait_line({"\"chat_received\"", "\"text\":\"" + text + "\""}, 3000);
            if (got.find("\"path\":\"slave\"") != std::string::npos) return true;
            usleep(2000000);
        }
        return relayed ? fail("no route through the relay") : true;
    }
    bool fail(const char* what) {
        error = what;
        return false;
    }
};

void file_transfer(benchmark::State& state, bool relayed) {
    bench_dir dir;
    std::string source = dir.path + "/source.bin";
    std::string inbox = dir.path + "/inbox";
    mkdir(inbox.c_str(), 0755);
    make_source(source);
    client_pair pair;
    if (!pair.start(dir.path, inbox, relayed)) {
        state.SkipWithError(pair.error.c_str());
        return;
    }
    double wall = 0, ann_cpu = 0, bob_cpu = 0;
    for (auto _ : state) {
        std::remove((inbox + "/source.bin").c_str());
        double a0 = process_cpu_s(pair.ann->pid()), b0 = process_cpu_s(pair.bob->pid());
        double t0 = now_s();
        pair.ann->write_line("send-file " + std::to_string(pair.bob_id) + " " + source);
        std::string saved = pair.bob->wait_line({"\"event\":\"file_saved\""}, 300000);
        double t1 = now_s();
        pair.ann->wait_line({"\"event\":\"file_send_progress\"", "\"finished\":true"}, 30000);
        if (saved.empty()) {
            state.SkipWithError("file not saved");
            return;
        }
        wall = t1 - t0;
        ann_cpu = process_cpu_s(pair.ann->pid()) - a0;
        bob_cpu = process_cpu_s(pair.bob->pid()) - b0;
        state.SetIterationTime(wall);
        struct stat st;
        if (stat((inbox + "/source.bin").c_str(), &st) != 0 || static_cast<size_t>(st.st_size) != kBytes) {
            state.SkipWithError("received file has the wrong size");
            return;
        }
    }
    state.counters["MB_per_s"] = static_cast<double>(kBytes) / 1e6 / wall;
    state.counters["sender_cpu_s"] = ann_cpu;
    state.counters["receiver_cpu_s"] = bob_cpu;
    pair.ann->write_line("quit");
    pair.bob->write_line("quit");
}

void BM_FileDirectPath(benchmark::State& state) { file_transfer(state, false); }
BENCHMARK(BM_FileDirectPath)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PlainLoopbackCopy(benchmark::State& state) {
    bench_dir dir;
    std::string source = dir.path + "/source.bin";
    std::string target = dir.path + "/copy.bin";
    make_source(source);
    double wall = 0, send_cpu = 0, recv_cpu = 0;
    for (auto _ : state) {
        int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        inet_pton(AF_INET, (std::string(kBlock) + "9").c_str(), &sa.sin_addr);
        socklen_t len = sizeof(sa);
        if (bind(lfd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(lfd, 1) != 0 ||
            getsockname(lfd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
            state.SkipWithError("no listener");
            close(lfd);
            return;
        }
        double t0 = now_s();
        std::thread receiver([&] {
            double c0 = thread_cpu_s();
            int fd = accept(lfd, nullptr, nullptr);
            FILE* out = std::fopen(target.c_str(), "wb");
            char msg[1020];
            for (;;) {
                ssize_t r = recv(fd, msg, 20, MSG_WAITALL);
                if (r != 20) break;
                int body = std::atoi(msg + 15);
                if (body <= 0 || recv(fd, msg + 20, static_cast<size_t>(body), MSG_WAITALL) != body) break;
                std::fwrite(msg + 20, 1, static_cast<size_t>(body), out);
            }
            std::fclose(out);
            close(fd);
            recv_cpu = thread_cpu_s() - c0;
        });
        double c0 = thread_cpu_s();
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        FILE* in = std::fopen(source.c_str(), "rb");
        char msg[1021];
        size_t n;
        while ((n = std::fread(msg + 20, 1, 1000, in)) > 0) {
            std::snprintf(msg, 21, "%4d:%4d:%4d:%4d:", 0, 0, 374, static_cast<int>(n));
            ssize_t w = send(fd, msg, 20 + n, 0);
            if (w != static_cast<ssize_t>(20 + n)) break;
        }
        std::fclose(in);
        close(fd);
        send_cpu = thread_cpu_s() - c0;
        receiver.join();
        wall = now_s() - t0;
        close(lfd);
        state.SetIterationTime(wall);
    }
    state.counters["MB_per_s"] = static_cast<double>(kBytes) / 1e6 / wall;
    state.counters["sender_cpu_s"] = send_cpu;
    state.counters["receiver_cpu_s"] = recv_cpu;
}
BENCHMARK(BM_PlainLoopbackCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same file through a third client's relay server (both clients without a peer listener).
void BM_FileThroughRelay(benchmark::State& state) { file_transfer(state, true); }
BENCHMARK(BM_FileThroughRelay)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
