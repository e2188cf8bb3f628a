// Devices without hardware timing (the "null" and "wav" backends): a thread per device that
// finishes one capture buffer every 120 ms, or plays each written buffer for its own length
// (bytes / 8 ms), on a steady clock. The backends supply only the samples or their sink. What an
// output plays goes to the echo canceller's reference when it starts playing.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "media/audio/far_end.h"
#include "media/audio/ring.h"
#include "media/audio/wave_device.h"

class paced_wave_in : public wave_in {
public:
    ~paced_wave_in() override;
    int open(wave_notice filled, std::string* error) override;
    int add_buffer(wave_buffer* buffer) override;
    int start(std::string* error) override;
    int stop() override;
    int reset() override;
    void close() override;

protected:
    // Fills n bytes of the next buffer (called on the device thread).
    virtual void fill(uint8_t* out, int n) = 0;
    // Called by open; 0 or an error code with *error set.
    virtual int prepare(std::string*) { return 0; }

private:
    void run();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    small_fifo<wave_buffer*> m_queued{32};
    small_fifo<wave_buffer*> m_back{32};  // reset's, on the owner thread
    wave_notice m_filled;
    bool m_open = false;
    bool m_started = false;
    bool m_quit = false;
    std::thread m_thread;
};

class paced_wave_out : public wave_out {
public:
    ~paced_wave_out() override;
    int open(wave_notice done, std::string* error) override;
    int write(wave_buffer* buffer) override;
    int reset() override;
    void close() override;

protected:
    // The buffer starts playing (called on the device thread).
    virtual void consume(const wave_buffer&) {}
    virtual void closing() {}

private:
    void run();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    small_fifo<wave_buffer*> m_written{32};
    small_fifo<wave_buffer*> m_back{32};  // reset's and close's, on the owner thread
    far_end::stream_cursor m_heard;       // the device thread's
    wave_notice m_done;
    bool m_flush = false;
    bool m_open = false;
    bool m_quit = false;
    std::thread m_thread;
};
