// The queue of messages waiting to be written on one connection, written out in batches: one
// async_write takes up to kBatch queued messages, which stay in the queue (and so alive) until
// that write completes.
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
    size_t bytes = 0;  // queued, counting the batch in flight

    void push(std::string message) {
        bytes += message.size();
        messages.push_back(std::move(message));
    }
    // Buffers of the next batch (the oldest messages); returns how many messages it holds.
    size_t batch(std::vector<asio::const_buffer>* out) const {
        size_t count = 0;
        for (const std::string& s : messages) {
            out->emplace_back(asio::buffer(s));
            if (++count == kBatch) break;
        }
        return count;
    }
    // The batch of count messages, written bytes long, went out.
    void written(size_t count, size_t written_bytes) {
        for (size_t i = 0; i < count; i++) messages.pop_front();
        bytes -= written_bytes;
    }
};

}  // namespace srv
