// Framing, builders, the server socket, the settings store and the debug log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "protocol/framing.h"
#include "protocol/link_socket.h"
#include "protocol/server_link.h"
#include "protocol/settings_store.h"
#include "tests/support/loopback.h"

using testsupport::listener;
using testsupport::read_exact;
using testsupport::temp_dir;
using testsupport::write_all;

namespace {
std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A test fixture with its own home (settings file and debug log) and a loopback listener.
class LinkTest : public ::testing::Test {
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
    std::string log_text() { return read_file(home.path + "/dbg_log.txt"); }
    void point_at_server(Clink_socket& s) {
        copy_text(s.server_host, "127.0.0.1");
        s.server_port = server.port;
    }
    temp_dir home;
    listener server;
};

std::string unscrambled_body(const char* msg, int len) {
    std::string body(msg + kHeaderLen, static_cast<size_t>(len - kHeaderLen));
    xor_scramble(body.data(), static_cast<long>(body.size()));
    return body;
}
}  // namespace

TEST(Framing, HeaderRoundTripAndHeaderOnlyCommand) {
    char h[kHeaderLen + 1];
    build_header(h, 0, 0, 1000, 0);
    EXPECT_STREQ(h, "   0:   0:1000:   0:");
    build_header(h, 12, -5, 186, 8171);
    msg_header m;
    ASSERT_EQ(parse_header(h, &m), 0);
    EXPECT_EQ(m.session, 12);
    EXPECT_EQ(m.board_num, -5);
    EXPECT_EQ(m.command, 186);
    EXPECT_EQ(m.len, 8171);
}

TEST(Framing, FirstBadSeparatorGivesErrorPosition) {
    msg_header m;
    EXPECT_EQ(parse_header("   0:   0x1000:   0:", &m), 9);
    EXPECT_EQ(parse_header("   0x   0x1000x   0x", &m), 4);
    EXPECT_EQ(parse_header("   0:   0:1000-   0:", &m), 14);
    EXPECT_EQ(parse_header("   0:   0:1000:   0 ", &m), 19);
    // Negative and oversized lengths parse as numbers; the reader decides what to do with them.
    ASSERT_EQ(parse_header("   0:   0: 131:  -5:", &m), 0);
    EXPECT_EQ(m.len, -5);
    ASSERT_EQ(parse_header("   0:   0: 131:9999:", &m), 0);
    EXPECT_EQ(m.len, 9999);
}

TEST(Framing, ScramblingTwiceRestoresAndUsesKeyCyclically) {
    std::vector<unsigned char> data(46, 0);
    xor_scramble(data.data(), 46);
    for (int j = 0; j < 46; j++) EXPECT_EQ(data[j], static_cast<unsigned char>(kScrambleKey[j % 23]));
    std::string text = "hello, scrambled world: 1234567890";
    std::string copy = text;
    xor_scramble(copy.data(), static_cast<long>(copy.size()));
    EXPECT_NE(copy, text);
    xor_scramble(copy.data(), static_cast<long>(copy.size()));
    EXPECT_EQ(copy, text);
    xor_scramble(copy.data(), 0);
    xor_scramble(copy.data(), -3);
    EXPECT_EQ(copy, text);
    // Word-wise runs and the byte tail meet the key at every offset, from any start address.
    std::vector<unsigned char> big(1200 + 8, 0);
    for (long start : {0L, 1L, 5L})
        for (long len : {183L, 184L, 185L, 1000L, 1200L}) {
            std::fill(big.begin(), big.end(), 0);
            xor_scramble(big.data() + start, len);
            for (long j = 0; j < len; j++)
                ASSERT_EQ(big[start + j], static_cast<unsigned char>(kScrambleKey[j % 23]))
                    << start << " " << len << " " << j;
            EXPECT_EQ(big[start + len], 0);
        }
}

