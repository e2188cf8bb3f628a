// Video between two headless clients with the pattern camera, on loopback, the replies through
// the server's relay; notices and requests go direct, or (relayed=1, neither client accepting
// direct connections) through the relay too. For each picture size and notice rate: the frames
// per second the watcher actually decodes, their share of the rate asked, and the frame-record
// bytes per second they cost, over a 10 s window. Then a two-way 640x480 call: the CPU each client
// spends (user + system, from /proc) per second.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/cli_accounts.h"
#include "tests/e2e/json_lines.h"

namespace {
constexpr const char* kBlocks[2] = {"127.0.163.", "127.0.164."};
constexpr double kWindowS = 10.0;

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}



// Server with its own relay, Ann and Bob with the pattern camera, contacts of each other. Kept
// for the whole run (the relay route takes a while to appear).
struct video_pair {
    std::string dir;
    std::unique_ptr<child_process> server, ann, bob;
    int ann_id = 0, bob_id = 0;
    double first_picture_s = 0;  // from switching on until both had a picture, on a new call
    std::string error;

    int sign_in(child_process& c, const std::string& email, const std::string& nick) {
        return register_and_sign_in(c, email, "pw", nick, nick, nick);
    }
    bool start(bool relayed) {
        char tmpl[] = "/tmp/parlo-video-bench-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "";
        std::string b = kBlocks[relayed ? 1 : 0];
        server = std::make_unique<child_process>(
            PARLO_SERVER_PATH,
            std::vector<std::string>{"--listen", b + "1", "--db", dir + "/server.db", "--fast-hash",
                                     "--log", dir + "/server.log", "--relay-port", "7163"});
        server->wait_line({"parlo-server listening on"}, 20000);
        auto cli = [&](const std::string& name, const std::string& host) {
            std::vector<std::string> args{"--server",   b + "1", "--bind", b + host, "--home",
                                          dir + "/" + name, "--video-in", "pattern",
                                          "--relay-ports", "19080,19443,19199"};
            if (relayed) args.push_back("--no-peer-listener");
            return std::make_unique<child_process>(PARLO_CLI_PATH, args);
        };
        ann = cli("ann", "2");
        bob = cli("bob", "3");
        if (ann->wait_line({"\"event\":\"ready\""}).empty() ||
            bob->wait_line({"\"event\":\"ready\""}).empty())
            return fail("clients did not start");
        ann_id = sign_in(*ann, "ann@example.org", "ann");
        bob_id = sign_in(*bob, "bob@example.org", "bob");
        if (ann_id <= 0 || bob_id <= 0) return fail("sign-in failed");
        ann->write_line("add-contact bob@example.org");
        if (bob->wait_line({"\"question\":\"added_me\""}).empty())
            return fail("no contact request");
        bob->write_line("accept-contact " + std::to_string(ann_id));
        if (ann->wait_line({"\"w\":" + std::to_string(bob_id), "\"presence_text\":\"Online\""},
                           15000)
                .empty())
            return fail("Bob not seen online");
        // Both watch each other until pictures flow both ways: the relay routes are there.
        ann->write_line("video " + std::to_string(bob_id) + " on");
        bob->write_line("video " + std::to_string(ann_id) + " on");
        double t0 = now_s();
        ann->write_line("watch " + std::to_string(bob_id) + " on");
        bob->write_line("watch " + std::to_string(ann_id) + " on");
        if (bob->wait_line({"\"event\":\"video_frame\""}, 180000).empty() ||
            ann->wait_line({"\"event\":\"video_frame\""}, 180000).empty())
            return fail("no picture through the relay");
        first_picture_s = now_s() - t0;
        ann->write_line("watch " + std::to_string(bob_id) + " off");
        bob->write_line("video " + std::to_string(ann_id) + " off");
        return true;
    }
    bool fail(const char* what) {
        error = what;
        return false;
    }
    ~video_pair() {
        if (ann) ann->write_line("quit");
        if (bob) bob->write_line("quit");
        ann.reset();
        bob.reset();
        server.reset();
        // PARLO_BENCH_KEEP=1 keeps the logs of the run.
        if (!dir.empty() && !std::getenv("PARLO_BENCH_KEEP"))
            std::system(("rm -rf " + dir).c_str());
    }
};

video_pair& pair(bool relayed = false) {
    static video_pair p[2];
    static bool started[2] = {false, false};
    if (!started[relayed]) {
        started[relayed] = true;
        p[relayed].start(relayed);
    }
    return p[relayed];
}

// Frames of peer `from` decoded by `c` within seconds; bytes summed into *bytes.
int count_frames(child_process& c, int from, double seconds, long long* bytes) {
    int frames = 0;
    double end = now_s() + seconds;
    for (double left; (left = end - now_s()) > 0;) {
        std::string l =
            c.wait_line({"\"event\":\"video_frame\"", "\"peer\":" + std::to_string(from) + ","},
                        static_cast<int>(left * 1000) + 1);
        if (l.empty()) break;
        frames++;
        *bytes += json_int(l, "bytes");
    }
    return frames;
}

