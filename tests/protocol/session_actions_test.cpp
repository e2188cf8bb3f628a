// The controller's actions that may wait on a socket: they return at once, run on workers in
// order per peer, and report through NM_ACTION_DONE; the dispatcher's wake-up; the lanes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/notify.h"
#include "protocol/peer_dispatch.h"
#include "protocol/session_controller.h"
#include "platform/tick.h"
#include "protocol/tables.h"
#include "protocol/work_lanes.h"
#include "tests/support/loopback.h"

namespace {
using namespace std::chrono_literals;

// A gate the test opens; workers wait at it.
struct gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void release() {
        std::lock_guard<std::mutex> lk(m);
        open = true;
        cv.notify_all();
    }
    bool wait(std::chrono::milliseconds d = 10s) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, d, [this] { return open; });
    }
};

struct fake_peer : peer_dispatch {
    gate hold;
    std::mutex m;
    std::vector<std::string> sent;
    int chat_result = 0;
    int knock_result = 0;
    int send_chat_line(int peer_id, const char* name, const char* text,
                       const unsigned char a[5]) override {
        hold.wait();
        char attrs[32];
        std::snprintf(attrs, sizeof(attrs), "%02x%02x%02x/%d/%d", a[0], a[1], a[2], a[3], a[4]);
        std::lock_guard<std::mutex> lk(m);
        sent.push_back(std::to_string(peer_id) + " " + name + ": " + text + " " + attrs);
        return chat_result;
    }
    int knock(int) override { return knock_result; }
    void start_contact_text_chat(int) override {}
};

struct recording_asker : question_asker {
    std::vector<user_text> shown;
    void show_text(const user_text& t) override { shown.push_back(t); }
};

struct null_chat : chat_window {
    explicit null_chat(int p) : peer(p) {}
    void post(int n, intptr_t, intptr_t, note_payload = {}) override { shown += n == NM_CHAT_TEXT; }
    int peer_id() const override { return peer; }
    int peer;
    int shown = 0;  // chat lines handed to the window
};

class ActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        clear_all_tables();
        add_one_contact(51, 0, "ann");
        add_one_contact(52, 0, "bob");
        set_peer_dispatch(&m_peer);
        g_main_dlg = &m_dispatcher;
        m_controller.set_chat_factory(
            [this](int p) -> chat_window* {
                m_windows.push_back(std::make_unique<null_chat>(p));
                return m_windows.back().get();
            },
            nullptr);
    }
    void TearDown() override {
        m_peer.hold.release();
        m_controller.shutdown(10000);
        g_main_dlg = nullptr;
        set_peer_dispatch(nullptr);
        take_all_chat_dlgs();
        clear_all_tables();
    }
    // Runs notifications until an action reported, at most 10 s.
    bool next_action(action_result* out, user_text* text) {
        auto end = std::chrono::steady_clock::now() + 10s;
        while (m_done.empty() && std::chrono::steady_clock::now() < end) m_dispatcher.wait_and_run(100);
        if (m_done.empty()) return false;
        *out = m_done.front().first;
        *text = m_done.front().second;
        m_done.erase(m_done.begin());
        return true;
    }
    fake_peer m_peer;
    recording_asker m_asker;
    session_controller m_controller{&m_asker};
    std::vector<std::pair<action_result, user_text>> m_done;
    queued_dispatcher m_dispatcher{[this](int n, intptr_t w, intptr_t l) {
        user_text t = m_controller.handle(n, w, l);
        if (n == NM_ACTION_DONE) m_done.emplace_back(m_controller.last_action(), t);
    }};
    std::vector<std::unique_ptr<null_chat>> m_windows;
};
}  // namespace

