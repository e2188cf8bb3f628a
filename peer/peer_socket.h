// Direct peer connections: the table g_peer_socks of 100 Cpeer_socket slots, the listener on TCP
// 8188, the poller that hands readable connections to one reader thread each, and the keep-alive
// thread that sends 1001 every 10 s and closes connections silent for more than 6 passes.
//
// Threads: the listener, the poller, the keep-alive thread and one reader per connection run for
// the life of the peer service (start_peer_service .. stop_peer_service). Any thread may send to a
// slot, and does so by putting the message on the slot's send queue: only the slot's drainer
// writes its socket, so no sender ever waits for a peer that does not read. A send names the
// slot's generation, taken with the index under g_peer_mutex, and is queued only while the slot
// still has it; the drainer writes it only while the slot holds the same handle. The peer fields of every slot are guarded by
// g_peer_mutex, which is never held across socket I/O. A slot carries a generation number that
// changes whenever the slot is cleared or taken, so a reader whose connection was closed and whose
// slot was reused can tell, and leaves the new owner alone.
#pragma once
#include <cstdint>
#include <mutex>

#include "peer/send_queue.h"
#include "peer/slot_fields.h"
#include "protocol/link_socket.h"

constexpr int kPeerSlots = 100;
constexpr uint16_t kPeerPort = 8188;
constexpr int kPeerBacklog = 5;
constexpr int kPeerKeepAliveMs = 10000;
constexpr int kPeerIdleLimit = 6;
constexpr int kPeerAddressKept = 28;
constexpr int kPeerHostKept = 49;
// Reader threads: one per connection, plus readers of evicted connections on their way out.
constexpr int kPeerMaxReaders = 2 * kPeerSlots;

class Cpeer_socket : public Clink_socket, public slot_fields {
public:
    Cpeer_socket();
    // Closes the socket and clears the peer fields.
    int my_close() override;
    // Clears the peer fields (not the socket). Caller holds g_peer_mutex.
    void clear();

    int peer_id = 0;
    int id_sent = 0;
    int reserved2 = 0;
    // Set with the slot's other fields once its connection is up (accepted, or connected with
    // peer_id known): only then does the poller hand the slot to a reader, so a reader never
    // sees a connected slot whose peer id is still being written.
    int ready = 0;
    Csend_queue queue;
};

extern Cpeer_socket g_peer_socks[kPeerSlots];
extern std::mutex g_peer_mutex;

// Starts the listener (on the local bind address when one is set; none when listen is false), the
// poller and the keep-alive thread. Returns 0, or -1 when the listener could not be set up (the other threads still run).
int start_peer_service(bool listen = true);
// Stops every peer thread and closes every connection; joins the threads.
void stop_peer_service();
// Clears every slot without closing (program start).
void clear_peer_table();
// Closes every direct connection and clears its slot (a new sign-in).
void close_all_peer_connections();

int connect_to_peer(int peer_id, const char* address);
int OnContactTextChat(int contact_id);
int get_peer_sock_index(int peer_id);
int is_peer_connected(int peer_id);

int general_command_to_peer(int peer_id, int command, int argument);
int general_str_command_to_peer(int peer_id, int command, int argument, const char* text);
int general_buf_command_to_peer(int peer_id, int command, const void* bytes, int count);

// A direct connection as a sender names it: the slot and the generation it had when looked up.
struct peer_ticket {
    int index = -1;
    uint64_t generation = 0;
};
// The first direct connection of peer_id (index -1 when it has none).
peer_ticket find_peer_ticket(int peer_id);
// Slot index while it belongs to peer_id (index -1 otherwise).
peer_ticket peer_ticket_of_slot(int index, int peer_id);
// Queues a whole message (header and plain body) on the ticket's connection, to be scrambled
// and written by its drainer. Returns 0, or -1 when the slot no longer has the ticket's
// generation or no open connection. A message marked resend goes through the slave server (or,
// for a chat line, as a datagram) if its connection closes before writing it.
int queue_peer_message(peer_ticket t, const char* msg, int len, int command, bool resend = false);
// Queues messages that are framed and scrambled already (file blocks), waiting up to ms for
// room in the queue. 0, -1 as above, -2 when no room came.
int queue_peer_bulk(peer_ticket t, const char* msgs, int len, int ms);

// Sends the identification command 200 on slot index of generation gen.
void send_identification(int index, uint64_t gen);

// Closes slot index if it still belongs to generation gen (0: any). Returns true when closed.
bool close_peer_slot(int index, uint64_t gen = 0);

// Closes the direct connections to peer_id (0: every connection), in use or being connected.
void close_peer_connections(int peer_id);

// One keep-alive pass (the thread runs one every 10 s; tests call it directly). It only queues:
// a connection whose queue has stood still (see Csend_queue::check_stall) for more than
// kPeerIdleLimit passes is closed, as is one that has been silent that long.
void peer_keepalive_pass();

// Takes a slot for a new connection (first free, else evicts the earliest-taken) and closes the
// handle it held. Returns its index with in_use set and a new generation (also stored in
// *gen_out when given).
int take_peer_slot(uint64_t* gen_out = nullptr);

// Number of slots in use (tests and statistics).
int peer_slots_in_use();
