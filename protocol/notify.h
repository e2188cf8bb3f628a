// The notification interface between the worker threads and a front end. Worker threads never
// touch windows and never wait for a front end: they write the tables, then post a numbered
// notification with two integer parameters and, where it carries data (a chat line, an offline
// chunk, a server notice, a picture), a payload the notification owns. The receiver's handler sees
// the data while it runs; nothing points into the poster's stack.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// What a notification owns: kept alive until its handler has run.
using note_payload = std::shared_ptr<const void>;

struct notify_target {
    virtual ~notify_target() = default;
    // Queues the notification and returns; never waits for the handler.
    virtual void post(int n, intptr_t wparam, intptr_t lparam, note_payload owned = {}) = 0;
};

// A chat window receives notifications 7, 10 and 11 and talks to one peer.
struct chat_window : notify_target {
    virtual int peer_id() const = 0;
};

// The main window (or the headless client's sink). Set once before the session starts.
extern std::atomic<notify_target*> g_main_dlg;

// Posts to g_main_dlg; without one the notification is logged and dropped.
void post_main(int n, intptr_t wparam = 0, intptr_t lparam = 0, note_payload owned = {});

// Bytes a notification owns: the handler gets wparam pointing at them (valid while it runs, with a
// terminating zero after them) and lparam their count.
struct owned_bytes {
    note_payload keep;
    intptr_t wparam = 0;
    intptr_t lparam = 0;
};
owned_bytes copy_bytes(const char* bytes, size_t count);
inline owned_bytes copy_bytes(const std::string& s) { return copy_bytes(s.data(), s.size()); }
void post_bytes(notify_target* t, int n, const char* bytes, size_t count);
void post_main_bytes(int n, const char* bytes, size_t count);
// The text of a notification posted with post_bytes.
inline std::string note_text(intptr_t wparam, intptr_t lparam) {
    return wparam && lparam > 0 ? std::string(reinterpret_cast<const char*>(wparam), static_cast<size_t>(lparam))
                                : std::string();
}

// A chat line (210) or its echo (211) for the peer's chat window, as received: the body ("name:
// text", a zero byte, then the five style bytes) and the path it came on. Posted to the main window
// as NM_PEER_CHAT_LINE (lparam points at it), which opens the window and hands it on as
// NM_CHAT_TEXT (wparam at the body, lparam its length, the payload this record).
struct chat_delivery {
    int peer_id = 0;
    int path = 0;     // 0 direct, 1 through a slave server, 2 datagram
    int command = 0;  // 210 or 211
    std::string body;
};
// Posts a received chat line to the main window, which opens the chat window when none is open;
// every line of every peer goes through that one queue, so lines are shown in the order they came.
void post_chat_delivery(int peer_id, int path, int command, const char* body, int len);
// The main window's side of NM_PEER_CHAT_LINE: hands the delivery on to w, the peer's chat window
// (opened by the caller), as NM_CHAT_TEXT; without a window the line is logged and dropped.
void hand_chat_delivery(chat_window* w, const chat_delivery& d);

// The one queue with a wake-up that both front ends run on their own thread: notifications (with
// their payloads) and tasks, in the order they were queued. Any thread may post or run; the owner
// thread calls run_pending() or wait_and_run(). A front end with an event loop of its own sets a
// wake-up hook that makes the loop call run_pending() soon. A wait returns as soon as anything is
// queued, checked under the queue's lock, so no wake-up is ever lost.
class queued_dispatcher : public chat_window {
public:
    using handler_fn = std::function<void(int n, intptr_t wparam, intptr_t lparam)>;
    using task_fn = std::function<void()>;
    explicit queued_dispatcher(handler_fn handler, int peer = 0);
    ~queued_dispatcher() override;

    // Makes the calling thread the owner (the thread that runs the queue).
    void bind_to_current_thread();
    bool on_owner_thread() const { return std::this_thread::get_id() == m_owner.load(); }
    // Called on the posting thread, with no lock held, each time something was queued (a Qt front
    // end posts a queued call to its event loop here). Set it before anything can be queued; it
    // must not block and must not call back into the dispatcher.
    using wakeup_fn = std::function<void()>;
    void set_wakeup(wakeup_fn wake);
    void post(int n, intptr_t wparam, intptr_t lparam, note_payload owned = {}) override;
    // Queues a task that runs on the owner thread, in order with the notifications.
    void run(task_fn fn);
    int peer_id() const override { return m_peer_id; }

    // Runs every queued item on the calling thread. Returns how many ran.
    int run_pending();
    // Waits at most ms for an item, then runs everything queued. Returns how many ran.
    int wait_and_run(uint32_t ms);
    // Drops what is queued and makes later posts do nothing.
    void stop();
    // Items waiting (tests and statistics).
    size_t queued() const;

private:
    struct item {
        int n = 0;
        intptr_t w = 0;
        intptr_t l = 0;
        note_payload owned;
        task_fn task;  // a task instead of a notification when set
    };
    void queue(item it);

    handler_fn m_handler;
    wakeup_fn m_wakeup;  // guarded by m_mutex; called outside it
    int m_peer_id;
    mutable std::mutex m_mutex;
    std::condition_variable m_queued;
    std::deque<item> m_queue;
    bool m_stopped = false;
    std::atomic<std::thread::id> m_owner{};
};
