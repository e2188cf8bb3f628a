// Requests to the home servers (online queries, status, offline messages) and their bodies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "protocol/commands.h"
#include "protocol/offline.h"
#include "protocol/requests.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"
#include "tests/protocol/proxy_test_support.h"
#include "tests/protocol/session_test_support.h"
#include "tests/support/loopback.h"

using session_test::fake_server;
using session_test::message;
using session_test::recorder;

namespace {

class HomeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_home_dir(m_home.path());
        ASSERT_EQ(open_debug_log(), 0);
        clear_all_tables();
        reset_session_values();
        g_main_dlg = &m_rec;
        set_home_server_reply_timeout(1000);
    }
    void TearDown() override {
        wait_for_jobs(5000);
        main_link_writer_stop();  // a sign-in's queued requests may still be trying to connect
        g_main_dlg = nullptr;
        clear_all_tables();
        close_debug_log();
        set_home_dir("");
    }
    void add_homed(int id, const char* host) {
        add_one_contact(id, 0, "c");
        tables_guard lk(tables_mutex());
        std::strcpy(g_contact[get_contact_index(id)].home_server, host);
    }
    proxy_test::temp_home m_home;
    recorder m_rec;
    proxy_test::message_capture m_boxes;
};

TEST_F(HomeServerTest, TenContactsOnOneServerShareOneQueryConnection) {
    fake_server server(testsupport::loopback_address(1).c_str());
    for (int i = 0; i < 10; i++) add_homed(100 + i, testsupport::loopback_address(1).c_str());
    add_homed(200, testsupport::loopback_address(99).c_str());  // another server: not on this connection
    int result = -2;
    std::thread worker([&] { result = one_retrieving_thread(0); });
    ASSERT_TRUE(server.accept());
    for (int i = 0; i < 10; i++) {
        message m;
        ASSERT_TRUE(server.read(&m));
        EXPECT_EQ(m.command, CMD_QUERY_ONLINE);
        char expect[16];
        std::snprintf(expect, sizeof(expect), "%10d", 100 + i);
        EXPECT_EQ(m.body, expect);
        // The request carries session and board of the last reply read.
        EXPECT_EQ(m.session, i == 0 ? 0 : 9);
        EXPECT_EQ(m.board, i == 0 ? 0 : 1);
        server.send(SRV_ONLINE_STATE, expect, 1, 9);
        server.send(SRV_ONLINE_DONE, "", 1, 9);
    }
    EXPECT_TRUE(server.peer_closed());
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(m_rec.count(NM_CONTACT_STATUS), 10);
    contact_record c;
    ASSERT_TRUE(contact_by_id(109, &c));
    EXPECT_EQ(c.presence, 1);
    ASSERT_TRUE(contact_by_id(200, &c));
    EXPECT_EQ(c.presence, 0);
}

TEST_F(HomeServerTest, PassStartsOneThreadPerHomeServer) {
    fake_server a(testsupport::loopback_address(2).c_str());
    fake_server b(testsupport::loopback_address(3).c_str());
    add_homed(1, testsupport::loopback_address(2).c_str());
    add_homed(2, testsupport::loopback_address(3).c_str());
    add_homed(3, testsupport::loopback_address(2).c_str());
    add_homed(4, "");  // no home server: never queried
    EXPECT_EQ(start_retrieving_pass(), 2);
    ASSERT_TRUE(a.accept());
    ASSERT_TRUE(b.accept());
    message m;
    ASSERT_TRUE(a.read(&m));
    a.send(SRV_ONLINE_DONE);
    ASSERT_TRUE(a.read(&m));
    EXPECT_EQ(m.body, "         3");
    a.send(SRV_ONLINE_DONE);
    ASSERT_TRUE(b.read(&m));
    EXPECT_EQ(m.body, "         2");
    b.send(SRV_ONLINE_DONE);
    EXPECT_FALSE(a.accept(300));  // no second connection to the same server
}

