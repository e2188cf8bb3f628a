// The session thread of the desktop application. The session controller and the housekeeping
// belong to it: notifications from the receive, peer and media threads, the user's actions
// (sign-in, sign-out, status requests, answers to questions) and the periodic duties all run
// here, so a send that reconnects to an unreachable server holds this thread and never the GUI
// thread. Nothing here waits for the user: questions become non-modal dialogs whose answers come
// back as tasks. What the user sees is handed to the GUI thread with a queued call.
//
// It runs the same queue as the headless client's main loop (queued_dispatcher): post() and run()
// queue and return, from any thread. stop() runs what was queued before it, ends the thread and
// drops what comes later.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "protocol/notify.h"

class session_worker : public notify_target {
public:
    using handler_fn = queued_dispatcher::handler_fn;
    using task_fn = std::function<void()>;
    // handler runs each notification; tick (may be empty) runs about every period_ms while the
    // duties are on.
    session_worker(handler_fn handler, task_fn tick, uint32_t period_ms);
    ~session_worker() override;

    void post(int n, intptr_t wparam, intptr_t lparam, note_payload owned = {}) override;
    // Runs fn on the session thread (queued behind earlier work).
    void run(task_fn fn);
    void set_duties(bool on) { m_duties = on; }
    bool on_session_thread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    void stop();

private:
    void main();

    queued_dispatcher m_queue;
    task_fn m_tick;
    uint32_t m_period_ms;
    std::atomic<bool> m_duties{false};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