void drain(child_process& c, int from) {
    long long ignored = 0;
    count_frames(c, from, 1.0, &ignored);
    while (!c.wait_line({"\"event\":\"video_frame\""}, 1).empty()) {
    }
}

void BM_WatchedFramesThroughRelay(benchmark::State& state) {
    video_pair& p = pair(state.range(2) != 0);
    if (!p.error.empty()) {
        state.SkipWithError(p.error.c_str());
        return;
    }
    const int size = static_cast<int>(state.range(0)), rate = static_cast<int>(state.range(1));
    const std::string a = std::to_string(p.ann_id);
    const std::string b = std::to_string(p.bob_id);
    p.ann->write_line("video-size " + std::to_string(size));
    p.ann->write_line("video-rate " + b + " " + std::to_string(rate));
    drain(*p.bob, p.ann_id);
    // Skip frames of the old size.
    p.bob->wait_line(
        {"\"event\":\"video_frame\"", "\"width\":" + std::to_string(size == 0   ? 160
                                                                    : size == 1 ? 320
                                                                                : 640)},
        20000);
    long long bytes = 0;
    int frames = 0;
    for (auto _ : state) {
        double t0 = now_s();
        frames = count_frames(*p.bob, p.ann_id, kWindowS, &bytes);
        state.SetIterationTime(now_s() - t0);
    }
    state.counters["shown_fps"] = frames / kWindowS;
    state.counters["of_rate"] = frames / kWindowS / rate;
    state.counters["bytes_per_s"] = static_cast<double>(bytes) / kWindowS;
}
BENCHMARK(BM_WatchedFramesThroughRelay)
    ->ArgsProduct({{0, 1, 2}, {10, 20}, {0, 1}})
    ->ArgNames({"size", "rate", "relayed"})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The first picture of a call: both switch on, until both have one (measured when the pair
// started), and once more for a watcher that switches off and on again.
void BM_FirstPicture(benchmark::State& state) {
    video_pair& p = pair(state.range(0) != 0);
    if (!p.error.empty()) {
        state.SkipWithError(p.error.c_str());
        return;
    }
    const std::string a = std::to_string(p.ann_id);
    p.ann->write_line("video " + std::to_string(p.bob_id) + " on");
    double again = 0;
    for (auto _ : state) {
        p.bob->write_line("watch " + a + " off");
        drain(*p.bob, p.ann_id);
        double t0 = now_s();
        p.bob->write_line("watch " + a + " on");
        if (p.bob->wait_line({"\"event\":\"video_frame\"", "\"peer\":" + a + ","}, 30000).empty()) {
            state.SkipWithError("no picture after watching again");
            return;
        }
        again = now_s() - t0;
        state.SetIterationTime(again);
    }
    state.counters["new_call_s"] = p.first_picture_s;
    state.counters["watch_again_s"] = again;
}
BENCHMARK(BM_FirstPicture)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("relayed")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_TwoWayCallCpu640x480(benchmark::State& state) {
    video_pair& p = pair();
    if (!p.error.empty()) {
        state.SkipWithError(p.error.c_str());
        return;
    }
    const std::string a = std::to_string(p.ann_id), b = std::to_string(p.bob_id);
    for (auto* c : {p.ann.get(), p.bob.get()}) c->write_line("video-size 2");
    p.ann->write_line("video-rate " + b + " 20");
    p.bob->write_line("video " + a + " on");
    p.bob->write_line("video-rate " + a + " 20");
    p.ann->write_line("watch " + b + " on");
    p.bob->wait_line({"\"event\":\"video_frame\"", "\"width\":640"}, 20000);
    p.ann->wait_line({"\"event\":\"video_frame\"", "\"width\":640"}, 20000);
    double ann_cpu = 0, bob_cpu = 0;
    int ann_frames = 0, bob_frames = 0;
    for (auto _ : state) {
        while (!p.ann->wait_line({"\"event\":\"video_frame\""}, 1).empty()) {
        }
        double a0 = process_cpu_s(p.ann->pid()), b0 = process_cpu_s(p.bob->pid()), t0 = now_s();
        long long ignored = 0;
        bob_frames = count_frames(*p.bob, p.ann_id, kWindowS, &ignored);
        ann_frames = count_frames(*p.ann, p.bob_id, 0.2, &ignored);  // already arrived meanwhile
        while (!p.ann->wait_line({"\"event\":\"video_frame\""}, 1).empty()) ann_frames++;
        double wall = now_s() - t0;
        ann_cpu = (process_cpu_s(p.ann->pid()) - a0) / wall;
        bob_cpu = (process_cpu_s(p.bob->pid()) - b0) / wall;
        state.SetIterationTime(wall);
    }
    state.counters["ann_cpu_share"] = ann_cpu;
    state.counters["bob_cpu_share"] = bob_cpu;
    state.counters["ann_shown_fps"] = ann_frames / kWindowS;
    state.counters["bob_shown_fps"] = bob_frames / kWindowS;
}
BENCHMARK(BM_TwoWayCallCpu640x480)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
