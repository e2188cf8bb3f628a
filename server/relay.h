// The server's own relay, for clients that know no relay of another user: a TCP listener that
// speaks the slave-server protocol. Every message starts with the 46-character outer header
// "%12d:%10d:%10d:%10d:" (tick, sender id, receiver id, payload length). A frame with tick 0
// registers the sender's id on its connection; any other message is passed on unchanged to the
// earliest connection that registered the receiver's id, or dropped when there is none. Payloads
// above 2000 bytes are read and dropped whole, so the stream stays in step. Clients register every
// 10 s; a connection silent for longer than the idle limit is closed.
//
// A receiver's queue holds at most kMaxWriteQueueBytes. When a message does not fit, the relay
// stops reading from its sender until the queue has drained to half (or the receiver is gone), so
// TCP holds the sender back; nothing is dropped. A receiver that takes nothing of its queue for
// the idle limit is closed, which lets every sender paused on it go on; while it holds a sender
// back (whose messages to everyone else then wait too) it gets only the shorter hold limit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <asio.hpp>

#include "server/limits.h"
#include "server/log.h"

namespace srv {

class Relay {
public:
    Relay(asio::io_context& io, Log& log);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Listens on address:port (0: any free port). Returns 0 or -1 (logged). The hold limit is
    // at most the idle limit.
    int start(const std::string& address, int port, int idle_seconds,
              int hold_seconds = kRelayHoldSeconds);
    // Closes the listener and every connection. Runs on the loop's thread.
    void stop();
    int port() const;

    // What the relay went through since start, readable from any thread: the longest a
    // receiver's queue grew, and how often a sender was paused for a full queue.
    struct Stats {
        size_t peak_queued_bytes = 0;
        uint64_t pauses = 0;
    };
    Stats stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace srv
