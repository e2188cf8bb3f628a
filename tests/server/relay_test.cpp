// Relays: the server checks a client's relay port before confirming it (420-422), hands relays
// out (460), passes the route exchange between contacts (480-482), and runs a relay of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "peer/slave_header.h"
#include "server/limits.h"
#include "server/relay.h"
#include "tests/server/server_fixture.h"
#include "tests/support/relay_stream.h"

namespace srvtest {
namespace {

// A listening socket on a free port of `address` below 10000: ports travel in the header's
// 4-digit board_num.
struct Listener {
    explicit Listener(const std::string& address) {
        for (int p = 9100; p < 10000 && port == 0; p++) {
            fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(p));
            inet_pton(AF_INET, address.c_str(), &a.sin_addr);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 8) == 0) {
                port = p;
            } else {
                ::close(fd);
                fd = -1;
            }
        }
    }
    ~Listener() { ::close(fd); }
    // True when a connection came in within timeout_ms.
    bool accepted(int timeout_ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0) return false;
        int s = ::accept(fd, nullptr, nullptr);
        if (s >= 0) ::close(s);
        return s >= 0;
    }
    int fd = -1;
    int port = 0;
};

// A port of `address` on which nothing listens.
int closed_port(const std::string& address) {
    Listener l(address);
    return l.port;  // closed when l goes
}

// A raw connection to a relay: outer-header messages in, bytes out.
class RelayPeer {
public:
    // buffer: socket buffer sizes in bytes (0: the system's), set before connecting.
    RelayPeer(const std::string& host, int port, int buffer = 0) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (buffer > 0) {
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &a.sin_addr);
        ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RelayPeer() { ::close(fd); }
    void send_raw(const std::string& bytes) {
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Exactly n bytes, or what arrived before timeout_ms passed without more.
    std::string read(size_t n, int timeout_ms = 2000) {
        std::string out;
        while (out.size() < n) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, timeout_ms) <= 0) break;
            char buf[4096];
            size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
            ssize_t r = ::recv(fd, buf, want, 0);
            if (r <= 0) break;
            out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }
    int fd = -1;
    bool ok = false;
};

std::string outer(int tick, int from, int to, int len) {
    char b[64];
    std::snprintf(b, sizeof b, "%12d:%10d:%10d:%10d:", tick, from, to, len);
    return b;
}
std::string registration(int id) {
    return outer(0, id, 0, 0);
}
// A relayed message: outer header and a framed, scrambled peer command.
std::string relayed(int from, int to, const std::string& text, int tick = 1234) {
    std::string payload = RawClient::frame(210, text);
    return outer(tick, from, to, static_cast<int>(payload.size())) + payload;
}

class RelayProto : public ServerFixture {
protected:
    // Signs in from the test's own address, so that the server finds relays there.
    std::unique_ptr<RawClient> login_here(const std::string& email) {
        auto c = std::make_unique<RawClient>();
        EXPECT_TRUE(c->connect_to(m_host, m_port, m_host));
        c->send(130, email + ":demo1234");
        EXPECT_FALSE(c->until(131).empty());
        return c;
    }
    // Announces a relay on port (slot 2, the 8199 slot) and waits for its confirmation.
    void confirm_relay(RawClient& c, int port) {
        c.send(422, {}, port);
        Msg m = c.recv(5000);
        ASSERT_EQ(m.command, 432);
    }
};

TEST_F(RelayProto, RelayPortIsConfirmedOnlyAfterTheServerReachedIt) {
    Listener relay(m_host);
    auto alice_c = login_here("alice@example.com");
    alice_c->send(422, {}, relay.port);
    EXPECT_EQ(alice_c->recv(5000).command, 432);
    EXPECT_TRUE(relay.accepted(1000)) << "the confirmation came without a connection";
    // Once confirmed, a repeated announcement is answered at once.
    alice_c->send(422, {}, relay.port);
    EXPECT_EQ(alice_c->recv(1000).command, 432);

    // Nothing listens there: no confirmation, then or later.
    alice_c->send(420, {}, closed_port(m_host));
    EXPECT_TRUE(alice_c->quiet(1000));
    // A port outside the valid range is refused without a connection attempt.
    alice_c->send(421, {}, 70000);
    EXPECT_TRUE(alice_c->quiet(300));

    // Before sign-in nothing is checked.
    auto anon = std::make_unique<RawClient>();
    ASSERT_TRUE(anon->connect_to(m_host, m_port, m_host));
    anon->send(422, {}, relay.port);
    EXPECT_TRUE(anon->quiet(1000));
    EXPECT_FALSE(relay.accepted(200));
}

