// Loopback helpers for socket tests: a listener on a port the test owns and a temporary home.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/socket.h"

namespace testsupport {

// A listening socket on address with a kernel-chosen port.
struct listener {
    socket_t fd = -1;
    uint16_t port = 0;
    explicit listener(const char* address = "127.0.0.1") {
        fd = tcp_listen(address, 0, 16);
        struct sockaddr_in sa;
        socklen_t len = sizeof(sa);
        if (fd > 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
            port = ntohs(sa.sin_port);
    }
    ~listener() { close_socket(fd); }
    // Accepts one connection, waiting at most ms. Returns the handle or -1.
    socket_t accept_one(int ms = 5000) const {
        if (wait_readable(fd, ms) <= 0) return -1;
        return accept(fd, nullptr, nullptr);
    }
};

// Reads exactly n bytes from fd within ms (in total). Returns true when all arrived.
inline bool read_exact(socket_t fd, void* out, size_t n, int ms = 5000) {
    size_t got = 0;
    while (got < n) {
        if (wait_readable(fd, ms) <= 0) return false;
        ssize_t r = recv(fd, static_cast<char*>(out) + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

inline bool write_all(socket_t fd, const void* data, size_t n) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = send(fd, static_cast<const char*>(data) + done, n - done, MSG_NOSIGNAL);
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

// A fresh directory under /tmp, removed with its contents when the object goes.
struct temp_dir {
    std::string path;
    temp_dir() {
        char tmpl[] = "/tmp/parlo-test-XXXXXX";
        const char* made = mkdtemp(tmpl);
        path = made ? made : "/tmp";
    }
    ~temp_dir() {
        std::string cmd = "rm -rf '" + path + "'";
        if (path.rfind("/tmp/parlo-test-", 0) == 0) (void)!std::system(cmd.c_str());
    }
};

}  // namespace testsupport
