#include "protocol/notify.h"

#include "platform/debug_log.h"
#include "protocol/commands.h"

std::atomic<notify_target*> g_main_dlg{nullptr};

void post_main(int n, intptr_t wparam, intptr_t lparam, note_payload owned) {
    if (notify_target* t = g_main_dlg.load())
        t->post(n, wparam, lparam, std::move(owned));
    else
        log_line("no main window for notification %d\r\n", n);
}

owned_bytes copy_bytes(const char* bytes, size_t count) {
    // std::string keeps a zero after its bytes, and its buffer does not move with the pointer.
    auto s = std::make_shared<const std::string>(bytes ? bytes : "", bytes ? count : 0);
    owned_bytes o;
    o.wparam = reinterpret_cast<intptr_t>(s->data());
    o.lparam = static_cast<intptr_t>(s->size());
    o.keep = std::move(s);
    return o;
}

void post_bytes(notify_target* t, int n, const char* bytes, size_t count) {
    owned_bytes o = copy_bytes(bytes, count);
    t->post(n, o.wparam, o.lparam, std::move(o.keep));
}

void post_main_bytes(int n, const char* bytes, size_t count) {
    owned_bytes o = copy_bytes(bytes, count);
    post_main(n, o.wparam, o.lparam, std::move(o.keep));
}

void post_chat_delivery(int peer_id, int path, int command, const char* body, int len) {
    auto d = std::make_shared<chat_delivery>();
    d->peer_id = peer_id;
    d->path = path;
    d->command = command;
    d->body.assign(body, len > 0 ? static_cast<size_t>(len) : 0);
    intptr_t at = reinterpret_cast<intptr_t>(d.get());
    post_main(NM_PEER_CHAT_LINE, peer_id, at, std::move(d));
}

void hand_chat_delivery(chat_window* w, const chat_delivery& d) {
    if (!w) {
        bool echo = d.command == PEER_CHAT_ECHO;
        if (d.path == 1 && echo)
            log_line("could not find chat_dlg in g_peer_indirect_one_client_thread 222.\r\n");
        else if (d.path == 1)
            log_line("could not find chat_dlg in do_private_chat_indirect_from_peer, peer_id:%d.\r\n", d.peer_id);
        else if (d.path == 2 && echo)
            log_line("could not find chat_dlg in do_relay_peer_udp_from_server, peer_id:%d.\r\n", d.peer_id);
        else if (echo)
            log_line("could not find chat_dlg in g_peer_one_client_thread 222.\r\n");
        else
            log_line("could not find chat_dlg in g_peer_one_client_thread.\r\n");
        return;
    }
    auto copy = std::make_shared<const chat_delivery>(d);
    intptr_t body = reinterpret_cast<intptr_t>(copy->body.data());
    auto len = static_cast<intptr_t>(copy->body.size());
    w->post(NM_CHAT_TEXT, body, len, std::move(copy));
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

void queued_dispatcher::queue(item it) {
    wakeup_fn wake;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_stopped) return;
        m_queue.push_back(std::move(it));
        wake = m_wakeup;
    }
    m_queued.notify_one();
    if (wake) wake();
}

void queued_dispatcher::post(int n, intptr_t wparam, intptr_t lparam, note_payload owned) {
    item it;
    it.n = n;
    it.w = wparam;
    it.l = lparam;
    it.owned = std::move(owned);
    queue(std::move(it));
}

void queued_dispatcher::run(task_fn fn) {
    item it;
    it.task = std::move(fn);
    queue(std::move(it));
}

int queued_dispatcher::run_pending() {
    int count = 0;
    for (;;) {
        item it;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_queue.empty()) break;
            it = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // The handler runs without the queue lock, so it may post again; the item (and what it
        // owns) lives until the handler returned.
        if (it.task)
            it.task();
        else
            m_handler(it.n, it.w, it.l);
        count++;
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
    std::deque<item> dropped;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stopped = true;
        dropped.swap(m_queue);
    }
    m_queued.notify_all();
    // What the dropped items own goes here, outside the lock.
}

size_t queued_dispatcher::queued() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_queue.size();
}
