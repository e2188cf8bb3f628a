// BSD sockets in the shape the connection classes expect: handles are ints, 0 means "no socket",
// failures are reported as Winsock-style error codes so that one error table serves every caller.
#pragma once
#include <netinet/in.h>

#include <cstdint>

using socket_t = int;

// Winsock error codes that the log texts distinguish; last_socket_error maps errno onto them.
enum {
    SOCK_EINTR = 10004,
    SOCK_EFAULT = 10014,
    SOCK_EINVAL = 10022,
    SOCK_EWOULDBLOCK = 10035,
    SOCK_EINPROGRESS = 10036,
    SOCK_ENOTSOCK = 10038,
    SOCK_ENETDOWN = 10050,
    SOCK_ECONNRESET = 10054,
    SOCK_ETIMEDOUT = 10060,
    SOCK_ECONNREFUSED = 10061,
    SOCK_NOTINITIALISED = 10093,
    SOCK_EOTHER = 10000,
};

// The Winsock-style code of the calling thread's last socket failure.
int last_socket_error();
int socket_error_from_errno(int err);

// The log text for an error code, with one %s for the connection name.
const char* socket_error_format(int code);

// Local address that every outgoing and listening socket binds to (empty: any address). Several
// clients share one machine by binding to their own loopback addresses (127.0.0.2, ...).
void set_local_bind_address(const char* dotted);
// Copies the local bind address into out (at least 64 bytes); empty when none is set.
void get_local_bind_address(char* out, int size);

// A new IPv4 TCP socket (never handle 0, no send delay), bound to the local bind address when
// one is set.
// Returns the handle or -1.
socket_t tcp_socket();
// A new IPv4 UDP socket bound like tcp_socket (port 0). Returns the handle or -1.
socket_t udp_socket();

// Resolves a host name or dotted address to its first IPv4 address. Returns 0 or -1.
int resolve_ipv4(const char* host, struct in_addr* out);

// Connects sock to host:port (already resolved). Returns 0 or -1.
int connect_ipv4(socket_t sock, struct in_addr addr, uint16_t port);

// A listening TCP socket on address:port (empty address: the local bind address or any).
// Returns the handle or -1.
socket_t tcp_listen(const char* address, uint16_t port, int backlog);

// What one accept_ready call came to.
enum class accept_result { accepted, nothing, failed };

// Waits at most ms for a connection on listener and accepts it, close-on-exec and never as handle
// 0 (slot tables use 0 for "no socket"). nothing: the wait ended empty, or the accept failed for a
// passing reason (interrupted, aborted by the client, out of descriptors for now), after a short
// pause. failed: the listener is unusable (or was shut down to stop its thread).
accept_result accept_ready(socket_t listener, int ms, socket_t* out);

// Dotted local address of a connected socket into out (at least 16 bytes). Returns 0 or -1.
int local_address_of(socket_t sock, char* out, int size);
int peer_address_of(socket_t sock, char* out, int size, uint16_t* port);

// Waits at most ms milliseconds. Returns 1 when ready, 0 on time-out, negative on failure.
int wait_readable(socket_t sock, int ms);
int wait_writable(socket_t sock, int ms);

// True when the other side has closed or reset the connection (seen without waiting). A send on
// such a socket is still accepted by the system and then lost, so a sender that can take another
// way asks first.
bool peer_has_closed(socket_t sock);

// Closes a handle (0 and negative handles are ignored).
void close_socket(socket_t sock);
// Ends both directions of a connection without closing the handle: every thread blocked on it
// wakes with an error or end of stream.
void shutdown_socket(socket_t sock);

// Sends without raising SIGPIPE. Returns the count or -1.
long send_bytes(socket_t sock, const void* data, long len);
long recv_bytes(socket_t sock, void* data, long len);

int set_socket_buffers(socket_t sock, int bytes);

// Sends every message at once instead of holding small writes back while earlier bytes are
// unacknowledged: a chat line, an echo or a relayed message is one small write each.
int set_no_delay(socket_t sock);
