// Direct peer connections: the table g_peer_socks of 100 Cpeer_socket slots, the listener on TCP
// 8188, the poller that hands readable connections to one reader thread each, and the keep-alive
// thread that sends 1001 every 10 s and closes connections silent for more than 6 passes.
//
// Threads: the listener, the poller, the keep-alive thread and one reader per connection run for
// the life of the peer service (start_peer_service .. stop_peer_service). Any thread may send on a
// slot (the base class's send lock serialises sends). The peer fields of every slot are guarded by
// g_peer_mutex, which is never held across socket I/O. A slot carries a generation number that
// changes whenever the slot is cleared or taken, so a reader whose connection was closed and whose
// slot was reused can tell, and leaves the new owner alone.
#pragma once
#include <cstdint>
#include <mutex>

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
    Cpeer_socket() { clear(); }
    // Closes the socket and clears the peer fields.
    int my_close() override;
    // Clears the peer fields (not the socket). Caller holds g_peer_mutex.
    void clear();

    int peer_id = 0;
    int id_sent = 0;
    int reserved2 = 0;
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

// Sends the identification command 200 on slot index.
void send_identification(int index);

// Closes slot index if it still belongs to generation gen (0: any). Returns true when closed.
bool close_peer_slot(int index, uint64_t gen = 0);

// Closes the direct connections to peer_id (0: every connection), in use or being connected.
void close_peer_connections(int peer_id);

// One keep-alive pass (the thread runs one every 10 s; tests call it directly).
void peer_keepalive_pass();

// Takes a slot for a new connection (first free, else evicts the earliest-taken) and closes the
// handle it held. Returns its index with in_use set and a new generation (also stored in
// *gen_out when given).
int take_peer_slot(uint64_t* gen_out = nullptr);

// Number of slots in use (tests and statistics).
int peer_slots_in_use();
