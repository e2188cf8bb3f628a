// What a hand-over from a worker to the front end's thread costs, on the one queue both front ends
// run (queued_dispatcher, with an owner thread waiting in wait_and_run as the session thread and
// the headless main loop do):
//  - posted: the worker posts a chat line's worth of owned bytes and goes on; measured are the
//    worker's time in post() and the latency until the owner ran the handler;
//  - waited: the worker posts and then waits until the handler ran, as the former blocking send
//    made every peer reader and the offline chunks do; the worker's time is the round trip.
// Counters: p50 and p99 of each, in microseconds, over the iterations.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/commands.h"
#include "protocol/notify.h"

namespace {
using clock_type = std::chrono::steady_clock;

double us(clock_type::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

struct owner_loop {
    std::mutex m;
    std::condition_variable cv;
    uint64_t handled = 0;
    clock_type::time_point last_run;
    std::atomic<bool> stop{false};
    queued_dispatcher queue{[this](int, intptr_t, intptr_t) {
        std::lock_guard<std::mutex> lk(m);
        last_run = clock_type::now();
        handled++;
        cv.notify_all();
    }};
    std::thread thread{[this] {
        queue.bind_to_current_thread();
        while (!stop.load()) queue.wait_and_run(50);
    }};
    ~owner_loop() {
        stop = true;
        queue.run([] {});
        thread.join();
    }
    // Waits until n notifications ran; returns when the last one ran.
    clock_type::time_point wait_handled(uint64_t n) {
        std::unique_lock<std::mutex> lk(m);
        cv.wait(lk, [&] { return handled >= n; });
        return last_run;
    }
};

void run_handover(benchmark::State& state, bool wait_for_handler) {
    owner_loop owner;
    const std::string line(120, 'x');
    std::vector<double> worker_us, latency_us;
    uint64_t sent = 0;
    for (auto _ : state) {
        auto t0 = clock_type::now();
        owned_bytes o = copy_bytes(line);
        owner.queue.post(NM_CHAT_TEXT, o.wparam, o.lparam, std::move(o.keep));
        sent++;
        clock_type::time_point ran;
        if (wait_for_handler) ran = owner.wait_handled(sent);
        auto t1 = clock_type::now();
        if (!wait_for_handler) ran = owner.wait_handled(sent);  // outside the worker's share
        worker_us.push_back(us(t1 - t0));
        latency_us.push_back(us(ran - t0));
    }
    state.counters["worker_p50_us"] = percentile(worker_us, 0.5);
    state.counters["worker_p99_us"] = percentile(worker_us, 0.99);
    state.counters["delivery_p50_us"] = percentile(latency_us, 0.5);
    state.counters["delivery_p99_us"] = percentile(latency_us, 0.99);
}

void BM_HandOverPosted(benchmark::State& state) { run_handover(state, false); }
void BM_HandOverWaitedForTheHandler(benchmark::State& state) { run_handover(state, true); }
BENCHMARK(BM_HandOverPosted)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_HandOverWaitedForTheHandler)->Iterations(20000)->UseRealTime();
}  // namespace

BENCHMARK_MAIN();