TEST_F(ActionsTest, ChatLinesReturnAtOnceAndGoOutInOrderPerPeer) {
    chat_style style;
    style.colour = 0x1a2b3c;
    style.size = 12;
    style.style = 5;
    // The peer layer is stuck (a connect that waits): the caller still returns at once.
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(m_controller.send_chat_line(51, "one", style), 0);
    ASSERT_EQ(m_controller.send_chat_line(51, "two"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_NE(get_chat_dlg_from_peer_id(51), nullptr);  // typing opened the chat window
    EXPECT_EQ(m_controller.send_chat_line(99, "nobody"), -1);
    EXPECT_EQ(m_controller.send_chat_line(51, ""), -1);
    m_peer.hold.release();

    action_result r;
    user_text text;
    ASSERT_TRUE(next_action(&r, &text));
    EXPECT_EQ(r.action, ACTION_CHAT_LINE);
    EXPECT_EQ(r.peer_id, 51);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(text.empty());
    ASSERT_TRUE(next_action(&r, &text));
    std::lock_guard<std::mutex> lk(m_peer.m);
    EXPECT_EQ(m_peer.sent, (std::vector<std::string>{"51 : one 1a2b3c/12/5", "51 : two 000000/10/0"}));
}

// A line that went out but whose echo never came (a lost datagram, a relay that died with it) is
// reported as not delivered; an echoed one, or one whose send failed already, is not reported again.
TEST_F(ActionsTest, ALineWithoutItsEchoIsReportedAsNotDelivered) {
    m_peer.hold.release();
    uint32_t t0 = get_tick_count();
    ASSERT_EQ(m_controller.send_chat_line(51, "lost"), 0);
    ASSERT_EQ(m_controller.send_chat_line(52, "echoed"), 0);
    action_result r;
    user_text text;
    ASSERT_TRUE(next_action(&r, &text));
    ASSERT_TRUE(next_action(&r, &text));
    EXPECT_EQ(m_controller.lines_awaiting_echo(), 2u);
    chat_delivery echo;
    echo.peer_id = 52;
    echo.path = 2;
    echo.command = 211;
    echo.body = std::string(":echoed\0\0\0\0\0\0", 13);
    m_controller.handle(NM_PEER_CHAT_LINE, 52, reinterpret_cast<intptr_t>(&echo));
    EXPECT_EQ(m_controller.lines_awaiting_echo(), 1u);
    m_controller.report_undelivered_lines(t0 + kChatEchoWaitMs / 2);
    EXPECT_EQ(m_controller.lines_awaiting_echo(), 1u);  // not yet
    m_controller.report_undelivered_lines(get_tick_count() + kChatEchoWaitMs + 1);
    ASSERT_TRUE(next_action(&r, &text));
    EXPECT_EQ(r.action, ACTION_CHAT_LINE);
    EXPECT_EQ(r.peer_id, 51);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(text.id, TXT_CHAT_SEND_FAILED);
    EXPECT_EQ(m_controller.lines_awaiting_echo(), 0u);

    m_peer.chat_result = -1;  // not sent at all: told once, by the send itself
    ASSERT_EQ(m_controller.send_chat_line(51, "unsent"), 0);
    ASSERT_TRUE(next_action(&r, &text));
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(m_controller.lines_awaiting_echo(), 0u);
}

TEST_F(ActionsTest, FailuresComeBackAsTextsOfTheAction) {
    m_peer.hold.release();
    m_peer.chat_result = -1;
    m_peer.knock_result = -1;
    ASSERT_EQ(m_controller.send_chat_line(52, "hello"), 0);
    action_result r;
    user_text text;
    ASSERT_TRUE(next_action(&r, &text));
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(text.id, TXT_CHAT_SEND_FAILED);
    EXPECT_EQ(text.args.size(), 3u);

    ASSERT_EQ(m_controller.knock(52), 0);
    ASSERT_TRUE(next_action(&r, &text));
    EXPECT_EQ(r.action, ACTION_KNOCK);
    EXPECT_EQ(text.id, TXT_PEER_CONNECT_FAILED);
    EXPECT_EQ(m_controller.knock(98), -1);

    // The editor's checks refuse on the caller's thread and show their text; nothing is queued.
    EXPECT_EQ(m_controller.send_offline_message(52, std::string(10001, 'x')), -1);
    EXPECT_EQ(m_controller.send_offline_message(98, "hi"), -1);
    ASSERT_EQ(m_asker.shown.size(), 2u);
    EXPECT_EQ(m_asker.shown[0].id, TXT_OFFLINE_TOO_LONG);
    EXPECT_EQ(m_asker.shown[1].id, TXT_OFFLINE_CONTACT_UNKNOWN);
    // A home server nobody listens on: the worker reports 190, the caller never waited.
    {
        tables_guard lk(tables_mutex());
        copy_text(g_contact[get_contact_index(52)].home_server, testsupport::loopback_address(201).c_str());
    }
    ASSERT_EQ(m_controller.send_offline_message(52, "hi"), 0);
    ASSERT_TRUE(next_action(&r, &text));
    EXPECT_EQ(r.action, ACTION_OFFLINE_MESSAGE);
    EXPECT_EQ(text.id, TXT_PEER_SERVER_CONNECT_FAILED);

    // After shutdown nothing new starts.
    m_controller.shutdown(5000);
    EXPECT_EQ(m_controller.knock(52), -1);
}

TEST_F(ActionsTest, AChatWindowOpensOncePerPeer) {
    chat_window* w = m_controller.open_chat(51);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(get_chat_dlg_from_peer_id(51), w);
    EXPECT_EQ(m_controller.open_chat(51), w);
    EXPECT_EQ(m_windows.size(), 1u);
}

// Lines from made-up ids open no window, so they cannot use up the 20 windows: a contact's line,
// and a non-contact's in a chat the user opened, are still shown.
TEST_F(ActionsTest, OnlyContactsLinesOpenChatWindows) {
    auto deliver = [&](int peer, int command) {
        chat_delivery d;
        d.peer_id = peer;
        d.path = 2;
        d.command = command;
        d.body = std::string("x:hi\0\0\0\0\0\0", 10);
        m_controller.handle(NM_PEER_CHAT_LINE, peer, reinterpret_cast<intptr_t>(&d));
    };
    for (int i = 0; i < 25; i++) deliver(90000 + i, i % 2 ? 211 : 210);
    EXPECT_TRUE(m_windows.empty());
    EXPECT_EQ(get_chat_dlg_index(90000), -1);
    deliver(51, 210);
    ASSERT_EQ(m_windows.size(), 1u);
    EXPECT_EQ(m_windows[0]->shown, 1);

    chat_window* w = m_controller.open_chat(777);
    ASSERT_NE(w, nullptr);
    deliver(777, 210);
    deliver(777, 211);
    ASSERT_EQ(m_windows.size(), 2u);
    EXPECT_EQ(m_windows[1]->shown, 2);
}

TEST(WorkLanes, OneLaneInOrderOthersAlongsideAndStopDropsQueued) {
    work_lanes lanes;
    gate hold;
    std::mutex m;
    std::vector<int> order;
    auto note = [&](int v) {
        std::lock_guard<std::mutex> lk(m);
        order.push_back(v);
    };
    ASSERT_EQ(lanes.run(1, [&] { hold.wait(); note(1); }), 0);
    ASSERT_EQ(lanes.run(1, [&] { note(2); }), 0);
    gate other;
    ASSERT_EQ(lanes.run(2, [&] { note(10); other.release(); }), 0);
    // Lane 2 ran while lane 1 is held.
    ASSERT_TRUE(other.wait());
    hold.release();
    ASSERT_TRUE(lanes.wait_idle(10000));
    EXPECT_EQ(order, (std::vector<int>{10, 1, 2}));

    // Stop while a job runs: the job queued behind it is dropped, new work refused.
    gate hold2, started;
    std::atomic<bool> dropped_ran{false};
    ASSERT_EQ(lanes.run(3, [&] { started.release(); hold2.wait(); }), 0);
    ASSERT_TRUE(started.wait());
    ASSERT_EQ(lanes.run(3, [&] { dropped_ran = true; }), 0);
    std::atomic<bool> stopped{false};
    std::thread stopper([&] { stopped = lanes.stop(10000); });
    auto end = std::chrono::steady_clock::now() + 10s;
    while (lanes.run(3, [] {}) == 0 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    EXPECT_FALSE(stopped.load());  // still waiting for the held job
    hold2.release();
    stopper.join();
    EXPECT_TRUE(stopped.load());
    EXPECT_FALSE(dropped_ran.load());
}

TEST(Dispatcher, WakeUpRunsForEveryQueuedNotification) {
    std::vector<int> ran;
    queued_dispatcher d([&](int n, intptr_t, intptr_t) { ran.push_back(n); });
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    d.set_wakeup([&] {
        std::lock_guard<std::mutex> lk(m);
        wakes++;
        cv.notify_all();
    });
    std::thread poster([&] { d.post(5, 0, 0); });
    {
        std::unique_lock<std::mutex> lk(m);
        ASSERT_TRUE(cv.wait_for(lk, 10s, [&] { return wakes == 1; }));
    }
    poster.join();
    // A task queued from another thread wakes too.
    std::thread runner([&] { d.run([&] { ran.push_back(6); }); });
    {
        std::unique_lock<std::mutex> lk(m);
        ASSERT_TRUE(cv.wait_for(lk, 10s, [&] { return wakes == 2; }));
    }
    runner.join();
    EXPECT_EQ(d.run_pending(), 2);
    EXPECT_EQ(ran, (std::vector<int>{5, 6}));
}
