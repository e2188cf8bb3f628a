// Slave servers: framing and limits of the senders, the reader's checks, routes and their
// discovery, and the keep-alive passes, against scripted slave and home servers on loopback.
#include <string>

#include <algorithm>

#include "peer/peer_session.h"
#include "peer/slave_server.h"
#include "protocol/server_link.h"
#include "relay_test_support.h"
#include "tests/support/loopback.h"

using namespace relaytest;
using testsupport::listener;

namespace {
constexpr int kMe = 7001;

class SlaveTest : public relay_fixture {
protected:
    void start(const char* address) {
        begin(address, kMe);
        clear_slave_tables();
        start_slave_service();
    }
    void TearDown() override {
        stop_slave_service();
        clear_slave_tables();
        relay_fixture::TearDown();
    }
    // A slave server on address that this client is connected to (the accepted end).
    socket_t connected_slave(listener& server, const char* address) {
        EXPECT_EQ(connect_to_slave_server(address, server.port), 0);
        socket_t fd = server.accept_one();
        EXPECT_GT(fd, 0);
        EXPECT_TRUE(wait_until([&] { return find_slave_server_index(address) >= 0; }));
        return fd;
    }
    int route_idle(int peer_id) {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        for (const auto& r : g_peer_slave_servers)
            if (r.in_use && r.peer_id == peer_id) return r.idle_count;
        return -1;
    }
};

std::string route_text(int id, int p1, int p2, int p3, const char* address) {
    char b[256];
    std::snprintf(b, sizeof(b), "%10d:%6d:%6d:%6d:%s", id, p1, p2, p3, address);
    return b;
}
}  // namespace

TEST_F(SlaveTest, SendersFrameTheCommandAndKeepTheirLimits) {
    const char* addr = testsupport::loopback_host(11);
    start(addr);
    listener server(addr);
    socket_t fd = connected_slave(server, addr);
    char frame[kOuterHeaderLen + 1] = {};
    ASSERT_TRUE(testsupport::read_exact(fd, frame, kOuterHeaderLen));
    EXPECT_EQ(std::string(frame), "           0:      7001:         0:         0:")
        << "registered as soon as connected";
    EXPECT_EQ(general_str_command_to_peer_through_slave_server(501, 410, 0, ""), -1);
    EXPECT_TRUE(logged("could not find peer slave sock, peer_id:501"));
    ASSERT_EQ(add_peer_slave_server(501, addr), 0);

    std::string text(1000, 't');
    ASSERT_EQ(general_str_command_to_peer_through_slave_server(501, 210, 3, text.c_str()), 0);
    outer_msg m;
    ASSERT_TRUE(read_outer(fd, &m));
    EXPECT_EQ(kOuterHeaderLen + m.payload.size(), 1066u)
        << "a 1000-byte text is a 1066-byte message";
    EXPECT_EQ(m.h.first_id, kMe);
    EXPECT_EQ(m.h.second_id, 501);
    EXPECT_EQ(m.h.payload_len, 1020);
    EXPECT_NE(m.h.send_tick, 0);
    EXPECT_EQ(m.payload.substr(0, kHeaderLen), "   0:   3: 210:1000:");
    EXPECT_EQ(m.payload.substr(kHeaderLen), text);

    std::string too_long(1001, 't');
    EXPECT_EQ(general_str_command_to_peer_through_slave_server(501, 210, 0, too_long.c_str()), -1);
    EXPECT_TRUE(logged("string length > 1000 in general_str_command_to_peer_through_slave_server"));
    std::string bytes(1201, 'b');
    EXPECT_EQ(general_buf_command_to_peer_through_slave_server(501, 374, 0, bytes.data(), 1201),
              -1);
    EXPECT_EQ(general_buf_to_peer_through_slave_server(501, bytes.data(), 1201), -1);
    EXPECT_TRUE(logged("buf length > 1200 in general_buf_to_peer_through_slave_server"));

    ASSERT_EQ(general_buf_command_to_peer_through_slave_server(501, 374, 0, bytes.data(), 1200), 0);
    ASSERT_TRUE(read_outer(fd, &m));
    EXPECT_EQ(m.h.payload_len, 1220);
    std::string relayed = framed(410, "");
    ASSERT_EQ(general_buf_to_peer_through_slave_server(501, relayed.data(), 20), 0);
    ASSERT_TRUE(read_outer(fd, &m));
    EXPECT_EQ(m.payload, relayed) << "an already framed command travels unchanged";
    EXPECT_EQ(wait_readable(fd, 100), 0) << "nothing was sent for the refused texts";
    // The relay goes: a line sent the moment after is refused (so the caller takes its next way),
    // whether or not the reader has seen the close yet, never swallowed.
    close_socket(fd);
    EXPECT_EQ(general_str_command_to_peer_through_slave_server(501, 210, 0, "after"), -1);
}

