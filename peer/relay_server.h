// The client's own relay server: it listens on TCP 80, 443 and 8199 (on the local bind address
// when one is set) and relays outer-header messages between the clients connected to it, the
// protocol that slave servers speak. A registration frame (tick 0) records the sender's id on its
// connection; any other message goes to the first connection that registered the receiver's id.
// Each connection keeps receive and send statistics over five-minute windows; the session's
// housekeeping reports which ports listen (420-422), how many connections there are (452) and
// their traffic (451).
//
// Only a connection's drainer writes its socket. Each connection has a bounded send queue
// (Csend_queue, every message of the control kind, so nothing relayed is ever dropped, voice and
// video included); its drainer starts with the first message relayed to the connection and ends
// once the connection has closed, so a free slot keeps no thread. A connection's reader puts each
// message it forwards on the receiver's queue; while that queue holds kRelayQueuedBytes, the reader
// waits for room in bounded waits, looking each time whether both connections are still open and
// the service still runs, so a receiver that reads slowly holds the reader up and TCP paces the
// sender. A receiver whose queue holds messages without finishing a write for more than
// kRelayHoldPasses aging passes is closed: its queue is emptied, which releases the readers waiting
// on it; a reader waiting for room is not aged itself. A queued message carries the receiver's
// generation and handle serial and goes out only on that handle, so a slot closed and handed to a
// new connection never passes the old owner's messages on.
//
// g_server_socks (200 slots) is shared by the three listeners, the poller, one reader and one
// drainer per connection and the aging in the slave keep-alive thread; its fields and statistics
// are guarded by g_relay_mutex, never held across socket I/O. A queue's lock comes before
// g_relay_mutex (a push checks the slot under both), so no queue is called with it held.
#pragma once
#include <cstdint>
#include <mutex>

#include "peer/send_queue.h"
#include "peer/slot_fields.h"
#include "protocol/link_socket.h"

constexpr int kRelaySlots = 200;
constexpr int kRelayPortCount = 3;
constexpr uint16_t kRelayDefaultPorts[kRelayPortCount] = {80, 443, 8199};
constexpr int kRelayBacklog = 5;
constexpr uint32_t kStatWindowMs = 300000;
constexpr uint32_t kStatMinAgeMs = 60000;
constexpr int kStatLargestAdd = 20480;
constexpr int kRelayIdleLimit = 6;
// Aging passes a receiver's queue may hold messages without finishing a write: its senders'
// messages to everyone else wait behind it, so this is shorter than the idle limit.
constexpr int kRelayHoldPasses = 2;
// Bytes queued for one receiver before its senders' readers wait for room.
constexpr size_t kRelayQueuedBytes = 64 * 1024;

struct stat_window {
    uint32_t start_tick;
    uint32_t current_tick;
    uint32_t bytes;
};

class Cserver_socket : public Clink_socket, public slot_fields {
public:
    Cserver_socket();
    // Closes the socket and clears the fields.
    int my_close() override;
    // Clears the fields (not the socket). Caller holds g_relay_mutex.
    void clear();

    // Traffic windows; each takes g_relay_mutex.
    int add_to_recv_traffic(int len);
    int add_to_send_traffic(int len);
    uint32_t get_recv_avg();
    uint32_t get_send_avg();
    // Exact and one-shot reads that count what they received.
    int counting_recv_fixed_len(char* buffer, int n);
    int counting_recv(char* buffer, int max);

    int user_id = 0;
    // Its reader waits for room on a receiver's queue (aging leaves it alone meanwhile).
    int paused = 0;
    // Aging passes that found messages queued for this connection since its last write ended,
    // and the queue's write count at the last pass.
    int stalled_passes = 0;
    uint64_t written_at_pass = 0;
    stat_window m_stat_recv_old;
    stat_window m_stat_recv;
    stat_window m_stat_send_old;
    stat_window m_stat_send;
    // What is relayed to this connection; not reset by clear() (closing the slot takes out the
    // old owner's messages).
    Csend_queue queue;
};

extern Cserver_socket g_server_socks[kRelaySlots];
extern std::mutex g_relay_mutex;

// Starts the three listeners (a port that cannot be bound is logged and stays unreported), the
// poller. Returns 0.
int start_relay_service();
void stop_relay_service();
// Clears every slot without closing (program start, tests).
void clear_relay_table();
// Closes every connection to the local relay server and clears its slot (a new sign-in).
void close_all_relay_connections();
// Tests listen on other ports; nullptr restores 80, 443 and 8199. Takes effect at the next start.
void set_relay_ports(const uint16_t* ports);

// Slot 0, 1, 2 = the first, second, third port: true once its listener accepts connections.
bool relay_port_listening(int slot);
// The port that slot's listener uses (set_relay_ports, else 80, 443, 8199); 0 for a bad slot.
int relay_listen_port(int slot);
// Number of in-use relay connections (452).
int relay_connection_count();
// Sum over the in-use connections of receive plus send average, bytes per second (451).
int relay_traffic_sum();
// Closes every connection of the relay server (signing out); the listeners stay.
void close_relay_connections();
// One aging pass (the slave keep-alive thread runs one every 10 s).
void relay_aging_pass();
// How often a forward found its receiver's queue full and waited for room (tests).
uint64_t relay_pause_count();