TEST_F(LinkTest, BuildersEnforceTheThousandByteLimit) {
    point_at_server(g_main_link);
    ASSERT_EQ(g_main_link.connect_to_server(), 0);
    socket_t peer = server.accept_one();
    ASSERT_GT(peer, 0);

    std::vector<char> body(1001, 'x');
    EXPECT_EQ(general_buf_command_to_server(300, body.data(), 1001), -1);
    EXPECT_EQ(general_buf_command_to_server(300, body.data(), -1), -1);
    EXPECT_NE(log_text().find("buf_len not good in general_buf_command_to_server, buf_len:1001"),
              std::string::npos);
    ASSERT_EQ(general_buf_command_to_server(300, body.data(), 1000), 0);
    ASSERT_EQ(general_command_to_server(1000), 0);

    char got[1020 + 20];
    ASSERT_TRUE(read_exact(peer, got, sizeof(got)));
    EXPECT_EQ(std::string(got, 20), "   0:   0: 300:1000:");
    EXPECT_EQ(unscrambled_body(got, 1020), std::string(1000, 'x'));
    EXPECT_EQ(std::string(got + 1020, 20), "   0:   0:1000:   0:");
    EXPECT_EQ(g_recv_event.wait(0), WAIT_SIGNALLED) << "builders wake the receive thread";
    g_main_link.my_close();
    close_socket(peer);
}

TEST_F(LinkTest, SendOnClosedSocketFailsQuietly) {
    Clink_socket s;
    std::string before = log_text();
    EXPECT_EQ(s.my_send_fixed_len("   0:   0:1000:   0:", 20), -1);
    EXPECT_EQ(log_text(), before);
}

TEST_F(LinkTest, OverlongMessageIsCutTo20000Bytes) {
    Clink_socket s;
    point_at_server(s);
    ASSERT_EQ(s.connect_to_server(), 0);
    EXPECT_STREQ(s.local_address, "127.0.0.1");
    socket_t peer = server.accept_one();
    ASSERT_GT(peer, 0);

    std::vector<char> msg(20001, 'a');
    std::memcpy(msg.data(), "   0:   0: 210:9999:", 20);
    std::thread reader([&] {
        std::vector<char> got(20000);
        EXPECT_TRUE(read_exact(peer, got.data(), got.size()));
        EXPECT_EQ(unscrambled_body(got.data(), 20000), std::string(19980, 'a'));
        char extra;
        EXPECT_LE(wait_readable(peer, 200), 0) << "nothing beyond 20000 bytes is sent";
        (void)extra;
    });
    EXPECT_EQ(s.my_send_fixed_len(msg.data(), 20001), 20000);
    reader.join();
    EXPECT_NE(log_text().find("len:20001 > 20000 in my_send_fixed_len\r\n"), std::string::npos);
    EXPECT_EQ(msg[25], 'a') << "the caller's buffer is not scrambled";
    s.my_close();
    close_socket(peer);
}

TEST_F(LinkTest, ExactReadsAssembleSplitDataAndEndWhenPeerCloses) {
    Clink_socket s;
    point_at_server(s);
    ASSERT_EQ(s.connect_to_server(), 0);
    socket_t peer = server.accept_one();
    ASSERT_GT(peer, 0);

    std::thread writer([&] {
        const char* parts[] = {"   0", ":   0: 13", "1:   5", ":", "abc", "de"};
        for (const char* p : parts) {
            write_all(peer, p, std::strlen(p));
            sleep_ms(5);
        }
        // Half a message, then the connection closes.
        write_all(peer, "   0:   0: 1", 12);
        sleep_ms(20);
        close_socket(peer);
    });
    char buf[64] = {};
    EXPECT_GT(s.my_recv_fixed_len(buf, 20), 0);
    EXPECT_EQ(std::string(buf, 20), "   0:   0: 131:   5:");
    EXPECT_GT(s.my_recv_fixed_len(buf, 5), 0);
    EXPECT_EQ(std::string(buf, 5), "abcde");
    EXPECT_EQ(s.my_recv_fixed_len(buf, 0), 0);
    EXPECT_EQ(s.my_recv_fixed_len(buf, -1), -1);
    EXPECT_LT(s.my_recv_fixed_len(buf, 20), 0) << "a close mid-message must end the read";
    writer.join();
    s.my_close();
}

