// What the server takes from whom: password checks under a flood, requests that name a sender,
// presence queries and offline-message quotas. Drives the Core directly, with connections from
// chosen addresses and password checks held until the test lets them finish.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "server/core.h"
#include "server/limits.h"
#include "server/password.h"
#include "tests/server/test_client.h"

namespace srvtest {
namespace {

struct Sent {
    int command;
    int board;
    std::string body;
};

class RecordingTransport : public srv::Transport {
public:
    void send(srv::ConnId id, std::string bytes) override {
        msg_header h;
        ASSERT_EQ(parse_header(bytes.data(), &h), 0);
        std::string body = bytes.substr(kHeaderLen);
        xor_scramble(body.data(), static_cast<long>(body.size()));
        out[id].push_back({h.command, h.board_num, body});
    }
    void close(srv::ConnId id) override { closed.insert(id); }
    // Commands sent to id since the last call.
    std::vector<Sent> take(srv::ConnId id) {
        std::vector<Sent> v;
        v.swap(out[id]);
        return v;
    }
    std::map<srv::ConnId, std::vector<Sent>> out;
    std::set<srv::ConnId> closed;
};

class Guard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(srv::password_init(), 0);
        ASSERT_EQ(store.open(":memory:"), 0);
        log.set_quiet(true);
        srv::CoreOptions o;
        o.fast_hash = true;
        core = std::make_unique<srv::Core>(
            store, transport, log, o, [this](std::function<void()> w, std::function<void()> d) {
                held.push_back({std::move(w), std::move(d)});
            });
        ASSERT_EQ(core->seed_demo(), 0);
        srv::User u;
        store.find_user_by_email("alice@example.com", &u);
        alice = u.id;
        store.find_user_by_email("bob@example.com", &u);
        bob = u.id;
        store.find_user_by_email("carol@example.com", &u);
        carol = u.id;
    }
    srv::ConnId open(const std::string& ip) {
        core->on_open(next, ip);
        return next++;
    }
    void msg(srv::ConnId id, int command, const std::string& body = {}) {
        msg_header h;
        h.command = command;
        h.len = static_cast<int>(body.size());
        core->on_message(id, h, body);
    }
    // Runs the held password checks.
    void release() {
        auto jobs = std::move(held);
        held.clear();
        for (auto& [work, done] : jobs) {
            work();
            done();
        }
    }
    bool got(srv::ConnId id, int command) {
        for (const Sent& s : transport.take(id))
            if (s.command == command) return true;
        return false;
    }
    // A signed-in main connection from ip.
    srv::ConnId sign_in(const std::string& email, const std::string& ip) {
        srv::ConnId id = open(ip);
        msg(id, 130, email + ":demo1234");
        release();
        EXPECT_TRUE(got(id, 131)) << email;
        return id;
    }
    std::vector<Sent> query(const std::string& ip, int contact) {
        srv::ConnId q = open(ip);
        msg(q, 185, f10(contact));
        return transport.take(q);
    }

    srv::Store store;
    srv::Log log;
    RecordingTransport transport;
    std::vector<std::pair<std::function<void()>, std::function<void()>>> held;
    std::unique_ptr<srv::Core> core;
    srv::ConnId next = 1;
    int alice = 0, bob = 0, carol = 0;
};

TEST_F(Guard, PasswordChecksAreLimitedPerAddressAndPerAccount) {
    // One check from an address runs at a time; its further guesses (and a registration) wait.
    std::vector<srv::ConnId> flood;
    for (int i = 0; i < 5; i++) {
        flood.push_back(open("10.0.0.1"));
        msg(flood.back(), 130, "alice@example.com:guess" + std::to_string(i));
    }
    srv::ConnId reg = open("10.0.0.1");
    msg(reg, 250, register_record("eve@example.com", "pw", "E", "E", "e"));
    EXPECT_EQ(held.size(), 1u);
    // Other addresses are not held up, up to four checks of one account at once.
    srv::ConnId real = open("10.0.0.2");
    msg(real, 130, "carol@example.com:demo1234");
    std::vector<srv::ConnId> others;
    for (const char* ip : {"10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6"}) {
        others.push_back(open(ip));
        msg(others.back(), 130, "alice@example.com:demo1234");
    }
    EXPECT_EQ(held.size(), 5u);
    EXPECT_TRUE(got(others[3], 132));

    release();
    EXPECT_TRUE(got(real, 131));
    EXPECT_TRUE(got(others[0], 131));
    EXPECT_TRUE(got(flood[0], 132));
    // Each finished check of the first address starts the next one waiting there.
    EXPECT_EQ(held.size(), 1u);
    for (int round = 0; round < 10 && !held.empty(); round++) release();
    for (size_t i = 1; i < flood.size(); i++) EXPECT_TRUE(got(flood[i], 132)) << i;
    EXPECT_TRUE(got(reg, 251));
    // Finished checks free their places.
    msg(others[3], 130, "alice@example.com:demo1234");
    release();
    EXPECT_TRUE(got(others[3], 131));
}

