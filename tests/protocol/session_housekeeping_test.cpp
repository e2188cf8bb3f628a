// Housekeeping driven by injected ticks, and the session controller's answers to notifications.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/housekeeping.h"
#include "protocol/peer_dispatch.h"
#include "protocol/peer_dispatch.h"
#include "protocol/requests.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "tests/protocol/proxy_test_support.h"
#include "tests/protocol/session_test_support.h"
#include "tests/support/loopback.h"

using session_test::fake_server;
using session_test::message;
using session_test::recorder;

namespace {

std::atomic<uint32_t> g_fake_now{0};
uint32_t fake_tick() { return g_fake_now.load(); }

struct fake_idle : input_idle_source {
    uint32_t last = 0;
    uint32_t last_input_tick() override { return last; }
};

class MainServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_home_dir(m_home.path());
        ASSERT_EQ(open_debug_log(), 0);
        clear_all_tables();
        reset_session_values();
        reset_speed_test();
        reset_relay_acks();
        g_main_dlg = &m_rec;
        set_tick_source(fake_tick);
        g_fake_now = 1000;
    }
    void TearDown() override {
        g_main_link.my_close();
        wait_for_jobs(5000);
        // Nothing queued by this test may reach the next test's server.
        main_link_writer_stop();
        set_tick_source(nullptr);
        g_main_dlg = nullptr;
        clear_all_tables();
        close_debug_log();
        set_home_dir("");
    }
    void use_main_server(const char* address) {
        g_main_link.my_close();
        std::strcpy(g_main_link.server_host, address);
        g_main_link.server_port = kServerPort;
    }
    // Commands that arrived within a short while, in order.
    std::vector<message> drain(fake_server& server, int ms = 300) {
        std::vector<message> out;
        message m;
        while (server.read(&m, ms)) out.push_back(m);
        return out;
    }
    static int count(const std::vector<message>& msgs, int command) {
        int c = 0;
        for (auto& m : msgs) c += m.command == command;
        return c;
    }
    proxy_test::temp_home m_home;
    recorder m_rec;
    proxy_test::message_capture m_boxes;
};

TEST_F(MainServerTest, EveryFiveSecondTickSendsKeepAliveAndTheRegularRequests) {
    fake_server server(testsupport::loopback_address(1).c_str());
    use_main_server(testsupport::loopback_address(1).c_str());
    session_controller controller;
    housekeeping hk(controller, nullptr);
    hk.start(0);
    hk.tick(4999);
    EXPECT_EQ(hk.housekeeping_ticks(), 0u);
    hk.tick(5000);
    ASSERT_TRUE(server.accept());
    auto first = drain(server);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0].command, CMD_KEEP_ALIVE);
    EXPECT_EQ(count(first, CMD_SPEED_START), 1);  // the first tick starts a speed test
    EXPECT_EQ(count(first, CMD_SPEED_DATA), 3);
    EXPECT_EQ(count(first, CMD_SPEED_END), 1);
    EXPECT_EQ(first[1].body, std::string(1000, '\0'));
    EXPECT_EQ(count(first, CMD_RELAY_TRAFFIC), 0);  // only on every second tick
    EXPECT_EQ(count(first, CMD_SLAVE_SERVER_REQUEST), 1);
    hk.tick(10000);
    auto second = drain(server);
    EXPECT_EQ(count(second, CMD_KEEP_ALIVE), 1);
    EXPECT_EQ(count(second, CMD_RELAY_CONNECTIONS), 1);
    EXPECT_EQ(count(second, CMD_RELAY_TRAFFIC), 1);
    EXPECT_EQ(count(second, CMD_SPEED_START), 0);
}

namespace {
// Counts the route exchanges the housekeeping asks the peer layer for.
struct route_counter : peer_dispatch {
    std::vector<uint32_t> ticks;
    uint32_t now = 0;
    void fifth_tick_duty() override { ticks.push_back(now); }
};
}  // namespace

