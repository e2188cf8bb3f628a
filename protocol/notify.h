// The notification interface between the worker threads and a front end. Worker threads never
// touch windows: they write the tables, then post (queue and return) or send (return only after
// the front end's thread ran the handler) a numbered notification with two integer parameters.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct notify_target {
    virtual ~notify_target() = default;
    virtual void post(int n, intptr_t wparam, intptr_t lparam) = 0;
    virtual void send(int n, intptr_t wparam, intptr_t lparam) = 0;
};

// A chat window receives notifications 7, 10 and 11 and talks to one peer.
struct chat_window : notify_target {
    virtual int peer_id() const = 0;
};

// The main window (or the headless client's sink). Set once before the session starts.
extern std::atomic<notify_target*> g_main_dlg;

// Post or send to g_main_dlg; without one the notification is logged and dropped.
void post_main(int n, intptr_t wparam = 0, intptr_t lparam = 0);
void send_main(int n, intptr_t wparam = 0, intptr_t lparam = 0);

// A ready-made dispatcher for a front end with its own thread. post() queues; send() queues and
// waits until the front end's thread ran the handler (a send from that thread itself runs the
// handler directly). The front end calls run_pending() or wait_and_run() on its thread; an event
// loop of its own sets a wake-up hook that makes the loop call run_pending() soon.
class queued_dispatcher : public chat_window {
public:
    using handler_fn = std::function<void(int n, intptr_t wparam, intptr_t lparam)>;
    explicit queued_dispatcher(handler_fn handler, int peer = 0);
    ~queued_dispatcher() override;

    // Makes the calling thread the front end's thread.
    void bind_to_current_thread();
    // Called on the posting thread, with no lock held, each time a notification was queued (a
    // Qt front end posts a queued call to its event loop here). Set it before notifications can
    // arrive; it must not block and must not call back into the dispatcher.
    using wakeup_fn = std::function<void()>;
    void set_wakeup(wakeup_fn wake);
    void post(int n, intptr_t wparam, intptr_t lparam) override;
    void send(int n, intptr_t wparam, intptr_t lparam) override;
    int peer_id() const override { return m_peer_id; }

    // Runs every queued notification on the calling thread. Returns how many ran.
    int run_pending();
    // Waits at most ms for a notification, then runs everything queued. Returns how many ran.
    int wait_and_run(uint32_t ms);
    // Releases every waiting sender and makes later sends return at once without running.
    void stop();

private:
    struct item {
        int n;
        intptr_t w;
        intptr_t l;
        std::shared_ptr<bool> done;  // set when a sent notification ran; null for posted ones
    };
    handler_fn m_handler;
    wakeup_fn m_wakeup;  // guarded by m_mutex; called outside it
    int m_peer_id;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_ran;
    std::deque<item> m_queue;
    bool m_stopped = false;
    std::atomic<std::thread::id> m_owner{};
};