TEST_F(SlaveTest, ReaderRejectsBadHeadersAndDropsWhatExceedsTheCap) {
    const char* addr = testsupport::loopback_host(12);
    start(addr);
    listener server(addr);
    socket_t fd = connected_slave(server, addr);

    std::string bad = outer(5, 601, kMe, 20);
    bad[20] = '-';
    // The reader throws away what one receive returns after a bad header: here the junk behind it.
    std::string junk = bad + "junk";
    ASSERT_TRUE(testsupport::write_all(fd, junk.data(), junk.size()));
    ASSERT_TRUE(wait_until(
        [&] { return logged("g_peer_indirect_one_client_thread command format error at:20."); }));
    // What follows goes once the reader has taken the junk behind the bad header.
    int slot = find_slave_server_index(addr);
    ASSERT_GE(slot, 0);
    ASSERT_TRUE(wait_until([&] {
        return logged("content is:" + bad + ".") && testsupport::unread_bytes(g_slave_socks[slot].sock) == 0;
    }));

    // 3000 announced: a knock in the first 2000 bytes, then 1000 bytes that must not be taken
    // for the next header.
    std::string payload = framed(410, "") + std::string(1980, 'x') + std::string(1000, ':');
    ASSERT_TRUE(send_outer(fd, 6, 601, kMe, payload));
    ASSERT_TRUE(send_outer(fd, 7, 602, kMe, framed(410, "")));
    ASSERT_TRUE(wait_until([&] { return rec.count(48) == 2; }));
    EXPECT_TRUE(logged("payload_len:3000 > 2000"));
    size_t first = log_text().find("command format error");
    EXPECT_EQ(log_text().find("command format error", first + 1), std::string::npos)
        << "the excess was not parsed as a header";

    // A payload whose command claims more than the payload holds is not dispatched.
    ASSERT_TRUE(send_outer(fd, 8, 603, kMe, framed(410, "").replace(15, 4, "  50")));
    ASSERT_TRUE(send_outer(fd, 9, 604, kMe, framed(410, "")));
    ASSERT_TRUE(wait_until([&] { return rec.count(48) == 3; }));
    peertest::note n;
    EXPECT_TRUE(rec.wait_for(48, &n));
    EXPECT_EQ(n.w, 601);
    close_socket(fd);
}

TEST_F(SlaveTest, ChatThroughTheSlaveServerIsEchoedTheSameWay) {
    const char* addr = testsupport::loopback_host(13);
    start(addr);
    listener server(addr);
    socket_t fd = connected_slave(server, addr);
    ASSERT_EQ(add_peer_slave_server(610, addr), 0);
    add_one_contact(610, 0, "Ann");
    std::string body = std::string("Ann:hi", 6) + '\0' + std::string("\x01\x02\x03\x0a\x00", 5);
    ASSERT_TRUE(send_outer(fd, 11, 610, kMe, framed(210, body)));
    outer_msg echo;
    ASSERT_TRUE(expect_outer(fd, 211, &echo));
    EXPECT_EQ(echo.h.first_id, kMe);
    EXPECT_EQ(echo.h.second_id, 610);
    EXPECT_EQ(echo.payload.substr(kHeaderLen), body);
    peertest::note shown;
    ASSERT_TRUE(rec.wait_for(7, &shown));
    EXPECT_EQ(shown.body, body);

    // Without a direct connection, our own chat text goes through the slave server.
    const unsigned char attrs[5] = {0, 0, 0, 10, 0};
    EXPECT_EQ(send_chat_text(610, "Me", "hello", attrs), 0);
    outer_msg sent;
    ASSERT_TRUE(expect_outer(fd, 210, &sent));
    EXPECT_EQ(sent.payload.substr(kHeaderLen, 8), "Me:hello");
    EXPECT_EQ(OnContactKnockPeer(610), 0);
    EXPECT_TRUE(expect_outer(fd, 410, &sent));
    close_socket(fd);
}

