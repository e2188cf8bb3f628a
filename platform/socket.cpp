#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/text.h"
#include "platform/tick.h"

namespace {
std::mutex g_bind_mutex;
char g_bind_address[64] = "";

// Moves a handle off 0, which the connection classes reserve for "closed".
socket_t avoid_zero(socket_t s) {
    if (s != 0) return s;
    int moved = fcntl(s, F_DUPFD_CLOEXEC, 1);
    close(s);
    return moved;
}

int bind_local(socket_t s, uint16_t port) {
    char addr[64];
    get_local_bind_address(addr, sizeof(addr));
    if (addr[0] == '\0' && port == 0) return 0;
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (addr[0] != '\0' && inet_pton(AF_INET, addr, &sa.sin_addr) != 1) return -1;
    return bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
}

socket_t new_socket(int type) {
    socket_t s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    s = avoid_zero(s);
    if (s < 0) return -1;
    if (bind_local(s, 0) != 0) {
        int saved = errno;
        close(s);
        errno = saved;
        return -1;
    }
    return s;
}

int wait_for(socket_t sock, short events, int ms) {
    struct pollfd p;
    p.fd = sock;
    p.events = events;
    p.revents = 0;
    int r = poll(&p, 1, ms);
    if (r > 0 && (p.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return r;
}
}  // namespace

int socket_error_from_errno(int err) {
    switch (err) {
        case EINTR: return SOCK_EINTR;
        case EFAULT: return SOCK_EFAULT;
        case EINVAL: return SOCK_EINVAL;
        case EAGAIN: return SOCK_EWOULDBLOCK;
        case EINPROGRESS: return SOCK_EINPROGRESS;
        case EBADF:
        case ENOTSOCK: return SOCK_ENOTSOCK;
        case ENETDOWN: return SOCK_ENETDOWN;
        case ECONNRESET:
        case EPIPE: return SOCK_ECONNRESET;
        case ETIMEDOUT: return SOCK_ETIMEDOUT;
        case ECONNREFUSED: return SOCK_ECONNREFUSED;
        default: return SOCK_EOTHER;
    }
}

int last_socket_error() { return socket_error_from_errno(errno); }

const char* socket_error_format(int code) {
    switch (code) {
        case SOCK_EINTR: return "WSAEINTR in %s sock";
        case SOCK_EFAULT: return "Unable to allocate resource in %s sock";
        case SOCK_EINVAL: return "WSAEINVAL in %s sock";
        case SOCK_EINPROGRESS: return "WSAEINPROGRESS in %s sock";
        case SOCK_ENOTSOCK: return "WSAENOTSOCK in %s sock";
        case SOCK_ENETDOWN: return "Net work down in %s sock.";
        case SOCK_NOTINITIALISED: return "need to call WSAStartup in %s sock";
        default: return "Unknown socket error in %s sock";
    }
}

void set_local_bind_address(const char* dotted) {
    std::lock_guard<std::mutex> lk(g_bind_mutex);
    copy_text(g_bind_address, dotted ? dotted : "");
}

void get_local_bind_address(char* out, int size) {
    std::lock_guard<std::mutex> lk(g_bind_mutex);
    copy_text(out, static_cast<size_t>(size), g_bind_address);
}

socket_t tcp_socket() {
    socket_t s = new_socket(SOCK_STREAM);
    if (s > 0) set_no_delay(s);
    return s;
}

int set_no_delay(socket_t sock) {
    int one = 1;
    return setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}
socket_t udp_socket() { return new_socket(SOCK_DGRAM); }

int resolve_ipv4(const char* host, struct in_addr* out) {
    if (!host || !*host) return -1;
    if (inet_pton(AF_INET, host, out) == 1) return 0;
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return -1;
    *out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return 0;
}

int connect_ipv4(socket_t sock, struct in_addr addr, uint16_t port) {
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = addr;
    // A host that never answers must not hold the caller for the kernel's two-minute SYN
    // retries: the connect gives up after 10 s (Linux applies the send time-out to connect).
    struct timeval limit = {10, 0};
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    int r;
    do {
        r = connect(sock, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    } while (r != 0 && errno == EINTR);
    struct timeval none = {0, 0};
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof(none));
    return r == 0 ? 0 : -1;
}

socket_t tcp_listen(const char* address, uint16_t port, int backlog) {
    socket_t s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    s = avoid_zero(s);
    if (s < 0) return -1;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    char local[64];
    if (address && *address)
        copy_text(local, address);
    else
        get_local_bind_address(local, sizeof(local));
    if (local[0] != '\0' && inet_pton(AF_INET, local, &sa.sin_addr) != 1) {
        close(s);
        return -1;
    }
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(s, backlog) != 0) {
        int saved = errno;
        close(s);
        errno = saved;
        return -1;
    }
    return s;
}

int local_address_of(socket_t sock, char* out, int size) {
    struct sockaddr_in sa;
    socklen_t len = sizeof(sa);
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
    return inet_ntop(AF_INET, &sa.sin_addr, out, static_cast<socklen_t>(size)) ? 0 : -1;
}

int peer_address_of(socket_t sock, char* out, int size, uint16_t* port) {
    struct sockaddr_in sa;
    socklen_t len = sizeof(sa);
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
    if (port) *port = ntohs(sa.sin_port);
    return inet_ntop(AF_INET, &sa.sin_addr, out, static_cast<socklen_t>(size)) ? 0 : -1;
}

int wait_readable(socket_t sock, int ms) { return wait_for(sock, POLLIN, ms); }
int wait_writable(socket_t sock, int ms) { return wait_for(sock, POLLOUT, ms); }

bool peer_has_closed(socket_t sock) {
    if (sock <= 0) return true;
    struct pollfd p{sock, POLLRDHUP, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void shutdown_socket(socket_t sock) {
    if (sock > 0) shutdown(sock, SHUT_RDWR);
}

void close_socket(socket_t sock) {
    if (sock <= 0) return;
    // shutdown first: it wakes any thread blocked on this socket, which close alone does not.
    shutdown(sock, SHUT_RDWR);
    close(sock);
}

long send_bytes(socket_t sock, const void* data, long len) {
    ssize_t r;
    do {
        r = send(sock, data, static_cast<size_t>(len), MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

long recv_bytes(socket_t sock, void* data, long len) {
    ssize_t r;
    do {
        r = recv(sock, data, static_cast<size_t>(len), 0);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

int set_socket_buffers(socket_t sock, int bytes) {
    int r1 = setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    int r2 = setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
    return (r1 == 0 && r2 == 0) ? 0 : -1;
}

accept_result accept_ready(socket_t listener, int ms, socket_t* out) {
    *out = -1;
    struct pollfd fds[1] = {{listener, POLLIN, 0}};
    int r = poll(fds, 1, ms);
    if (r == 0) return accept_result::nothing;
    socket_t s = r > 0 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (s < 0) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
            sleep_ms(10);
            return accept_result::nothing;
        }
        return accept_result::failed;
    }
    if (s == 0) {
        socket_t moved = fcntl(s, F_DUPFD_CLOEXEC, 1);
        ::close(s);
        if (moved < 0) return accept_result::nothing;
        s = moved;
    }
    *out = s;
    return accept_result::accepted;
}
