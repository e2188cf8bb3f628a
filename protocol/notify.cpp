#include "protocol/notify.h"

#include "platform/debug_log.h"

std::atomic<notify_target*> g_main_dlg{nullptr};

void post_main(int n, intptr_t wparam, intptr_t lparam) {
    if (notify_target* t = g_main_dlg.load())
        t->post(n, wparam, lparam);
    else
        log_line("no main window for notification %d\r\n", n);
}

void send_main(int n, intptr_t wparam, intptr_t lparam) {
    if (notify_target* t = g_main_dlg.load())
        t->send(n, wparam, lparam);
    else
        log_line("no main window for notification %d\r\n", n);
}

queued_dispatcher::queued_dispatcher(handler_fn handler, int peer)
    : m_handler(std::move(handler)), m_peer_id(peer) {
    m_owner = std::this_thread::get_id();
}

queued_dispatcher::~queued_dispatcher() { stop(); }

void queued_dispatcher::bind_to_current_thread() { m_owner = std::this_thread::get_id(); }

void queued_dispatcher::set_wakeup(wakeup_fn wake) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_wakeup = std::move(wake);
}

void queued_dispatcher::post(int n, intptr_t wparam, intptr_t lparam) {
    wakeup_fn wake;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_stopped) return;
        m_queue.push_back(item{n, wparam, lparam, nullptr});
        wake = m_wakeup;
    }
    m_queued.notify_one();
    if (wake) wake();
}

void queued_dispatcher::send(int n, intptr_t wparam, intptr_t lparam) {
    if (std::this_thread::get_id() == m_owner.load()) {
        m_handler(n, wparam, lparam);
        return;
    }
    auto done = std::make_shared<bool>(false);
    std::unique_lock<std::mutex> lk(m_mutex);
    if (m_stopped) return;
    m_queue.push_back(item{n, wparam, lparam, done});
    wakeup_fn wake = m_wakeup;
    m_queued.notify_one();
    if (wake) {
        lk.unlock();
        wake();
        lk.lock();
    }
    m_ran.wait(lk, [&] { return *done || m_stopped; });
}

int queued_dispatcher::run_pending() {
    int count = 0;
    for (;;) {
        item it;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_queue.empty()) break;
            it = m_queue.front();
            m_queue.pop_front();
        }
        // The handler runs without the queue lock, so it may post or send again.
        m_handler(it.n, it.w, it.l);
        count++;
        if (it.done) {
            std::lock_guard<std::mutex> lk(m_mutex);
            *it.done = true;
            m_ran.notify_all();
        }
    }
    return count;
}

int queued_dispatcher::wait_and_run(uint32_t ms) {
    {
        std::unique_lock<std::mutex> lk(m_mutex);
        m_queued.wait_for(lk, std::chrono::milliseconds(ms),
                          [this] { return !m_queue.empty() || m_stopped; });
    }
    return run_pending();
}

void queued_dispatcher::stop() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stopped = true;
        m_queue.clear();
    }
    m_ran.notify_all();
    m_queued.notify_all();
}
