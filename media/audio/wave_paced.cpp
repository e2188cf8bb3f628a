#include "media/audio/wave_paced.h"

#include "media/audio/audio_constants.h"
#include "platform/tick.h"

using clock_type = std::chrono::steady_clock;

paced_wave_in::~paced_wave_in() {
    close();
}

int paced_wave_in::open(wave_notice filled, std::string* error) {
    if (int rc = prepare(error)) return rc;
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_open) return 0;
    m_filled = std::move(filled);
    m_open = true;
    m_quit = false;
    m_thread = std::thread([this] { run(); });
    return 0;
}

int paced_wave_in::add_buffer(wave_buffer* buffer) {
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!m_open) return -1;
    m_queued.push_back(buffer);
    return 0;
}

int paced_wave_in::start(std::string*) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_open) return -1;
        m_started = true;
    }
    m_wake.notify_all();
    return 0;
}

int paced_wave_in::stop() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_started = false;
    return 0;
}

int paced_wave_in::reset() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_started = false;
        m_queued.move_all_to(&m_back);
    }
    for (; !m_back.empty(); m_back.pop_front()) {
        wave_buffer* b = m_back.front();
        b->recorded = 0;
        if (m_filled) m_filled(b);
    }
    return 0;
}

void paced_wave_in::close() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_open) return;
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard<std::mutex> lk(m_mutex);
    for (; !m_queued.empty(); m_queued.pop_front()) delete m_queued.front();
    m_open = false;
}

void paced_wave_in::run() {
    std::unique_lock<std::mutex> lk(m_mutex);
    auto next = clock_type::now();
    bool was_started = false;
    while (!m_quit) {
        if (!m_started) {
            was_started = false;
            m_wake.wait(lk, [this] { return m_quit || m_started; });
            continue;
        }
        if (!was_started) next = clock_type::now();
        was_started = true;
        next += std::chrono::milliseconds(audio::kBufferMs);
        if (m_wake.wait_until(lk, next, [this] { return m_quit || !m_started; })) continue;
        if (m_queued.empty()) continue;  // no buffer to fill: this stretch of sound is lost
        wave_buffer* b = m_queued.front();
        m_queued.pop_front();
        lk.unlock();
        fill(b->data.data(), static_cast<int>(b->data.size()));
        b->recorded = static_cast<int>(b->data.size());
        b->capture_tick = get_tick_count();
        m_filled(b);
        lk.lock();
    }
}

paced_wave_out::~paced_wave_out() {
    close();
}

int paced_wave_out::open(wave_notice done, std::string*) {
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_open) return 0;
    m_done = std::move(done);
    m_open = true;
    m_quit = false;
    m_thread = std::thread([this] { run(); });
    return 0;
}

int paced_wave_out::write(wave_buffer* buffer) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_open) return -1;
        m_written.push_back(buffer);
    }
    m_wake.notify_all();
    return 0;
}

int paced_wave_out::reset() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_written.move_all_to(&m_back);
        m_flush = true;
    }
    m_wake.notify_all();
    for (; !m_back.empty(); m_back.pop_front()) m_done(m_back.front());
    return 0;
}

void paced_wave_out::close() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_open) return;
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_written.move_all_to(&m_back);
        m_open = false;
    }
    for (; !m_back.empty(); m_back.pop_front()) delete m_back.front();
    closing();
}

void paced_wave_out::run() {
    std::unique_lock<std::mutex> lk(m_mutex);
    auto free_at = clock_type::now();
    while (!m_quit) {
        m_wake.wait(lk, [this] { return m_quit || !m_written.empty(); });
        if (m_quit) break;
        // The buffer being played belongs to this thread until it is done; a reset returns
        // only those still waiting and cuts this one short.
        wave_buffer* b = m_written.front();
        m_written.pop_front();
        m_flush = false;
        lk.unlock();
        const int n = static_cast<int>(b->data.size());
        far_end::push_u8(b->data.data(), n,
                         m_heard.place(far_end::position_of(get_tick_count()), n));
        consume(*b);
        lk.lock();
        auto now = clock_type::now();
        if (free_at < now) free_at = now;
        free_at +=
            std::chrono::milliseconds(static_cast<int>(b->data.size()) * 1000 / audio::kSampleRate);
        m_wake.wait_until(lk, free_at, [this] { return m_quit || m_flush; });
        if (m_quit) {
            delete b;
            break;
        }
        lk.unlock();
        m_done(b);
        lk.lock();
    }
}
