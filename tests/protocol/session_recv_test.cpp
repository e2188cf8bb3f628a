// The login exchange and the receive loop against a scripted server: bytes in, table state and
// notifications out.
#include <sys/ioctl.h>

#include <memory>
#include <gtest/gtest.h>

#include <string>

#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/proxy.h"
#include "protocol/requests.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"
#include "tests/protocol/proxy_test_support.h"
#include "tests/protocol/session_test_support.h"
#include "tests/support/loopback.h"

using session_test::fake_server;
using session_test::message;
using session_test::recorder;

namespace {

class SessionTest : public ::testing::Test {
protected:
    void start(const char* address) {
        set_home_dir(m_home.path());
        ASSERT_EQ(open_debug_log(), 0);
        set_server_host_override(address);
        g_main_dlg = &m_rec;
        set_home_server_reply_timeout(1000);
        ASSERT_EQ(session_start(), 0);
    }
    void TearDown() override {
        session_stop();
        wait_for_jobs(5000);
        g_main_dlg = nullptr;
        set_server_host_override("");
        close_debug_log();
        set_home_dir("");
    }
    // Logs in and answers with the given replies; returns false when the login never arrived.
    bool login_to(fake_server& server) {
        if (login("ann@example.org", "secret") != 0) return false;
        if (!server.accept()) return false;
        message m;
        if (!server.read_until(CMD_LOGIN, &m)) return false;
        return m.body == "ann@example.org:secret";
    }

