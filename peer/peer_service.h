// Starts and stops the peer layer as one service: the direct-connection threads, and the
// handlers through which the session's receive loop and housekeeping reach the peer layer
// (connect requests 381, connecting to contacts that come online).
#pragma once

// Returns 0, or -1 when the peer listener could not be opened (outgoing connections still work).
// listen false: no listener on 8188 (a client that peers cannot reach).
int start_peer_networking(bool listen = true);
void stop_peer_networking();
