#include "media/video/paced_source.h"

#include <chrono>

paced_source::~paced_source() {
    stop();
}

int paced_source::start(int width, int height, frame_sink sink) {
    stop();
    if (open(width, height) != 0) return -1;
    m_width = width;
    m_height = height;
    m_sink = std::move(sink);
    m_frame.assign(static_cast<size_t>(width) * height * 3, 0);
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stop = false;
    }
    m_thread = std::thread([this] { run(); });
    return 0;
}

void paced_source::stop() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
        close();
    }
}

void paced_source::run() {
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000 / kCaptureFramesPerSecond);
    auto next = clock::now();
    for (uint32_t n = 0;; n++) {
        {
            std::unique_lock<std::mutex> lk(m_mutex);
            if (m_wake.wait_until(lk, next, [this] { return m_stop; })) return;
        }
        next += period;
        // A slow sink does not make the source race to catch up.
        if (next < clock::now()) next = clock::now() + period;
        if (produce(n, m_width, m_height, m_frame.data()) == 0)
            m_sink(m_frame.data(), static_cast<int>(m_frame.size()));
    }
}