TEST_F(HomeServerTest, BadRepliesAreDroppedAndAddressesCut) {
    fake_server server(testsupport::loopback_address(4).c_str());
    add_homed(31, testsupport::loopback_address(4).c_str());
    add_homed(32, testsupport::loopback_address(4).c_str());
    std::thread worker([] { one_retrieving_thread(0); });
    ASSERT_TRUE(server.accept());
    message m;
    ASSERT_TRUE(server.read(&m));
    server.send(SRV_ONLINE_STATE, "      3x31", 2);  // a letter at position 7: dropped
    server.send(SRV_ONLINE_ADDRESS, "        31:" + std::string("1234567890123456789012345"));
    ASSERT_TRUE(server.read(&m));
    server.send(SRV_ONLINE_ADDRESS, "       A32:10.0.0.1");  // bad in the first ten characters
    worker.join();
    contact_record c;
    ASSERT_TRUE(contact_by_id(31, &c));
    EXPECT_EQ(c.presence, 0);
    EXPECT_STREQ(c.address, "12345678901234567890");
    ASSERT_TRUE(contact_by_id(32, &c));
    EXPECT_STREQ(c.address, "");
    std::string log = session_test::read_log();
    EXPECT_NE(log.find("content in query_online_reply_from_server has bad data:      3x31 at pos:7"),
              std::string::npos);
    EXPECT_NE(log.find("query_online_reply_ip_from_server has bad data:       A32:10.0.0.1 at pos:7"),
              std::string::npos);
}

TEST_F(HomeServerTest, SilentOrMissingServerEndsTheQueryThread) {
    fake_server server(testsupport::loopback_address(5).c_str());
    add_homed(41, testsupport::loopback_address(5).c_str());
    add_homed(42, testsupport::loopback_address(6).c_str());  // nothing listens there
    std::thread worker([] { EXPECT_EQ(one_retrieving_thread(0), -1); });
    ASSERT_TRUE(server.accept());
    message m;
    ASSERT_TRUE(server.read(&m));
    worker.join();  // ends after the reply time-out instead of waiting forever
    EXPECT_EQ(one_retrieving_thread(1), -1);
    EXPECT_EQ(one_retrieving_thread(100), -1);
    EXPECT_NE(session_test::read_log().find("index:100 out of range 0-99 in one_retrieving_thread"),
              std::string::npos);
}

TEST_F(HomeServerTest, StatusPassSendsOneStatusPerContact) {
    fake_server server(testsupport::loopback_address(7).c_str());
    g_user_id = 555;
    add_homed(51, testsupport::loopback_address(7).c_str());
    add_homed(52, testsupport::loopback_address(7).c_str());
    EXPECT_EQ(start_sending_status_pass(3, "192.168.10.20"), 1);
    ASSERT_TRUE(server.accept());
    message m;
    ASSERT_TRUE(server.read(&m));
    EXPECT_EQ(m.command, CMD_STATUS_TO_HOME);
    EXPECT_EQ(m.body, "        51:       555:     3:192.168.10.20");
    ASSERT_TRUE(server.read(&m));
    EXPECT_EQ(m.body, "        52:       555:     3:192.168.10.20");
    EXPECT_TRUE(server.peer_closed());
}

// Reads one offline message's wire sequence and returns the 331 bodies after the header.
std::vector<std::string> read_offline_sequence(fake_server& server) {
    std::vector<std::string> pieces;
    message m;
    EXPECT_TRUE(server.read(&m));
    EXPECT_EQ(m.command, CMD_OFFLINE_BEGIN);
    EXPECT_EQ(m.body, "        61:       777");
    EXPECT_TRUE(server.read(&m));
    EXPECT_EQ(m.command, CMD_OFFLINE_TEXT);
    EXPECT_EQ(m.body.rfind("Message by Ann Lee(ann):\r\n", 0), 0u);
    for (;;) {
        if (!server.read(&m)) break;
        if (m.command == CMD_OFFLINE_END) {
            EXPECT_EQ(m.body, "        61:       777");
            break;
        }
        EXPECT_EQ(m.command, CMD_OFFLINE_TEXT);
        pieces.push_back(m.body);
    }
    return pieces;
}

