#include "ui/main/gui_dispatcher.h"

#include <QMetaObject>
#include <QPointer>

#include "ui/common/gui_call.h"

gui_dispatcher::gui_dispatcher(QObject* receiver, handler_fn handler)
    : m_receiver(receiver), m_handler(std::move(handler)) {}

gui_dispatcher::~gui_dispatcher() { stop(); }

void gui_dispatcher::wake() {
    QPointer<QObject> guard(m_receiver);
    QMetaObject::invokeMethod(
        m_receiver,
        [this, guard] {
            if (guard) run_pending();
        },
        Qt::QueuedConnection);
}

void gui_dispatcher::post(int n, intptr_t wparam, intptr_t lparam) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_stopped) return;
        m_queue.push_back(item{n, wparam, lparam, nullptr});
    }
    wake();
}

void gui_dispatcher::send(int n, intptr_t wparam, intptr_t lparam) {
    if (on_gui_thread()) {
        // A send from the GUI thread itself: the handler runs before send returns.
        if (!stopped()) m_handler(n, wparam, lparam);
        return;
    }
    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_stopped) return;
        m_queue.push_back(item{n, wparam, lparam, done});
    }
    wake();
    std::unique_lock<std::mutex> lk(m_mutex);
    m_ran.wait(lk, [&] { return *done || m_stopped; });
}

int gui_dispatcher::run_pending() {
    int ran = 0;
    for (;;) {
        item it;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_queue.empty() || m_stopped) break;
            it = m_queue.front();
            m_queue.pop_front();
        }
        // The handler runs without the lock: it may open a dialog or send to the network.
        m_handler(it.n, it.w, it.l);
        ran++;
        if (it.done) {
            std::lock_guard<std::mutex> lk(m_mutex);
            *it.done = true;
            m_ran.notify_all();
        }
    }
    return ran;
}

void gui_dispatcher::stop() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_stopped = true;
    m_queue.clear();
    m_ran.notify_all();
}

bool gui_dispatcher::stopped() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_stopped;
}
