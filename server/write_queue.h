// The queue of messages waiting to be written on one connection, written out in batches: one
// async_write takes up to kBatch queued messages, which stay in the queue (and so alive) until
// that write completes. A writer that goes on partial writes (async_write_some) hands back what
// went out with consumed(); the next batch then starts where the front message was cut.
#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include <asio.hpp>

namespace srv {

struct WriteQueue {
    static constexpr size_t kBatch = 64;
    std::deque<std::string> messages;
    size_t bytes = 0;       // queued, counting the batch in flight
    size_t front_sent = 0;  // bytes of the front message already written (partial writes)

    void push(std::string message) {
        bytes += message.size();
        messages.push_back(std::move(message));
    }
    // Buffers of the next batch (the oldest messages); returns how many messages it holds.
    size_t batch(std::vector<asio::const_buffer>* out) const {
        size_t count = 0;
        for (const std::string& s : messages) {
            out->emplace_back(count == 0 ? asio::buffer(s) + front_sent : asio::buffer(s));
            if (++count == kBatch) break;
        }
        return count;
    }
    // n bytes from the front of the queue went out (a partial write may cut a message).
    void consumed(size_t n) {
        bytes -= n;
        while (n > 0 && !messages.empty()) {
            size_t left = messages.front().size() - front_sent;
            if (n < left) {
                front_sent += n;
                return;
            }
            n -= left;
            front_sent = 0;
            messages.pop_front();
        }
    }
    // The batch of count messages, written bytes long, went out.
    void written(size_t count, size_t written_bytes) {
        for (size_t i = 0; i < count; i++) messages.pop_front();
        bytes -= written_bytes;
    }
};

}  // namespace srv
