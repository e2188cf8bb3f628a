// Millisecond ticks and sleeping.
#pragma once
#include <cstdint>

// Milliseconds since an arbitrary start, from a monotonic clock, as an unsigned 32-bit count that
// wraps after about 49.7 days. Differences must be taken unsigned (now - then) to survive the wrap.
uint32_t get_tick_count();

// Replaces the tick source (tests drive time through it); nullptr restores the real clock.
using tick_source_fn = uint32_t (*)();
void set_tick_source(tick_source_fn fn);

void sleep_ms(uint32_t ms);
