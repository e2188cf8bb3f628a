// What the peer layer needs from the session: the user's own id, a contact's address and home
// server, the connect-back request through the home server, and the slave-server count.
#pragma once

int peer_my_user_id();
// The contact's address text (at most 20 characters) into out. Returns 0, or -1 for an unknown
// contact.
int peer_contact_address(int contact_id, char* out, int size);
// Asks the peer, through its home server, to connect back (command 380 on a one-shot connection).
// Returns 0 when sent, -1 for an unknown contact or an unreachable home server.
int peer_request_connect_back(int peer_id);
// Signing out closed the connections (peer_mark_signed_out) and no sign-in followed since: the
// process neither accepts nor opens peer connections, so nothing meant for the user reaches it.
bool peer_signed_out();
void peer_mark_signed_out();
// Number of slave-server connections in use.
int peer_slave_socks_in_use();
