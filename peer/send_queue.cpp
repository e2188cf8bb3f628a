#include "peer/send_queue.h"

#include <algorithm>
#include <iterator>

#include "protocol/commands.h"

send_queue_totals g_send_queue_totals;

send_kind send_kind_of(int command) {
    switch (command) {
        case PEER_TALK_DATA:
        case PEER_TALK_SILENCE: return send_kind::voice;
        case PEER_VIDEO_BEGIN:
        case PEER_VIDEO_CONT:
        case PEER_VIDEO_END: return send_kind::video;
        default: return send_kind::control;
    }
}

Csend_queue::~Csend_queue() {
    std::thread t;
    bool writing;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stop = true;
        writing = m_writing;
        t = std::move(m_thread);
    }
    m_wake.notify_all();
    if (!t.joinable()) return;
    // At process exit a drainer can still be inside a write to a peer that stopped reading (the
    // services were not stopped): the exit must not wait for that peer.
    if (writing)
        t.detach();
    else
        t.join();
}

void Csend_queue::set_callbacks(writer w, failure f, void* context) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_write = w;
    m_failed = f;
    m_context = context;
}

void Csend_queue::set_room(size_t bytes) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_room = bytes;
}

void Csend_queue::admit_locked(queued_message& m) {
    if (m.kind == send_kind::voice) {
        int held = 0;
        for (const queued_message& q : m_queue)
            held += q.kind == send_kind::voice && q.peer_id == m.peer_id;
        for (auto it = m_queue.begin(); held >= kQueuedVoicePerPeer && it != m_queue.end();) {
            if (it->kind == send_kind::voice && it->peer_id == m.peer_id) {
                m_bytes -= it->bytes.size();
                it = m_queue.erase(it);
                held--;
                dropped_voice++;
                g_send_queue_totals.dropped_voice++;
            } else {
                ++it;
            }
        }
    } else if (m.kind == send_kind::video) {
        auto open = std::find_if(m_open_frames.begin(), m_open_frames.end(),
                                 [&](const auto& f) { return f.first == m.peer_id; });
        if (m.command == PEER_VIDEO_BEGIN || open == m_open_frames.end()) {
            // Frames waiting for this peer, oldest first (the one being written does not count:
            // its rest goes out whole).
            // The drop rule keeps a handful at most; past the array's end the newest stay.
            uint64_t frames[16];
            size_t count = 0;
            for (const queued_message& q : m_queue)
                if (q.kind == send_kind::video && q.peer_id == m.peer_id &&
                    q.frame != m_writing_frame && count < std::size(frames) &&
                    std::find(frames, frames + count, q.frame) == frames + count)
                    frames[count++] = q.frame;
            for (size_t k = 0; k + kQueuedFramesPerPeer <= count; k++) {
                uint64_t gone = frames[k];
                for (auto it = m_queue.begin(); it != m_queue.end();) {
                    if (it->kind == send_kind::video && it->frame == gone) {
                        m_bytes -= it->bytes.size();
                        it = m_queue.erase(it);
                    } else {
                        ++it;
                    }
                }
                dropped_frames++;
                g_send_queue_totals.dropped_frames++;
            }
            uint64_t frame = m_next_frame++;
            if (open == m_open_frames.end())
                m_open_frames.emplace_back(m.peer_id, frame);
            else
                open->second = frame;
            m.frame = frame;
        } else {
            m.frame = open->second;
        }
    }
    m_bytes += m.bytes.size();
    m_queue.push_back(std::move(m));
    m_retire = false;
    if (!m_running) {
        // A drainer that ended after its connection closed has released the lock for good.
        if (m_thread.joinable()) m_thread.join();
        m_running = true;
        m_thread = std::thread([this] { drain(); });
    }
    m_wake.notify_one();
}

void Csend_queue::drain() {
    std::unique_lock<std::mutex> lk(m_mutex);
    for (;;) {
        m_wake.wait(lk, [this] { return m_stop || m_retire || !m_queue.empty(); });
        if (m_stop || (m_retire && m_queue.empty())) {
            m_running = false;
            return;
        }
        queued_message m = std::move(m_queue.front());
        m_queue.pop_front();
        m_bytes -= m.bytes.size();
        m_writing = true;
        m_writing_frame = m.frame;
        writer write = m_write;
        failure failed = m_failed;
        void* context = m_context;
        m_moved.notify_all();
        lk.unlock();
        int r = write ? write(context, m) : -1;
        if (r < 0 && failed) failed(context, m);
        lk.lock();
        if (m.bytes.capacity() > 0 && m_spare_bytes + m.bytes.capacity() <= kSpareBytes &&
            m_spares.size() < kSpareBuffers) {
            if (m_spares.capacity() < kSpareBuffers) m_spares.reserve(kSpareBuffers);
            m_spare_bytes += m.bytes.capacity();
            m.bytes.clear();
            m_spares.push_back(std::move(m.bytes));
        }
        m_writing = false;
        m_writing_frame = 0;
        if (r >= 0) written++;
        if (m_queue.empty()) m_drained = true;
        m_moved.notify_all();
    }
}

std::vector<char> Csend_queue::spare_buffer() {
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_spares.empty()) return {};
    std::vector<char> out = std::move(m_spares.back());
    m_spares.pop_back();
    m_spare_bytes -= out.capacity();
    return out;
}

std::vector<queued_message> Csend_queue::take(uint64_t generation) {
    std::vector<queued_message> out;
    std::lock_guard<std::mutex> lk(m_mutex);
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->generation == generation) {
            m_bytes -= it->bytes.size();
            out.push_back(std::move(*it));
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    m_moved.notify_all();
    return out;
}

void Csend_queue::retire() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_retire = true;
    }
    m_wake.notify_all();
}

void Csend_queue::stop() {
    std::thread t;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stop = true;
        t = std::move(m_thread);
    }
    m_wake.notify_all();
    m_moved.notify_all();
    if (t.joinable()) t.join();
    std::lock_guard<std::mutex> lk(m_mutex);
    m_queue.clear();
    m_bytes = 0;
    m_open_frames.clear();
    m_stall_passes = 0;
    m_stop = false;
    m_retire = false;
    m_running = false;
    m_moved.notify_all();
}

int Csend_queue::check_stall() {
    std::lock_guard<std::mutex> lk(m_mutex);
    uint64_t now_written = written.load();
    uint64_t now_dropped = dropped_voice.load() + dropped_frames.load();
    bool moved = now_written != m_written_at_check;
    bool dropped = now_dropped != m_dropped_at_check;
    if (m_drained || (m_queue.empty() && !m_writing) || (moved && !dropped))
        m_stall_passes = 0;
    else
        m_stall_passes++;
    m_drained = false;
    m_written_at_check = now_written;
    m_dropped_at_check = now_dropped;
    return m_stall_passes;
}

size_t Csend_queue::pending() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_queue.size() + (m_writing ? 1 : 0);
}

bool Csend_queue::wait_idle(int ms) {
    std::unique_lock<std::mutex> lk(m_mutex);
    return m_moved.wait_for(lk, std::chrono::milliseconds(ms),
                            [this] { return m_queue.empty() && !m_writing; });
}
