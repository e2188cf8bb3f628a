// The main window's side of the notification interface. Worker threads post (queue and return)
// or send (queue and wait until the handler ran); each notification wakes the Qt event loop with
// a queued call, so the handler runs on the GUI thread as soon as the loop is free. A send from
// the GUI thread runs the handler at once. stop() releases every waiting sender and drops what
// comes later, so the threads that send can be joined at shutdown.
#pragma once
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "protocol/notify.h"

class gui_dispatcher : public notify_target {
public:
    using handler_fn = std::function<void(int n, intptr_t wparam, intptr_t lparam)>;
    // receiver: a GUI-thread object whose lifetime bounds the queued wake-ups.
    gui_dispatcher(QObject* receiver, handler_fn handler);
    ~gui_dispatcher() override;

    void post(int n, intptr_t wparam, intptr_t lparam) override;
    void send(int n, intptr_t wparam, intptr_t lparam) override;
    // Runs what is queued (GUI thread). Returns how many ran.
    int run_pending();
    void stop();
    bool stopped();

private:
    struct item {
        int n;
        intptr_t w;
        intptr_t l;
        std::shared_ptr<bool> done;  // set when a sent notification ran; null for posted ones
    };
    void wake();
    QObject* m_receiver;
    handler_fn m_handler;
    std::mutex m_mutex;
    std::condition_variable m_ran;
    std::deque<item> m_queue;
    bool m_stopped = false;
};
