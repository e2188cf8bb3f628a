// A second thread for one frame encoder: the owner hands it one task at a time, does its own
// share of the frame meanwhile, and waits for the task's end before it touches what the task
// wrote. The thread sleeps between tasks (nothing polls) and is stopped and joined when the
// helper is destroyed. Tasks are plain computations: they never block and never take locks of
// their own, so a wait for one is short.
#pragma once
#include <condition_variable>
#include <mutex>
#include <thread>

class Ccodec_helper {
public:
    Ccodec_helper();
    ~Ccodec_helper();
    Ccodec_helper(const Ccodec_helper&) = delete;
    Ccodec_helper& operator=(const Ccodec_helper&) = delete;

    // Runs fn(arg) on the helper thread. Only the owner calls start and wait, and it waits for
    // one task before it starts the next.
    void start(void (*fn)(void*), void* arg);
    void wait();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_posted;  // a task or the stop request
    std::condition_variable m_done;
    void (*m_fn)(void*) = nullptr;  // the task waiting to run, null when none
    void* m_arg = nullptr;
    bool m_busy = false;  // a task was started and has not returned yet
    bool m_stop = false;
    std::thread m_thread;  // last: starts after the fields above are ready
};