TEST_F(MainServerTest, AServerThatReadsNothingHoldsUpNoSenderAndLosesNothing) {
    fake_server server(testsupport::loopback_address(10).c_str());
    use_main_server(testsupport::loopback_address(10).c_str());
    ASSERT_EQ(g_main_link.connect_to_server(), 0);
    ASSERT_TRUE(server.accept());
    // Far more than the socket buffers hold while the server reads nothing: every call returns
    // (none waits on the socket) and the rest waits on the queue.
    constexpr int kCount = 600;
    for (int i = 0; i < kCount; i++) {
        std::string body(1000, static_cast<char>('a' + i % 26));
        std::memcpy(body.data(), std::to_string(i).c_str(), std::to_string(i).size());
        ASSERT_EQ(general_buf_command_to_server(CMD_SPEED_DATA, body.data(), 1000), 0) << i;
    }
    EXPECT_FALSE(main_link_flush(0)) << "everything went out although the server read nothing";
    // Past the queue's bound a command is refused, not kept without end.
    std::string big(1000, 'z');
    int refused = 0;
    for (int i = 0; i < 1100 && refused == 0; i++)
        refused = general_buf_command_to_server(CMD_SPEED_DATA, big.data(), 1000) != 0;
    EXPECT_EQ(refused, 1);
    // Once the server reads, every message arrives whole and in order.
    for (int i = 0; i < kCount; i++) {
        message m;
        ASSERT_TRUE(server.read(&m, 10000)) << i;
        ASSERT_EQ(m.command, CMD_SPEED_DATA);
        ASSERT_EQ(m.body.substr(0, std::to_string(i).size()), std::to_string(i));
        ASSERT_EQ(m.body.back(), static_cast<char>('a' + i % 26));
    }
}

TEST_F(MainServerTest, RouteExchangeRunsOnTheFirstTickAndEveryFifthAfter) {
    fake_server server(testsupport::loopback_address(9).c_str());
    use_main_server(testsupport::loopback_address(9).c_str());
    route_counter routes;
    set_peer_dispatch(&routes);
    session_controller controller;
    housekeeping hk(controller, nullptr);
    hk.start(0);
    for (uint32_t t = 5000; t <= 55000; t += 5000) {
        routes.now = t;
        hk.tick(t);
    }
    set_peer_dispatch(nullptr);
    EXPECT_EQ(routes.ticks, (std::vector<uint32_t>{5000, 30000, 55000}));
}

TEST_F(MainServerTest, SpeedTestRunsAgainOnlyAnHourAfterTheAnswer) {
    fake_server server(testsupport::loopback_address(3).c_str());
    use_main_server(testsupport::loopback_address(3).c_str());
    EXPECT_TRUE(speed_test_due(5000, 1));
    g_fake_now = 5000;
    start_speed_test(5000);
    ASSERT_TRUE(server.accept());
    drain(server);
    g_fake_now = 5250;  // the answer takes 250 ms
    ASSERT_EQ(do_speed_test_reply_end_from_server(), 0);
    message m;
    ASSERT_TRUE(server.read_until(CMD_SPEED_RESULT, &m));
    EXPECT_EQ(m.body, "        4000");
    EXPECT_FALSE(speed_test_due(5250 + 25000, 6));             // count 6: too early
    EXPECT_FALSE(speed_test_due(5250 + 3600000, 2));           // an hour, wrong count
    EXPECT_TRUE(speed_test_due(5250 + 3600000, 11));           // an hour and count 11
    EXPECT_FALSE(speed_test_due(5250 + 3599999, 11));
    // An answer with no test running is ignored.
    EXPECT_EQ(do_speed_test_reply_end_from_server(), -1);
}

TEST_F(MainServerTest, AutomaticAwayAndBackButBusyAndChosenAwayStay) {
    fake_server server(testsupport::loopback_address(4).c_str());
    use_main_server(testsupport::loopback_address(4).c_str());
    session_controller controller;
    fake_idle idle;
    housekeeping hk(controller, &idle);
    hk.start(0);
    g_my_status = PS_ONLINE;
    idle.last = 0;
    hk.tick(180000);  // idle 180000 ms: not yet
    ASSERT_TRUE(server.accept());
    auto msgs = drain(server);
    EXPECT_EQ(count(msgs, CMD_SET_STATUS), 0);
    hk.tick(185001);  // idle 185001 ms
    msgs = drain(server);
    ASSERT_EQ(count(msgs, CMD_SET_STATUS), 1);
    EXPECT_EQ(msgs.back().body, "         3");
    g_my_status = PS_AWAY;  // the server confirmed
    idle.last = 188000;
    hk.tick(190001);
    msgs = drain(server);
    ASSERT_EQ(count(msgs, CMD_SET_STATUS), 1);
    EXPECT_EQ(msgs.back().body, "         1");

    g_my_status = PS_BUSY;
    hk.tick(900000);
    EXPECT_EQ(count(drain(server), CMD_SET_STATUS), 0);

    controller.request_my_status(PS_AWAY, true);
    drain(server);
    g_my_status = PS_AWAY;
    idle.last = 900100;
    hk.tick(905000);
    EXPECT_EQ(count(drain(server), CMD_SET_STATUS), 0);
}