TEST_F(SlaveTest, RoutesFromAnnouncementsAreAddedOnceAndConnectOnTheFirstUsablePort) {
    const char* addr = testsupport::loopback_host(14);
    start(addr);
    listener server(addr);
    std::string info = route_text(620, 0, server.port, 0, addr);
    ASSERT_EQ(do_peer_slave_server_info_from_server(info.c_str(), static_cast<int>(info.size())),
              0);
    socket_t fd = server.accept_one();
    EXPECT_GT(fd, 0) << "the first port is 0, so the second one is used";
    ASSERT_EQ(do_peer_slave_server_info_from_server(info.c_str(), static_cast<int>(info.size())),
              0);
    EXPECT_EQ(peer_slave_routes_in_use(), 1) << "the same peer and address make one route";
    ASSERT_TRUE(wait_until([&] { return find_peer_slave_sock(620) >= 0; }));
    EXPECT_EQ(peer_slave_socks_in_use(), 1);

    std::string empty = route_text(621, 0, 0, 0, "");
    ASSERT_EQ(do_peer_slave_server_info_from_server(empty.c_str(), static_cast<int>(empty.size())),
              0);
    EXPECT_EQ(peer_slave_routes_in_use(), 2) << "a route without an address is still recorded";
    EXPECT_EQ(find_peer_slave_sock(621), -1);
    slave_job_group().wait(5000);
    EXPECT_EQ(peer_slave_socks_in_use(), 1) << "and nothing is connected for it";
    close_socket(fd);
}

TEST_F(SlaveTest, RoutesAgeOutUnlessRefreshedAndKeepAliveSendsRefreshes) {
    const char* addr = testsupport::loopback_host(15);
    start(addr);
    listener server(addr);
    socket_t fd = connected_slave(server, addr);
    ASSERT_EQ(add_peer_slave_server(630, addr), 0);
    for (int pass = 0; pass < 5; pass++) route_keepalive_pass();
    EXPECT_EQ(route_idle(630), 5);
    outer_msg m;
    ASSERT_TRUE(expect_outer(fd, 1002, &m));
    EXPECT_EQ(m.h.second_id, 630);

    // A 1002 from the peer over this slave server makes the route fresh again.
    ASSERT_TRUE(send_outer(fd, 12, 630, kMe, framed(1002, "")));
    ASSERT_TRUE(wait_until([&] { return route_idle(630) == 0; }));
    for (int pass = 0; pass < 6; pass++) route_keepalive_pass();
    EXPECT_EQ(route_idle(630), 6) << "six passes are tolerated";
    route_keepalive_pass();
    EXPECT_EQ(route_idle(630), -1) << "the seventh drops the route";
    close_socket(fd);
}

TEST_F(SlaveTest, ARouteToAnOnlineContactLivesWithItsConnection) {
    const char* addr = testsupport::loopback_host(18);
    start(addr);
    listener server(addr);
    socket_t fd = connected_slave(server, addr);
    // The contact's keep-alives come through another relay: none refreshes this route.
    ASSERT_GE(add_one_contact(632, 0, "far"), 0);
    {
        tables_guard lk(tables_mutex());
        g_contact[get_contact_index(632)].presence = PS_ONLINE;
    }
    ASSERT_EQ(add_peer_slave_server(632, addr), 0);
    for (int pass = 0; pass < 10; pass++) route_keepalive_pass();
    EXPECT_EQ(find_peer_slave_sock(632), find_slave_server_index(addr));
    // Offline, it ages out as any other.
    {
        tables_guard lk(tables_mutex());
        g_contact[get_contact_index(632)].presence = PS_OFFLINE;
    }
    for (int pass = 0; pass < 7; pass++) route_keepalive_pass();
    EXPECT_EQ(route_idle(632), -1);
    {
        tables_guard lk(tables_mutex());
        reset_one_contact(get_contact_index(632));
    }
    close_socket(fd);
}

