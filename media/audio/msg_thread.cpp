#include "media/audio/msg_thread.h"

#include <pthread.h>

int msg_thread::start(const char* name) {
    if (m_thread.joinable()) return 0;
    try {
        m_thread = std::thread([this] { run(); });
        if (name) pthread_setname_np(m_thread.native_handle(), name);
    } catch (...) {
        return -1;
    }
    return 0;
}

void msg_thread::post(int msg, intptr_t wparam, intptr_t lparam) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_ended) {
            m_queue.push_back({msg, wparam, lparam});
            m_wake.notify_one();
            return;
        }
    }
    drop_message(msg, wparam, lparam);  // the loop has ended: nobody will run it
}

void msg_thread::join() {
    if (m_thread.joinable()) m_thread.join();
}

void msg_thread::run() {
    for (;;) {
        item it;
        {
            std::unique_lock<std::mutex> lk(m_mutex);
            m_wake.wait(lk, [this] { return !m_queue.empty(); });
            it = m_queue.front();
            m_queue.pop_front();
        }
        if (!on_message(it.msg, it.w, it.l)) break;
    }
    small_fifo<item> left;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_ended = true;
        m_queue.move_all_to(&left);
    }
    for (; !left.empty(); left.pop_front())
        drop_message(left.front().msg, left.front().w, left.front().l);
}
