// Two small queues of the sound layer that never allocate once made.
//
// spsc_ring: a fixed-size lock-free ring between exactly one producing and one consuming thread
// (a sound device's callback and the thread that feeds it or takes its buffers back). push and
// pop never block, never allocate and never make a system call, so a device callback may use
// them.
//
// small_fifo: a first-in first-out queue for one thread, or under its owner's lock, that grows
// by doubling when full and never shrinks: once a stream of hand-overs has reached its usual
// depth, pushing and popping no longer touch the heap (a std::deque allocates and frees a block
// every few dozen items).
#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <utility>

template <typename T, size_t N>
class spsc_ring {
    static_assert(N >= 2 && (N & (N - 1)) == 0, "the capacity is a power of two");

public:
    // Producer side. false when the ring is full (the item stays with the caller).
    bool push(const T& item) {
        size_t head = m_head.load(std::memory_order_relaxed);
        if (head - m_tail.load(std::memory_order_acquire) >= N) return false;
        m_items[head & (N - 1)] = item;
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }
    // Consumer side. false when the ring is empty.
    bool pop(T* item) {
        size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire)) return false;
        *item = m_items[tail & (N - 1)];
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }
    // Producer side: whether a push would fail.
    bool full() const {
        return m_head.load(std::memory_order_relaxed) - m_tail.load(std::memory_order_acquire) >= N;
    }
    // Either side; only a hint while the other side runs.
    bool empty() const {
        return m_head.load(std::memory_order_acquire) == m_tail.load(std::memory_order_acquire);
    }
    static constexpr size_t capacity() { return N; }

private:
    // Producer and consumer indexes on lines of their own, so the two threads do not share one.
    alignas(64) std::atomic<size_t> m_head{0};
    alignas(64) std::atomic<size_t> m_tail{0};
    alignas(64) T m_items[N]{};
};

template <typename T>
class small_fifo {
public:
    explicit small_fifo(size_t capacity = 16) { grow(capacity < 2 ? 2 : capacity); }
    small_fifo(const small_fifo&) = delete;
    small_fifo& operator=(const small_fifo&) = delete;
    void push_back(T item) {
        if (m_size == m_capacity) grow(2 * m_capacity);
        m_items[(m_first + m_size) % m_capacity] = std::move(item);
        m_size++;
    }
    T& front() { return m_items[m_first]; }
    void pop_front() {
        m_first = (m_first + 1) % m_capacity;
        m_size--;
    }
    bool empty() const { return m_size == 0; }
    size_t size() const { return m_size; }
    // Moves every item into *to (emptied first), which keeps its own storage: this one's stays.
    void move_all_to(small_fifo* to) {
        while (!to->empty()) to->pop_front();
        while (!empty()) {
            to->push_back(std::move(front()));
            pop_front();
        }
    }

private:
    void grow(size_t capacity) {
        auto items = std::make_unique<T[]>(capacity);
        for (size_t i = 0; i < m_size; i++)
            items[i] = std::move(m_items[(m_first + i) % m_capacity]);
        m_items = std::move(items);
        m_capacity = capacity;
        m_first = 0;
    }
    std::unique_ptr<T[]> m_items;
    size_t m_capacity = 0;
    size_t m_first = 0;
    size_t m_size = 0;
};
