#include "ui/main/session_worker.h"

#include <chrono>

#include "platform/thread.h"

session_worker::session_worker(handler_fn handler, task_fn tick, uint32_t period_ms)
    : m_handler(std::move(handler)), m_tick(std::move(tick)), m_period_ms(period_ms) {
    m_thread = std::thread([this] { main(); });
}

session_worker::~session_worker() { stop(); }

void session_worker::queue(item it) {
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_stopping) {
        if (it.done) *it.done = true;
        return;
    }
    m_queue.push_back(std::move(it));
    m_wake.notify_all();
}

void session_worker::post(int n, intptr_t wparam, intptr_t lparam) {
    queue(item{[this, n, wparam, lparam] { m_handler(n, wparam, lparam); }, nullptr});
}

void session_worker::send(int n, intptr_t wparam, intptr_t lparam) {
    if (on_session_thread()) {
        m_handler(n, wparam, lparam);
        return;
    }
    auto done = std::make_shared<bool>(false);
    queue(item{[this, n, wparam, lparam] { m_handler(n, wparam, lparam); }, done});
    std::unique_lock<std::mutex> lk(m_mutex);
    m_ran.wait(lk, [&] { return *done || m_stopped; });
}

void session_worker::run(task_fn fn) { queue(item{std::move(fn), nullptr}); }

void session_worker::main() {
    auto next_tick = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lk(m_mutex);
    for (;;) {
        m_wake.wait_until(lk, next_tick, [&] { return !m_queue.empty() || m_stopping; });
        while (!m_queue.empty()) {
            item it = std::move(m_queue.front());
            m_queue.pop_front();
            // The work runs without the lock: it may wait on the network or on a dialog.
            lk.unlock();
            it.fn();
            lk.lock();
            if (it.done) {
                *it.done = true;
                m_ran.notify_all();
            }
        }
        if (m_stopping) break;
        auto now = std::chrono::steady_clock::now();
        if (now >= next_tick) {
            next_tick = now + std::chrono::milliseconds(m_period_ms);
            if (m_duties && m_tick) {
                lk.unlock();
                m_tick();
                lk.lock();
            }
        }
    }
    m_stopped = true;
    m_ran.notify_all();
}

void session_worker::stop() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stopping = true;
        m_wake.notify_all();
    }
    if (m_thread.joinable() && !on_session_thread()) m_thread.join();
}
