#include "ui/main/session_worker.h"

#include <chrono>

session_worker::session_worker(handler_fn handler, task_fn tick, uint32_t period_ms)
    : m_queue(std::move(handler)), m_tick(std::move(tick)), m_period_ms(period_ms) {
    m_thread = std::thread([this] { main(); });
}

session_worker::~session_worker() {
    stop();
}

void session_worker::post(int n, intptr_t wparam, intptr_t lparam, note_payload owned) {
    m_queue.post(n, wparam, lparam, std::move(owned));
}

void session_worker::run(task_fn fn) {
    m_queue.run(std::move(fn));
}

void session_worker::main() {
    m_queue.bind_to_current_thread();
    using clock = std::chrono::steady_clock;
    auto next_tick = clock::now();
    while (!m_stopping.load()) {
        auto now = clock::now();
        if (now >= next_tick) {
            next_tick = now + std::chrono::milliseconds(m_period_ms);
            if (m_duties && m_tick) m_tick();
            continue;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - now).count();
        m_queue.wait_and_run(static_cast<uint32_t>(wait) + 1);
    }
}

void session_worker::stop() {
    if (!m_thread.joinable()) return;
    if (on_session_thread()) {
        m_stopping = true;
        return;
    }
    // Queued behind what is already waiting, so that work (the sign-out at exit) still runs.
    m_queue.run([this] { m_stopping = true; });
    m_thread.join();
    m_queue.stop();
}
