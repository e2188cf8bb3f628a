// Send queues: the drop policy on its own, a peer that stops reading against a healthy one, and a
// slot reused between a sender's look-up and its send.
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "peer/send_queue.h"
#include "peer_test_support.h"

using namespace peertest;
using testsupport::temp_dir;

namespace {
constexpr int kMyId = 7778;

// A writer that holds each message until the test opens the gate, and notes the commands.
struct gated_writer {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::vector<int> written;
    static int write(void* context, queued_message& msg) {
        auto* self = static_cast<gated_writer*>(context);
        std::unique_lock<std::mutex> lk(self->m);
        self->cv.wait(lk, [self] { return self->open; });
        self->written.push_back(msg.command);
        return 0;
    }
};

queued_message message(int command, int peer_id) {
    queued_message m;
    m.bytes.assign(64, 'x');
    m.kind = send_kind_of(command);
    m.command = command;
    m.peer_id = peer_id;
    return m;
}
auto admit_all = [](queued_message&) { return true; };

// A talk-data message as the capture thread builds it, its body numbered n.
std::string voice_message(int n) {
    std::string body(900, static_cast<char>('a' + n % 26));
    std::snprintf(body.data(), body.size(), "   0:%08d", n);
    std::vector<char> msg(kHeaderLen + body.size());
    build_message(msg.data(), static_cast<int>(msg.size()), 0, 0, PEER_TALK_DATA, body.data(),
                  static_cast<int>(body.size()));
    return std::string(msg.begin(), msg.end());
}

class SendQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_home_dir(home.path);
        ASSERT_EQ(open_debug_log(), 0);
        set_local_bind_address(addr());
        clear_all_tables();
        clear_peer_table();
        g_user_id = kMyId;
        g_main_dlg = &main;
        ASSERT_EQ(start_peer_service(), 0);
    }
    void TearDown() override {
        stop_peer_service();
        g_main_dlg = nullptr;
        for (chat_window* w : take_all_chat_dlgs()) (void)w;
        set_local_bind_address("");
        close_debug_log();
        set_home_dir("");
    }
    const char* addr() const { return testsupport::loopback_host(1); }
    // A raw peer that identified itself as id; a small receive buffer when stalling.
    std::unique_ptr<raw_peer> identified_peer(int id, bool small_buffer = false) {
        auto p = std::make_unique<raw_peer>();
        if (small_buffer) {
            p->fd = tcp_socket();
            int size = 4096;
            setsockopt(p->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
            struct in_addr a;
            EXPECT_TRUE(resolve_ipv4(addr(), &a) == 0 && connect_ipv4(p->fd, a, kPeerPort) == 0);
        } else {
            EXPECT_TRUE(p->connect_to(addr(), kPeerPort));
        }
        EXPECT_TRUE(p->send_cmd(200, id_body(id)));
        EXPECT_TRUE(p->expect(200));
        EXPECT_TRUE(wait_until([id] { return get_peer_sock_index(id) >= 0; }));
        return p;
    }
    // The peer's keep-alive arrived and was read (its connection is not silent).
    void keep_talking(raw_peer& p, int id) {
        ASSERT_TRUE(p.send_cmd(1001, ""));
        ASSERT_TRUE(wait_until([id] {
            std::lock_guard<std::mutex> lk(g_peer_mutex);
            for (const auto& s : g_peer_socks)
                if (s.in_use && s.peer_id == id) return s.idle_count == 0;
            return false;
        }));
    }
    temp_dir home;
    recorder rec;
    test_main main{&rec};
};
}  // namespace

TEST(SendQueuePolicy, DropsOldestVoiceAndWholeFramesAndKeepsCommandsInOrder) {
    gated_writer gate;
    uint64_t voice_before = g_send_queue_totals.dropped_voice.load();
    {
        Csend_queue q;
        q.set_callbacks(gated_writer::write, nullptr, &gate);
        ASSERT_EQ(q.push(message(PEER_CHAT_TEXT, 1), admit_all), 0);
        ASSERT_TRUE(wait_until([&] { return q.pending() == 1; }));  // held by the writer
        for (int i = 0; i < 5; i++) ASSERT_EQ(q.push(message(PEER_TALK_DATA, 1), admit_all), 0);
        ASSERT_EQ(q.push(message(PEER_TALK_DATA, 2), admit_all), 0);  // another listener's own bound
        for (int f = 0; f < 4; f++)
            for (int c : {PEER_VIDEO_BEGIN, PEER_VIDEO_CONT, PEER_VIDEO_END})
                ASSERT_EQ(q.push(message(c, 3), admit_all), 0);
        ASSERT_EQ(q.push(message(PEER_KNOCK, 1), admit_all), 0);
        EXPECT_EQ(q.dropped_voice.load(), 2u);
        EXPECT_EQ(q.dropped_frames.load(), 2u);
        EXPECT_EQ(g_send_queue_totals.dropped_voice.load() - voice_before, 2u);
        EXPECT_EQ(q.push(message(PEER_TALK_DATA, 1), [](queued_message&) { return false; }), -1)
            << "a message the slot no longer admits is refused";
        {
            std::lock_guard<std::mutex> lk(gate.m);
            gate.open = true;
        }
        gate.cv.notify_all();
        ASSERT_TRUE(q.wait_idle(20000));
    }  // the drainer is joined here
    const std::vector<int> expected = {PEER_CHAT_TEXT,  PEER_TALK_DATA,  PEER_TALK_DATA,
                                       PEER_TALK_DATA,  PEER_TALK_DATA,  PEER_VIDEO_BEGIN,
                                       PEER_VIDEO_CONT, PEER_VIDEO_END,  PEER_VIDEO_BEGIN,
                                       PEER_VIDEO_CONT, PEER_VIDEO_END,  PEER_KNOCK};
    EXPECT_EQ(gate.written, expected);
}

