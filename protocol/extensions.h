// What this client and the messenger server it signed in to use beyond the base protocol. After
// each sign-in the client announces its extensions (1100); a server that knows them answers with
// its own (1101). An old server ignores the announcement and an old client never sends it, so
// either side falls back to the base protocol without a word. The mask bits are commands.h's
// kExt* values.
//
// Threads: set_extensions_enabled before the first sign-in; the rest from any thread.
#pragma once

// Off (--no-extensions): nothing is announced and no extension is used.
void set_extensions_enabled(bool on);
bool extensions_enabled();
// A sign-in succeeded: forget what the previous server said (the receive thread, on 131).
void extensions_signed_in();
// Sends our mask on the main connection when extensions are on.
void announce_extensions();
// The server's answer (1101): its mask as decimal text.
void server_extensions_received(const char* body, int len);
// Whether both sides announced ext. host: the server that would be spoken to; only the messenger
// server that answered is known to understand the extension, so another host gives false.
bool extension_usable(int ext, const char* host);
