// File transfer between two clients: the offer (370), the answer (371/372) and the stream
// (373 name, 374 blocks of at most 1000 bytes, 375 end).
#pragma once

int do_file_transfer_ask_permission_from_peer(const char* body, int len, int peer_id);
int do_file_transfer_begin_from_peer(const char* body, int len, int peer_id);
int do_file_transfer_cont_from_peer(const char* body, int len, int peer_id);
int do_file_transfer_end_from_peer(const char* body, int len, int peer_id);
