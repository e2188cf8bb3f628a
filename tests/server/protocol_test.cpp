// The server's answers to every client request, over real loopback connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/server/server_fixture.h"

namespace srvtest {
namespace {

using Proto = ServerFixture;

int count_cmd(const std::vector<Msg>& msgs, int cmd) {
    return static_cast<int>(
        std::count_if(msgs.begin(), msgs.end(), [cmd](const Msg& m) { return m.command == cmd; }));
}
const Msg* find_cmd(const std::vector<Msg>& msgs, int cmd, const std::string& prefix = "") {
    for (const Msg& m : msgs)
        if (m.command == cmd && m.body.compare(0, prefix.size(), prefix) == 0) return &m;
    return nullptr;
}
// Relation state the contact list (170) gives for `contact`, or -1 when it is not listed.
int relation_in_list(RawClient& c, int contact) {
    c.send(170);
    auto msgs = c.until(173);
    const Msg* m = find_cmd(msgs, 179, f10(contact) + ":");
    return m ? std::stoi(m->body.substr(11)) : -1;
}

TEST_F(Proto, LoginRepliesAndRefusals) {
    auto c = connect();
    c->send(130, "alice@example.com:wrong");
    EXPECT_EQ(c->recv().command, 132);
    c->send(130, "nobody@example.com:demo1234");
    EXPECT_EQ(c->recv().command, 132);
    c->send(130, "no-colon-here");
    EXPECT_EQ(c->recv().command, 132);

    c->send(130, "ALICE@example.com:demo1234");  // e-mail compared without case
    auto msgs = c->until(131);
    ASSERT_EQ(msgs.size(), 7u);
    std::map<int, std::string> by_cmd;
    for (const Msg& m : msgs) by_cmd[m.command] = m.body;
    EXPECT_EQ(by_cmd[151], std::to_string(alice));
    EXPECT_GT(std::stoi(by_cmd[150]), 0);
    EXPECT_GT(std::stoi(by_cmd[152]), 0);
    EXPECT_EQ(by_cmd[153], "Alice");
    EXPECT_EQ(by_cmd[154], "Archer");
    EXPECT_EQ(by_cmd[155], "alice");
    EXPECT_EQ(msgs.back().command, 131);
}

TEST_F(Proto, SecondLoginClosesTheOlderConnection) {
    auto first = login("alice@example.com");
    auto second = login("alice@example.com");
    Msg m = first->recv();
    EXPECT_EQ(m.command, 390);
    EXPECT_TRUE(first->closed_by_server());
    // The newer connection stays in service.
    second->send(360, f10(2));
    EXPECT_EQ(second->recv().body, "2");
}

TEST_F(Proto, RegistrationAndSignInWithNewAccount) {
    auto c = connect();
    c->send(250, register_record("dave@example.com", "secret-pw", "Dave", "Doe", "dave", "123",
                                 "Iceland"));
    EXPECT_EQ(c->recv().command, 251);
    c->send(250, register_record("Dave@Example.com", "other", "D", "D", "d"));
    EXPECT_EQ(c->recv().command, 253);
    c->send(250, std::string(100, 'x'));  // not a registration record
    EXPECT_EQ(c->recv().command, 252);
    c->send(250, register_record("bad:mail@example.com", "pw", "a", "b", "c"));
    EXPECT_EQ(c->recv().command, 252);
    c->send(250, register_record("nopw@example.com", "", "a", "b", "c"));
    EXPECT_EQ(c->recv().command, 252);
    // A password longer than the sign-in dialog can send works with its first 31 characters.
    std::string long_pw(40, 'p');
    c->send(250, register_record("long@example.com", long_pw, "L", "P", "lp"));
    EXPECT_EQ(c->recv().command, 251);

    login("dave@example.com", "secret-pw");
    login("long@example.com", long_pw.substr(0, 31));
}

TEST_F(Proto, RequestsBeforeSignInAreRefused) {
    auto c = connect();
    c->send(260, "bob@example.com");
    EXPECT_EQ(c->recv().command, 266);
    c->send(280, f10(bob) + ":" + f10(0));
    EXPECT_EQ(c->recv().command, 282);
    c->send(310, "Work");
    EXPECT_EQ(c->recv().command, 312);
    c->send(160);
    c->send(170);
    c->send(360, f10(1));
    EXPECT_TRUE(c->quiet());
}

TEST_F(Proto, GroupLifecycle) {
    auto c = login("alice@example.com");
    c->send(160);
    auto msgs = c->until(163);
    ASSERT_EQ(msgs.front().command, 161);
    ASSERT_EQ(count_cmd(msgs, 162), 1);
    const Msg* friends = find_cmd(msgs, 162);
    int friends_id = std::stoi(friends->body.substr(0, 10));
    EXPECT_EQ(friends->body.substr(11), "Friends");

    c->send(310, "Work");
    Msg added = c->recv();
    ASSERT_EQ(added.command, 311);
    int work = std::stoi(added.body);
    c->send(310, "");
    EXPECT_EQ(c->recv().command, 312);

    c->send(313, f10(work) + ":Office");
    Msg renamed = c->recv();
    EXPECT_EQ(renamed.command, 314);
    EXPECT_EQ(renamed.body, f10(work) + ":Office");
    c->send(313, f10(0) + ":Default");
    EXPECT_EQ(c->recv().command, 315);

    // Bob's own group is not Alice's to change.
    auto b = login("bob@example.com");
    b->send(313, f10(work) + ":Mine");
    EXPECT_EQ(b->recv().command, 315);
    b->send(316, f10(work));
    EXPECT_EQ(b->recv().command, 318);

    // A group that still holds a contact stays; an empty one goes.
    c->send(316, f10(friends_id));
    EXPECT_EQ(c->recv().command, 318);
    c->send(316, f10(0));
    EXPECT_EQ(c->recv().command, 318);
    c->send(316, f10(work));
    Msg removed = c->recv();
    EXPECT_EQ(removed.command, 317);
    EXPECT_EQ(removed.body, std::to_string(work));
    c->send(160);
    EXPECT_EQ(count_cmd(c->until(163), 162), 1);

    // Moving the contact out lets the group go.
    c->send(300, f10(bob) + ":" + f10(0));
    c->send(316, f10(friends_id));
    EXPECT_EQ(c->recv().command, 317);
}

TEST_F(Proto, ContactListCarriesDetailsBeforeItsEnd) {
    auto c = login("alice@example.com");
    c->send(170);
    auto msgs = c->until(173);
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.front().command, 171);
    EXPECT_EQ(msgs.back().command, 173);
    ASSERT_EQ(count_cmd(msgs, 172), 1);
    const Msg* entry = find_cmd(msgs, 172);
    EXPECT_EQ(entry->body.substr(0, 10), f10(bob));
    EXPECT_EQ(entry->body.substr(22), "bob");
    EXPECT_EQ(find_cmd(msgs, 174, f10(bob) + ":")->body.substr(11), "home.test");
    EXPECT_EQ(find_cmd(msgs, 176, f10(bob) + ":")->body.substr(11), "Bob");
    EXPECT_EQ(find_cmd(msgs, 177, f10(bob) + ":")->body.substr(11), "Baker");
    EXPECT_EQ(find_cmd(msgs, 178, f10(bob) + ":")->body.substr(11), "bob@example.com");
    EXPECT_EQ(find_cmd(msgs, 179, f10(bob) + ":")->body.substr(11), "3");
}

TEST_F(Proto, SearchFindsAccounts) {
    auto c = login("alice@example.com");
    c->send(260, "carol@example.com");
    auto msgs = c->until(265);
    ASSERT_EQ(msgs.size(), 5u);
    EXPECT_EQ(msgs[0].command, 261);
    EXPECT_EQ(msgs[0].body, std::to_string(carol));
    EXPECT_EQ(msgs[1].body, "Carol");
    EXPECT_EQ(msgs[2].body, "Carter");
    EXPECT_EQ(msgs[3].body, "carol");
    EXPECT_EQ(msgs[4].body, "carol@example.com");
    c->send(260, "missing@example.com");
    EXPECT_EQ(c->recv().command, 267);
    c->send(260, "");
    EXPECT_EQ(c->recv().command, 266);
}

TEST_F(Proto, AddContactWithApprovalAndRefusal) {
    auto a = login("alice@example.com");
    auto cl = login("carol@example.com");
    a->send(280, f10(carol) + ":" + f10(0));
    EXPECT_EQ(a->recv().command, 281);
    // Carol is online: she gets a fresh list with Alice in relation state 4.
    auto pushed = cl->until(173);
    const Msg* rel = find_cmd(pushed, 179, f10(alice) + ":");
    ASSERT_NE(rel, nullptr);
    EXPECT_EQ(rel->body.substr(11), "4");

    a->send(280, f10(carol) + ":" + f10(0));
    EXPECT_EQ(a->recv().command, 283);
    a->send(280, f10(alice) + ":" + f10(0));
    EXPECT_EQ(a->recv().command, 282);
    a->send(280, f10(999999) + ":" + f10(0));
    EXPECT_EQ(a->recv().command, 282);
    a->send(280, "garbage");
    EXPECT_EQ(a->recv().command, 282);

    cl->send(284, f10(alice));
    Msg ok = cl->recv();
    EXPECT_EQ(ok.command, 286);
    EXPECT_EQ(ok.body, std::to_string(alice));
    // Alice, who asked, gets a fresh list too: it carries Carol's home server at once.
    auto fresh = a->until(173);
    EXPECT_NE(find_cmd(fresh, 174, f10(carol) + ":"), nullptr);
    EXPECT_EQ(relation_in_list(*cl, alice), 3);
    EXPECT_EQ(relation_in_list(*a, carol), 3);

    // A declined request disappears from the decliner's list.
    auto dave = connect();
    dave->send(250, register_record("erin@example.com", "pw", "Erin", "E", "erin"));
    ASSERT_EQ(dave->recv().command, 251);
    auto erin = login("erin@example.com", "pw");
    a->send(260, "erin@example.com");
    int erin_id = std::stoi(a->until(265).front().body);
    a->send(280, f10(erin_id) + ":" + f10(0));
    EXPECT_EQ(a->recv().command, 281);
    erin->until(173);
    erin->send(285, f10(alice));
    Msg no = erin->recv();
    EXPECT_EQ(no.command, 287);
    EXPECT_EQ(no.body, std::to_string(alice));
    EXPECT_EQ(relation_in_list(*erin, alice), -1);
}

TEST_F(Proto, RemoveContactAndTheOtherSidesAnswer) {
    auto a = login("alice@example.com");
    auto b = login("bob@example.com");
    a->send(290, std::to_string(bob));
    Msg m = a->recv();
    EXPECT_EQ(m.command, 291);
    EXPECT_EQ(m.body, std::to_string(bob));
    EXPECT_EQ(relation_in_list(*a, bob), -1);
    auto pushed = b->until(173);
    const Msg* rel = find_cmd(pushed, 179, f10(alice) + ":");
    ASSERT_NE(rel, nullptr);
    EXPECT_EQ(rel->body.substr(11), "6");
    a->send(290, std::to_string(bob));
    EXPECT_EQ(a->recv().command, 292);

    b->send(294, f10(alice));  // Bob keeps Alice
    Msg kept = b->recv();
    EXPECT_EQ(kept.command, 296);
    EXPECT_EQ(kept.body, std::to_string(alice));
    EXPECT_EQ(relation_in_list(*b, alice), 7);
    b->send(293, f10(alice));  // and then lets her go
    EXPECT_EQ(b->recv().command, 295);
    EXPECT_EQ(relation_in_list(*b, alice), -1);
}

TEST_F(Proto, PresenceQueriesAndPushes) {
    auto a = login("alice@example.com");
    a->send(180, "127.0.0.77");
    a->send(360, f10(2));
    Msg st = a->recv();
    EXPECT_EQ(st.command, 361);
    EXPECT_EQ(st.body, "2");
    a->send(360, f10(42));  // out of range: the state stays
    EXPECT_EQ(a->recv().body, "2");

    // One-shot home-server connection from Bob's address asking about Alice and Carol (offline).
    auto b = login("bob@example.com");
    auto q = connect();
    q->send(185, f10(alice));
    Msg s1 = q->recv();
    EXPECT_EQ(s1.command, 186);
    EXPECT_EQ(s1.board, 2);
    EXPECT_EQ(s1.body, f10(alice));
    Msg s2 = q->recv();
    EXPECT_EQ(s2.command, 187);
    EXPECT_EQ(s2.body, f10(alice) + ":127.0.0.77");
    q->send(185, f10(carol));
    Msg s3 = q->recv();
    EXPECT_EQ(s3.command, 186);
    EXPECT_EQ(s3.board, 0);
    EXPECT_EQ(q->recv().command, 188);

    // Appear Offline looks offline to others.
    a->send(360, f10(7));
    a->recv();
    q->send(185, f10(alice));
    EXPECT_EQ(q->recv().board, 0);
    EXPECT_EQ(q->recv().command, 188);

    // 400 from Bob's client reaches Alice (who lists Bob), not Carol (who does not list Alice).
    auto status = connect();
    status->send(400, f10(alice) + ":" + f10(bob) + ":" + "     1" + ":127.0.0.88");
    Msg push = a->recv();
    EXPECT_EQ(push.command, 401);
    EXPECT_EQ(push.body, f10(bob) + ":     1:127.0.0.88");
    auto c = login("carol@example.com");
    status->send(400, f10(carol) + ":" + f10(alice) + ":" + "     1" + ":127.0.0.77");
    EXPECT_TRUE(c->quiet());
}

TEST_F(Proto, DroppedConnectionTellsWatchersOffline) {
    auto a = login("alice@example.com");
    {
        auto b = login("bob@example.com");
        b->send(180, "127.0.0.99");
        b->send(360, f10(1));
        b->recv();
        b->send(133);  // signs out: the server tells Alice, the client's own notice is not taken
        Msg out = a->recv();
        EXPECT_EQ(out.command, 401);
        EXPECT_EQ(out.body.substr(0, 18), f10(bob) + ":     0:");
        b->send(130, "bob@example.com:demo1234");
        b->until(131);
    }  // Bob's connection drops without 133
    Msg m = a->recv();
    EXPECT_EQ(m.command, 401);
    EXPECT_EQ(m.body.substr(0, 18), f10(bob) + ":     0:");
}

TEST_F(Proto, OfflineMessagesStoredFetchedAndDeleted) {
    std::string header = "Message by Bob Baker(bob):\r\n2024-01-02 03:04:05\r\n";
    std::string text(2500, 'x');
    text[0] = 'A';
    text[2499] = 'Z';
    auto b = login("bob@example.com");  // messages are taken only from signed-in senders
    {
        auto h = connect();  // one-shot connection to Alice's home server
        h->send(330, f10(alice) + ":" + f10(bob));
        h->send(331, header);
        for (size_t pos = 0; pos < text.size(); pos += 1000) h->send(331, text.substr(pos, 1000));
        h->send(331, "\r\n\r\n\r\n");
        h->send(332, f10(alice) + ":" + f10(bob));
        h->send(185, f10(alice));  // its answer shows that everything before it was handled
        h->until(188);
    }
    auto a = login("alice@example.com");
    a->send(340);
    EXPECT_EQ(a->recv().command, 341);
    a->send(343);
    auto msgs = a->until(347);
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ(msgs.front().command, 345);
    std::string joined;
    for (const Msg& m : msgs)
        if (m.command == 346) {
            EXPECT_LE(m.body.size(), 2047u);
            joined += m.body;
        }
    EXPECT_EQ(joined, header + text + "\r\n\r\n\r\n");
    EXPECT_EQ(msgs.back().body, f10(bob));

    // A second message from Bob arrives after Alice fetched: deleting the shown one keeps it.
    {
        auto h = connect();
        h->send(330, f10(alice) + ":" + f10(bob));
        h->send(331, "later");
        h->send(332, f10(alice) + ":" + f10(bob));
        h->send(185, f10(alice));
        h->until(187);
    }
    a->send(348, f10(bob));
    a->send(340);
    EXPECT_EQ(a->recv().command, 341);
    a->send(343);
    auto second = a->until(347);
    ASSERT_EQ(count_cmd(second, 345), 1);
    EXPECT_EQ(find_cmd(second, 346)->body, "later");
    a->send(348, f10(bob));
    a->send(340);
    EXPECT_TRUE(a->quiet());
}

TEST_F(Proto, IncompleteOrMismatchedOfflineMessagesAreNotStored) {
    auto b = login("bob@example.com");
    {
        auto h = connect();
        h->send(330, f10(alice) + ":" + f10(bob));
        h->send(331, "never finished");
    }
    {
        auto h = connect();
        h->send(330, f10(alice) + ":" + f10(bob));
        h->send(331, "wrong end");
        h->send(332, f10(alice) + ":" + f10(carol));
        h->send(331, "part without a start");
        h->send(330, f10(999999) + ":" + f10(bob));  // unknown recipient
        h->send(331, "to nobody");
        h->send(332, f10(999999) + ":" + f10(bob));
        h->send(185, f10(alice));
        h->until(188);
    }
    auto a = login("alice@example.com");
    a->send(340);
    EXPECT_TRUE(a->quiet());
}

TEST_F(Proto, SpeedTestAndReports) {
    auto a = login("alice@example.com");
    std::string zeros(1000, '\0');
    a->send(440, zeros);
    a->send(441, zeros);
    a->send(441, zeros);
    a->send(441, zeros);
    a->send(442, zeros);
    EXPECT_EQ(a->recv().command, 443);
    EXPECT_EQ(a->recv().command, 445);
    a->send(450, "        1234");
    a->send(451, "          10");
    a->send(452, "           2");
    a->send(1000);
    EXPECT_TRUE(a->quiet());
}

TEST_F(Proto, ChatDatagramsAreAcknowledgedAndRelayed) {
    auto b = login("bob@example.com");
    auto a = login("alice@example.com");  // the sender, signed in where the datagram comes from
    int udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(m_port));
    inet_pton(AF_INET, m_host.c_str(), &to.sin_addr);
    timeval tv{2, 0};
    setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    auto exchange = [&](const std::string& d) {
        sendto(udp, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        char buf[2048];
        ssize_t n = recv(udp, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    };
    std::string inner =
        RawClient::frame(210, std::string("alice:hi") + '\0' + "\x01\x02\x03\x0a\x00");
    char outer[64];
    std::snprintf(outer, sizeof outer, "%12d:%10d:%10d:%10d:", 123456, bob, alice,
                  static_cast<int>(inner.size()));
    std::string datagram = std::string(outer) + inner;
    std::string ack = exchange(datagram);
    EXPECT_EQ(ack.substr(0, 12), datagram.substr(0, 12));
    Msg m = b->recv();
    ASSERT_EQ(m.command, 2000);
    // The relayed datagram carries its inner body in plain text.
    EXPECT_EQ(m.body.substr(0, 66), datagram.substr(0, 66));
    EXPECT_EQ(m.body.substr(66, 8), "alice:hi");
    // A datagram the receiving client would reject is neither acknowledged nor relayed.
    std::string bad = datagram;
    bad[30] = 'x';
    EXPECT_EQ(exchange(bad), "");
    EXPECT_TRUE(b->quiet());
    close(udp);
}

TEST_F(Proto, BadInputIsSkippedAndTheConnectionKeepsWorking) {
    auto a = login("alice@example.com");
    // Malformed header (character 9 is not ':'), then a good request.
    a->send_raw("   0:   0 1000:   0:");
    a->send(360, f10(3));
    Msg m = a->recv();
    EXPECT_EQ(m.command, 361);
    EXPECT_EQ(m.body, "3");
    // Negative len, an oversized body, an unknown command, a short and a non-numeric body.
    a->send_raw("   0:   0: 360:  -5:");
    std::string big = RawClient::frame(260, std::string(9000, 'q'));
    a->send_raw(big);
    a->send(7777, "whatever");
    a->send(360, "");
    EXPECT_EQ(a->recv().body, "3");
    a->send(360, "abc");
    EXPECT_EQ(a->recv().body, "3");
    a->send(300, "12");
    a->send(185, "not a number");
    EXPECT_EQ(a->recv().command, 188);
    a->send(360, f10(4));
    EXPECT_EQ(a->recv().body, "4");
}

TEST_F(Proto, EndlessGarbageClosesTheConnection) {
    auto c = connect();
    std::string junk(srv::FrameReader::kMaxGarbage + 4096, 'z');
    c->send_raw(junk);
    EXPECT_TRUE(c->closed_by_server());
    // The server is still there for others.
    login("bob@example.com");
}

}  // namespace
}  // namespace srvtest
