// The fields that every slot of the three connection tables carries (direct peers, slave
// servers, relay clients): whether the slot is taken, its keep-alive count, the hand-over flag
// between poller and reader, its ticks, the remote end, and a generation number that changes
// whenever the slot is cleared or taken, so a thread holding an old index can tell the slot has
// moved on. Each table's mutex guards these fields.
#pragma once
#include <cstdint>
#include <mutex>

#include "protocol/link_socket.h"

struct slot_fields {
    int in_use = 0;
    int idle_count = 0;
    int reserved1 = 0;  // only ever cleared
    int busy = 0;       // a reader thread owns the connection
    uint32_t connect_tick = 0;
    uint32_t taken_tick = 0;  // the eviction key
    char peer_address[64] = {};
    int peer_port = 0;
    uint64_t generation = 0;

    void clear_slot_fields() {
        in_use = 0;
        idle_count = 0;
        reserved1 = 0;
        busy = 0;
        connect_tick = 0;
        taken_tick = 0;
        peer_address[0] = '\0';
        peer_port = 0;
        generation = 0;
    }
};

// A slot's my_close: the connection closes first (outside the table's lock, since closing wakes
// and waits for its reader), then the slot's fields are cleared under the lock.
template <class Slot>
int close_and_clear(Slot& slot, std::mutex& table_mutex) {
    slot.Clink_socket::my_close();
    std::lock_guard<std::mutex> lk(table_mutex);
    slot.clear();
    return 0;
}
