#include "media/codec/codec_helper.h"

Ccodec_helper::Ccodec_helper() : m_thread([this] { run(); }) {}

Ccodec_helper::~Ccodec_helper() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stop = true;
    }
    m_posted.notify_one();
    m_thread.join();
}

void Ccodec_helper::start(void (*fn)(void*), void* arg) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_fn = fn;
        m_arg = arg;
        m_busy = true;
    }
    m_posted.notify_one();
}

void Ccodec_helper::wait() {
    std::unique_lock<std::mutex> lk(m_mutex);
    m_done.wait(lk, [this] { return !m_busy; });
}

void Ccodec_helper::run() {
    std::unique_lock<std::mutex> lk(m_mutex);
    for (;;) {
        m_posted.wait(lk, [this] { return m_stop || m_fn != nullptr; });
        if (m_stop) return;  // the owner waits for its task before it destroys the helper
        void (*fn)(void*) = m_fn;
        void* arg = m_arg;
        m_fn = nullptr;
        lk.unlock();
        fn(arg);
        lk.lock();
        m_busy = false;
        m_done.notify_one();
    }
}
