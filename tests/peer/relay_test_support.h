// Helpers for the relayed-path tests: outer-header messages on raw loopback sockets, a UDP stand-in
// for a home server, and a fixture with a private home, its own loopback address and a recorder.
#pragma once
#include <arpa/inet.h>
#include <sys/socket.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "peer/slave_header.h"
#include "peer_test_support.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace relaytest {
using testsupport::wait_until;

// A framed peer command in plain text (header and body, nothing scrambled).
inline std::string framed(int command, const std::string& body, int board = 0) {
    std::string msg(kHeaderLen + body.size(), '\0');
    build_message(msg.data(), static_cast<int>(msg.size()), 0, board, command, body.data(),
                  static_cast<int>(body.size()));
    return msg;
}

inline std::string outer(int tick, int first, int second, int len) {
    char h[kOuterHeaderLen + 1];
    build_outer_header(h, tick, first, second, len);
    return std::string(h, kOuterHeaderLen);
}

// Sends an outer header and its payload, scrambled as one unit as every sender does.
inline bool send_outer(socket_t fd, int tick, int first, int second, const std::string& payload) {
    std::string p = payload;
    xor_scramble(p.data(), static_cast<long>(p.size()));
    std::string msg = outer(tick, first, second, static_cast<int>(payload.size())) + p;
    return testsupport::write_all(fd, msg.data(), msg.size());
}

struct outer_msg {
    outer_header h;
    std::string header;   // the 46 characters
    std::string payload;  // unscrambled
};

inline bool read_outer(socket_t fd, outer_msg* out, int ms = 5000) {
    char h[kOuterHeaderLen + 1] = {};
    if (!testsupport::read_exact(fd, h, kOuterHeaderLen, ms)) return false;
    if (check_outer_header(h) >= 0) return false;
    out->header.assign(h, kOuterHeaderLen);
    parse_outer_header(h, &out->h);
    out->payload.assign(static_cast<size_t>(out->h.payload_len), '\0');
    if (out->h.payload_len > 0 &&
        !testsupport::read_exact(fd, out->payload.data(), out->payload.size(), ms))
        return false;
    xor_scramble(out->payload.data(), static_cast<long>(out->payload.size()));
    return true;
}

// Reads outer messages until one whose payload carries the command (registration frames and
// other commands are skipped).
inline bool expect_outer(socket_t fd, int command, outer_msg* out, int ms = 5000) {
    while (read_outer(fd, out, ms)) {
        msg_header mh;
        if (out->payload.size() >= static_cast<size_t>(kHeaderLen) &&
            parse_header(out->payload.data(), &mh) == 0 && mh.command == command)
            return true;
    }
    return false;
}

// A UDP socket on address:port that stands in for a home server.
struct udp_server {
    socket_t fd = -1;
    udp_server(const char* address, uint16_t port) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_in sa;
        std::memset(&sa, 0, sizeof(sa));
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address, &sa.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~udp_server() {
        if (fd >= 0) ::close(fd);
    }
    // One datagram within ms, with the sender's address for a reply.
    bool recv(std::string* out, int ms, sockaddr_in* from = nullptr) {
        if (wait_readable(fd, ms) <= 0) return false;
        char buf[4096];
        sockaddr_in sa;
        socklen_t len = sizeof(sa);
        ssize_t r = recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&sa), &len);
        if (r < 0) return false;
        out->assign(buf, static_cast<size_t>(r));
        if (from) *from = sa;
        return true;
    }
    void reply(const sockaddr_in& to, const std::string& bytes) {
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }
};


// Private home with the debug log, the test's own bind address, our id, clean tables and a main
// window that records notifications and opens chat windows.
class relay_fixture : public ::testing::Test {
protected:
    void begin(const char* address, int my_id) {
        set_home_dir(home.path);
        ASSERT_EQ(open_debug_log(), 0);
        set_local_bind_address(address);
        clear_all_tables();
        g_user_id = my_id;
        g_main_dlg = &main;
    }
    void TearDown() override {
        g_main_dlg = nullptr;
        for (chat_window* w : take_all_chat_dlgs()) (void)w;
        set_tick_source(nullptr);
        set_local_bind_address("");
        close_debug_log();
        set_home_dir("");
    }
    std::string log_text() {
        std::ifstream f(home.path + "/dbg_log.txt");
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    bool logged(const std::string& text) { return log_text().find(text) != std::string::npos; }
    void add_contact(int id, const char* home_server) {
        add_one_contact(id, 0, "peer");
        tables_guard lk(tables_mutex());
        int i = get_contact_index(id);
        ASSERT_GE(i, 0);
        copy_text(g_contact[i].home_server, home_server);
    }
    testsupport::temp_dir home;
    peertest::recorder rec;
    peertest::test_main main{&rec};
};

}  // namespace relaytest
