// Each slot of the timeline packs the position it holds (48 bits) with its sample (16 bits) in
// one atomic word: a producer adds to a slot that holds its position and replaces one that holds
// an older one, and a reader takes a slot's sample only when the position matches.
#include "media/audio/far_end.h"

#include <algorithm>
#include <atomic>

namespace far_end {
namespace {
static_assert(std::atomic<uint64_t>::is_always_lock_free, "the timeline must be lock-free");
constexpr uint64_t kPosMask = (uint64_t{1} << 48) - 1;
constexpr int kSlackSamples = 16 * kSamplesPerMs;  // 16 ms of clock jitter

std::atomic<uint64_t> g_slots[kCapacity];

inline uint64_t pack(uint64_t pos, int16_t v) {
    return ((pos & kPosMask) << 16) | static_cast<uint16_t>(v);
}
inline uint64_t pos_of(uint64_t slot) {
    return slot >> 16;
}
inline int16_t value_of(uint64_t slot) {
    return static_cast<int16_t>(slot & 0xFFFF);
}

void add_one(uint64_t pos, int v) {
    std::atomic<uint64_t>& slot = g_slots[pos & (kCapacity - 1)];
    const uint64_t want = pos & kPosMask;
    uint64_t old = slot.load(std::memory_order_relaxed);
    for (;;) {
        int sum = pos_of(old) == want ? value_of(old) + v : v;
        uint64_t next = pack(want, static_cast<int16_t>(std::clamp(sum, -32768, 32767)));
        if (slot.compare_exchange_weak(old, next, std::memory_order_release,
                                       std::memory_order_relaxed))
            return;
    }
}
}  // namespace

void push(const int16_t* samples, int n, uint64_t position) {
    for (int i = 0; i < n; i++) add_one(position + static_cast<uint64_t>(i), samples[i]);
}

void push_u8(const uint8_t* samples, int n, uint64_t position) {
    for (int i = 0; i < n; i++)
        add_one(position + static_cast<uint64_t>(i), (static_cast<int>(samples[i]) - 128) * 256);
}

void read(int16_t* out, int n, uint64_t position) {
    for (int i = 0; i < n; i++) {
        const uint64_t pos = position + static_cast<uint64_t>(i);
        uint64_t slot = g_slots[pos & (kCapacity - 1)].load(std::memory_order_acquire);
        out[i] = pos_of(slot) == (pos & kPosMask) ? value_of(slot) : 0;
    }
}

void clear() {
    for (auto& s : g_slots) s.store(pack(kPosMask, 0), std::memory_order_relaxed);
}

uint64_t stream_cursor::place(uint64_t now, int n) {
    uint64_t at = now;
    if (m_next != 0 && now + kSlackSamples >= m_next && now <= m_next + kSlackSamples) at = m_next;
    m_next = at + static_cast<uint64_t>(n);
    return at;
}
}  // namespace far_end
