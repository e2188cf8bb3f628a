// Drives the proxy handshakes with whatever a proxy could answer: an HTTP CONNECT status line and
// header lines, a SOCKS4 reply, or SOCKS5 method, authentication and connect replies. The proxy
// end is a socket pair that holds the reply and then closes, so every handshake ends. The SOCKS
// outcomes follow from the reply bytes alone and are checked against them.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/message_box.h"
#include "platform/text.h"
#include "protocol/link_socket.h"

namespace {

class quiet_boxes : public message_box_handler {
public:
    void show_message(const char*) override {}
    int ask_yes_no(const char*) override { return ANSWER_NO; }
    int ask_yes_no_cancel(const char*) override { return ANSWER_CANCEL; }
};

bool write_all(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

int expected_socks4(const uint8_t* r, size_t n) {
    if (n < 8) return -1;
    return r[1] >= 91 && r[1] <= 93 ? -1 : 0;
}

int expected_socks5(const uint8_t* r, size_t n) {
    if (n < 2 || r[1] == 0xFF) return -1;
    size_t at = 2;
    if (r[1] == 2) {  // user name and password: one more two-byte answer
        if (n < at + 2 || r[at + 1] != 0) return -1;
        at += 2;
    }
    if (n < at + 10) return -1;
    return r[at + 1] == 0 ? 0 : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static quiet_boxes boxes;
    static bool installed = (set_message_box_handler(&boxes), true);
    (void)installed;
    if (size < 1) return 0;
    int type = data[0] % 3;
    const uint8_t* reply = data + 1;
    size_t n = size - 1;

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    // The whole reply is waiting, then the proxy closes its sending side.
    if (!write_all(fds[1], reply, n) || shutdown(fds[1], SHUT_WR) != 0) std::abort();

    Clink_socket link;
    copy_text(link.server_host, "127.0.0.1");
    link.server_port = 9015;
    copy_text(link.proxy_user_name, (data[0] & 4) ? "user" : "");
    copy_text(link.proxy_password, (data[0] & 4) ? "secret" : "");
    link.sock = fds[0];
    int r;
    switch (type) {
        case 0: r = link.connect_http_proxy(); break;
        case 1:
            r = link.connect_socks4_proxy();
            if (r != expected_socks4(reply, n)) std::abort();
            break;
        default:
            r = link.connect_socks5_proxy();
            if (r != expected_socks5(reply, n)) std::abort();
            break;
    }
    if (r != 0 && r != -1) std::abort();
    // An accepted CONNECT reply starts with a 2xx status line.
    if (type == 0 && r == 0 && (n < 9 || std::memcmp(reply, "HTTP/", 5) != 0)) std::abort();
    link.my_close();
    close(fds[1]);
    return 0;
}
