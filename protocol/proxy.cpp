// Proxy tunnelling for Clink_socket: HTTP CONNECT, SOCKS4 and SOCKS5 (no authentication or user
// name and password). Handshake bytes go out unscrambled; replies are read to their fixed sizes.
// A proxy that closes the connection in the middle of a reply ends the handshake with -1.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "protocol/link_socket.h"
#include "protocol/proxy.h"
#include "protocol/settings_store.h"
#include "protocol/texts.h"

namespace {
const char* const kProxySection = "proxy";
constexpr int kMaxStatusLine = 1023;
constexpr int kMaxSocksField = 255;
}  // namespace

// Reads proxy replies byte by byte or to a fixed size, without scrambling.
class proxy_reader {
public:
    explicit proxy_reader(Clink_socket& s) : m_sock(s) {}
    // Exactly n bytes; false when the proxy failed or closed first.
    bool read_exact(unsigned char* out, int n) {
        return m_sock.recv_exact(reinterpret_cast<char*>(out), n, false) > 0;
    }
    // One line up to its line feed (at most max bytes), without the line feed and a carriage
    // return before it. Returns false on a failed read or an over-long line.
    bool read_line(char* out, int max) {
        int n = 0;
        for (;;) {
            unsigned char c;
            if (!read_exact(&c, 1)) return false;
            if (c == '\n') break;
            if (n >= max) return false;
            out[n++] = static_cast<char>(c);
        }
        if (n > 0 && out[n - 1] == '\r') n--;
        out[n] = '\0';
        return true;
    }

    // Consumes one header line of any length up to its line feed; *empty tells whether it held
    // nothing but the line feed or a carriage return and line feed. False on a failed read.
    bool skip_line(bool* empty) {
        int n = 0;
        unsigned char first = 0;
        for (;;) {
            unsigned char c;
            if (!read_exact(&c, 1)) return false;
            if (c == '\n') break;
            if (n == 0) first = c;
            if (n < 2) n++;
        }
        *empty = n == 0 || (n == 1 && first == '\r');
        return true;
    }

private:
    Clink_socket& m_sock;
};

int Clink_socket::load_proxy_settings() {
    // The address is one 32-bit number that does not fit a signed int when its first octet is
    // 128 or more, so it is parsed as a wider number and cut to its low 32 bits (a value stored
    // as a negative int gives the same address).
    char ip_text[24];
    reg_read_int(kProxySection, "use_proxy", &use_proxy);
    reg_read(kProxySection, "proxy_ip", ip_text, sizeof(ip_text));
    reg_read_int(kProxySection, "proxy_port", &proxy_port);
    reg_read_int(kProxySection, "proxy_type", &proxy_type);
    reg_read(kProxySection, "proxy_user_name", proxy_user_name, sizeof(proxy_user_name));
    reg_read(kProxySection, "proxy_password", proxy_password, sizeof(proxy_password));
    uint32_t u = static_cast<uint32_t>(std::strtoll(ip_text, nullptr, 10));
    snprintf(proxy_address, sizeof(proxy_address), "%d.%d.%d.%d", static_cast<int>(u >> 24),
             static_cast<int>((u >> 16) & 0xff), static_cast<int>((u >> 8) & 0xff),
             static_cast<int>(u & 0xff));
    return 0;
}

int Clink_socket::connect_through_proxy() {
    socket_t s = open_connection(proxy_address, static_cast<uint16_t>(proxy_port), true);
    if (s < 0) return -1;
    // Published for closing from other threads, but not yet connected: the handshake replies
    // are this thread's to read.
    connected = 0;
    sock = s;
    int r;
    switch (proxy_type) {
        case 0: r = connect_http_proxy(); break;
        case 1: r = connect_socks4_proxy(); break;
        case 2: r = connect_socks5_proxy(); break;
        default:
            show_user_text(make_text(TXT_PROXY_TYPE_ERROR));
            my_close();
            return -1;
    }
    if (r != 0) {
        my_close();
        return -1;
    }
    set_buffer_sizes();
    set_local_address_from(sock);
    connected = 1;
    return 0;
}

