// Events and waits with time-outs, in the shape the protocol code expects.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

enum wait_result { WAIT_SIGNALLED = 0, WAIT_TIMED_OUT = 1 };

// Auto-reset event: signal() releases exactly one waiter (or the next one to wait, if none is
// waiting); the event resets itself when a wait consumes it.
class Cevent {
public:
    void signal() {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_signalled = true;
        }
        m_cond.notify_one();
    }
    void reset() {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_signalled = false;
    }
    // Waits at most ms milliseconds; returns WAIT_SIGNALLED or WAIT_TIMED_OUT.
    wait_result wait(uint32_t ms) {
        std::unique_lock<std::mutex> lk(m_mutex);
        if (!m_cond.wait_for(lk, std::chrono::milliseconds(ms), [this] { return m_signalled; }))
            return WAIT_TIMED_OUT;
        m_signalled = false;
        return WAIT_SIGNALLED;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
};

// A mutex whose acquisition can be bounded in time (the 3000 ms waits of the socket and media
// code). Built from a mutex and a condition variable rather than std::timed_mutex, whose timed
// wait the thread sanitizer cannot follow.
class Ctimed_mutex {
public:
    void lock() {
        std::unique_lock<std::mutex> lk(m_mutex);
        m_free.wait(lk, [this] { return !m_locked; });
        m_locked = true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_locked) return false;
        m_locked = true;
        return true;
    }
    bool try_lock_for(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lk(m_mutex);
        if (!m_free.wait_for(lk, timeout, [this] { return !m_locked; })) return false;
        m_locked = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_locked = false;
        }
        m_free.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_locked = false;
};

// Tries to lock m for at most ms milliseconds; true when locked.
inline bool lock_for(Ctimed_mutex& m, uint32_t ms) {
    return m.try_lock_for(std::chrono::milliseconds(ms));
}
