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
    void post(int, intptr_t, intptr_t, note_payload = {}) override {}
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

TEST(QueuedDispatcher, NotificationsAndTasksRunInOrderWithWhatTheyOwn) {
    std::vector<std::string> seen;  // only touched on this (the owner's) thread
    queued_dispatcher d([&](int n, intptr_t w, intptr_t l) {
        seen.push_back(n == 3 ? note_text(w, l) : std::to_string(n * 100 + static_cast<int>(w)));
    });
    d.bind_to_current_thread();
    std::weak_ptr<const void> payload;
    std::thread worker([&] {
        d.post(1, 1, 0);
        d.run([&] { seen.push_back("task"); });
        {
            std::string line(3000, 'x');  // gone before the owner runs anything
            owned_bytes o = copy_bytes(line);
            payload = o.keep;
            d.post(3, o.wparam, o.lparam, std::move(o.keep));
        }
        d.post(4, 4, 0);
    });
    worker.join();  // never waits for the owner
    EXPECT_FALSE(payload.expired());
    EXPECT_EQ(d.run_pending(), 4);
    EXPECT_TRUE(payload.expired());  // released once its handler ran
    EXPECT_EQ(seen, (std::vector<std::string>{"101", "task", std::string(3000, 'x'), "404"}));
}

TEST(QueuedDispatcher, AWaitReturnsForAnythingQueuedWhileTheOwnerWasBusy) {
    queued_dispatcher d([](int, intptr_t, intptr_t) {});
    d.bind_to_current_thread();
    std::atomic<int> ran{0};
    std::thread other;
    // While the first task runs, another thread queues the next one and its wake-up goes off.
    d.run([&] {
        other = std::thread([&] { d.run([&] { ran++; }); });
        other.join();
        ran++;
    });
    EXPECT_EQ(d.run_pending(), 2);
    d.run([&] {
        other = std::thread([&] { d.run([&] { ran++; }); });
        other.join();
    });
    EXPECT_EQ(d.run_pending(), 2);
    // Nothing is left for a wait to miss; and one queued from outside is picked up at once.
    std::thread late([&] { d.run([&] { ran++; }); });
    late.join();
    EXPECT_EQ(d.wait_and_run(60000), 1);
    EXPECT_EQ(ran.load(), 4);
}

TEST(QueuedDispatcher, StopDropsWhatIsQueuedAndWhatComesLater) {
    queued_dispatcher d([](int, intptr_t, intptr_t) {});
    d.bind_to_current_thread();
    owned_bytes o = copy_bytes(std::string("kept until dropped"));
    std::weak_ptr<const void> payload = o.keep;
    d.post(5, o.wparam, o.lparam, std::move(o.keep));
    d.stop();
    EXPECT_TRUE(payload.expired());
    d.post(6, 0, 0);
    EXPECT_EQ(d.run_pending(), 0);
    EXPECT_EQ(d.wait_and_run(60000), 0);  // a stopped queue never waits
}

}  // namespace