TEST_F(Guard, WhatWaitsBehindAPasswordCheckIsBounded) {
    srv::ConnId few = open("10.0.0.1");
    msg(few, 130, "alice@example.com:demo1234");
    for (int i = 0; i < 10; i++) msg(few, 360, f10(1));
    srv::ConnId many = open("10.0.0.2");
    msg(many, 130, "bob@example.com:demo1234");
    for (int i = 0; i < srv::kMaxQueuedBeforeSignIn + 1; i++) msg(many, 1000);
    srv::ConnId big = open("10.0.0.3");
    msg(big, 130, "carol@example.com:demo1234");
    for (int i = 0; i < 40; i++) msg(big, 260, std::string(2000, 'x'));
    EXPECT_EQ(transport.closed, (std::set<srv::ConnId>{many, big}));
    release();
    auto replies = transport.take(few);
    EXPECT_EQ(std::count_if(replies.begin(), replies.end(),
                            [](const Sent& s) { return s.command == 361; }),
              10);
}

TEST_F(Guard, PresenceGoesOnlyToSignedInContactsAtTheAskingAddress) {
    srv::ConnId a = sign_in("alice@example.com", "10.0.0.1");
    msg(a, 360, f10(1));
    sign_in("bob@example.com", "10.0.0.2");    // lists Alice
    sign_in("carol@example.com", "10.0.0.3");  // does not
    auto shown = query("10.0.0.2", alice);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].command, 186);
    EXPECT_EQ(shown[0].board, 1);
    EXPECT_EQ(shown[1].command, 187);
    EXPECT_EQ(shown[1].body, f10(alice) + ":10.0.0.1");
    for (const char* ip : {"10.0.0.3", "10.0.0.9"}) {
        auto hidden = query(ip, alice);
        ASSERT_EQ(hidden.size(), 2u) << ip;
        EXPECT_EQ(hidden[0].command, 186);
        EXPECT_EQ(hidden[0].board, 0);
        EXPECT_EQ(hidden[1].command, 188);
    }
}

TEST_F(Guard, ClaimedSendersAreTakenOnlyFromWhereTheyAreSignedIn) {
    srv::ConnId a = sign_in("alice@example.com", "10.0.0.1");
    srv::ConnId b = sign_in("bob@example.com", "10.0.0.2");
    const std::string status = f10(alice) + ":" + f10(bob) + ":     0:10.0.0.2";
    const std::string connect_back = f10(alice) + ":" + f10(bob) + ":10.0.0.66";

    // From elsewhere: Bob is neither turned offline for Alice nor asks her to connect.
    srv::ConnId x = open("10.0.0.66");
    msg(x, 400, status);
    msg(x, 380, connect_back);
    EXPECT_TRUE(transport.take(a).empty());
    // From Bob's address both go through.
    srv::ConnId y = open("10.0.0.2");
    msg(y, 400, status);
    msg(y, 380, connect_back);
    auto passed = transport.take(a);
    ASSERT_EQ(passed.size(), 2u);
    EXPECT_EQ(passed[0].command, 401);
    EXPECT_EQ(passed[1].command, 381);

    // Datagrams: Bob's id from another address is refused and not acknowledged, and so are made-up
    // ids and users who are not signed in; from Bob's address it is relayed.
    std::string inner = RawClient::frame(210, "hi");
    auto datagram = [&](int sender) {
        char outer[64];
        std::snprintf(outer, sizeof outer, "%12d:%10d:%10d:%10d:", 1, alice, sender,
                      static_cast<int>(inner.size()));
        return std::string(outer) + inner;
    };
    std::string ack;
    EXPECT_EQ(core->on_datagram(datagram(bob), "10.0.0.66", &ack), -2);
    EXPECT_TRUE(ack.empty());
    EXPECT_TRUE(transport.take(a).empty());
    for (int stranger : {777777, carol}) {
        EXPECT_EQ(core->on_datagram(datagram(stranger), "10.0.0.66", &ack), -2) << stranger;
        EXPECT_TRUE(ack.empty());
    }
    EXPECT_TRUE(transport.take(a).empty());
    EXPECT_EQ(core->on_datagram(datagram(bob), "10.0.0.2", &ack), 0);
    EXPECT_EQ(ack.substr(0, 12), datagram(bob).substr(0, 12));
    EXPECT_EQ(transport.take(a).size(), 1u);

    // Carol is homed here but not signed in: nobody may speak for her.
    msg(x, 400, f10(bob) + ":" + f10(carol) + ":     1:10.0.0.66");
    EXPECT_TRUE(transport.take(b).empty());
}

