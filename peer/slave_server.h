// Slave servers: relay hosts that two clients which cannot reach each other both keep a TCP
// connection to. The client registers its id with every slave server it is connected to (a
// registration frame every 10 s) and sends a peer command for another user behind an outer header
// naming sender and receiver; the slave server forwards it to the connection that registered the
// receiver. The messenger server assigns each client two slave servers (A and B, commands
// 462-470); clients learn each other's slave servers through their home servers (480, 481, 482)
// and keep a route table from peer id to slave-server address.
//
// Tables: g_slave_socks (100 connections) and g_peer_slave_servers (1000 routes). Their fields
// and the own assignment are guarded by g_slave_mutex, which is never held across socket I/O or a
// notification. Each connection slot carries a generation that changes when the slot is cleared
// or taken, so a reader or connect attempt whose slot was reused leaves the new owner alone.
//
// Threads (start_slave_service .. stop_slave_service): the poller, one reader per connection,
// the slave keep-alive thread (registration frames, and the aging of the local relay server's
// connections), the route keep-alive thread (aging and 1002), and short jobs for connects and for
// commands sent to a peer's home server.
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/thread.h"
#include "peer/send_queue.h"
#include "peer/slot_fields.h"
#include "protocol/link_socket.h"

constexpr int kSlaveSlots = 100;
constexpr int kRouteSlots = 1000;
constexpr int kSlaveAddressKept = 127;
constexpr int kSlaveTextLimit = 1000;  // text sender
constexpr int kSlaveBufLimit = 1200;   // binary senders
constexpr int kSlaveKeepAliveMs = 10000;
constexpr int kSlaveIdleLimit = 6;
constexpr int kSlaveWantedConnections = 5;  // fewer in use: connect_to_peer asks for more (460)
constexpr int kPeerServerTextLimit = 1000;
// How long a bulk sender waits for room in a connection's send queue.
constexpr int kSlaveBulkWaitMs = 15000;

class Cpeer_socket_indirect : public Clink_socket, public slot_fields {
public:
    Cpeer_socket_indirect();
    // Closes the socket and clears the fields.
    int my_close() override;
    // Clears the fields (not the socket). Caller holds g_slave_mutex.
    void clear();

    int peer_id = 0;
    int id_sent = 0;
    char slave_address[128];
    int connecting = 0;  // a connect attempt is running; the keep-alive pass leaves the slot alone
    // Every send on the connection goes through it (see send_queue.h); a message is queued only
    // while the slot has the generation the sender looked up, and written only on that handle.
    Csend_queue queue;
};

struct peer_slave_server {
    int in_use;
    int peer_id;
    int idle_count;
    char slave_server_addr[256];
};

// The own assignment from 462-469: address and three candidate ports of A (0) and B (1).
struct slave_assignment {
    char address[2][128];
    int ports[2][3];
};

extern Cpeer_socket_indirect g_slave_socks[kSlaveSlots];
extern peer_slave_server g_peer_slave_servers[kRouteSlots];
extern std::mutex g_slave_mutex;

int start_slave_service();
// Stops the threads, waits for the jobs, closes every slave connection.
void stop_slave_service();
// Closes every slave-server connection and forgets every route (signing out).
void close_slave_connections();
// Clears both tables and the own assignment without closing (program start, tests).
void clear_slave_tables();
// Closes every slave-server connection, then clears the connection, route and assignment tables
// (a new sign-in).
void close_all_slave_connections();

// Own assignment (462-470).
void set_slave_server_address(int which, const char* address);
void set_slave_server_port(int which, int slot, int port);
slave_assignment get_slave_assignment();
// True when address A or B is known (no need to ask with 460).
bool slave_server_known();
// 470: connects to A and B, each with its first port above 0. The connects run on job threads
// so that the receive loop is not held while a host does not answer. Returns 0.
int connect_my_slave_servers();
// connect_to_slave_server on a job thread.
void connect_slave_server_in_background(const char* address, int port);

// 0 when a connection to that address exists or a slot was taken (whatever the connect result),
// -1 when all slots are in use or the address does not fit a connection's host field.
int connect_to_slave_server(const char* address, int port);
int add_peer_slave_server(int peer_id, const char* slave_server_addr);
int find_slave_server_index(const char* address);
int find_peer_slave_sock(int peer_id);
// 1002 from peer_id over a connection to address: its routes through that address are fresh.
void refresh_peer_slave_server(int peer_id, const char* address);
// Removes every route through address.
void reset_one_peer_connect_to_slave_server_info(const char* address);
int peer_slave_routes_in_use();

int general_str_command_to_peer_through_slave_server(int peer_id, int command, int board_num,
                                                     const char* text);
int general_buf_command_to_peer_through_slave_server(int peer_id, int command, int board_num,
                                                     const void* bytes, int count);
int general_buf_to_peer_through_slave_server(int peer_id, const void* message, int length);
// Bulk senders (file blocks): message holds room for the outer and command headers, then count
// body bytes at message + 66; frames and scrambles it in place and returns its whole length.
int frame_relayed_in_place(char* message, int peer_id, int command, int count);
// Sends messages framed that way, back to back, on the connection that routes to peer_id.
// Returns 0, or -1 after dropping a connection whose send failed (and its routes).
int send_framed_through_slave_server(int peer_id, const char* messages, int length);

// One pass of each keep-alive thread (the threads run one every 10 s; tests call them directly).
// The route pass ages every route (a 1002 through it makes it fresh; seven passes without drop
// it), except a route to an online contact over a connection that is up, which lives with it.
void slave_keepalive_pass();
void route_keepalive_pass();

// Route discovery.
// 480 (the body starts with the requester's id): answers with 481 (A) and 482 (B) through the
// requester's home server.
int do_request_slave_server_addr_from_server(const char* body, int len);
// The same, for a caller that has already read the requester's id.
int do_request_slave_server_addr_to_peer(int requester_id);
// 481/482: connects to the peer's slave server (first port above 0) and adds the route.
int do_peer_slave_server_info_from_server(const char* body, int len);
// 480 with an empty text to the contact's home server (a contact came online).
int request_peer_slave_route(int contact_id);
// A relayed send found no route to an online contact: asks for its route at once instead of
// waiting for the periodic exchange. The contact may not have its own relay yet, so the asks
// continue while sends fail, 250 ms apart at first, twice as far apart each time up to 8 s.
void request_missing_slave_route(int contact_id);
// Every fifth housekeeping tick: 480 for each online contact that has no usable route.
void request_missing_slave_routes();

// Sends one command to the peer's home server (port 9015) on a one-shot connection, from a job
// thread. Returns 0, or -1 for an unknown contact.
int general_str_command_to_peer_server(int command, int board_num, int peer_id, const char* text);
int general_command_to_peer_server(int command, int board_num, int peer_id);

// The record a sending_msg_to_peer_server_thread owns.
struct msg_info {
    int peer_id;
    int command;
    int session;
    int board_num;
    int contact_index;
    int len;
    char text[kPeerServerTextLimit + 1];
};
// Sends the record's command; frees the record on every path. Returns 0 or -1.
int sending_msg_to_peer_server_thread(msg_info* info);

// The job threads of this service (connects, commands to home servers); stop waits for them.
Cjob_group& slave_job_group();
