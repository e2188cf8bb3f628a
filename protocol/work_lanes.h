// Workers for the session controller's actions that may wait on a socket. Work is queued on a
// lane; the jobs of one lane run one after another in the order they were queued (a sign-out
// before the next sign-in, the lines of one chat in order), different lanes run side by side.
// No lock is held while a job runs.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "platform/thread.h"

class work_lanes {
public:
    ~work_lanes();
    // Queues fn on lane. Returns 0, or -1 once stopped or when no thread could be started.
    int run(int lane, std::function<void()> fn);
    // Refuses new work, drops what has not started and waits at most ms for running jobs.
    // True when none is left.
    bool stop(uint32_t ms);
    // Waits at most ms until every lane is empty and idle (work may still be queued later).
    bool wait_idle(uint32_t ms);

private:
    void drain(int lane);

    std::mutex m_mutex;
    std::map<int, std::deque<std::function<void()>>> m_lanes;  // a lane is present while it runs
    bool m_stopped = false;
    Cjob_group m_jobs;
};