TEST_F(MainServerTest, StatusBroadcastFiresFiveSecondsAfterTheFirstRequestOnly) {
    fake_server main_server(testsupport::loopback_address(5).c_str());
    fake_server home(testsupport::loopback_address(6).c_str());
    use_main_server(testsupport::loopback_address(5).c_str());
    add_one_contact(71, 0, "h");
    {
        tables_guard lk(tables_mutex());
        std::strcpy(g_contact[0].home_server, testsupport::loopback_address(6).c_str());
    }
    session_controller controller;
    housekeeping hk(controller, nullptr);
    hk.start(0);
    g_fake_now = 1000;
    controller.request_my_status(PS_BUSY, true);
    g_fake_now = 3000;
    controller.request_my_status(PS_LUNCH, true);  // does not push the broadcast back
    g_my_status = PS_LUNCH;
    hk.tick(4999);
    EXPECT_TRUE(hk.status_timer_armed());
    EXPECT_FALSE(home.accept(200));
    hk.tick(6000);
    EXPECT_FALSE(hk.status_timer_armed());
    ASSERT_TRUE(home.accept());
    message m;
    ASSERT_TRUE(home.read(&m));
    EXPECT_EQ(m.command, CMD_STATUS_TO_HOME);
    EXPECT_EQ(m.body.substr(0, 29), "        71:         0:     6:");
}

// Answers the relation questions from a script.
struct scripted_asker : question_asker {
    int added = ANSWER_YES;
    int removed = ANSWER_NO;
    int offline = ANSWER_YES;
    int asked = 0;
    int ask_added_me(const contact_record&, const user_text&) override { return asked++, added; }
    int ask_removed_me(const contact_record&, const user_text&) override { return asked++, removed; }
    int ask_read_offline(const user_text&) override { return offline; }
};

TEST_F(MainServerTest, ContactListAsksPendingQuestionsOnceAndAnswers) {
    fake_server server(testsupport::loopback_address(7).c_str());
    use_main_server(testsupport::loopback_address(7).c_str());
    add_one_contact(81, 0, "a");
    add_one_contact(82, 0, "b");
    add_one_contact(83, 0, "c");
    {
        tables_guard lk(tables_mutex());
        g_contact[0].relation_state = REL_ADDED_ME;
        g_contact[1].relation_state = REL_REMOVED_ME;
        g_contact[2].relation_state = REL_ADDED_ME;
    }
    scripted_asker asker;
    session_controller controller(&asker);
    controller.handle(NM_CONTACT_LIST, 0, 0);
    ASSERT_TRUE(server.accept());
    auto msgs = drain(server);
    ASSERT_GE(msgs.size(), 4u);
    EXPECT_EQ(msgs[0].command, CMD_ACCEPT_ADDED);
    EXPECT_EQ(msgs[0].body, "        81");
    EXPECT_EQ(msgs[1].command, CMD_KEEP_REMOVED);
    EXPECT_EQ(msgs[2].command, CMD_ACCEPT_ADDED);
    EXPECT_EQ(msgs.back().command, CMD_OFFLINE_CHECK);
    EXPECT_EQ(asker.asked, 3);
    controller.handle(NM_CONTACT_LIST, 0, 0);  // asked flags keep the questions from repeating
    EXPECT_EQ(asker.asked, 3);
    drain(server);

    // A declined addition drops the record at once.
    {
        tables_guard lk(tables_mutex());
        g_contact[2].asked = 0;
    }
    asker.added = ANSWER_NO;
    controller.handle(NM_CONTACT_LIST, 0, 0);
    msgs = drain(server);
    EXPECT_EQ(msgs[0].command, CMD_DECLINE_ADDED);
    EXPECT_EQ(get_contact_index(83), -1);
}

