// CPU time of the capture processing per 120 ms capture buffer, on a loop of speech with noise
// and the echo of a far talker whose sound is on the echo reference. cpu_share_pct is the
// processing's CPU time as a share of the 120 ms of sound each buffer holds.
// Run: voice_dsp_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <vector>

#include "media/audio/far_end.h"
#include "media/audio/voice_dsp.h"
#include "tests/e2e/voice_signal.h"

namespace {
constexpr int kBuf = voice_processor::kSamples;
constexpr int kLoop = 50;  // buffers of sound, then again

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void process_buffers(benchmark::State& state, voice_processing p) {
    const std::vector<uint8_t> near = voicetest::speech_like(kLoop, 7);
    const std::vector<uint8_t> far = voicetest::speech_like(kLoop, 8);
    far_end::clear();
    voice_processor dsp;
    uint32_t tick = 100000, r = 1;
    int k = 0;
    uint8_t buf[kBuf];
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // The far talker plays now; the microphone hears the near one, noise and a 60 ms echo.
        const size_t at = static_cast<size_t>(k) * kBuf;
        far_end::push_u8(&far[at], kBuf, far_end::position_of(tick));
        for (int i = 0; i < kBuf; i++) {
            r = r * 1664525u + 1013904223u;
            size_t e = (at + static_cast<size_t>(i) + far.size() - 480) % far.size();
            int v = near[at + static_cast<size_t>(i)] - 128 + (far[e] - 128) / 2 +
                    static_cast<int>(r >> 29) - 4;
            buf[i] = static_cast<uint8_t>(std::clamp(v + 128, 0, 255));
        }
        tick += audio::kBufferMs;
        k = (k + 1) % kLoop;
        state.ResumeTiming();
        const double t0 = thread_cpu_seconds();
        benchmark::DoNotOptimize(dsp.process(buf, tick, p));
        cpu += thread_cpu_seconds() - t0;
    }
    const double buffers = static_cast<double>(state.iterations());
    state.counters["cpu_us_per_buffer"] = cpu / buffers * 1e6;
    state.counters["cpu_share_pct"] = cpu / (buffers * audio::kBufferMs * 1e-3) * 100;
}

void BM_AllOn(benchmark::State& s) {
    process_buffers(s, {true, true, true, false, 0});
}
void BM_EchoOnly(benchmark::State& s) {
    process_buffers(s, {true, false, false, false, 0});
}
void BM_NoiseAndGainOnly(benchmark::State& s) {
    process_buffers(s, {false, true, true, false, 0});
}
void BM_AllOff(benchmark::State& s) {
    process_buffers(s, {false, false, false, false, 0});
}
BENCHMARK(BM_AllOn);
BENCHMARK(BM_EchoOnly);
BENCHMARK(BM_NoiseAndGainOnly);
BENCHMARK(BM_AllOff);
}  // namespace

BENCHMARK_MAIN();