TEST_F(LinkTest, SendWithReconnectResendsTheSameBytes) {
    Clink_socket s;
    point_at_server(s);
    ASSERT_EQ(s.connect_to_server(), 0);
    socket_t first = server.accept_one();
    ASSERT_GT(first, 0);
    s.my_close();  // the connection dropped

    char msg[25];
    build_message(msg, sizeof(msg), 0, 0, 340, "hello", 5);
    s.send_with_reconnect(msg, 25);
    socket_t second = server.accept_one();
    ASSERT_GT(second, 0);
    char got[25];
    ASSERT_TRUE(read_exact(second, got, 25));
    EXPECT_EQ(std::string(got, 20), std::string(msg, 20));
    EXPECT_EQ(unscrambled_body(got, 25), "hello");
    s.my_close();
    close_socket(first);
    close_socket(second);
}

namespace {
// Fails every readiness wait, as a broken select would.
class failing_select_socket : public Clink_socket {
public:
    std::atomic<int> calls{0};

protected:
    int wait_send_ready(socket_t, int) override {
        calls++;
        errno = EINVAL;
        return -1;
    }
};
}  // namespace

TEST_F(LinkTest, SendGivesUpAfterFifteenFailedSelects) {
    failing_select_socket s;
    copy_text(s.name, "main");
    point_at_server(s);
    ASSERT_EQ(s.connect_to_server(), 0);
    socket_t peer = server.accept_one();
    ASSERT_GT(peer, 0);

    EXPECT_LT(s.my_send_fixed_len("   0:   0:1000:   0:", 20), 0);
    EXPECT_EQ(s.calls, 16);
    EXPECT_EQ(s.retry_count, -1);
    EXPECT_EQ(s.sock, 0);
    EXPECT_EQ(s.tried_times, 0);
    std::string log = log_text();
    EXPECT_NE(log.find("sleep in my_send_fixed_len select, tried_times:15 (main)"), std::string::npos);
    EXPECT_NE(log.find("tried too many times in send_fixed_len(main) select, closing"),
              std::string::npos);
    EXPECT_NE(log.find("WSAEINVAL in main sock"), std::string::npos);
    close_socket(peer);
}