TEST_F(SlaveTest, RegistrationFramesAndAFailedRegistrationRemovesThatServersRoutes) {
    const char* addr = testsupport::loopback_host(16);
    start(addr);
    listener server(addr);
    socket_t fd = connected_slave(server, addr);
    char frame[kOuterHeaderLen + 1] = {};
    ASSERT_TRUE(testsupport::read_exact(fd, frame, kOuterHeaderLen));
    // A second slave server that does not answer keeps no slot, and routes through it are none.
    ASSERT_EQ(connect_to_slave_server(testsupport::loopback_host(17), 1), 0);
    EXPECT_EQ(peer_slave_socks_in_use(), 1);
    EXPECT_EQ(find_slave_server_index(testsupport::loopback_host(17)), -1);
    ASSERT_EQ(add_peer_slave_server(640, testsupport::loopback_host(17)), 0);
    ASSERT_EQ(add_peer_slave_server(641, testsupport::loopback_host(17)), 0);
    ASSERT_EQ(add_peer_slave_server(641, addr), 0);
    EXPECT_EQ(find_peer_slave_sock(640), -1);
    EXPECT_EQ(find_peer_slave_sock(641), find_slave_server_index(addr)) << "the peer's next route";
    EXPECT_EQ(general_str_command_to_peer_through_slave_server(640, 410, 0, ""), -1);

    slave_keepalive_pass();
    ASSERT_TRUE(testsupport::read_exact(fd, frame, kOuterHeaderLen));
    EXPECT_EQ(std::string(frame), "           0:      7001:         0:         0:");

    // The live server goes away: the next send fails, and its routes go with it.
    close_socket(fd);
    EXPECT_TRUE(wait_until([&] {
        return general_str_command_to_peer_through_slave_server(641, 410, 0, "") == -1 &&
               find_peer_slave_sock(641) == -1;
    }));
}

TEST_F(SlaveTest, TablesRefuseWhenFull) {
    const char* addr = testsupport::loopback_host(18);
    start(addr);
    for (int i = 0; i < kRouteSlots; i++) ASSERT_EQ(add_peer_slave_server(10000 + i, "x"), 0);
    EXPECT_EQ(add_peer_slave_server(99, "x"), -1);
    EXPECT_TRUE(
        logged("could not find a vacant place to put peer in add_peer_slave_server. peer_id:99"));
    {
        std::lock_guard<std::mutex> lk(g_slave_mutex);
        for (auto& slot : g_slave_socks) {
            slot.in_use = 1;
            slot.connecting = 1;  // keeps the poller and keep-alive away from these fake slots
        }
    }
    EXPECT_EQ(connect_to_slave_server(testsupport::loopback_host(19), 1), -1);
    EXPECT_TRUE(logged("count not find vacant index in connect_to_slave_server."));
    clear_slave_tables();
}

TEST_F(SlaveTest, RouteRequestIsCheckedAndAnsweredThroughTheRequestersHomeServer) {
    const char* addr = testsupport::loopback_host(20);
    start(addr);
    socket_t home_srv = tcp_listen(addr, kServerPort, 4);
    ASSERT_GT(home_srv, 0);
    add_contact(650, addr);
    set_slave_server_address(0, "relay-a.example");
    set_slave_server_port(0, 0, 80);
    set_slave_server_port(0, 1, 443);
    set_slave_server_port(0, 2, 8199);
    set_slave_server_port(1, 2, 8199);
    EXPECT_TRUE(slave_server_known());

    std::string bad = "  6a0:";
    EXPECT_EQ(do_request_slave_server_addr_from_server(bad.c_str(), static_cast<int>(bad.size())),
              -1);
    EXPECT_TRUE(
        logged("content in do_request_slave_server_addr_from_server not correct:  6a0:, 3"));

    std::string good = "       650:";
    ASSERT_EQ(do_request_slave_server_addr_from_server(good.c_str(), static_cast<int>(good.size())),
              0);
    std::vector<std::string> bodies;
    for (int k = 0; k < 2; k++) {
        ASSERT_GT(wait_readable(home_srv, 5000), 0);
        socket_t conn = accept(home_srv, nullptr, nullptr);
        char head[kHeaderLen + 1] = {};
        ASSERT_TRUE(testsupport::read_exact(conn, head, kHeaderLen));
        msg_header h;
        ASSERT_EQ(parse_header(head, &h), 0);
        std::string body(static_cast<size_t>(h.len), '\0');
        ASSERT_TRUE(testsupport::read_exact(conn, body.data(), body.size()));
        xor_scramble(body.data(), h.len);
        bodies.push_back(std::to_string(h.command) + "|" + body);
        close_socket(conn);
    }
    std::sort(bodies.begin(), bodies.end());
    EXPECT_EQ(bodies[0],
              "481|       650:      7001:      7001:    80:   443:  8199:relay-a.example");
    EXPECT_EQ(bodies[1], "482|       650:      7001:      7001:     0:     0:  8199:");
    EXPECT_EQ(general_str_command_to_peer_server(480, 0, 659, ""), -1);
    EXPECT_TRUE(logged("peer_index:-1 < 0 in general_str_command_to_peer_server"));
    close_socket(home_srv);
}
