// The peer command set: dispatch of commands that arrive on a path (direct connection, slave
// server, server-relayed datagram), the chat text with its echo, and the knock.
#pragma once
#include "protocol/commands.h"  // the peer command numbers

enum peer_path { PEER_PATH_DIRECT = 0, PEER_PATH_SLAVE = 1, PEER_PATH_UDP = 2 };

constexpr int kChatTextMax = 2000;
constexpr int kChatAttrBytes = 5;

// Runs one received command. body is zero-terminated at len; index is the direct connection's
// slot (-1 on the other paths).
void dispatch_peer_command(int path, int command, const char* body, int len, int board_num,
                           int peer_id, int index);

// Layers above the peer layer (voice, video) register the handlers of their commands here.
using peer_command_handler = void (*)(int path, const char* body, int len, int board_num, int peer_id);
void register_peer_command_handler(int command, peer_command_handler handler);

// Where to cut text (at least limit + 1 bytes readable) so that it keeps at most limit bytes and
// no character is split: limit itself, or the start of the character that crosses it.
int utf8_cut(const char* text, int limit);

// Builds the chat-text body: "name:text" cut to 2000 bytes, a zero byte, the five attribute bytes
// (red, green, blue, size, style). Returns the body length (text length + 6).
int build_chat_body(char* out, const char* display_name, const char* text, const unsigned char attrs[5]);

// Sends one 210 to the peer: directly, else through its slave server, else as a datagram through
// its home server. Returns 0 when a path took the line, -1 when none did.
int send_chat_text(int peer_id, const char* display_name, const char* text, const unsigned char attrs[5]);

// Sends the knock 410 directly (connecting first when no connection is open), or through the
// slave server when no direct connection comes about.
// Returns 0 when it went out on either path.
int OnContactKnockPeer(int contact_id);

// The fallback senders of the relayed paths. They return -1 while the peer has no route.
int general_buf_command_to_peer_through_slave_server(int peer_id, int command, int board_num,
                                                     const void* bytes, int count);
int general_str_command_to_peer_through_slave_server(int peer_id, int command, int board_num,
                                                     const char* text);
int send_udp_packet_to_peer_server(int peer_id, const void* message, int len);

int do_private_chat_from_peer(const char* body, int len, int peer_id, int index);
int do_private_chat_indirect_from_peer(const char* body, int len, int peer_id);
