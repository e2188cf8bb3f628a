// Server-relayed datagrams: the bounded acknowledgement wait and its four attempts, the datagram
// a chat text becomes when no other path exists, the proxy rule, and the checks and duplicate
// ring of the receiving side.
#include <thread>

#include "peer/slave_server.h"
#include "peer/udp_packets.h"
#include "protocol/settings_store.h"
#include "relay_test_support.h"
#include "tests/support/loopback.h"

using namespace relaytest;

namespace {
constexpr int kMe = 7002;

class UdpTest : public relay_fixture {
protected:
    void start(const char* address) {
        begin(address, kMe);
        clear_slave_tables();
        clear_udp_duplicate_ring();
        set_udp_ack_wait_ms(50);
    }
    void TearDown() override {
        wait_udp_jobs(5000);
        set_udp_ack_wait_ms(0);
        relay_fixture::TearDown();
    }
    int count_in_log(const std::string& text) {
        std::string log = log_text();
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) n++;
        return n;
    }
};

// A datagram as the server delivers it inside 2000: outer header, plain command header and body.
std::string relayed(int tick, int receiver, int sender, int command, const std::string& body) {
    std::string inner = framed(command, body);
    return outer(tick, receiver, sender, static_cast<int>(inner.size())) + inner;
}

int deliver(const std::string& datagram) {
    return do_relay_peer_udp_from_server(datagram.data(), static_cast<int>(datagram.size()), 0);
}
}  // namespace

TEST_F(UdpTest, EachAttemptWaitsABoundedTimeAndOnlyAMatchingAcknowledgementEndsTheLoop) {
    const char* addr = testsupport::loopback_host(30);
    start(addr);
    udp_server server(addr, kServerPort);
    ASSERT_GE(server.fd, 0);
    std::string datagram = relayed(4711, 1, 2, 210, "x");

    // Nobody answers: four sends, each after a time-out, then success is reported all the same.
    EXPECT_EQ(send_udp_packet(addr, datagram.data(), static_cast<int>(datagram.size())), 0);
    std::string got;
    int copies = 0;
    while (server.recv(&got, 100)) copies++;
    EXPECT_EQ(copies, 4);
    EXPECT_EQ(got, datagram);

    // Replies that do not start with the datagram's 12 characters count as failed attempts.
    std::thread answer([&] {
        sockaddr_in from;
        for (int i = 0; i < 4 && server.recv(&got, 2000, &from); i++)
            server.reply(from, "999999999999 ack");
    });
    EXPECT_EQ(send_udp_packet(addr, datagram.data(), static_cast<int>(datagram.size())), 0);
    answer.join();
    EXPECT_FALSE(server.recv(&got, 100)) << "exactly four sends";

    std::thread ack([&] {
        sockaddr_in from;
        if (server.recv(&got, 2000, &from)) server.reply(from, datagram.substr(0, 12));
    });
    set_udp_ack_wait_ms(2000);
    EXPECT_EQ(send_udp_packet(addr, datagram.data(), static_cast<int>(datagram.size())), 0);
    ack.join();
    EXPECT_FALSE(server.recv(&got, 100)) << "an acknowledged datagram is not repeated";

    EXPECT_EQ(send_udp_packet("", datagram.data(), 10), -1);
    EXPECT_TRUE(logged("unknown host in send udp packet ''"));
}

TEST_F(UdpTest, ChatWithoutAnyRouteGoesAsADatagramShortenedTo950Bytes) {
    const char* addr = testsupport::loopback_host(31);
    start(addr);
    udp_server server(addr, kServerPort);
    ASSERT_GE(server.fd, 0);
    add_contact(801, addr);
    const unsigned char attrs[5] = {1, 2, 3, 4, 5};
    std::string text(990, 'c');
    EXPECT_EQ(send_chat_text(801, "Me", text.c_str(), attrs), 0);
    std::string got;
    ASSERT_TRUE(server.recv(&got, 5000));
    ASSERT_EQ(got.size(), 996u);
    outer_header h;
    ASSERT_EQ(check_outer_header(got.data()), -1);
    parse_outer_header(got.data(), &h);
    EXPECT_EQ(h.first_id, 801) << "the receiver comes first";
    EXPECT_EQ(h.second_id, kMe);
    EXPECT_EQ(h.payload_len, 950);
    // The text is shortened so that the header announces what the datagram carries.
    EXPECT_EQ(got.substr(46, 20), "   0:   0: 210: 930:") << "the command header stays plain";
    std::string body = got.substr(66);
    xor_scramble(body.data(), static_cast<long>(body.size()));
    EXPECT_EQ(body, "Me:" + std::string(921, 'c') + std::string("\0\1\2\3\4\5", 6));
    wait_udp_jobs(5000);
    while (server.recv(&got, 100)) {
    }  // the unacknowledged copies

    // With a proxy configured nothing goes around it.
    reg_write_int("proxy", "use_proxy", 1);
    EXPECT_EQ(send_chat_text(801, "Me", "hi", attrs), -1) << "no path took the line";
    EXPECT_EQ(send_udp_packet_to_peer_server(801, "x", 1), -1);
    EXPECT_FALSE(server.recv(&got, 300));
    EXPECT_TRUE(logged("use_proxy is set: datagram to peer 801 not sent"));
}

