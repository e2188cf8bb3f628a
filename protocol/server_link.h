// The main server connection and the message builders that send on it or on another server
// connection. Each builder formats the header, copies the body behind it and sends the whole
// message with send_with_reconnect.
#pragma once
#include "platform/sync.h"
#include "protocol/link_socket.h"

// The long-lived connection to the messenger server; only the receive thread reads it.
extern Clink_socket g_main_link;
// Signalled after every send on the main connection, so that the receive thread starts reading.
extern Cevent g_recv_event;

int general_command_to_server(int command);
// text must fit the 512-byte builder buffer (at most 492 bytes); a longer text is refused with -1.
int general_str_command_to_server(int command, const char* text);
// At most 1000 body bytes; more (or a negative count) logs and returns -1 without sending.
int general_buf_command_to_server(int command, const void* bytes, int count);

int general_str_command_to_socket(int command, const char* text, Clink_socket* socket);
int general_buf_command_to_socket(int command, const void* bytes, int count, Clink_socket* socket);

// Same as the text builder with a board_num argument (the online-query and relay replies use it).
int general_str_command_with_board_to_socket(int command, int board_num, const char* text,
                                             Clink_socket* socket);