int Clink_socket::connect_http_proxy() {
    // Host names come from servers; one holding blanks or line breaks would add lines of its own
    // to the request, so it is refused.
    if (server_host[std::strcspn(server_host, " \t\r\n")] != '\0') {
        log_line("bad host name for the proxy request in connect_http_proxy\r\n");
        return -1;
    }
    char request[512];
    int len = snprintf(request, sizeof(request), "CONNECT %s:%d HTTP/1.0\r\nHost: %s:%d\r\n\r\n",
                       server_host, server_port, server_host, server_port);
    if (len <= 0 || len >= static_cast<int>(sizeof(request)) || send_raw(request, len) != len) {
        show_user_text(make_text(TXT_PROXY_REQUEST_FAILED));
        return -1;
    }
    proxy_reader reader(*this);
    char line[kMaxStatusLine + 1];
    if (!reader.read_line(line, kMaxStatusLine)) return -1;
    if (std::strncmp(line, "HTTP/", 5) != 0) return -1;
    const char* p = line + 5;
    while ((*p >= '0' && *p <= '9') || *p == '.') p++;
    while (*p == ' ') p++;
    if (*p != '2') return -1;
    // Header lines are skipped whatever their length; only the empty line that ends them matters.
    for (;;) {
        bool empty = false;
        if (!reader.skip_line(&empty)) {
            show_user_text(make_text(TXT_RECEIVE_FAILED));
            return -1;
        }
        if (empty) return 0;
    }
}

int Clink_socket::connect_socks4_proxy() {
    struct in_addr dest;
    if (resolve_ipv4(server_host, &dest) != 0) {
        show_user_text(make_text(TXT_PROXY_RESOLVE_FAILED));
        return -1;
    }
    unsigned char req[15];
    uint16_t port = htons(server_port);
    req[0] = 4;
    req[1] = 1;
    std::memcpy(req + 2, &port, 2);
    std::memcpy(req + 4, &dest.s_addr, 4);
    std::memcpy(req + 8, "Guest\n", 6);
    req[14] = 0;
    if (send_raw(reinterpret_cast<const char*>(req), 15) != 15) {
        show_user_text(make_text(TXT_SOCKS4_WRITE_FAILED));
        return -1;
    }
    unsigned char reply[8];
    if (!proxy_reader(*this).read_exact(reply, 8)) {
        show_user_text(make_text(TXT_SOCKS4_READ_FAILED));
        return -1;
    }
    switch (reply[1]) {
        case 91: show_user_text(make_text(TXT_SOCKS4_REJECTED)); return -1;
        case 92:
            show_user_text(make_text(TXT_SOCKS4_NO_IDENTD));
            return -1;
        case 93:
            show_user_text(make_text(TXT_SOCKS4_IDENTD_MISMATCH));
            return -1;
        default: return 0;
    }
}