TEST_F(HomeServerTest, OfflineMessageWireSequence) {
    fake_server server(testsupport::loopback_address(8).c_str());
    g_user_id = 777;
    add_homed(61, testsupport::loopback_address(8).c_str());
    // The names arrive at login; here they are set the same way.
    char n1[] = "Ann", n2[] = "Lee", n3[] = "ann";
    dispatch_server_command(SRV_NAME1, n1, 3, 0);
    dispatch_server_command(SRV_NAME2, n2, 3, 0);
    dispatch_server_command(SRV_NAME3, n3, 3, 0);

    for (size_t size : {size_t{0}, size_t{2500}, size_t{10000}}) {
        std::string text(size, 'm');
        ASSERT_EQ(send_offline_to_contact(61, text, nullptr), 0);
        ASSERT_TRUE(server.accept());
        auto pieces = read_offline_sequence(server);
        ASSERT_FALSE(pieces.empty());
        EXPECT_EQ(pieces.back(), "\r\n\r\n\r\n");
        pieces.pop_back();
        size_t expected_pieces = (size + 999) / 1000;
        ASSERT_EQ(pieces.size(), expected_pieces) << size;
        if (size == 2500) {
            EXPECT_EQ(pieces[0].size(), 1000u);
            EXPECT_EQ(pieces[1].size(), 1000u);
            EXPECT_EQ(pieces[2].size(), 500u);
        }
        std::string joined;
        for (auto& p : pieces) joined += p;
        EXPECT_EQ(joined, text);
    }
    user_text error;
    EXPECT_EQ(send_offline_to_contact(61, std::string(10001, 'm'), &error), -1);
    EXPECT_FALSE(server.accept(300));
    EXPECT_EQ(english(error), "Could not input more than 10000 charactors.");
    EXPECT_EQ(send_offline_to_contact(62, "hi", &error), -1);
    EXPECT_EQ(error.id, TXT_OFFLINE_CONTACT_UNKNOWN);
    EXPECT_EQ(send_offline_to_contact(0, "hi", &error), -1);
    EXPECT_EQ(error.id, TXT_OFFLINE_NO_CONTACT);
    // No message box from the sending side: the caller shows the text.
    EXPECT_TRUE(m_boxes.take().empty());
}

TEST(OfflineHeader, FormatsNamesAndTime) {
    EXPECT_EQ(build_offline_header("A", "B", "c@d", offline_stamp{2024, 3, 7, 9, 5, 2}),
              "Message by A B(c@d):\r\n2024-03-07 09:05:02\r\n");
    EXPECT_EQ(build_offline_header("A", "B", "c", offline_stamp{0, 0, 0, -1, -1, -1}),
              "Message by A B(c):\r\n0-00-00 -1:-1:-1\r\n");
}

TEST(RegistrationRecord, FixedSlotsWithColons) {
    char rec[kRegistrationRecordBytes];
    std::string long_mail(200, 'e');
    registration_fields f{long_mail.c_str(), "pw", "First", "Last", "Nick", "555", "Chad"};
    build_registration_record(f, rec);
    for (int colon : {127, 191, 223, 255, 383, 447, 511}) EXPECT_EQ(rec[colon], ':') << colon;
    EXPECT_EQ(std::string(rec, 127), std::string(127, 'e'));
    EXPECT_EQ(std::string(rec + 128, 3), std::string("pw\0", 3));
    EXPECT_STREQ(rec + 192, "First");
    EXPECT_STREQ(rec + 256, "Nick");
    EXPECT_STREQ(rec + 384, "555");
    EXPECT_STREQ(rec + 448, "Chad");
    EXPECT_EQ(rec[200], '\0');
}

}  // namespace

// A long e-mail or password is cut to its field (126 and 31 bytes) before a character that
// would not fit whole: what is remembered and sent stays whole UTF-8 characters.
TEST_F(HomeServerTest, SignInCutsLongFieldsOnCharacterBoundaries) {
    set_server_host_override(testsupport::loopback_host(9));  // nothing listens there
    std::string email = "a", password;
    for (int i = 0; i < 100; i++) email += "\xC3\xA9";           // 'a' and 100 two-byte letters
    for (int i = 0; i < 12; i++) password += "\xE5\xAF\x86";     // 12 three-byte characters
    {
        session_controller c;
        EXPECT_EQ(c.sign_in(email.c_str(), password.c_str(), true, true), 0);
        char e[200] = "", p[80] = "";
        reg_read("messenger_general", "my_email", e, sizeof(e));
        reg_read("messenger_general", "my_passwd", p, sizeof(p));
        EXPECT_EQ(std::string(e), email.substr(0, 125));    // not 126: that splits a letter
        EXPECT_EQ(std::string(p), password.substr(0, 30));  // ten whole characters
        // Short values are kept as they are.
        EXPECT_EQ(c.sign_in("b@example.org", "\xE5\xAF\x86", true, true), 0);
        reg_read("messenger_general", "my_passwd", p, sizeof(p));
        EXPECT_EQ(std::string(p), "\xE5\xAF\x86");
    }
    set_server_host_override("");
}
