// Thread start with one argument, and bookkeeping for short-lived job threads so that shutdown
// can wait for them instead of leaving them running.
#pragma once
#include <cstdint>
#include <functional>

// Starts a detached job thread running fn(arg). Returns 0, or -1 when no thread could be made.
int start_thread(void (*fn)(void*), void* arg);

// Starts a detached job thread running fn. Returns 0 or -1.
int start_job(std::function<void()> fn);

// Number of job threads started by start_thread/start_job that have not yet ended.
int running_jobs();

// Waits until every job thread has ended or ms milliseconds passed; true when none is left.
bool wait_for_jobs(uint32_t ms);

#include <condition_variable>
#include <mutex>

// A set of threads that can be waited for as one: each service that starts a thread per
// connection keeps its own group, so that stopping it waits for exactly its own threads.
class Cjob_group {
public:
    // Starts fn on a new detached thread counted in this group. Returns 0 or -1.
    int start(std::function<void()> fn);
    // Waits until every thread of the group has ended or ms passed; true when none is left.
    bool wait(uint32_t ms);
    int running();
    // Waits until fewer than limit threads of the group run or ms passed; true when below.
    bool wait_below(int limit, uint32_t ms);

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    int m_count = 0;
};
