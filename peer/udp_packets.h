// Server-relayed datagrams: the last path of a chat text, used when a peer has neither a direct
// connection nor a slave-server route. The framed command goes behind a 46-character outer header
// (tick, receiver id, sender id, length) as one UDP datagram to the peer's home server on port
// 9015, which acknowledges it (a reply that starts with the same 12 characters) and delivers it to
// the peer inside server command 2000. The receiving side rejects malformed packets, drops
// duplicates (a sender repeats a datagram that was not acknowledged) and dispatches 210 and 211.
//
// One sender thread sends the queued datagrams in order; each datagram of this process carries a
// tick of its own (strictly increasing). The queue and the duplicate ring have their own mutexes.
#pragma once
#include <cstdint>

constexpr int kUdpMessageMax = 950;  // framed command carried by one datagram
constexpr int kUdpRecordRoom = 1100;
constexpr int kUdpDatagramMax = 1024;  // a send is cut to this many bytes
constexpr int kUdpAttempts = 4;
constexpr int kUdpAckWaitMs = 1000;  // each wait for an acknowledgement is bounded
constexpr int kUdpReplyMax = 3000;
constexpr int kUdpDupRing = 1000;
constexpr int kUdpInnerBodyOffset = 66;  // outer header and command header

struct udp_packet {
    int peer_id;
    int tick;  // the outer header's tick; 0: the clock when it is sent
    int len;
    char message[kUdpRecordRoom];
};

// Queues the framed message for the sender thread (a chat line over 950 bytes is shortened at a
// whole character first). Returns 0; -1 when the contact has no home server, the message cannot
// be made to fit, no record could be made, or the user configured a proxy (a datagram cannot go
// through it, and nothing is sent around it).
int send_udp_packet_to_peer_server(int peer_id, const void* message, int length);
// Builds and sends one datagram to the peer's home server; frees the record on every path.
int send_udp_packet_thread(udp_packet* packet);
// Sends the datagram to host:9015 up to four times until an acknowledgement arrives. Returns 0
// when acknowledged or after the last attempt, -1 on a failure.
int send_udp_packet(const char* host, const char* datagram, int length);
// Server command 2000: one datagram with its inner body in plain text.
int do_relay_peer_udp_from_server(const char* body, int len, int board_num);

// Lets the queued datagrams go out and waits for the sender thread to end (shutdown). True when
// none is left.
bool wait_udp_jobs(uint32_t ms);
// Empties the duplicate ring (program start, tests).
void clear_udp_duplicate_ring();
// Tests shorten the acknowledgement wait (ms > 0), or restore it with 0.
void set_udp_ack_wait_ms(int ms);