TEST_F(RelayProto, AssignmentNamesConfirmedRelaysOfOtherUsersFirst) {
    auto alice_c = login_here("alice@example.com");
    alice_c->send(460);
    EXPECT_TRUE(alice_c->quiet(500)) << "no relay known, nothing to answer";

    Listener carol_relay(m_host);
    auto carol_c = login_here("carol@example.com");
    confirm_relay(*carol_c, carol_relay.port);

    alice_c->send(460);
    auto msgs = alice_c->until(470);
    ASSERT_EQ(msgs.size(), 9u);
    EXPECT_EQ(msgs[0].command, 462);
    EXPECT_EQ(msgs[0].body, m_host);
    EXPECT_EQ(msgs[1].command, 463);
    EXPECT_EQ(msgs[1].board, 0);
    EXPECT_EQ(msgs[2].board, 0);
    EXPECT_EQ(msgs[3].command, 465);
    EXPECT_EQ(msgs[3].board, carol_relay.port);
    EXPECT_EQ(msgs[4].command, 466);
    EXPECT_EQ(msgs[4].body, "");
    for (int i = 5; i < 8; i++) EXPECT_EQ(msgs[i].board, 0);

    // Alice's own relay comes after Carol's, even for Alice.
    Listener alice_relay(m_host);
    confirm_relay(*alice_c, alice_relay.port);
    alice_c->send(460);
    msgs = alice_c->until(470);
    ASSERT_EQ(msgs.size(), 9u);
    EXPECT_EQ(msgs[3].board, carol_relay.port);
    EXPECT_EQ(msgs[4].body, m_host);
    EXPECT_EQ(msgs[7].board, alice_relay.port);

    // A relay whose owner signed out is no longer handed out.
    size_t mark = log_count();
    carol_c.reset();
    ASSERT_TRUE(wait_log("ended", mark));
    alice_c->send(460);
    msgs = alice_c->until(470);
    ASSERT_EQ(msgs.size(), 9u);
    EXPECT_EQ(msgs[3].board, alice_relay.port);
    EXPECT_EQ(msgs[4].body, "");

    // Not signed in: no answer.
    auto anon = connect();
    anon->send(460);
    EXPECT_TRUE(anon->quiet(300));
}

