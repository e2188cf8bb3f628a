// The contact, group and chat-window tables, and the queued notification dispatcher.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/debug_log.h"
#include "platform/paths.h"
#include "protocol/chat_session.h"
#include "protocol/notify.h"
#include "protocol/tables.h"
#include "tests/protocol/proxy_test_support.h"
#include "tests/protocol/session_test_support.h"

namespace {

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_home_dir(m_home.path());
        ASSERT_EQ(open_debug_log(), 0);
        clear_all_tables();
    }
    void TearDown() override {
        clear_all_tables();
        close_debug_log();
        set_home_dir("");
    }
    proxy_test::temp_home m_home;
    proxy_test::message_capture m_boxes;
};

struct fake_chat : chat_window {
    explicit fake_chat(int p) : m_peer(p) {}
    void post(int, intptr_t, intptr_t) override {}
    void send(int, intptr_t, intptr_t) override {}
    int peer_id() const override { return m_peer; }
    int m_peer;
};

TEST_F(TablesTest, LimitsOfTheContactAndGroupTables) {
    for (int i = 0; i < 100; i++) add_one_contact(i + 1, 0, "x");
    EXPECT_EQ(add_one_contact(999, 0, "full"), 0);
    EXPECT_EQ(get_contact_index(999), -1);
    EXPECT_EQ(g_contact_count, 100);
    EXPECT_NE(session_test::read_log().find("contacts full in add_one_contact.\r\n"), std::string::npos);

    EXPECT_EQ(reset_one_contact(100), -1);
    EXPECT_EQ(m_boxes.take().back(), "index out of range in reset_one_contact");
    EXPECT_EQ(reset_one_contact(5), 0);
    EXPECT_EQ(get_contact_index(6), -1);
    add_one_contact(6000, 3, std::string(200, 'd').c_str());  // takes the freed slot 5
    EXPECT_EQ(get_contact_index(6000), 5);
    contact_record c;
    ASSERT_TRUE(contact_at(5, &c));
    EXPECT_EQ(std::strlen(c.display_name), 127u);

    for (int i = 0; i < 51; i++) add_one_contact_group(i + 1, "g");
    EXPECT_EQ(g_num_contact_group, 50);
    EXPECT_EQ(g_group_table[49].group_id, 51);  // the 51st replaced the last record
    EXPECT_EQ(reset_one_contact_group(50), -1);
    EXPECT_NE(session_test::read_log().find("index 50 out of range 0-50 in reset_one_contact_group"),
              std::string::npos);
}

TEST_F(TablesTest, DuplicateIdsFindTheLowestSlotAndChatWindowsByPeer) {
    add_one_contact(7, 0, "first");
    add_one_contact(7, 0, "second");
    EXPECT_EQ(get_contact_index(7), 0);

    fake_chat a(70), b(71);
    EXPECT_EQ(add_chat_dlg(&a), 0);
    EXPECT_EQ(add_chat_dlg(&b), 1);
    EXPECT_EQ(get_chat_dlg_index(71), 1);
    EXPECT_EQ(get_chat_dlg_from_peer_id(70), &a);
    EXPECT_EQ(get_chat_dlg_from_peer_id(0), nullptr);
    EXPECT_EQ(get_chat_dlg_from_peer_id(72), nullptr);
    std::string log = session_test::read_log();
    EXPECT_NE(log.find("peer_id:0 <= 0 in get_chat_dlg_from_peer_id"), std::string::npos);
    EXPECT_NE(log.find("could not find chat dlg in get_chat_dlg_from_peer_id peer_id:72"),
              std::string::npos);
    remove_chat_dlg(&a);
    EXPECT_EQ(get_chat_dlg_index(70), -1);
    EXPECT_EQ(take_all_chat_dlgs().size(), 1u);
}

