// The session thread of the desktop application. The session controller and the housekeeping
// belong to it: notifications from the receive and peer threads, the user's actions (sign-in,
// sign-out, status requests, offline reading) and the periodic duties all run here, so a send
// that reconnects to an unreachable server holds this thread and never the GUI thread. What the
// user sees is handed to the GUI thread with a queued call.
//
// post() queues and returns; send() queues and waits until the handler ran (a send from the
// session thread itself runs at once). stop() runs what is queued, ends the thread and releases
// every waiting sender; later notifications are dropped.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "protocol/notify.h"

class session_worker : public notify_target {
public:
    using handler_fn = std::function<void(int n, intptr_t wparam, intptr_t lparam)>;
    using task_fn = std::function<void()>;
    // handler runs each notification; tick (may be empty) runs about every period_ms while the
    // duties are on.
    session_worker(handler_fn handler, task_fn tick, uint32_t period_ms);
    ~session_worker() override;

    void post(int n, intptr_t wparam, intptr_t lparam) override;
    void send(int n, intptr_t wparam, intptr_t lparam) override;
    // Runs fn on the session thread (queued behind earlier work).
    void run(task_fn fn);
    void set_duties(bool on) { m_duties = on; }
    bool on_session_thread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    void stop();

private:
    struct item {
        task_fn fn;
        std::shared_ptr<bool> done;  // set when a sent notification ran; null otherwise
    };
    void main();
    void queue(item it);

    handler_fn m_handler;
    task_fn m_tick;
    uint32_t m_period_ms;
    std::atomic<bool> m_duties{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_ran;
    std::deque<item> m_queue;
    bool m_stopping = false;
    bool m_stopped = false;
    std::thread m_thread;
};
