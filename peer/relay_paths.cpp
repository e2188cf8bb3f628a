// The relayed paths (slave servers and server-relayed datagrams) are not built yet: every send
// reports that the peer has no route, so callers fall through to their next path or give up.
#include "peer/file_transfer.h"
#include "peer/peer_commands.h"
#include "peer/peer_session.h"

int general_buf_command_to_peer_through_slave_server(int, int, int, const void*, int) { return -1; }
int general_str_command_to_peer_through_slave_server(int, int, int, const char*) { return -1; }
int send_udp_packet_to_peer_server(int, const void*, int) { return -1; }
int peer_slave_socks_in_use() { return 0; }

// File transfer is not built yet: offers and blocks are read and dropped.
int do_file_transfer_ask_permission_from_peer(const char*, int, int) { return -1; }
int do_file_transfer_begin_from_peer(const char*, int, int) { return -1; }
int do_file_transfer_cont_from_peer(const char*, int, int) { return -1; }
int do_file_transfer_end_from_peer(const char*, int, int) { return -1; }