// Resuming a lost session: only once the server had accepted it, a repeated report of the same
// loss changes nothing, the delay grows to its cap, the duties wait, sign-out and refusal end it.
TEST_F(MainServerTest, LostSessionAttemptsBackOffAndEnd) {
    EXPECT_EQ(resume_delay_ms(1, 0), 1000u);
    EXPECT_GE(resume_delay_ms(40, 0xffffffffu), 48000u);
    EXPECT_LE(resume_delay_ms(40, 0), 60000u);
    fake_server server(testsupport::loopback_address(9).c_str());
    use_main_server(testsupport::loopback_address(9).c_str());
    session_controller controller;
    housekeeping hk(controller, nullptr);
    hk.start(1000);
    controller.handle(NM_CONNECTING, 0, 0);
    EXPECT_FALSE(controller.resuming()) << "never signed in: nothing to resume";

    controller.handle(NM_LOGIN_SUCCESS, 0, 0);
    ASSERT_TRUE(server.accept());
    // The requests of the login go out before the connection is lost (a request still queued
    // would make a connection of its own).
    ASSERT_TRUE(main_link_flush(5000));
    server.close_connection();
    g_main_link.my_close();
    EXPECT_EQ(controller.handle(NM_CONNECTING, 0, 0).id, TXT_CONNECTING);
    controller.handle(NM_CONNECTING, 0, 0);
    ASSERT_TRUE(controller.resuming());
    EXPECT_EQ(controller.resume_attempt(), 1);
    EXPECT_LE(hk.ms_until_due(1000), controller.resume_delay());
    controller.handle(NM_CONNECTING, 1, 0);  // that attempt failed
    EXPECT_EQ(controller.resume_attempt(), 2);
    EXPECT_GE(controller.resume_delay(), 1600u);
    hk.tick(6000);  // no keep-alive reconnects meanwhile
    EXPECT_EQ(hk.housekeeping_ticks(), 0u);
    EXPECT_FALSE(server.accept(300));

    controller.sign_out();
    controller.handle(NM_CONNECTING, 1, 0);  // an attempt that ended after the sign-out
    EXPECT_FALSE(controller.resuming());
    controller.handle(NM_LOGIN_SUCCESS, 0, 0);
    controller.handle(NM_CONNECTING, 0, 0);
    EXPECT_EQ(controller.resume_attempt(), 1) << "a new loss starts from the first delay";
    controller.handle(NM_LOGIN_FAILED, 0, 0);
    controller.handle(NM_CONNECTING, 0, 0);
    EXPECT_FALSE(controller.resuming());
    wait_for_jobs(5000);
}

TEST_F(MainServerTest, LoginSuccessRequestsListsAndOnline) {
    fake_server server(testsupport::loopback_address(8).c_str());
    use_main_server(testsupport::loopback_address(8).c_str());
    session_controller controller;
    // By the time the server confirms a login, the main connection is up (the login went on it).
    ASSERT_EQ(g_main_link.connect_to_server(), 0);
    controller.handle(NM_LOGIN_SUCCESS, 0, 0);
    ASSERT_TRUE(server.accept());
    auto msgs = drain(server);
    // The base requests in their order, then the announcement of our extensions.
    ASSERT_EQ(msgs.size(), 5u);
    EXPECT_EQ(msgs[0].command, CMD_LOCAL_ADDRESS);
    EXPECT_EQ(msgs[0].body, "127.0.0.1");
    EXPECT_EQ(msgs[1].command, CMD_GET_GROUPS);
    EXPECT_EQ(msgs[2].command, CMD_GET_CONTACTS);
    EXPECT_EQ(msgs[3].command, CMD_SET_STATUS);
    EXPECT_EQ(msgs[3].body, "         1");
    EXPECT_EQ(msgs[4].command, CMD_EXTENSIONS);
    EXPECT_EQ(msgs[4].body, std::to_string(kExtAll));

    // A session resumed after an outage asks for the state the user had, not Online.
    g_my_status = PS_BUSY;
    controller.handle(NM_CONNECTING, 0, 0);
    ASSERT_TRUE(controller.resuming());
    controller.handle(NM_LOGIN_SUCCESS, 0, 0);
    msgs = drain(server);
    ASSERT_EQ(msgs.size(), 5u);
    EXPECT_EQ(msgs[3].command, CMD_SET_STATUS);
    EXPECT_EQ(msgs[3].body, "         2");
}