TEST_F(SendQueueTest, PeerThatStopsReadingHoldsUpNobodyAndIsClosedWhenItsQueueStandsStill) {
    auto stalled = identified_peer(5101, true);
    auto healthy = identified_peer(5102);
    peer_ticket st = find_peer_ticket(5101), ht = find_peer_ticket(5102);
    ASSERT_GE(st.index, 0);
    ASSERT_GE(ht.index, 0);
    {
        int size = 4096;  // our end of the stalled connection fills quickly too
        setsockopt(g_peer_socks[st.index].sock.load(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    }
    Csend_queue& stalled_queue = g_peer_socks[st.index].queue;

    // The capture thread's pattern: each buffer to both listeners in turn. No call waits for the
    // stalled peer; it loses its oldest buffers while the healthy one gets every buffer intact.
    int sent = 0;
    auto send_voice = [&](int count) {
        for (int i = 0; i < count; i++, sent++) {
            std::string msg = voice_message(sent);
            int r = queue_peer_message(st, msg.data(), static_cast<int>(msg.size()), PEER_TALK_DATA);
            ASSERT_TRUE(r == 0 || get_peer_sock_index(5101) < 0) << "refused only once closed";
            ASSERT_EQ(queue_peer_message(ht, msg.data(), static_cast<int>(msg.size()), PEER_TALK_DATA), 0);
            std::string body;
            ASSERT_TRUE(healthy->expect(PEER_TALK_DATA, &body));
            ASSERT_EQ(body, msg.substr(kHeaderLen)) << "buffer " << sent;
        }
    };
    for (int round = 0; round < 400 && stalled_queue.dropped_voice.load() < 5; round++) send_voice(10);
    ASSERT_GE(stalled_queue.dropped_voice.load(), 5u) << "the stalled connection's buffers filled";

    // A chat line behind the dropped voice is kept, in order, and so is the voice that came last.
    const unsigned char attrs[5] = {0, 0, 0, 10, 0};
    ASSERT_EQ(send_chat_text(5101, "Al", "still there?", attrs), 0);
    send_voice(5);
    uint64_t dropped = stalled_queue.dropped_voice.load();
    int got_voice = 0, last_voice = -1;
    bool chat = false;
    msg_header h;
    std::string body;
    while (!(chat && last_voice == sent - 1) && stalled->recv_cmd(&h, &body, 10000)) {
        if (h.command == PEER_TALK_DATA) {
            got_voice++;
            last_voice = std::atoi(body.c_str() + 5);
        }
        if (h.command == PEER_CHAT_TEXT) chat = body.rfind("Al:still there?", 0) == 0;
    }
    EXPECT_TRUE(chat);
    EXPECT_EQ(last_voice, sent - 1);
    EXPECT_EQ(static_cast<uint64_t>(got_voice) + dropped, static_cast<uint64_t>(sent))
        << "every buffer was either written or counted as dropped";

    // Stalled again: the keep-alive passes only queue, and once the stalled queue has stood still
    // (never empty, and overflowing) for longer than a silent connection is tolerated, that
    // connection alone is closed, while the healthy one keeps getting voice and keep-alives.
    int stalled_checks = 0;
    for (int round = 0; round < 400 && stalled_checks < 2; round++) {
        send_voice(10);
        stalled_checks = stalled_queue.check_stall();
    }
    ASSERT_EQ(stalled_checks, 2) << "the stalled connection filled again";
    uint64_t closed_before = g_send_queue_totals.closed_stalled.load();
    int passes = 0;
    for (; passes < 3 * kPeerIdleLimit && get_peer_sock_index(5101) >= 0; passes++) {
        send_voice(10);  // the capture goes on
        keep_talking(*stalled, 5101);
        keep_talking(*healthy, 5102);
        peer_keepalive_pass();
        ASSERT_TRUE(healthy->expect(PEER_KEEP_ALIVE));
    }
    EXPECT_GE(passes, kPeerIdleLimit - 1) << "closed no sooner than the silence limit";
    EXPECT_TRUE(wait_until([] { return get_peer_sock_index(5101) < 0; }));
    EXPECT_EQ(g_send_queue_totals.closed_stalled.load(), closed_before + 1);
    EXPECT_EQ(get_peer_sock_index(5102), ht.index);
    send_voice(3);
}

TEST_F(SendQueueTest, SlotReusedBetweenLookupAndSendDeliversNothingToTheNewPeer) {
    auto first = identified_peer(5201);
    peer_ticket t = find_peer_ticket(5201);
    ASSERT_GE(t.index, 0);
    // The slot is freed and taken by another peer after the sender looked it up.
    ASSERT_TRUE(close_peer_slot(t.index, t.generation));
    auto second = identified_peer(5202);
    ASSERT_EQ(find_peer_ticket(5202).index, t.index) << "the freed slot was reused";

    std::string msg = voice_message(1);
    EXPECT_EQ(queue_peer_message(t, msg.data(), static_cast<int>(msg.size()), PEER_TALK_DATA), -1);
    ASSERT_EQ(general_command_to_peer(5202, PEER_KNOCK, 0), 0);
    msg_header h;
    std::string body;
    do ASSERT_TRUE(second->recv_cmd(&h, &body));
    while (h.command == PEER_KEEP_ALIVE);
    EXPECT_EQ(h.command, PEER_KNOCK) << "the old peer's voice never reached the new one";
}