    proxy_test::temp_home m_home;
    recorder m_rec;
};

TEST_F(SessionTest, LoginAcceptedBeforeTheNumbersStillLogsIn) {
    fake_server server(testsupport::loopback_address(1).c_str());
    ASSERT_TRUE(server.listening());
    start(testsupport::loopback_address(1).c_str());
    ASSERT_TRUE(login_to(server));
    server.send(SRV_LOGIN_OK);
    ASSERT_TRUE(m_rec.wait_for(NM_LOGIN_SUCCESS));
    EXPECT_EQ(g_logged_in.load(), 1);
    server.send(SRV_SESSION_ID, "77");
    server.send(SRV_USER_ID, "1234");
    server.send(SRV_ONLINE_INDEX, "5");
    server.send(SRV_NAME1, "Ann");
    server.send(SRV_NAME2, "Lee");
    // A name longer than its 31-character field is cut.
    server.send(SRV_NAME3, std::string(40, 'n'));
    ASSERT_TRUE(m_rec.wait_for(NM_WELCOME));
    EXPECT_EQ(g_session_id.load(), 77);
    EXPECT_EQ(g_user_id.load(), 1234);
    EXPECT_EQ(g_online_index.load(), 5);
    session_texts t = get_session_texts();
    EXPECT_STREQ(t.my_name1, "Ann");
    EXPECT_STREQ(t.my_name2, "Lee");
    EXPECT_EQ(std::string(t.my_name3), std::string(31, 'n'));

    server.send(SRV_LOGIN_FAILED);
    ASSERT_TRUE(m_rec.wait_for(NM_LOGIN_FAILED));
    EXPECT_EQ(g_logged_in.load(), 0);
}

TEST_F(SessionTest, ListsFillTheTablesAndContactListClearsAllRecords) {
    fake_server server(testsupport::loopback_address(2).c_str());
    start(testsupport::loopback_address(2).c_str());
    // Records left from before, including one beyond the ones the new list fills.
    for (int i = 0; i < 100; i++) add_one_contact(5000 + i, 0, "old");
    ASSERT_TRUE(login_to(server));
    server.send(SRV_GROUPS_BEGIN);
    server.send(SRV_GROUP, "         7:Friends");
    server.send(SRV_GROUP, "         8:" + std::string(70, 'g'));
    server.send(SRV_GROUPS_END);
    server.send(SRV_CONTACTS_BEGIN);
    server.send(SRV_CONTACT, "        11:         7:Bob");
    server.send(SRV_CONTACT, "        12:         0:Cy");
    server.send(SRV_CONTACT_HOME_SERVER, "        11:127.0.77.9 ignored");
    server.send(SRV_CONTACT_FIRST_NAME, "        11:Robert");
    server.send(SRV_CONTACT_EMAIL, "        11:bob@example.org");
    server.send(SRV_CONTACT_EMAIL, "        99:nobody@example.org");  // unknown id: no change
    server.send(SRV_CONTACT_RELATION, "        12:4");
    server.send(SRV_CONTACTS_END);
    ASSERT_TRUE(m_rec.wait_for(NM_CONTACT_LIST));
    ASSERT_TRUE(m_rec.wait_for(NM_GROUP_LIST));

    auto groups = groups_snapshot();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_STREQ(groups[0].name, "Friends");
    EXPECT_EQ(std::string(groups[1].name), std::string(32, 'g'));  // the table keeps 32
    auto contacts = contacts_snapshot();
    ASSERT_EQ(contacts.size(), 2u);  // all 100 old records are gone
    EXPECT_EQ(contacts[0].contact_id, 11);
    EXPECT_EQ(contacts[0].group_id, 7);
    EXPECT_STREQ(contacts[0].display_name, "Bob");
    EXPECT_STREQ(contacts[0].home_server, "127.0.77.9");
    EXPECT_STREQ(contacts[0].first_name, "Robert");
    EXPECT_STREQ(contacts[0].email, "bob@example.org");
    EXPECT_EQ(contacts[1].relation_state, 4);
    EXPECT_EQ(g_contact_count, 2);
}

TEST_F(SessionTest, UnknownCommandsAndBadHeadersAreSkippedAndTheConnectionKept) {
    fake_server server(testsupport::loopback_address(3).c_str());
    start(testsupport::loopback_address(3).c_str());
    ASSERT_TRUE(login_to(server));
    server.send(777, std::string(300, 'x'));  // unknown: its body is consumed
    // Bad separator at position 9; the bytes behind it are what the one discarding read takes.
    server.send_raw("   0:   0;1000:   0:junkjunk");
    // The next message goes only once the receive thread dealt with the bad header and took the
    // junk behind it.
    ASSERT_TRUE(testsupport::wait_until(
        [] {
            return session_test::read_log().find("format error") != std::string::npos &&
                   testsupport::unread_bytes(g_main_link.sock) == 0;
        },
        20000));
    server.send(SRV_USER_ID, "4321");
    for (int i = 0; i < 1000 && g_user_id.load() != 4321; i++) sleep_ms(20);
    EXPECT_EQ(g_user_id.load(), 4321);
    std::string log = session_test::read_log();
    EXPECT_NE(log.find("g_recv_thread command format error at:9."), std::string::npos);
    EXPECT_NE(log.find("content is:   0:   0;1000:   0:."), std::string::npos);
    EXPECT_NE(g_main_link.sock.load(), 0);
}

// An accepted session whose server is lost is resumed, not ended: the loss is posted once, sends
// do not reconnect by themselves meanwhile, and each attempt makes the connection and sends the
// login first. A server that is still gone fails the attempt; one that refuses ends the session.
TEST_F(SessionTest, LostSessionIsResumedWithItsLoginUntilTheServerRefusesIt) {
    const std::string address = testsupport::loopback_address(4);
    auto server = std::make_unique<fake_server>(address.c_str());
    start(address.c_str());
    ASSERT_TRUE(login_to(*server));
    server->send(SRV_LOGIN_OK);
    ASSERT_TRUE(m_rec.wait_for(NM_LOGIN_SUCCESS));
    auto wanted = [] { return true; };
    message m;
    int losses = 0;
    // The server restarts twice: once it takes the repeated login, once it refuses it.
    for (int reply : {SRV_LOGIN_OK, SRV_LOGIN_FAILED}) {
        server.reset();
        losses++;
        m_rec.wait_count(NM_CONNECTING, losses);
        ASSERT_EQ(m_rec.count(NM_CONNECTING), losses);
        EXPECT_TRUE(session_resuming());
        EXPECT_EQ(g_logged_in.load(), 0);
        send_keep_alive();  // nothing to connect to, and no second report of the loss
        EXPECT_EQ(resume_session(wanted), -1);
        EXPECT_EQ(m_rec.count(NM_CONNECTING), losses);
        EXPECT_EQ(m_rec.count(NM_LOGIN_FAILED), 0);

        server = std::make_unique<fake_server>(address.c_str());
        send_keep_alive();
        EXPECT_FALSE(server->accept(300)) << "a send while resuming does not connect by itself";
        EXPECT_EQ(resume_session([] { return false; }), 1) << "given up: no connection made";
        ASSERT_EQ(resume_session(wanted), 0);
        ASSERT_TRUE(server->accept());
        ASSERT_TRUE(server->read(&m));
        EXPECT_EQ(m.command, CMD_LOGIN) << "the login goes first on the new connection";
        EXPECT_EQ(m.body, "ann@example.org:secret");
        EXPECT_EQ(g_logged_in.load(), 0) << "not signed in until the server says so";
        server->send(reply);
        if (reply == SRV_LOGIN_OK) {
            m_rec.wait_count(NM_LOGIN_SUCCESS, 2);
            EXPECT_EQ(g_logged_in.load(), 1);
            EXPECT_FALSE(session_resuming());
            send_keep_alive();  // the session is back: sends go out as before
            ASSERT_TRUE(server->read(&m));
            EXPECT_EQ(m.command, CMD_KEEP_ALIVE);
        }
    }
    ASSERT_TRUE(m_rec.wait_for(NM_LOGIN_FAILED));
    EXPECT_EQ(m_rec.count(NM_LOGIN_SUCCESS), 2);
    EXPECT_EQ(g_logged_in.load(), 0);
    EXPECT_FALSE(session_resuming());

    // Refused: a later loss is nothing to resume.
    EXPECT_EQ(resume_session(wanted), 1);
    server.reset();
    for (int i = 0; i < 250 && g_main_link.sock.load() != 0; i++) sleep_ms(20);
    send_keep_alive();
    EXPECT_EQ(m_rec.count(NM_CONNECTING), 2);
    EXPECT_EQ(m_rec.count(NM_LOGIN_FAILED), 1);
}

TEST_F(SessionTest, ServerCommandsRaiseTheirNotifications) {
    fake_server server(testsupport::loopback_address(5).c_str());
    start(testsupport::loopback_address(5).c_str());
    add_one_contact(21, 0, "Dee");
    ASSERT_TRUE(login_to(server));
    server.send(SRV_PEER_STATUS, "        21:     1:10.1.2.3");
    server.send(SRV_ADD_CONFIRM_OK, "21");
    server.send(SRV_GROUP_RENAME_OK, "         7:New name");
    server.send(SRV_NOTICE1, std::string(1500, 'z'));  // a notice cut to 1024 characters
    server.send(SRV_STATUS_SET, "3");
    server.send(SRV_PEER_STATUS, "        22:     1:10.9.9.9");  // not a contact
    server.send(SRV_LOGGED_IN_ELSEWHERE);
    ASSERT_TRUE(m_rec.wait_for(NM_LOGGED_IN_ELSEWHERE));
    recorder::note n;
    ASSERT_TRUE(m_rec.wait_for(NM_PEER_STATUS, 100, &n));
    EXPECT_EQ(n.w, 21);
    EXPECT_EQ(n.l, 1);
    contact_record c;
    ASSERT_TRUE(contact_by_id(21, &c));
    EXPECT_STREQ(c.address, "10.1.2.3");
    ASSERT_TRUE(m_rec.wait_for(NM_CONTACT_ADD_CONFIRM_SUCCESS, 100, &n));
    EXPECT_EQ(n.w, 21);
    ASSERT_TRUE(m_rec.wait_for(NM_GROUP_UPDATE_SUCCESS, 100, &n));
    EXPECT_EQ(n.w, 7);
    ASSERT_TRUE(n.owned);  // the name travels with the notification
    EXPECT_STREQ(reinterpret_cast<const char*>(n.l), "New name");
    EXPECT_EQ(get_group_update_name(), "New name");
    EXPECT_EQ(get_server_notice(0), std::string(1024, 'z'));
    ASSERT_TRUE(m_rec.wait_for(NM_SET_MY_STATUS, 100, &n));
    EXPECT_EQ(n.w, 3);
    // A presence change about someone who is not a contact is logged and still notified.
    std::vector<intptr_t> status_ids;
    for (const auto& x : m_rec.notes())
        if (x.n == NM_PEER_STATUS) status_ids.push_back(x.w);
    EXPECT_EQ(status_ids, (std::vector<intptr_t>{21, 22}));
    EXPECT_NE(session_test::read_log().find(
                  "could not find peer_id in do_status_notify_by_peer, peer_id:22\r\n"),
              std::string::npos);
}

TEST_F(SessionTest, EachOfflineChunkTravelsWithItsOwnNotification) {
    fake_server server(testsupport::loopback_address(6).c_str());
    start(testsupport::loopback_address(6).c_str());
    ASSERT_TRUE(login_to(server));
    server.send(SRV_OFFLINE_BEGIN, "1");
    server.send(SRV_OFFLINE_TEXT, std::string(2047, 'a'));
    server.send(SRV_OFFLINE_TEXT, std::string(3000, 'b'));  // cut to the chunk width
    server.send(SRV_OFFLINE_END, "        42");
    recorder::note n;
    ASSERT_TRUE(m_rec.wait_for(NM_OFFLINE_END, 3000, &n));
    EXPECT_EQ(n.w, 42);
    // Read only now, when the receive loop has long overwritten its own copy of the first chunk.
    std::vector<std::string> chunks = m_rec.chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], std::string(2047, 'a'));
    EXPECT_EQ(chunks[1], std::string(2047, 'b'));
}

