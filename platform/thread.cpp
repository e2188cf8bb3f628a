#include "platform/thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
std::mutex g_jobs_mutex;
std::condition_variable g_jobs_done;
int g_jobs = 0;

void job_ended() {
    std::lock_guard<std::mutex> lk(g_jobs_mutex);
    if (--g_jobs == 0) g_jobs_done.notify_all();
}
}  // namespace

int start_job(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lk(g_jobs_mutex);
        g_jobs++;
    }
    try {
        std::thread t([f = std::move(fn)]() {
            f();
            job_ended();
        });
        t.detach();
    } catch (const std::system_error&) {
        job_ended();
        return -1;
    }
    return 0;
}

int start_thread(void (*fn)(void*), void* arg) {
    return start_job([fn, arg]() { fn(arg); });
}

int running_jobs() {
    std::lock_guard<std::mutex> lk(g_jobs_mutex);
    return g_jobs;
}

bool wait_for_jobs(uint32_t ms) {
    std::unique_lock<std::mutex> lk(g_jobs_mutex);
    return g_jobs_done.wait_for(lk, std::chrono::milliseconds(ms), [] { return g_jobs == 0; });
}

int Cjob_group::start(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_count++;
    }
    auto ended = [this] {
        std::lock_guard<std::mutex> lk(m_mutex);
        --m_count;
        m_done.notify_all();
    };
    try {
        std::thread t([f = std::move(fn), ended]() {
            f();
            ended();
        });
        t.detach();
    } catch (const std::system_error&) {
        ended();
        return -1;
    }
    return 0;
}

bool Cjob_group::wait(uint32_t ms) {
    std::unique_lock<std::mutex> lk(m_mutex);
    return m_done.wait_for(lk, std::chrono::milliseconds(ms), [this] { return m_count == 0; });
}

bool Cjob_group::wait_below(int limit, uint32_t ms) {
    std::unique_lock<std::mutex> lk(m_mutex);
    return m_done.wait_for(lk, std::chrono::milliseconds(ms),
                           [this, limit] { return m_count < limit; });
}

int Cjob_group::running() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_count;
}
