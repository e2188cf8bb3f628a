#include <mutex>
#include <new>
#include <vector>

#include "media/audio/wave_device.h"

namespace {
// Enough for every buffer in flight in a call with ten speakers: the capture device's 25, the
// sound queue's 80 and those the players' devices hold.
constexpr size_t kPoolKeep = 192;

struct wave_buffer_pool {
    wave_buffer_pool() { free.reserve(kPoolKeep); }
    std::mutex mutex;  // guards free; never held while a buffer is made or freed
    std::vector<wave_buffer*> free;
};

// Never destroyed: threads that end after the static destructors may still give buffers back.
wave_buffer_pool& pool() {
    static wave_buffer_pool* p = new wave_buffer_pool;
    return *p;
}
}  // namespace

wave_buffer* take_wave_buffer() {
    wave_buffer_pool& p = pool();
    {
        std::lock_guard<std::mutex> lk(p.mutex);
        if (!p.free.empty()) {
            wave_buffer* b = p.free.back();
            p.free.pop_back();
            return b;
        }
    }
    return new (std::nothrow) wave_buffer;
}

void recycle_wave_buffer(wave_buffer* b) {
    if (!b) return;
    b->recorded = 0;
    b->capture_tick = 0;
    b->peer_id = 0;
    b->tag = 0;
    wave_buffer_pool& p = pool();
    {
        std::lock_guard<std::mutex> lk(p.mutex);
        if (p.free.size() < kPoolKeep) {
            p.free.push_back(b);
            return;
        }
    }
    delete b;
}