TEST_F(SessionTest, TheReceiveLoopLeavesASlowProxysHandshakeToTheConnectingThread) {
    using namespace proxy_test;
    const std::string server = testsupport::loopback_address(8);
    const std::string target = server + ":" + std::to_string(kServerPort);
    const auto framed = [](int command, const std::string& body) {
        std::string out(kHeaderLen + body.size(), '\0');
        build_message(out.data(), static_cast<int>(out.size()), 0, 0, command, body.data(),
                      static_cast<int>(body.size()));
        xor_scramble(out.data() + kHeaderLen, static_cast<long>(body.size()));
        return out;
    };
    // The reply comes a byte at a time, each once the last was read off the connection, so a
    // receive loop that read the connection as soon as its handle appeared would take bytes of
    // it (or, finding nothing left to read, take the connection for closed).
    const auto read_off = [] {
        socket_t s = g_main_link.sock.load();
        int pending = 0;
        return s != 0 && ioctl(s, FIONREAD, &pending) == 0 && pending == 0;
    };
    scripted_proxy proxy(testsupport::loopback_host(9),
                         {expect("CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n\r\n"),
                          drip("HTTP/1.0 200 Connection established\r\nProxy-agent: slow\r\n\r\n", read_off),
                          expect(framed(CMD_LOGIN, "ann@example.org:secret")),
                          reply(framed(SRV_LOGIN_OK, "")), expect_eof()});
    start(server.c_str());
    ASSERT_EQ(0, save_proxy_settings(1, 0, testsupport::loopback_host(9), proxy.port(), "", ""));
    ASSERT_EQ(0, login("ann@example.org", "secret"));
    ASSERT_TRUE(m_rec.wait_for(NM_LOGIN_SUCCESS, 10000));
    EXPECT_EQ(std::string::npos, session_test::read_log().find("command format error"));
    session_stop();
    EXPECT_EQ("", proxy.finish());
}

TEST_F(SessionTest, StopEndsTheReceiveThreadWhileTheServerIsSilent) {
    fake_server server(testsupport::loopback_address(7).c_str());
    start(testsupport::loopback_address(7).c_str());
    ASSERT_TRUE(login_to(server));
    // TearDown joins the thread, which is blocked waiting for data; it must return promptly.
}

}  // namespace
