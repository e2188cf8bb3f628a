// What the outputs play, as the echo canceller's far-end reference: one process-wide timeline of
// 16-bit samples, placed by when they are heard (position = tick * 8, one per sample at 8 kHz).
// Outputs that play at the same time add up, as they do in the room. The timeline holds the last
// four seconds; a position not written within them reads as silence.
//
// Threads: any number of producers (the sound card's mixing callback, the paced players) and
// readers (the capture thread). Every call is lock-free, never allocates and never makes a
// system call, so a stream callback may push.
#pragma once
#include <cstdint>

namespace far_end {
constexpr int kSamplesPerMs = 8;
constexpr int kCapacity = 1 << 15;  // samples kept (4.1 s)

inline uint64_t position_of(uint32_t tick) {
    return static_cast<uint64_t>(tick) * kSamplesPerMs;
}

// Adds n samples starting at position to what is already placed there (saturating).
void push(const int16_t* samples, int n, uint64_t position);
// The same for 8-bit unsigned samples (128 is silence).
void push_u8(const uint8_t* samples, int n, uint64_t position);
// Reads n samples starting at position; what was not played reads as 0.
void read(int16_t* out, int n, uint64_t position);
// Forgets everything (tests, benchmarks).
void clear();

// Keeps one output's successive pushes back to back: a stream whose next push arrives within a
// few milliseconds of where its last one ended continues there, so the jitter of the clock
// reading leaves neither gaps nor overlaps. One per output, used by its producing thread only.
class stream_cursor {
public:
    // The position for the next n samples of this output, heard from about position now.
    uint64_t place(uint64_t now, int n);
    void restart() { m_next = 0; }

private:
    uint64_t m_next = 0;
};
}  // namespace far_end