TEST_F(LinkTest, ConcurrentSendersNeverInterleaveMessages) {
    Clink_socket s;
    point_at_server(s);
    ASSERT_EQ(s.connect_to_server(), 0);
    socket_t peer = server.accept_one();
    ASSERT_GT(peer, 0);
    constexpr int kThreads = 4, kEach = 200, kBody = 900;
    std::thread reader([&] {
        for (int i = 0; i < kThreads * kEach; i++) {
            char msg[kHeaderLen + kBody];
            ASSERT_TRUE(read_exact(peer, msg, sizeof(msg)));
            msg_header h;
            ASSERT_EQ(parse_header(msg, &h), 0);
            std::string body = unscrambled_body(msg, sizeof(msg));
            EXPECT_EQ(body, std::string(kBody, static_cast<char>('a' + h.board_num)));
        }
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; t++)
        senders.emplace_back([&, t] {
            std::string body(kBody, static_cast<char>('a' + t));
            char msg[kHeaderLen + kBody];
            build_message(msg, sizeof(msg), 0, t, 210, body.data(), kBody);
            for (int i = 0; i < kEach; i++) EXPECT_EQ(s.my_send_fixed_len(msg, sizeof(msg)), static_cast<int>(sizeof(msg)));
        });
    for (auto& t : senders) t.join();
    reader.join();
    s.my_close();
    close_socket(peer);
}

TEST_F(LinkTest, ConnectFailsCleanlyWithoutServer) {
    Clink_socket s;
    copy_text(s.server_host, "127.0.0.1");
    listener closed;
    s.server_port = closed.port;
    close_socket(closed.fd);
    closed.fd = -1;
    EXPECT_EQ(s.connect_to_server(), -1);
    EXPECT_EQ(s.sock, 0);
    EXPECT_EQ(s.connected, 0);
}

TEST_F(LinkTest, SettingsStoreRoundTripAndMissingValues) {
    EXPECT_EQ(reg_write("messenger_general", "my_email", "someone@example.org"), 0);
    reg_write_int("messenger_general", "remember_email", 1);
    char buf[128];
    reg_read("messenger_general", "my_email", buf, sizeof(buf));
    EXPECT_STREQ(buf, "someone@example.org");
    char small[5];
    reg_read("messenger_general", "my_email", small, sizeof(small));
    EXPECT_STREQ(small, "some");
    int v = -1;
    reg_read_int("messenger_general", "remember_email", &v);
    EXPECT_EQ(v, 1);
    reg_read_int("messenger_general", "no_such_value", &v);
    EXPECT_EQ(v, 0);
    reg_read("no_such_section", "x", buf, sizeof(buf));
    EXPECT_STREQ(buf, "");
    struct stat st;
    ASSERT_EQ(stat(settings_file_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LinkTest, SettingsFileIsParsedAgainOnlyWhenItChanged) {
    reg_write("messenger_general", "my_email", "a@example.org");
    int loads = settings_file_loads();
    char buf[128];
    for (int i = 0; i < 20; i++) reg_read("messenger_general", "my_email", buf, sizeof(buf));
    reg_write("messenger_general", "my_passwd", "p");  // our own write updates the kept copy
    reg_read("messenger_general", "my_passwd", buf, sizeof(buf));
    EXPECT_STREQ(buf, "p");
    EXPECT_EQ(settings_file_loads(), loads);
    // Changed behind our back (another instance, an edit by hand): read again.
    {
        std::ofstream f(settings_file_path(), std::ios::trunc);
        f << "[messenger_general]\nmy_email=b@example.org\n";
    }
    reg_read("messenger_general", "my_email", buf, sizeof(buf));
    EXPECT_STREQ(buf, "b@example.org");
    EXPECT_EQ(settings_file_loads(), loads + 1);
    // Removed: values are gone, not served from memory.
    ASSERT_EQ(unlink(settings_file_path().c_str()), 0);
    reg_read("messenger_general", "my_email", buf, sizeof(buf));
    EXPECT_STREQ(buf, "");
}

TEST_F(LinkTest, LogPrefixHasNoZeroPaddingAndLinesNeverTear) {
    EXPECT_EQ(log_prefix(6, 9, 5, 3, 7), "6 9:5:3 7 ");
    EXPECT_EQ(log_prefix(31, 23, 59, 59, 999), "31 23:59:59 999 ");
    struct stat st;
    EXPECT_EQ(stat((home.path + "/dbg_log1.txt").c_str(), &st), 0);
    EXPECT_EQ(stat((home.path + "/dbg_log2.txt").c_str(), &st), 0);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < 300; i++) log_line("thread %d line %d %s\r\n", t, i, std::string(200, 'z').c_str());
        });
    for (auto& t : threads) t.join();
    std::istringstream lines(log_text());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        if (line.find("thread ") == std::string::npos) continue;
        count++;
        EXPECT_NE(line.find(std::string(200, 'z') + "\r"), std::string::npos) << line;
    }
    EXPECT_EQ(count, 1200);
}

TEST_F(LinkTest, LogIsCappedWithOneRotatedCopy) {
    set_debug_log_limit(4096);
    for (int i = 0; i < 200; i++) log_line("%s\n", std::string(100, 'q').c_str());
    set_debug_log_limit(10u * 1024 * 1024);
    struct stat cur, old;
    ASSERT_EQ(stat((home.path + "/dbg_log.txt").c_str(), &cur), 0);
    ASSERT_EQ(stat((home.path + "/dbg_log.old.txt").c_str(), &old), 0);
    EXPECT_LE(cur.st_size, 4096);
    EXPECT_LE(old.st_size, 4096);
}
