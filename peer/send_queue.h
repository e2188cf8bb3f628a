// The send queue of one connection (a direct peer slot or a slave-server slot). Capture, camera,
// readers, file senders and keep-alives put whole messages on it and return at once; one drainer
// thread per connection, started with the first message, writes them to the socket in order.
// Nothing else writes a queued connection's socket, so a peer that stops reading holds up only
// its own drainer.
//
// Policy: voice is dropped oldest-first past kQueuedVoicePerPeer messages for one peer, video
// frames (a begin, its pieces and an end) past kQueuedFramesPerPeer whole frames, and each drop
// is counted. Every other message is kept; bulk senders wait for room (push_waiting).
//
// Threads: push, push_waiting, take, check_stall and the counters may be called from any
// thread. The writer and failure callbacks run on the drainer thread with no lock of the queue
// held. stop() joins the drainer; it must not be called from the drainer itself (retire may).
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory_resource>
#include <mutex>
#include <thread>
#include <vector>

// About 300 ms of voice: a buffer is 120 ms of sound.
constexpr int kQueuedVoicePerPeer = 3;
constexpr int kQueuedFramesPerPeer = 2;
// Bulk data (file blocks) waits while this many bytes are queued on the connection.
constexpr size_t kQueuedBulkBytes = 256 * 1024;

enum class send_kind { control, voice, video };

// The class of a peer command on a queue: talk data and silence are voice, the frame messages
// (begin, pieces, end) are video, everything else is never dropped.
send_kind send_kind_of(int command);

struct queued_message {
    std::vector<char> bytes;  // the whole message as it goes on the wire, scrambled from `from` on
    int from = 0;             // bytes.size() when already scrambled
    uint64_t generation = 0;  // the slot's generation when it was queued
    uint64_t serial = 0;      // the connection's handle serial when it was queued
    send_kind kind = send_kind::control;
    int command = 0;          // the peer command (the inner one on a relayed message)
    int peer_id = 0;          // the receiver (the bounds above are per receiver)
    bool resend = false;      // may go another way when its connection closes before writing it
    uint64_t frame = 0;       // video: the frame it belongs to (set by push)
};

class Csend_queue {
public:
    // write returns a negative value when the connection failed; then failed runs with the
    // message (after write, on the drainer thread).
    using writer = int (*)(void* context, queued_message& m);
    using failure = void (*)(void* context, queued_message& m);
    Csend_queue() = default;
    ~Csend_queue();
    Csend_queue(const Csend_queue&) = delete;
    Csend_queue& operator=(const Csend_queue&) = delete;

    // Set once before the first push.
    void set_callbacks(writer w, failure f, void* context);
    // The queued bytes at which push_waiting waits for room (kQueuedBulkBytes unless set). Set
    // once before the first push.
    void set_room(size_t bytes);

    // Queues m (applying the drop policy) and returns 0; never waits for the socket. admit(m)
    // runs under the queue's lock just before m is queued: it checks that the slot still has
    // m's generation and fills in the handle serial (taking the table's lock, which therefore
    // always comes after a queue's). When it returns false, or the queue is stopping, nothing is
    // queued and -1 is returned.
    template <class Admit>
    int push(queued_message m, Admit admit);
    // Waits up to ms for fewer queued bytes than the room (kQueuedBulkBytes unless set), then
    // behaves as push.
    // Returns -2 on time-out.
    template <class Admit>
    int push_waiting(queued_message m, int ms, Admit admit);
    // Takes out every queued message of slot generation gen (its connection closed) and returns
    // them; messages of a newer owner stay.
    std::vector<queued_message> take(uint64_t generation);
    // The connection closed: the drainer ends once nothing is queued (a later push starts a new
    // one), so a closed connection keeps no thread.
    void retire();
    // Stops and joins the drainer and drops what is queued. A later push starts a new drainer.
    void stop();

    // One keep-alive pass: the number of consecutive passes (this one included) during which the
    // queue never ran empty and either nothing was written or voice or video had to be dropped.
    // A peer that stops reading counts up even while its kernel still takes a few bytes now and
    // then; a slow but moving bulk transfer does not.
    int check_stall();
    // Messages queued or being written.
    size_t pending();
    // An empty buffer for the next message, with the storage of one already written when there
    // is one, so steady voice and video allocate nothing. Any thread.
    std::vector<char> spare_buffer();
    // Waits up to ms until nothing is queued or being written (tests, shutdown). True when idle.
    bool wait_idle(int ms);

    std::atomic<uint64_t> dropped_voice{0};
    std::atomic<uint64_t> dropped_frames{0};
    std::atomic<uint64_t> written{0};

private:
    void drain();
    // Under m_mutex.
    void admit_locked(queued_message& m);
    bool room_locked() const { return m_bytes < m_room; }

    std::mutex m_mutex;
    std::condition_variable m_wake;   // the drainer: a message or stop
    std::condition_variable m_moved;  // waiters for room or idleness
    // The queue's blocks are kept for reuse (every use of it is under m_mutex).
    std::pmr::unsynchronized_pool_resource m_blocks;
    std::pmr::deque<queued_message> m_queue{&m_blocks};
    // Storage of written messages, for spare_buffer: enough for a frame's pieces, at most
    // kSpareBytes in all.
    static constexpr size_t kSpareBuffers = 48;
    static constexpr size_t kSpareBytes = 256 * 1024;
    std::vector<std::vector<char>> m_spares;
    size_t m_spare_bytes = 0;
    size_t m_bytes = 0;
    size_t m_room = kQueuedBulkBytes;
    bool m_writing = false;
    uint64_t m_writing_frame = 0;
    bool m_stop = false;
    bool m_retire = false;
    bool m_running = false;  // the drainer has not yet decided to end
    std::thread m_thread;
    writer m_write = nullptr;
    failure m_failed = nullptr;
    void* m_context = nullptr;
    uint64_t m_next_frame = 1;
    std::vector<std::pair<int, uint64_t>> m_open_frames;  // peer id -> frame being queued
    bool m_drained = false;  // the queue ran empty since the last check_stall
    uint64_t m_written_at_check = 0;
    uint64_t m_dropped_at_check = 0;
    int m_stall_passes = 0;
};

template <class Admit>
int Csend_queue::push(queued_message m, Admit admit) {
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_stop || !admit(m)) return -1;
    admit_locked(m);
    return 0;
}

template <class Admit>
int Csend_queue::push_waiting(queued_message m, int ms, Admit admit) {
    std::unique_lock<std::mutex> lk(m_mutex);
    if (!m_moved.wait_for(lk, std::chrono::milliseconds(ms), [&] { return m_stop || room_locked(); }))
        return -2;
    if (m_stop || !admit(m)) return -1;
    admit_locked(m);
    return 0;
}

// Global figures over every queue (tests, statistics).
struct send_queue_totals {
    std::atomic<uint64_t> dropped_voice{0};
    std::atomic<uint64_t> dropped_frames{0};
    std::atomic<uint64_t> closed_stalled{0};  // connections closed because their queue stood still
};
extern send_queue_totals g_send_queue_totals;