TEST_F(RelayProto, RouteExchangeReachesOnlyContacts) {
    auto alice_c = login("alice@example.com");
    auto home = connect();
    // 480 from Bob, a contact of Alice, through her home server.
    home->send(480, f10(alice) + ":" + f10(bob) + ":");
    Msg m = alice_c->recv();
    EXPECT_EQ(m.command, 480);
    EXPECT_EQ(m.body, f10(bob));
    // A signed-in client may name only the target.
    auto bob_c = login("bob@example.com");
    bob_c->send(480, std::to_string(alice));
    m = alice_c->recv();
    EXPECT_EQ(m.command, 480);
    EXPECT_EQ(m.body, f10(bob));
    // Carol is not in Alice's list; a body without ids means nothing.
    home->send(480, f10(alice) + ":" + f10(carol) + ":");
    home->send(480, "not an id");
    EXPECT_TRUE(alice_c->quiet(500));

    char route[128];
    std::snprintf(route, sizeof route, "%10d:%6d:%6d:%6d:%s", bob, 0, 443, 8199, "10.1.2.3");
    home->send(481, f10(alice) + ":" + f10(bob) + ":" + route);
    m = alice_c->recv();
    EXPECT_EQ(m.command, 481);
    EXPECT_EQ(m.body, route);
    std::snprintf(route, sizeof route, "%10d:%6d:%6d:%6d:%s", bob, 80, 0, 0, "relay.example");
    home->send(482, f10(alice) + ":" + f10(bob) + ":" + route);
    m = alice_c->recv();
    EXPECT_EQ(m.command, 482);
    EXPECT_EQ(m.body, route);

    // Not passed on: no address (it would hide Bob's usable routes), another user's id in the
    // text, a port that is no number, a sender Alice does not keep.
    std::snprintf(route, sizeof route, "%10d:%6d:%6d:%6d:%s", bob, 0, 0, 0, "");
    home->send(481, f10(alice) + ":" + f10(bob) + ":" + route);
    std::snprintf(route, sizeof route, "%10d:%6d:%6d:%6d:%s", carol, 0, 0, 8199, "10.1.2.3");
    home->send(481, f10(alice) + ":" + f10(bob) + ":" + route);
    home->send(482, f10(alice) + ":" + f10(bob) + ":" + f10(bob) + ":   abc:     0:     0:x");
    std::snprintf(route, sizeof route, "%10d:%6d:%6d:%6d:%s", carol, 0, 0, 8199, "10.1.2.3");
    home->send(481, f10(alice) + ":" + f10(carol) + ":" + route);
    EXPECT_TRUE(alice_c->quiet(500));
}

// Two clients that accept no connections: each failed connect asks the other to connect back,
// which fails too. The server ends the bounce after one round.
TEST_F(RelayProto, ConnectBackDoesNotBounceBetweenUnreachableClients) {
    auto alice_c = login("alice@example.com");
    auto bob_c = login("bob@example.com");
    auto home = connect();
    home->send(380, f10(bob) + ":" + f10(alice) + ":10.0.0.1");
    Msg m = bob_c->recv();
    EXPECT_EQ(m.command, 381);
    EXPECT_EQ(m.body, f10(alice) + ":10.0.0.1");
    home->send(380, f10(alice) + ":" + f10(bob) + ":10.0.0.2");  // Bob could not connect either
    EXPECT_TRUE(alice_c->quiet(500));
    // Alice trying again is still passed on.
    home->send(380, f10(bob) + ":" + f10(alice) + ":10.0.0.1");
    EXPECT_EQ(bob_c->recv().command, 381);
}

class BuiltinRelay : public RelayProto {
protected:
    void adjust(srv::ServerOptions& o) override {
        Listener probe(o.listen);  // a free port that fits board_num, released for the server
        o.relay_port = probe.port;
    }
};

TEST_F(BuiltinRelay, HandedOutWhenNoClientOffersOne) {
    int relay_port = m_server->relay_port();
    ASSERT_GT(relay_port, 0);
    auto alice_c = login("alice@example.com");
    alice_c->send(460);
    auto msgs = alice_c->until(470);
    ASSERT_EQ(msgs.size(), 9u);
    EXPECT_EQ(msgs[0].body, "home.test");  // the advertised address
    EXPECT_EQ(msgs[1].board, relay_port);
    EXPECT_EQ(msgs[2].board, 0);
    EXPECT_EQ(msgs[4].body, "");

    // A client's confirmed relay comes first, the server's own second.
    Listener carol_relay(m_host);
    auto carol_c = login_here("carol@example.com");
    confirm_relay(*carol_c, carol_relay.port);
    alice_c->send(460);
    msgs = alice_c->until(470);
    ASSERT_EQ(msgs.size(), 9u);
    EXPECT_EQ(msgs[0].body, m_host);
    EXPECT_EQ(msgs[4].body, "home.test");
    EXPECT_EQ(msgs[5].board, relay_port);
}