TEST_F(UdpTest, EchoOfALineFromASlaveServerGoesAsADatagramWhenNoRouteLeadsBack) {
    const char* addr = testsupport::loopback_host(34);
    start(addr);
    udp_server server(addr, kServerPort);
    ASSERT_GE(server.fd, 0);
    add_contact(802, addr);
    const std::string body("Al:hi\0\1\2\3\4\5", 11);
    EXPECT_EQ(do_private_chat_indirect_from_peer(body.data(), static_cast<int>(body.size()), 802), 0);
    std::string got;
    ASSERT_TRUE(server.recv(&got, 5000)) << "the echo was lost";
    outer_header h;
    parse_outer_header(got.data(), &h);
    EXPECT_EQ(h.first_id, 802);
    EXPECT_EQ(got.substr(46, 20), "   0:   0: 211:  11:");
    std::string echoed = got.substr(66);
    xor_scramble(echoed.data(), static_cast<long>(echoed.size()));
    EXPECT_EQ(echoed, body);
    wait_udp_jobs(5000);
}

TEST_F(UdpTest, RelayedChatIsShownOnceEchoedAsADatagramAndMalformedPacketsAreRejected) {
    const char* addr = testsupport::loopback_host(32);
    start(addr);
    udp_server server(addr, kServerPort);
    ASSERT_GE(server.fd, 0);
    add_contact(802, addr);
    std::string body = std::string("Bo:yo", 5) + '\0' + std::string("\x09\x08\x07\x0c\x01", 5);
    std::string datagram = relayed(1234, kMe, 802, 210, body);
    EXPECT_EQ(deliver(datagram), 0);
    EXPECT_EQ(deliver(datagram), -1);
    EXPECT_EQ(rec.count(7), 1) << "a datagram seen twice is shown once";
    EXPECT_TRUE(
        logged("dup udp packet peer_tick:1234, my_id:7002, peer_id:802, outer_len:31, session:0, "
               "board_num:0, command:210, len:11"));
    std::string echo;
    ASSERT_TRUE(server.recv(&echo, 5000));
    EXPECT_EQ(echo.substr(46, 20), "   0:   0: 211:  11:");
    std::string echoed = echo.substr(66);
    xor_scramble(echoed.data(), static_cast<long>(echoed.size()));
    EXPECT_EQ(echoed, body);

    std::string letter = relayed(1235, kMe, 802, 210, body);
    letter[30] = 'z';
    EXPECT_EQ(deliver(letter), -1);
    EXPECT_TRUE(logged("content in do_relay_peer_udp_from_server not correct at:30"));
    EXPECT_EQ(deliver(relayed(1236, kMe, 802, 220, "")), 0);
    EXPECT_TRUE(logged("unknown command in do_relay_peer_udp_from_server:220"));
    std::string lying = relayed(1237, kMe, 802, 210, body);
    lying.replace(46 + 15, 4, " 500");
    EXPECT_EQ(deliver(lying), -1) << "a length beyond the packet is not trusted";
    EXPECT_EQ(deliver(std::string(datagram, 0, 40)), -1)
        << "a short packet fails the character check";
    EXPECT_EQ(rec.count(7), 1);
}

TEST_F(UdpTest, DuplicateRingForgetsAPacketAfterAThousandOthers) {
    start(testsupport::loopback_host(33));
    EXPECT_EQ(deliver(relayed(1, kMe, 803, 220, "")), 0);
    EXPECT_EQ(deliver(relayed(1, kMe, 803, 220, "")), -1);
    EXPECT_EQ(deliver(relayed(1, kMe, 804, 220, "")), 0) << "another sender with the same tick";
    for (int i = 0; i < 998; i++) ASSERT_EQ(deliver(relayed(100 + i, kMe, 803, 220, "")), 0);
    EXPECT_EQ(deliver(relayed(1, kMe, 803, 220, "")), -1) << "still held after 999 other packets";
    ASSERT_EQ(deliver(relayed(99, kMe, 803, 220, "")), 0);
    EXPECT_EQ(deliver(relayed(1, kMe, 803, 220, "")), 0) << "its entry was overwritten";
    EXPECT_EQ(count_in_log("dup udp packet"), 2);
}
