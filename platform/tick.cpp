#include "platform/tick.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<tick_source_fn> g_tick_source{nullptr};

uint32_t real_tick() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
}  // namespace

uint32_t get_tick_count() {
    tick_source_fn fn = g_tick_source.load(std::memory_order_acquire);
    return fn ? fn() : real_tick();
}

void set_tick_source(tick_source_fn fn) { g_tick_source.store(fn, std::memory_order_release); }

void sleep_ms(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