// A chat session opens with its window at the switches' opening values, keeps what the threads
// change, hands pictures over whole and goes with the window.
TEST_F(TablesTest, ChatSessionsFollowTheirWindows) {
    fake_chat a(70);
    chat_media_state st;
    EXPECT_FALSE(chat_session_get(70, &st));
    ASSERT_EQ(add_chat_dlg(&a), 0);
    ASSERT_TRUE(chat_session_get(70, &st));
    EXPECT_EQ(st.my_audio, 0);
    EXPECT_EQ(st.peer_audio, 1);
    EXPECT_EQ(st.my_video, 0);
    EXPECT_EQ(st.video_rate, 10);
    EXPECT_TRUE(chat_session_update(70, [](chat_media_state& s) { s.my_audio = 1; s.peer_id = 5; }));
    auto first = std::make_shared<peer_picture>();
    EXPECT_TRUE(chat_session_publish_picture(70, first));
    EXPECT_TRUE(chat_session_publish_picture(70, std::make_shared<peer_picture>()));
    ASSERT_TRUE(chat_session_get(70, &st));
    EXPECT_EQ(st.my_audio, 1);
    EXPECT_EQ(st.peer_id, 70);
    EXPECT_EQ(first->serial, 1u);  // a reader holding the first picture still has it whole
    EXPECT_EQ(st.picture->serial, 2u);
    EXPECT_EQ(chat_session_all().size(), 1u);
    remove_chat_dlg(&a);
    EXPECT_FALSE(chat_session_get(70, &st));
    EXPECT_FALSE(chat_session_update(70, [](chat_media_state&) {}));
}

TEST_F(TablesTest, ServerPassesGroupRecordsByHomeServer) {
    const char* hosts[] = {"a", "b", "a", "", "c", "b", "A"};
    for (int i = 0; i < 7; i++) {
        add_one_contact(i + 1, 0, "x");
        std::strcpy(g_contact[i].home_server, hosts[i]);
    }
    reset_one_contact(1);  // a free slot is skipped even though its host matched once
    auto firsts = start_server_pass(RETRIEVE_MARKER);
    EXPECT_EQ(firsts, (std::vector<int>{0, 4, 5, 6}));  // case-sensitive: "A" is its own server
    EXPECT_EQ(g_contact[2].retrieve_marker, 1);
    EXPECT_EQ(g_contact[3].retrieve_marker, 0);
    EXPECT_EQ(start_server_pass(STATUS_MARKER), firsts);
}

TEST(PresenceTexts, LabelsAndWords) {
    EXPECT_STREQ(presence_label(1), "OnLine");
    EXPECT_STREQ(presence_word(1), "Online");
    EXPECT_STREQ(presence_label(7), "Appear Offline");
    EXPECT_STREQ(presence_label(8), "Unknown");
}

TEST(QueuedDispatcher, SendWaitsForTheFrontEndThreadAndPostsKeepTheirOrder) {
    std::vector<int> seen;  // only touched on this (the front end's) thread
    queued_dispatcher d([&](int n, intptr_t w, intptr_t) { seen.push_back(n * 100 + static_cast<int>(w)); });
    d.bind_to_current_thread();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        d.post(1, 1, 0);
        d.send(2, 2, 0);  // returns only after the handler ran
        returned = true;
        d.post(3, 3, 0);
    });
    while (!returned.load()) d.wait_and_run(10);
    worker.join();
    d.run_pending();
    EXPECT_EQ(seen, (std::vector<int>{101, 202, 303}));
    d.send(4, 4, 0);  // from the front end's own thread: runs at once
    EXPECT_EQ(seen.back(), 404);
}

TEST(QueuedDispatcher, StopReleasesAWaitingSender) {
    queued_dispatcher d([](int, intptr_t, intptr_t) {});
    d.bind_to_current_thread();
    std::mutex m;
    std::condition_variable cv;
    bool queued = false;
    d.set_wakeup([&] {
        std::lock_guard<std::mutex> lk(m);
        queued = true;
        cv.notify_all();
    });
    std::thread worker([&] { d.send(5, 0, 0); });
    {
        // The worker's send is queued (it waits for the handler from then on).
        std::unique_lock<std::mutex> lk(m);
        ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(10), [&] { return queued; }));
    }
    d.stop();
    worker.join();  // would hang if stop left the sender waiting
    d.post(6, 0, 0);
    EXPECT_EQ(d.run_pending(), 0);
}

}  // namespace
