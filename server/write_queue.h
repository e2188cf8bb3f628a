// The queue of messages waiting to be written on one connection, written out in batches: one
// async_write takes up to kBatch queued messages, which stay in the queue (and so alive) until
// that write completes. A writer that goes on partial writes (async_write_some) hands back what
// went out with consumed(); the next batch then starts where the front message was cut.
//
// Short messages are gathered into buffers of kChunk bytes, so that a queue of many small replies
// costs about its payload instead of one allocation each; `memory` counts what the buffers really
// hold (capacity and allocation overhead), which is what a queue's cap must bound. Buffers that a
// running write reads (the batch in flight) are never appended to.
#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include <asio.hpp>

namespace srv {

struct WriteQueue {
    static constexpr size_t kBatch = 64;
    static constexpr size_t kChunk = 4096;
    // What one queued buffer costs beyond its capacity: its deque entry, the allocator's header
    // and rounding.
    static constexpr size_t kEntryOverhead = sizeof(std::string) + 32;

    std::deque<std::string> messages;
    size_t bytes = 0;       // queued, counting the batch in flight
    size_t memory = 0;      // held by the queued buffers, overhead included
    size_t in_flight = 0;   // buffers at the front that the running write reads
    size_t front_sent = 0;  // bytes of the front message already written (partial writes)

    static size_t cost(const std::string& s) {
        // A string this short lives inside its own object.
        return kEntryOverhead + (s.capacity() > 15 ? s.capacity() + 1 : 0);
    }
    // What push(n bytes) would add to memory.
    size_t added_memory(size_t n) const {
        if (can_append(n)) return 0;
        if (n < kChunk / 4) return kEntryOverhead + kChunk + 1;
        return kEntryOverhead + n + 1;
    }
    void push(std::string message) {
        bytes += message.size();
        if (can_append(message.size())) {
            messages.back().append(message);
            return;
        }
        if (message.size() < kChunk / 4) {
            std::string chunk;
            chunk.reserve(kChunk);
            chunk.append(message);
            message.swap(chunk);
        }
        memory += cost(message);
        messages.push_back(std::move(message));
    }
    // Buffers of the next batch (the oldest messages); returns how many messages it holds. They
    // stay untouched until written() or consumed() reports the write's end.
    size_t batch(std::vector<asio::const_buffer>* out) {
        size_t count = 0;
        for (const std::string& s : messages) {
            out->emplace_back(count == 0 ? asio::buffer(s) + front_sent : asio::buffer(s));
            if (++count == kBatch) break;
        }
        in_flight = count;
        return count;
    }
    // n bytes from the front of the queue went out (a partial write may cut a message).
    void consumed(size_t n) {
        in_flight = 0;
        bytes -= n;
        while (n > 0 && !messages.empty()) {
            size_t left = messages.front().size() - front_sent;
            if (n < left) {
                front_sent += n;
                return;
            }
            n -= left;
            front_sent = 0;
            pop_front();
        }
        release_if_empty();
    }
    // The batch of count messages, written bytes long, went out.
    void written(size_t count, size_t written_bytes) {
        in_flight = 0;
        for (size_t i = 0; i < count; i++) pop_front();
        bytes -= written_bytes;
        release_if_empty();
    }
    // Drops every message that no running write reads.
    void drop_unsent() {
        while (messages.size() > in_flight) {
            memory -= cost(messages.back());
            bytes -= messages.back().size() - (messages.size() == 1 ? front_sent : 0);
            messages.pop_back();
        }
        release_if_empty();
    }

private:
    bool can_append(size_t n) const {
        if (messages.size() <= in_flight) return false;
        const std::string& back = messages.back();
        return back.capacity() - back.size() >= n;
    }
    void pop_front() {
        memory -= cost(messages.front());
        messages.pop_front();
    }
    void release_if_empty() {
        if (!messages.empty()) return;
        front_sent = 0;
        messages.shrink_to_fit();
    }
};

}  // namespace srv
