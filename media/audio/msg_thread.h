// A worker thread driven only by its messages: post() queues a message and returns; the thread
// runs them one by one in order until a handler asks it to end. The queue keeps its storage, so
// a steady stream of messages (a buffer every 120 ms) does not touch the heap.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "media/audio/ring.h"

class msg_thread {
public:
    virtual ~msg_thread() = default;
    // Starts the loop on a new thread named name (at most 15 characters, shown by ps and top).
    int start(const char* name = nullptr);
    void post(int msg, intptr_t wparam, intptr_t lparam);
    // Waits for the message loop to end (after a quit message).
    void join();
    bool running() const { return m_thread.joinable(); }

protected:
    // Runs one message; false ends the loop.
    virtual bool on_message(int msg, intptr_t wparam, intptr_t lparam) = 0;
    // Called for every message left in the queue when the loop has ended (frees what it owns).
    virtual void drop_message(int, intptr_t, intptr_t) {}

private:
    struct item {
        int msg;
        intptr_t w, l;
    };
    void run();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    small_fifo<item> m_queue{64};
    bool m_ended = false;
    std::thread m_thread;
};