int Clink_socket::connect_socks5_proxy() {
    struct in_addr dest;
    if (resolve_ipv4(server_host, &dest) != 0) {
        show_user_text(make_text(TXT_PROXY_RESOLVE_FAILED));
        return -1;
    }
    proxy_reader reader(*this);
    const unsigned char offer[4] = {5, 2, 0, 2};
    if (send_raw(reinterpret_cast<const char*>(offer), 4) != 4) {
        show_user_text(make_text(TXT_SOCKS5_WRITE_FAILED));
        return -1;
    }
    unsigned char answer[2];
    if (!reader.read_exact(answer, 2)) {
        show_user_text(make_text(TXT_SOCKS5_READ_FAILED));
        return -1;
    }
    if (answer[1] == 0xFF) {
        show_user_text(make_text(TXT_SOCKS5_NO_METHOD));
        return -1;
    }
    if (answer[1] == 2) {
        // The fields are fixed-width; a field without a terminator is taken at its full width.
        size_t ulen = strnlen(proxy_user_name, sizeof(proxy_user_name));
        size_t plen = strnlen(proxy_password, sizeof(proxy_password));
        // Each field carries its length in one byte, so longer credentials cannot be sent.
        if (ulen > kMaxSocksField || plen > kMaxSocksField) {
            show_user_text(make_text(TXT_SOCKS5_CREDENTIALS_TOO_LONG));
            return -1;
        }
        unsigned char auth[3 + 2 * kMaxSocksField];
        size_t n = 0;
        auth[n++] = 1;
        auth[n++] = static_cast<unsigned char>(ulen);
        std::memcpy(auth + n, proxy_user_name, ulen);
        n += ulen;
        auth[n++] = static_cast<unsigned char>(plen);
        std::memcpy(auth + n, proxy_password, plen);
        n += plen;
        if (send_raw(reinterpret_cast<const char*>(auth), static_cast<int>(n)) != static_cast<int>(n)) {
            show_user_text(make_text(TXT_SOCKS5_AUTH_WRITE_FAILED));
            return -1;
        }
        if (!reader.read_exact(answer, 2)) {
            show_user_text(make_text(TXT_SOCKS5_AUTH_READ_FAILED));
            return -1;
        }
        if (answer[1] != 0) {
            show_user_text(make_text(TXT_SOCKS5_AUTH_FAILED));
            return -1;
        }
    }
    unsigned char req[10];
    uint16_t port = htons(server_port);
    req[0] = 5;
    req[1] = 1;
    req[2] = 0;
    req[3] = 1;
    std::memcpy(req + 4, &dest.s_addr, 4);
    std::memcpy(req + 8, &port, 2);
    if (send_raw(reinterpret_cast<const char*>(req), 10) != 10) {
        show_user_text(make_text(TXT_SOCKS5_REQUEST_WRITE_FAILED));
        return -1;
    }
    unsigned char reply[10];
    if (!reader.read_exact(reply, 10)) {
        show_user_text(make_text(TXT_SOCKS5_REPLY_READ_FAILED));
        return -1;
    }
    if (reply[1] == 0) return 0;
    static const int kReplyIds[] = {
        TXT_SOCKS5_GENERAL_FAILURE,     TXT_SOCKS5_NOT_ALLOWED,
        TXT_SOCKS5_NETWORK_UNREACHABLE, TXT_SOCKS5_HOST_UNREACHABLE,
        TXT_SOCKS5_CONNECTION_REFUSED,  TXT_SOCKS5_TTL_EXPIRED,
        TXT_SOCKS5_COMMAND_NOT_SUPPORTED, TXT_SOCKS5_ADDRESS_TYPE_NOT_SUPPORTED,
        TXT_SOCKS5_UNASSIGNED};
    if (reply[1] >= 1 && reply[1] <= 9) show_user_text(make_text(kReplyIds[reply[1] - 1]));
    return -1;
}

int save_proxy_settings(int use, int type, const char* address, int port, const char* user_name,
                        const char* password) {
    struct in_addr addr;
    if (inet_pton(AF_INET, address ? address : "", &addr) != 1) return -1;
    uint32_t ip = ntohl(addr.s_addr);
    char text[16];
    snprintf(text, sizeof(text), "%u", ip);
    reg_write(kProxySection, "proxy_ip", text);
    reg_write_int(kProxySection, "proxy_port", port);
    reg_write_int(kProxySection, "proxy_type", type);
    reg_write(kProxySection, "proxy_user_name", user_name ? user_name : "");
    reg_write(kProxySection, "proxy_password", password ? password : "");
    reg_write_int(kProxySection, "use_proxy", use);
    return 0;
}

int disable_proxy() { return reg_write_int(kProxySection, "use_proxy", 0); }

bool proxy_everything() {
    int use = 0;
    reg_read_int(kProxySection, "use_proxy", &use);
    char text[20];
    reg_read(kProxySection, "proxy_everything", text, sizeof(text));
    return use == 1 && (text[0] == '\0' || std::atoi(text) != 0);
}

int save_proxy_everything(bool on) {
    return reg_write_int(kProxySection, "proxy_everything", on ? 1 : 0);
}
