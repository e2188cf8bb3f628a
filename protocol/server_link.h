// The main server connection and the message builders that send on it or on another server
// connection. Each builder formats the header and copies the body behind it. A message for the
// main connection goes on its send queue and the builder returns at once; the queue's writer
// thread, the only thread that writes the main connection, sends it with send_with_reconnect and
// then wakes the receive thread. A message for another connection is sent by the calling thread,
// which owns that connection.
#pragma once
#include "platform/sync.h"
#include "protocol/link_socket.h"

// The long-lived connection to the messenger server; only the receive thread reads it.
extern Clink_socket g_main_link;
// Signalled after every send on the main connection, so that the receive thread starts reading.
extern Cevent g_recv_event;

// Messages the main connection's queue may hold; past it a message is refused (logged, -1): a
// server that reads nothing for this long is lost anyway, and memory must not grow without end.
constexpr size_t kMainQueueBytes = 1024 * 1024;
// Waits up to ms until every message queued on the main connection was written (or given up).
// For a message that must be out before the connection is closed (sign-out). True when idle.
bool main_link_flush(int ms);
// Stops and joins the writer; what is still queued is dropped. A later message starts it again.
void main_link_writer_stop();

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
