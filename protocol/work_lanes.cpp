#include "protocol/work_lanes.h"


work_lanes::~work_lanes() { stop(15000); }

int work_lanes::run(int lane, std::function<void()> fn) {
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_stopped) return -1;
    auto it = m_lanes.find(lane);
    if (it != m_lanes.end()) {
        it->second.push_back(std::move(fn));  // the lane's worker takes it after the current job
        return 0;
    }
    m_lanes[lane].push_back(std::move(fn));
    if (m_jobs.start([this, lane] { drain(lane); }) != 0) {
        m_lanes.erase(lane);
        return -1;
    }
    return 0;
}

void work_lanes::drain(int lane) {
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            auto it = m_lanes.find(lane);
            if (it == m_lanes.end()) return;
            if (it->second.empty()) {
                m_lanes.erase(it);
                return;
            }
            fn = std::move(it->second.front());
            it->second.pop_front();
        }
        fn();
    }
}

bool work_lanes::stop(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stopped = true;
        for (auto& l : m_lanes) l.second.clear();
    }
    return m_jobs.wait(ms);
}

bool work_lanes::wait_idle(uint32_t ms) { return m_jobs.wait(ms); }
