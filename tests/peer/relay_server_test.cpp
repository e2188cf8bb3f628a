// The local relay server: registration and forwarding, the receive and send windows, aging, and
// the port reports of the housekeeping when one port cannot be bound.
#include <algorithm>
#include <atomic>
#include <thread>

#include "peer/peer_service.h"
#include "peer/relay_server.h"
#include "peer/slave_server.h"
#include "protocol/housekeeping.h"
#include "protocol/requests.h"
#include "protocol/server_link.h"
#include "protocol/session_controller.h"
#include "relay_test_support.h"
#include "tests/support/loopback.h"
#include "tests/support/relay_stream.h"

using namespace relaytest;
using testsupport::listener;

namespace {
constexpr int kMe = 7003;
// Unprivileged, and below 10000: a port other than the usual one is announced in the header's
// 4-digit board_num. The third is the usual 8199, announced without one.
constexpr uint16_t kPorts[3] = {7080, 7443, 8199};

std::atomic<uint32_t> g_now{1000};
uint32_t fake_tick() {
    return g_now.load();
}

class RelayTest : public relay_fixture {
protected:
    void start(const char* address) {
        begin(address, kMe);
        clear_relay_table();
        set_relay_ports(kPorts);
        ASSERT_EQ(start_relay_service(), 0);
    }
    void TearDown() override {
        stop_relay_service();
        set_relay_ports(nullptr);
        clear_relay_table();
        relay_fixture::TearDown();
    }
    // A client connected to the relay's third port, once the relay holds it.
    std::unique_ptr<peertest::raw_peer> client(const char* address) {
        int before = relay_connection_count();
        auto c = std::make_unique<peertest::raw_peer>();
        EXPECT_TRUE(c->connect_to(address, kPorts[2]));
        EXPECT_TRUE(wait_until([&] { return relay_connection_count() == before + 1; }));
        return c;
    }
    // A client with small socket buffers, registered as id.
    std::unique_ptr<peertest::raw_peer> joined(const char* address, int id) {
        auto c = std::make_unique<peertest::raw_peer>();
        c->fd = tcp_socket();
        int size = 64 * 1024;
        setsockopt(c->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        setsockopt(c->fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        struct in_addr a;
        EXPECT_TRUE(resolve_ipv4(address, &a) == 0 && connect_ipv4(c->fd, a, kPorts[2]) == 0);
        EXPECT_TRUE(send_outer(c->fd, 0, id, 0, "") && registered(id, 1));
        return c;
    }
    // Until check holds for the slot registered as user_id (read under the table's lock).
    template <class F>
    static bool slot_of(int user_id, F check) {
        return wait_until([&] {
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            for (const auto& s : g_server_socks)
                if (s.in_use && s.user_id == user_id) return check(s);
            return false;
        });
    }
    static bool registered(int user_id, int count) {
        return wait_until([&] {
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            int n = 0;
            for (const auto& s : g_server_socks) n += s.in_use && s.user_id == user_id;
            return n == count;
        });
    }
};
}  // namespace

TEST_F(RelayTest, MessagesGoToTheLowerSlotRegisteredForTheReceiver) {
    const char* addr = testsupport::loopback_host(50);
    set_tick_source(fake_tick);
    g_now = 1000;
    start(addr);
    auto c1 = client(addr);
    auto c2 = client(addr);
    auto c3 = client(addr);
    ASSERT_TRUE(send_outer(c1->fd, 0, 42, 0, ""));
    ASSERT_TRUE(registered(42, 1));
    ASSERT_TRUE(send_outer(c2->fd, 0, 42, 0, ""));
    ASSERT_TRUE(send_outer(c3->fd, 0, 43, 0, ""));
    ASSERT_TRUE(registered(42, 2));
    ASSERT_TRUE(registered(43, 1));

    std::string payload = framed(210, "Cy:hello");
    ASSERT_TRUE(send_outer(c3->fd, 777, 43, 42, payload));
    outer_msg m;
    ASSERT_TRUE(read_outer(c1->fd, &m));
    EXPECT_EQ(m.header, outer(777, 43, 42, static_cast<int>(payload.size())));
    EXPECT_EQ(m.payload, payload);
    EXPECT_EQ(wait_readable(c2->fd, 100), 0) << "the second registration of 42 gets nothing";

    // An oversized message is read to its end and dropped; the next one arrives intact.
    ASSERT_TRUE(send_outer(c1->fd, 778, 42, 43, framed(410, "") + std::string(2980, 'x')));
    ASSERT_TRUE(send_outer(c1->fd, 779, 42, 99, framed(410, "")));  // nobody registered 99
    ASSERT_TRUE(send_outer(c1->fd, 780, 42, 43, framed(1001, "")));
    ASSERT_TRUE(read_outer(c3->fd, &m));
    EXPECT_EQ(m.h.send_tick, 780);
    EXPECT_EQ(m.payload, framed(1001, ""));
    EXPECT_TRUE(logged("payload_len:3000 > 2000 in g_server_one_client_thread"));

    std::string bad = outer(1, 42, 43, 0);
    bad[5] = '-';
    ASSERT_TRUE(testsupport::write_all(c1->fd, bad.data(), bad.size()));
    EXPECT_TRUE(wait_until(
        [&] { return logged("g_server_one_client_thread command format error at:5."); }));
    g_now = 70000;  // averages need a minute of window
    EXPECT_GT(relay_traffic_sum(), 0) << "received and forwarded bytes count as traffic";
}

TEST_F(RelayTest, SilentConnectionsAgeOutAndRegisteredOnesStay) {
    const char* addr = testsupport::loopback_host(52);
    start(addr);
    auto silent = client(addr);
    auto live = client(addr);
    for (int pass = 0; pass < 7; pass++) {
        relay_aging_pass();
        ASSERT_TRUE(send_outer(live->fd, 0, 55, 0, ""));
        ASSERT_TRUE(wait_until([] {
            std::lock_guard<std::mutex> lk(g_relay_mutex);
            for (const auto& s : g_server_socks)
                if (s.in_use && s.user_id == 55) return s.idle_count == 0;
            return false;
        }));
    }
    EXPECT_EQ(relay_connection_count(), 1);
    char c;
    ASSERT_GT(wait_readable(silent->fd, 2000), 0);
    EXPECT_LE(recv(silent->fd, &c, 1, 0), 0) << "the silent connection was closed";
}

TEST_F(RelayTest, SlowReceiverHoldsTheSenderBackAndGetsEveryByte) {
    using namespace relaystream;
    const char* addr = testsupport::loopback_host(54);
    start(addr);
    auto receiver = joined(addr, 42);
    auto sender = joined(addr, 7);
    uint64_t pauses = relay_pause_count();
    std::atomic<size_t> sent{0};
    std::thread writer([&] { EXPECT_TRUE(send(sender->fd, 7, 42, kMessages, &sent)); });
    EXPECT_TRUE(wait_until([&] { return relay_pause_count() > pauses; }, 60000));
    size_t sent_at_pause = sent;  // the receiver has read nothing so far
    // The held sender still gets what is relayed to it, here from its own receiver.
    ASSERT_TRUE(send_outer(receiver->fd, 555, 42, 7, framed(210, "Cy:while held")));
    outer_msg m;
    EXPECT_TRUE(read_outer(sender->fd, &m, 10000) && m.payload == framed(210, "Cy:while held"));
    EXPECT_EQ(receive(receiver->fd, 7, 42, kMessages), kMessages) << "messages intact";
    writer.join();
    EXPECT_LT(sent_at_pause, sent.load()) << "the sender was done before the relay held it back";
}

TEST_F(RelayTest, ReceiverThatTakesNothingAgesOutAndReleasesTheSendersWaitingOnIt) {
    const char* addr = testsupport::loopback_host(55);
    start(addr);
    auto stuck = joined(addr, 42);
    // Two senders feed the stuck receiver, then each sends a message to itself.
    std::unique_ptr<peertest::raw_peer> senders[2] = {joined(addr, 7), joined(addr, 8)};
    uint64_t pauses = relay_pause_count();
    std::atomic<size_t> sent{0};
    std::vector<std::thread> writers;
    for (int id : {7, 8})
        writers.emplace_back([&, id] {
            socket_t fd = senders[id - 7]->fd;
            EXPECT_TRUE(relaystream::send(fd, id, 42, 3000, &sent));
            EXPECT_TRUE(send_outer(fd, 900, id, id, framed(210, "Cy:to myself")));
        });
    EXPECT_TRUE(wait_until([&] { return relay_pause_count() > pauses; }, 60000));
    for (int id : {7, 8})
        EXPECT_TRUE(slot_of(id, [](const Cserver_socket& s) { return s.paused == 1; }));
    // Aging passes, the stuck receiver registering before each as live clients do. It goes once
    // it has held its senders for longer than the hold limit, well before the idle limit (what
    // the system still buffers may put that off); the senders are held up all along and not aged.
    int passes = 0;
    while (!logged("relay client 42 takes nothing of what is relayed to it, closed") &&
           passes++ < 5 * kRelayIdleLimit) {
        ASSERT_TRUE(send_outer(stuck->fd, 0, 42, 0, ""));
        ASSERT_TRUE(slot_of(42, [](const Cserver_socket& s) { return s.idle_count == 0; }));
        relay_aging_pass();
    }
    EXPECT_GT(passes, kRelayHoldPasses);
    EXPECT_LE(passes, kRelayIdleLimit);
    for (auto& w : writers) w.join();
    outer_msg m;
    for (auto& s : senders) EXPECT_TRUE(expect_outer(s->fd, 210, &m, 30000));
    EXPECT_TRUE(registered(42, 0) && registered(7, 1) && registered(8, 1));
}

TEST_F(RelayTest, StalledReceiverHoldsItsSendersOtherReceiversOnlyUntilItIsClosed) {
    const char* addr = testsupport::loopback_host(56);
    start(addr);
    auto stalled = joined(addr, 42);  // never reads
    auto healthy = joined(addr, 43);
    auto sender = joined(addr, 7);
    int stalled_slot = -1;
    ASSERT_TRUE(slot_of(42, [&](const Cserver_socket& s) {
        stalled_slot = static_cast<int>(&s - g_server_socks);
        return true;
    }));
    // One stream alternates between the two receivers, far more than the system buffers.
    constexpr int kRounds = 10000;
    std::thread writer([&] {
        std::string bulk = framed(410, "") + std::string(1900, 'x');
        for (int i = 0; i < kRounds; i++)
            if (!send_outer(sender->fd, 100 + i, 7, 42, bulk) ||
                !send_outer(sender->fd, 100 + i, 7, 43, framed(210, "Cy:" + std::to_string(i))))
                break;
    });
    std::atomic<int> arrived{0};
    std::thread reader([&] {
        outer_msg m;
        while (arrived < kRounds && expect_outer(healthy->fd, 210, &m, 20000) &&
               m.payload == framed(210, "Cy:" + std::to_string(arrived.load())))
            arrived++;
    });
    bool held = slot_of(7, [](const Cserver_socket& s) { return s.paused == 1; });
    EXPECT_TRUE(held) << "the sender's reader waits for room on the stalled receiver's queue";
    // The stalled receiver registers before each pass as live clients do. What the system still
    // buffers lets a write end now and then; it goes once its queue has held messages for more
    // passes than the hold limit without a write ending, and the sender is held all along and
    // not aged.
    auto stalled_open = [] {
        std::lock_guard<std::mutex> lk(g_relay_mutex);
        return std::any_of(std::begin(g_server_socks), std::end(g_server_socks),
                           [](const Cserver_socket& s) { return s.in_use && s.user_id == 42; });
    };
    const Csend_queue& queue = g_server_socks[stalled_slot].queue;
    uint64_t written = queue.written;
    int passes = 0;
    int moved_at = 1;  // the first pass sees what was written before it
    while (held && stalled_open() && passes++ < 5 * kRelayIdleLimit) {
        for (int id : {42, 43}) {
            EXPECT_TRUE(send_outer((id == 42 ? stalled : healthy)->fd, 0, id, 0, ""));
            EXPECT_TRUE(slot_of(id, [](const Cserver_socket& s) { return s.idle_count == 0; }));
        }
        if (queue.written != written) {
            written = queue.written;
            moved_at = passes;
        }
        relay_aging_pass();
    }
    // The pass that sees a write counts as the first of the hold; a write between the look above
    // and the pass's own makes it one fewer.
    EXPECT_GE(passes - moved_at, kRelayHoldPasses - 1);
    EXPECT_LE(passes - moved_at, kRelayHoldPasses);
    EXPECT_TRUE(logged("relay client 42 takes nothing of what is relayed to it, closed"));
    EXPECT_TRUE(registered(7, 1) && registered(43, 1));
    stalled.reset();  // releases the stream should the relay still hold it
    writer.join();
    reader.join();
    EXPECT_EQ(arrived.load(), kRounds) << "every line to the healthy receiver, in order";

    // The stalled receiver's slot goes to a new connection, which gets none of its messages.
    auto next = joined(addr, 44);
    EXPECT_TRUE(
        slot_of(44, [&](const Cserver_socket& s) { return &s - g_server_socks == stalled_slot; }));
    ASSERT_TRUE(send_outer(sender->fd, 9000, 7, 44, framed(210, "Cy:welcome")));
    outer_msg m;
    ASSERT_TRUE(read_outer(next->fd, &m));
    EXPECT_EQ(m.payload, framed(210, "Cy:welcome"));
}

TEST(RelayWindows, RolloverAveragesAndLimits) {
    set_tick_source(fake_tick);
    Cserver_socket s;
    g_now = 1000;
    EXPECT_EQ(s.add_to_recv_traffic(-1), -1);
    EXPECT_EQ(s.add_to_recv_traffic(kStatLargestAdd + 1), -1);
    ASSERT_EQ(s.add_to_recv_traffic(100), 0);
    g_now = 31000;
    EXPECT_EQ(s.get_recv_avg(), 0u) << "no old window and a young current one";
    for (int i = 0; i < 2; i++) ASSERT_EQ(s.add_to_recv_traffic(19950), 0);
    g_now = 401000;  // 400000 ms after the window started
    ASSERT_EQ(s.add_to_recv_traffic(100), 0);
    EXPECT_EQ(s.m_stat_recv_old.start_tick, 1000u);
    EXPECT_EQ(s.m_stat_recv_old.current_tick, 401000u);
    EXPECT_EQ(s.m_stat_recv_old.bytes, 40000u);
    EXPECT_EQ(s.m_stat_recv.start_tick, 401000u);
    EXPECT_EQ(s.m_stat_recv.bytes, 100u);
    g_now = 431000;
    EXPECT_EQ(s.get_recv_avg(), 100u) << "30 s into a new window the old window's rate counts";
    g_now = 461000;
    EXPECT_EQ(s.get_recv_avg(), 1u) << "after 60 s the new window's own rate";
    g_now = 761001;
    EXPECT_EQ(s.get_recv_avg(), 0u) << "nothing for five minutes";

    // A busy window: 5 MB in 100 s is 50000 bytes per second (32-bit products would overflow).
    Cserver_socket busy;
    g_now = 2000;
    for (int i = 0; i < 250; i++) ASSERT_EQ(busy.add_to_recv_traffic(20000), 0);
    g_now = 102000;
    EXPECT_EQ(busy.get_recv_avg(), 50000u);
    EXPECT_EQ(busy.get_send_avg(), 0u);
    set_tick_source(nullptr);
}

TEST_F(RelayTest, UnbindablePortStaysUnreportedWhileTheOthersRepeatUntilConfirmed) {
    const char* addr = testsupport::loopback_host(53);
    socket_t taken = tcp_listen(addr, kPorts[0], 1);  // the first port is not available
    ASSERT_GT(taken, 0);
    begin(addr, kMe);
    set_relay_ports(kPorts);
    reset_relay_acks();
    clear_slave_tables();
    ASSERT_EQ(start_peer_networking(), 0);
    EXPECT_FALSE(relay_port_listening(0));
    EXPECT_TRUE(relay_port_listening(1));
    EXPECT_TRUE(relay_port_listening(2));
    EXPECT_TRUE(logged("peer socket server bind failed in g_server_thread. port:7080"));

    listener server(addr);
    copy_text(g_main_link.server_host, addr);
    g_main_link.server_port = server.port;
    ASSERT_EQ(g_main_link.connect_to_server(), 0);
    socket_t srv = server.accept_one();
    ASSERT_GT(srv, 0);
    auto commands_of_tick = [&](housekeeping& hk, uint32_t now) {
        hk.tick(now);
        std::vector<int> seen;
        char head[kHeaderLen + 1] = {};
        while (testsupport::read_exact(srv, head, kHeaderLen, 300)) {
            msg_header h;
            if (parse_header(head, &h) != 0) break;
            std::string body(static_cast<size_t>(h.len), '\0');
            if (h.len > 0 && !testsupport::read_exact(srv, body.data(), body.size())) break;
            seen.push_back(h.command);
            if (h.command == CMD_RELAY_PORT_443) {
                EXPECT_EQ(h.board_num, 7443);
            }
            if (h.command == CMD_RELAY_PORT_8199) {
                EXPECT_EQ(h.board_num, 0);
            }
        }
        return seen;
    };
    auto has = [](const std::vector<int>& v, int c) {
        return std::find(v.begin(), v.end(), c) != v.end();
    };
    session_controller controller;
    housekeeping hk(controller, nullptr);
    hk.start(0);
    for (uint32_t now : {5000u, 10000u}) {
        auto seen = commands_of_tick(hk, now);
        EXPECT_FALSE(has(seen, CMD_RELAY_PORT_80));
        EXPECT_TRUE(has(seen, CMD_RELAY_PORT_443));
        EXPECT_TRUE(has(seen, CMD_RELAY_PORT_8199));
    }
    char empty[1] = "";
    dispatch_server_command(SRV_RELAY_ACK_443, empty, 0, 0);
    auto seen = commands_of_tick(hk, 15000);
    EXPECT_FALSE(has(seen, CMD_RELAY_PORT_443));
    EXPECT_TRUE(has(seen, CMD_RELAY_PORT_8199));
    dispatch_server_command(SRV_RELAY_ACK_8199, empty, 0, 0);
    seen = commands_of_tick(hk, 20000);
    EXPECT_FALSE(has(seen, CMD_RELAY_PORT_8199));
    EXPECT_TRUE(has(seen, CMD_KEEP_ALIVE));

    stop_peer_networking();
    g_main_link.my_close();
    close_socket(srv);
    close_socket(taken);
    set_relay_ports(nullptr);
    reset_relay_acks();
}