TEST_F(BuiltinRelay, ForwardsToTheEarliestRegistrationOfTheReceiver) {
    int port = m_server->relay_port();
    RelayPeer first(m_host, port), sender(m_host, port), second(m_host, port);
    ASSERT_TRUE(first.ok && sender.ok && second.ok);
    size_t mark = log_count();
    first.send_raw(registration(42));
    ASSERT_TRUE(wait_log("relay: user 42 registered", mark));
    mark = log_count();
    second.send_raw(registration(42));
    ASSERT_TRUE(wait_log("relay: user 42 registered", mark));
    sender.send_raw(registration(7));
    ASSERT_TRUE(wait_log("relay: user 7 registered", mark));

    std::string msg = relayed(7, 42, "ann:hello");
    sender.send_raw(msg);
    EXPECT_EQ(first.read(msg.size()), msg);  // unchanged, outer header included
    EXPECT_EQ(second.read(1, 300), "");

    // For nobody registered: dropped. Above 2000 payload bytes: dropped whole, and the message
    // behind it is still read in step.
    sender.send_raw(relayed(7, 43, "ann:nobody"));
    std::string big = outer(99, 7, 42, 3000) + std::string(3000, 'z');
    std::string after = relayed(7, 42, "ann:after the big one");
    sender.send_raw(big + after);
    EXPECT_EQ(first.read(after.size()), after);

    // A header with a '-' is thrown away with what came with it; the next message goes through.
    std::string bad = relayed(7, 42, "ann:bad");
    bad[30] = '-';
    mark = log_count();
    sender.send_raw(bad);
    ASSERT_TRUE(wait_log("outer header format error at 30", mark));
    std::string good = relayed(7, 42, "ann:good");
    sender.send_raw(good);
    EXPECT_EQ(first.read(good.size()), good);

    // When the first registration goes away, the second connection takes over.
    mark = log_count();
    ::shutdown(first.fd, SHUT_RDWR);
    ASSERT_TRUE(wait_log("relay: connection of user 42", mark));
    std::string late = relayed(7, 42, "ann:late");
    sender.send_raw(late);
    EXPECT_EQ(second.read(late.size()), late);
}

// The relay alone on its own loop, with a short idle limit and its log lines kept.
class RelayPacing : public ::testing::Test {
protected:
    static constexpr int kIdleSeconds = 3;
    void SetUp() override {
        m_log.set_quiet(true);
        m_log.set_hook([this](const char* text) {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_lines += std::string(text) + "\n";
            m_cond.notify_all();
        });
        ASSERT_EQ(m_relay.start(test_address(), 0, idle_seconds(), hold_seconds()), 0);
        m_thread = std::thread([this] { m_io.run(); });
    }
    virtual int idle_seconds() const { return kIdleSeconds; }
    virtual int hold_seconds() const { return kIdleSeconds; }
    void TearDown() override {
        asio::post(m_io, [this] {
            m_relay.stop();
            m_work.reset();
        });
        m_thread.join();
    }
    // Waits for a log line, or (empty part) for the relay to hold a sender back.
    bool wait_for(const std::string& part) {
        std::unique_lock<std::mutex> lk(m_mutex);
        for (int i = 0; i < 1500; i++) {  // 30 s: the counters are polled, no event tells
            if (part.empty() ? m_relay.stats().pauses > 0 : m_lines.find(part) != std::string::npos)
                return true;
            m_cond.wait_for(lk, std::chrono::milliseconds(20));
        }
        return false;
    }
    // A connection with small socket buffers, registered as id.
    std::unique_ptr<RelayPeer> joined(int id) {
        auto p = std::make_unique<RelayPeer>(test_address(), m_relay.port(), 64 * 1024);
        p->send_raw(registration(id));
        EXPECT_TRUE(wait_for("relay: user " + std::to_string(id) + " registered"));
        return p;
    }

    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work{m_io.get_executor()};
    srv::Log m_log;
    srv::Relay m_relay{m_io, m_log};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::string m_lines;
};

