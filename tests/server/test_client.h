// A raw protocol client for the server tests: blocking loopback socket, framed and scrambled
// messages, reads with a time-out.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/framing.h"

namespace srvtest {

struct Msg {
    int session = 0;
    int board = 0;
    int command = -1;  // -1: nothing arrived in time
    std::string body;
};

class RawClient {
public:
    RawClient() = default;
    RawClient(const std::string& host, int port) { connect_to(host, port); }
    ~RawClient() { close_socket(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // bind_address: the local address to connect from (empty: the system's choice).
    bool connect_to(const std::string& host, int port, const std::string& bind_address = "") {
        close_socket();
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (!bind_address.empty()) {
            sockaddr_in b{};
            b.sin_family = AF_INET;
            inet_pton(AF_INET, bind_address.c_str(), &b.sin_addr);
            if (::bind(m_fd, reinterpret_cast<sockaddr*>(&b), sizeof b) != 0) {
                close_socket();
                return false;
            }
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &a.sin_addr);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close_socket();
            return false;
        }
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
    }
    bool connected() const { return m_fd >= 0; }
    void close_socket() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        m_buf.clear();
    }

    bool send_raw(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }
    static std::string frame(int command, const std::string& body = {}, int board = 0) {
        std::string out(kHeaderLen + body.size(), '\0');
        build_message(out.data(), static_cast<int>(out.size()), 0, board, command, body.data(),
                      static_cast<int>(body.size()));
        xor_scramble(out.data() + kHeaderLen, static_cast<long>(body.size()));
        return out;
    }
    bool send(int command, const std::string& body = {}, int board = 0) {
        return send_raw(frame(command, body, board));
    }

    // Next message, or command -1 after timeout_ms without one (or when the server closed).
    Msg recv(int timeout_ms = 3000) {
        Msg m;
        for (;;) {
            if (m_buf.size() >= static_cast<size_t>(kHeaderLen)) {
                msg_header h;
                if (parse_header(m_buf.data(), &h) == 0 && h.len >= 0 &&
                    m_buf.size() >= static_cast<size_t>(kHeaderLen + h.len)) {
                    m.session = h.session;
                    m.board = h.board_num;
                    m.command = h.command;
                    m.body = m_buf.substr(kHeaderLen, static_cast<size_t>(h.len));
                    xor_scramble(m.body.data(), h.len);
                    m_buf.erase(0, kHeaderLen + static_cast<size_t>(h.len));
                    return m;
                }
            }
            if (!fill(timeout_ms)) return m;
        }
    }
    // True when the server closed the connection within timeout_ms (pending messages skipped).
    bool closed_by_server(int timeout_ms = 3000) {
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeout_ms) <= 0) return false;
            char tmp[4096];
            ssize_t n = ::recv(m_fd, tmp, sizeof tmp, 0);
            if (n <= 0) return true;
        }
    }
    // Reads messages until `command` arrives; returns everything read, the last one included.
    std::vector<Msg> until(int command, int timeout_ms = 3000) {
        std::vector<Msg> out;
        for (;;) {
            Msg m = recv(timeout_ms);
            if (m.command == -1) return out;
            out.push_back(m);
            if (m.command == command) return out;
        }
    }
    // True when nothing arrives within timeout_ms.
    bool quiet(int timeout_ms = 300) { return recv(timeout_ms).command == -1; }

private:
    bool fill(int timeout_ms) {
        pollfd p{m_fd, POLLIN, 0};
        if (m_fd < 0 || ::poll(&p, 1, timeout_ms) <= 0) return false;
        char tmp[8192];
        ssize_t n = ::recv(m_fd, tmp, sizeof tmp, 0);
        if (n <= 0) return false;
        m_buf.append(tmp, static_cast<size_t>(n));
        return true;
    }

    int m_fd = -1;
    std::string m_buf;
};

inline std::string f10(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%10d", v);
    return b;
}

// The 512-byte registration record.
inline std::string register_record(const std::string& email, const std::string& password,
                                   const std::string& first, const std::string& last,
                                   const std::string& nick, const std::string& phone = "",
                                   const std::string& country = "") {
    std::string r(512, '\0');
    auto put = [&](size_t off, size_t width, const std::string& s) {
        std::memcpy(r.data() + off, s.data(), s.size() < width ? s.size() : width);
        r[off + width] = ':';
    };
    put(0, 127, email);
    put(128, 63, password);
    put(192, 31, first);
    put(224, 31, last);
    put(256, 127, nick);
    put(384, 63, phone);
    put(448, 63, country);
    return r;
}

}  // namespace srvtest
