// Receive failures of a connection: who hears of them, and a reader bound to a handle that was
// replaced.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/framing.h"
#include "protocol/link_socket.h"
#include "proxy_test_support.h"
#include "tests/support/loopback.h"

using testsupport::listener;
using proxy_test::message_capture;

namespace {
const char kFailed[] = "Receiving data from server failed, may need reconnect.";

class LinkFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_home_dir(home.path);
        ASSERT_EQ(open_debug_log(), 0);
        ASSERT_GT(server.fd, 0);
    }
    void TearDown() override {
        close_debug_log();
        set_home_dir("");
    }
    // Connects link to the listener and returns the accepted end.
    socket_t connect(Clink_socket& link) {
        copy_text(link.server_host, "127.0.0.1");
        link.server_port = server.port;
        EXPECT_EQ(link.connect_to_server(), 0);
        return server.accept_one();
    }
    // Closes the accepted end with a reset.
    static void reset(socket_t peer) {
        struct linger hard = {1, 0};
        setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        ::close(peer);
    }
    testsupport::temp_dir home;
    listener server;
    message_capture boxes;
};
}  // namespace

TEST_F(LinkFailureTest, OnlyTheMainConnectionReportsAFailedReceiveOncePerConnection) {
    char buf[32];
    Clink_socket quiet;  // a peer, relay or slave connection
    for (int i = 0; i < 100; i++) {
        reset(connect(quiet));
        EXPECT_LT(quiet.my_recv_fixed_len(buf, 20), 0);
        quiet.my_close();
    }
    EXPECT_TRUE(boxes.texts().empty()) << "100 resets of a peer connection: no box";

    Clink_socket main_link;
    main_link.report_receive_failure = 1;
    for (int round = 1; round <= 2; round++) {
        reset(connect(main_link));
        EXPECT_LT(main_link.my_recv_fixed_len(buf, 20), 0);
        EXPECT_LT(main_link.my_recv_fixed_len(buf, 20), 0);
        auto texts = boxes.texts();
        ASSERT_EQ(texts.size(), static_cast<size_t>(round)) << "one box per broken connection";
        EXPECT_EQ(texts.back(), kFailed);
        main_link.my_close();
    }
    EXPECT_LT(main_link.my_recv(buf, 20), 0);
    EXPECT_EQ(boxes.texts().size(), 2u) << "a receive after a deliberate close is no failure";
}

TEST_F(LinkFailureTest, BoundReaderNeverReadsTheConnectionThatReplacedItsOwn) {
    Clink_socket link;
    socket_t first = connect(link);
    link.bind_reader();
    link.my_close();  // the slot is taken over by another connection
    socket_t second = connect(link);
    ASSERT_GT(second, 0);
    ASSERT_TRUE(testsupport::write_all(second, "hello", 5));

    char buf[8] = {};
    EXPECT_EQ(link.wait_readable_for(1000), -1);
    EXPECT_LT(link.my_recv_fixed_len(buf, 5), 0);
    std::string read_by_new_owner;
    std::thread owner([&] {
        link.bind_reader();
        if (link.wait_readable_for(5000) == 1 && link.my_recv_fixed_len(buf, 5) > 0)
            read_by_new_owner.assign(buf, 5);
    });
    owner.join();
    EXPECT_EQ(read_by_new_owner, "hello") << "the new connection's bytes are all still there";
    link.my_close();
    close_socket(first);
    close_socket(second);
}

namespace {
std::atomic<int> g_reconnects{0};
void count_reconnect(Clink_socket&, bool connected) { g_reconnects += connected ? 1 : 100; }
}  // namespace

TEST_F(LinkFailureTest, SendersOfABrokenConnectionMakeOneNewConnectionTogether) {
    Clink_socket link;
    link.on_reconnect = count_reconnect;
    socket_t first = connect(link);
    ASSERT_GT(first, 0);
    link.my_close();  // broken; every sender below finds it closed
    close_socket(first);

    constexpr int kSenders = 8;
    char msg[kSenders][kHeaderLen + 1];
    std::vector<std::thread> senders;
    for (int i = 0; i < kSenders; i++) {
        build_header(msg[i], 0, i, 1001, 0);
        senders.emplace_back([&link, &msg, i] { link.send_with_reconnect(msg[i], kHeaderLen); });
    }
    for (auto& t : senders) t.join();
    socket_t second = server.accept_one(2000);
    ASSERT_GT(second, 0);
    EXPECT_EQ(server.accept_one(300), -1) << "one connection for all the senders";
    EXPECT_EQ(g_reconnects.load(), 1);
    char got[kSenders * kHeaderLen];
    EXPECT_TRUE(testsupport::read_exact(second, got, sizeof(got))) << "every message went on it";
    EXPECT_EQ(link.local_address_text(), "127.0.0.1");
    link.my_close();
    close_socket(second);
}