TEST_F(Guard, OfflineMessagesOnlyFromSignedInUsersAndWithinTheQuota) {
    srv::ConnId b = sign_in("bob@example.com", "10.0.0.2");
    auto leave = [&](const std::string& ip, int from) {
        srv::ConnId h = open(ip);
        msg(h, 330, f10(alice) + ":" + f10(from));
        msg(h, 331, "text from " + std::to_string(from));
        msg(h, 332, f10(alice) + ":" + f10(from));
        int count = 0;
        int64_t bytes = 0;
        store.offline_usage(alice, &count, &bytes);
        return count;
    };
    EXPECT_EQ(leave("10.0.0.66", 777777), 0);  // not a registered user
    EXPECT_EQ(leave("10.0.0.66", bob), 0);     // Bob is not signed in there
    EXPECT_EQ(leave("10.0.0.2", bob), 1);

    // Ten megabytes waiting: refused, and Bob is told on his main connection.
    transport.take(b);
    for (int i = 0; i < 10; i++) store.add_offline(alice, carol, std::string(1024 * 1024, 'x'));
    EXPECT_EQ(leave("10.0.0.2", bob), 11);
    auto told = transport.take(b);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].command, 999);
    EXPECT_NE(told[0].body.find("not delivered"), std::string::npos);

    // A thousand small ones: refused as well.
    store.delete_offline(alice, carol, INT64_MAX);
    for (int i = 0; i < 998; i++) store.add_offline(alice, carol, "x");
    EXPECT_EQ(leave("10.0.0.2", bob), 1000);
    EXPECT_EQ(leave("10.0.0.2", bob), 1000);
}

// One stranger cannot fill a mailbox: each sender gets a share, strangers share a smaller pool,
// and the recipient's contacts still find room. A sender that asked for receipts (1102) learns
// the outcome on its own connection instead of by notice.
TEST_F(Guard, AStrangerCannotLockTheRecipientsContactsOut) {
    srv::ConnId c = sign_in("carol@example.com", "10.0.0.3");  // not one of Alice's contacts
    sign_in("bob@example.com", "10.0.0.2");                      // one of them
    auto leave = [&](const std::string& ip, int from, bool receipt) {
        srv::ConnId h = open(ip);
        if (receipt) msg(h, 1102);
        msg(h, 330, f10(alice) + ":" + f10(from));
        msg(h, 331, "text from " + std::to_string(from));
        msg(h, 332, f10(alice) + ":" + f10(from));
        auto replies = transport.take(h);
        core->on_close(h);
        return replies.empty() ? 0 : replies.back().command;
    };
    for (int i = 0; i < 1000; i++) leave("10.0.0.3", carol, false);
    int count = 0;
    int64_t bytes = 0;
    store.offline_usage(alice, &count, &bytes);
    EXPECT_EQ(count, srv::kOfflineSenderMessages);
    auto told = transport.take(c);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back().command, 999);
    EXPECT_EQ(leave("10.0.0.3", carol, true), 1104);  // refused, said on the sending connection
    EXPECT_TRUE(transport.take(c).empty());
    EXPECT_EQ(leave("10.0.0.2", bob, true), 1103);

    // Other strangers fill their pool: the next stranger is refused, a contact is not.
    for (int i = 0; i < srv::kOfflineStrangerMessages - srv::kOfflineSenderMessages; i++)
        store.add_offline(alice, 777000 + i, "x");
    srv::User dave;
    dave.email = "dave@example.com";
    dave.pw_hash = "-";
    int d = store.create_user(dave);
    ASSERT_GT(d, 0);
    EXPECT_EQ(leave("10.0.0.66", d, true), 1104);  // not signed in: refused as well
    EXPECT_EQ(leave("10.0.0.2", bob, true), 1103);
    store.offline_usage(alice, &count, &bytes);
    EXPECT_EQ(count, srv::kOfflineStrangerMessages + 2);
}

// Connections a source address may hold: those not signed in are capped lower than all of them.
TEST_F(Guard, ConnectionsPerAddressAreCapped) {
    srv::CoreOptions o;
    o.fast_hash = true;
    o.max_per_address = 4;
    o.max_unsigned_per_address = 2;
    srv::Core small(store, transport, log, o);
    auto open_on = [&](srv::ConnId id) {
        small.on_open(id, "10.0.0.9");
        return transport.closed.count(id) == 0;
    };
    EXPECT_TRUE(open_on(101));
    EXPECT_TRUE(open_on(102));
    EXPECT_FALSE(open_on(103));  // a third one not signed in
    small.on_close(103);
    auto sign_in_on = [&](srv::ConnId id, const std::string& email) {
        msg_header h;
        h.command = 130;
        std::string login = email + ":demo1234";
        h.len = static_cast<int>(login.size());
        small.on_message(id, h, login);
        return small.signed_in(id);
    };
    ASSERT_TRUE(sign_in_on(101, "alice@example.com"));
    ASSERT_TRUE(sign_in_on(102, "bob@example.com"));
    EXPECT_TRUE(open_on(104));  // signed-in connections no longer count as pending
    EXPECT_TRUE(open_on(105));
    EXPECT_FALSE(open_on(106));  // five in all
    small.on_close(106);
    small.on_close(104);
    EXPECT_TRUE(open_on(107));
}

}  // namespace
}  // namespace srvtest
