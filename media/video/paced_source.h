// A source that makes its frames itself (a synthetic scene, a file) on a thread paced at 20
// frames per second by a timed wait, so it never spins and stops within one frame time.
#pragma once
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "media/video/video_source.h"

class paced_source : public video_source {
public:
    ~paced_source() override;
    int start(int width, int height, frame_sink sink) override;
    void stop() override;

protected:
    // Opens what the frames come from; 0 or -1. Called by start() before the thread runs.
    virtual int open(int width, int height) = 0;
    // Fills width * height * 3 bytes with frame number n; 0, or -1 to skip this frame.
    virtual int produce(uint32_t n, int width, int height, uint8_t* rgb) = 0;
    virtual void close() {}

private:
    void run();
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    int m_width = 0;
    int m_height = 0;
    frame_sink m_sink;
    std::vector<uint8_t> m_frame;
};