TEST_F(RelayPacing, SlowReceiverGetsEveryByteWhileTheSenderIsHeldBack) {
    using namespace relaystream;
    auto receiver = joined(42);
    auto sender = joined(7);
    std::atomic<size_t> sent{0};
    std::thread writer([&] { EXPECT_TRUE(send(sender->fd, 7, 42, kMessages, &sent)); });
    EXPECT_TRUE(wait_for(""));  // the receiver has read nothing so far
    size_t sent_at_pause = sent;
    // The held sender still gets what is relayed to it, here from its own receiver.
    std::string back = relayed(42, 7, "ann:while paused");
    receiver->send_raw(back);
    EXPECT_EQ(sender->read(back.size(), 10000), back);
    EXPECT_EQ(receive(receiver->fd, 7, 42, kMessages), kMessages) << "messages intact";
    writer.join();
    EXPECT_LT(sent_at_pause, sent.load()) << "the sender was done before the relay held it back";
    EXPECT_LE(m_relay.stats().peak_queued_bytes, static_cast<size_t>(srv::kMaxWriteQueueBytes));
}

TEST_F(RelayPacing, ReceiverThatReadsNothingIsClosedAfterTheIdleLimitAndReleasesItsSender) {
    auto stuck = joined(42);
    auto sender = joined(7);
    bool done = false;  // guarded by m_mutex
    std::thread keep_alive([&] {  // the stuck receiver registers as live clients do
        std::string r = registration(42);
        std::unique_lock<std::mutex> lk(m_mutex);
        while (!m_cond.wait_for(lk, std::chrono::milliseconds(100), [&] { return done; })) {
            lk.unlock();
            (void)::send(stuck->fd, r.data(), r.size(), MSG_NOSIGNAL);
            lk.lock();
        }
    });
    std::atomic<size_t> sent{0};
    std::thread writer([&] { EXPECT_TRUE(relaystream::send(sender->fd, 7, 42, 8000, &sent)); });
    EXPECT_TRUE(wait_for(""));
    auto paused_at = std::chrono::steady_clock::now();
    EXPECT_TRUE(wait_for("ended: does not read what is relayed to it"));  // only 42 receives
    EXPECT_GE(std::chrono::steady_clock::now() - paused_at, std::chrono::seconds(kIdleSeconds - 1));
    writer.join();
    // The sender, paused longer than the idle limit, is read on: a message to itself comes back.
    std::string self = relayed(7, 7, "ann:to myself");
    sender->send_raw(self);
    EXPECT_EQ(sender->read(self.size(), 10000), self);
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        EXPECT_EQ(m_lines.find("connection of user 7 "), std::string::npos) << m_lines;
        done = true;
    }
    m_cond.notify_all();
    keep_alive.join();
}

// A receiver that holds its sender back is closed well before the idle limit: everything else
// that sender relays waits behind it.
class RelayHold : public RelayPacing {
protected:
    int idle_seconds() const override { return 600; }
    int hold_seconds() const override { return 2; }
};

TEST_F(RelayHold, StalledReceiverIsClosedAfterTheHoldLimitAndTheSendersOtherReceiverGetsItsMessage) {
    auto stuck = joined(42);
    auto other = joined(43);
    auto sender = joined(7);
    std::thread writer([&] {
        std::atomic<size_t> sent{0};
        EXPECT_TRUE(relaystream::send(sender->fd, 7, 42, 8000, &sent));
        sender->send_raw(relayed(7, 43, "ann:behind the stalled one"));
    });
    EXPECT_TRUE(wait_for(""));
    EXPECT_TRUE(wait_for("ended: does not read what is relayed to it"));
    std::string expected = relayed(7, 43, "ann:behind the stalled one");
    EXPECT_EQ(other->read(expected.size(), 20000), expected);
    writer.join();
    std::lock_guard<std::mutex> lk(m_mutex);
    EXPECT_NE(m_lines.find("connection of user 42 "), std::string::npos) << m_lines;
    EXPECT_EQ(m_lines.find("connection of user 43 "), std::string::npos) << m_lines;
}

TEST(OuterHeader, RejectsAtTheFirstBadPosition) {
    std::string h = outer(5, 1, 2, 3);
    EXPECT_EQ(check_outer_header(h.c_str()), -1);
    h[30] = 'a';
    EXPECT_EQ(check_outer_header(h.c_str()), 30);
    h[12] = ' ';
    EXPECT_EQ(check_outer_header(h.c_str()), 12);  // the colons are checked first
}

}  // namespace
}  // namespace srvtest