TEST_F(MainServerTest, TableNotificationsChangeTheRecords) {
    session_controller controller;
    add_one_contact(91, 0, "n");
    add_one_contact(92, 0, "m");
    {
        tables_guard lk(tables_mutex());
        g_contact[0].relation_state = REL_REMOVED_ME;
        g_contact[0].presence = PS_BUSY;
        g_contact[1].relation_state = REL_ADDED_ME;
    }
    controller.handle(NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS, 91, 0);
    contact_record c;
    ASSERT_TRUE(contact_by_id(91, &c));
    EXPECT_EQ(c.relation_state, REL_REMOVAL_DECLINED);
    EXPECT_EQ(c.presence, 0);
    EXPECT_EQ(controller.handle(NM_CONTACT_ADD_CONFIRM_SUCCESS, 92, 0).id, TXT_CONTACT_ADDED);
    ASSERT_TRUE(contact_by_id(92, &c));
    EXPECT_EQ(c.relation_state, REL_ADDED);
    controller.handle(NM_CONTACT_REMOVE_SUCCESS, 91, 0);
    EXPECT_EQ(get_contact_index(91), -1);
    EXPECT_TRUE(controller.handle(NM_CONTACT_REMOVE_CONFIRM_SUCCESS, 92, 0).empty());
    EXPECT_NE(session_test::read_log().find("something goes wrong in OnMyMsgContactRemoveConfirmSuccess"),
              std::string::npos);

    controller.add_group("Work");  // no server: the request fails, the name is remembered
    controller.handle(NM_GROUP_ADD_SUCCESS, 12, 0);
    group_record g;
    ASSERT_TRUE(group_by_id(12, &g));
    EXPECT_STREQ(g.name, "Work");
    controller.handle(NM_GROUP_REMOVE_SUCCESS, 12, 0);
    EXPECT_FALSE(group_by_id(12, &g));
    controller.handle(NM_SET_MY_STATUS, 9, 0);
    EXPECT_EQ(g_my_status.load(), 0);
    controller.handle(NM_SET_MY_STATUS, 7, 0);
    EXPECT_EQ(g_my_status.load(), 7);
}

TEST_F(MainServerTest, OfflineMessagesAccumulateAndAreDiscardedOrSaved) {
    fake_server server(testsupport::loopback_address(9).c_str());
    use_main_server(testsupport::loopback_address(9).c_str());
    session_controller controller;
    controller.handle(NM_OFFLINE_BEGIN, 1, 0);
    // Each chunk comes with its own text, as the receive loop posts it.
    for (std::string chunk : {"Hello ", "world"}) {
        owned_bytes o = copy_bytes(chunk);
        controller.handle(NM_OFFLINE_TEXT, o.wparam, o.lparam);
    }
    controller.handle(NM_OFFLINE_END, 404, 0);
    auto pending = controller.pending_offline();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].text, "Hello world");
    EXPECT_EQ(pending[0].label, "Unknown");
    EXPECT_FALSE(pending[0].sender_known);  // a front end shows "Unknown" in its language

    std::string path = m_home.path() + "/saved.txt";
    EXPECT_EQ(controller.save_offline(404, "/nonexistent-dir/x.txt"), -1);
    EXPECT_EQ(m_boxes.take().back(),
              "failed to open file to write, make sure you have privilege to do so.");
    ASSERT_EQ(controller.save_offline(404, path.c_str()), 0);
    FILE* f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[64] = {};
    size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, n), "Hello world");
    ASSERT_TRUE(server.accept());
    message m;
    ASSERT_TRUE(server.read(&m));
    EXPECT_EQ(m.command, CMD_OFFLINE_DONE);
    EXPECT_EQ(m.body, "       404");
    EXPECT_TRUE(controller.pending_offline().empty());
    EXPECT_EQ(controller.discard_offline(404), -1);  // nothing waiting any more
}

}  // namespace
