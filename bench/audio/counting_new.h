// A counting global allocator for the allocation benchmarks: every operator new and delete of
// the process goes through here; allocations are counted (number and bytes, on every thread)
// while counting is on. Include in exactly one file of a benchmark binary.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

// The replacements below pair malloc with free on purpose; the compiler's check of matching new
// and delete does not know that (it stays off for the rest of the including file).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace alloc_count {
inline std::atomic<bool> on{false};
inline std::atomic<uint64_t> count{0};
inline std::atomic<uint64_t> bytes{0};

struct totals {
    uint64_t count, bytes;
};
inline totals start() {
    count = 0;
    bytes = 0;
    on = true;
    return {0, 0};
}
inline totals stop() {
    on = false;
    return {count.load(), bytes.load()};
}
inline void* take(std::size_t n, std::size_t align = 0) {
    if (on.load(std::memory_order_relaxed)) {
        count.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add(n, std::memory_order_relaxed);
    }
    if (n == 0) n = 1;
    if (align > alignof(std::max_align_t)) {
        void* p = nullptr;
        return posix_memalign(&p, align, n) == 0 ? p : nullptr;
    }
    return std::malloc(n);
}
}  // namespace alloc_count

void* operator new(std::size_t n) {
    if (void* p = alloc_count::take(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = alloc_count::take(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return alloc_count::take(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return alloc_count::take(n);
}
void* operator new(std::size_t n, std::align_val_t a) {
    if (void* p = alloc_count::take(n, static_cast<std::size_t>(a))) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) {
    if (void* p = alloc_count::take(n, static_cast<std::size_t>(a))) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
