// Nothing the user typed is lost: knocks between contacts that were online before they signed in,
// bursts and long lines on the datagram path, lines right after sign-in and after a relay dies,
// and a second sign-in of the same user elsewhere.
#include <signal.h>

#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;

class DeliveryE2E : public e2e_fixture {
protected:
    // Ann and Bob registered, befriended and signed in; `flags` go to both clients.
    void start_pair(const std::string& net, const std::vector<std::string>& flags = {}) {
        m_ann = &client(net + ".1", net + ".2", "ann", flags);
        m_bob = &client(net + ".1", net + ".3", "bob", flags);
        m_ann_id = register_and_login(*m_ann, "ann@example.org", "ann");
        m_bob_id = register_and_login(*m_bob, "bob@example.org", "bob");
        befriend(*m_ann, m_ann_id, *m_bob, m_bob_id, "bob@example.org");
    }
    // Sends a line; true when the sender took it (no "not sent" answer).
    bool chat(child_process& from, int to_id, const std::string& text) {
        from.write_line("chat " + std::to_string(to_id) + " " + text);
        return !from.wait_line({"\"ok\":\"chat\""}).empty();
    }
    // Waits for each of the numbered lines "tag 0" .. "tag n-1" at `to`, in that order, once.
    void expect_lines_in_order(child_process& to, const std::string& tag, int n) {
        for (int i = 0; i < n; i++) {
            std::string want = "\"text\":\"" + tag + " " + std::to_string(i) + "\"";
            std::string got = to.wait_line({"\"event\":\"chat_received\"", want}, 20000);
            ASSERT_FALSE(got.empty()) << tag << " " << i << " lost";
        }
        expect_shown_once_in_order(to, tag, n);
    }
    // The numbered lines "tag 0" .. "tag n-1" were each shown at `to` once, in the order typed.
    void expect_shown_once_in_order(child_process& to, const std::string& tag, int n) {
        std::string order, want;
        for (const std::string& l : to.lines())
            if (l.find("chat_received") != std::string::npos) {
                size_t at = l.find("\"text\":\"" + tag + " ");
                if (at != std::string::npos)
                    order += std::to_string(std::atoi(l.c_str() + at + 9 + tag.size())) + ",";
            }
        for (int i = 0; i < n; i++) want += std::to_string(i) + ",";
        EXPECT_EQ(order, want) << tag;
    }

    child_process* m_ann = nullptr;
    child_process* m_bob = nullptr;
    int m_ann_id = 0;
    int m_bob_id = 0;
};

// Both sign in again while the other is online: each learns the other's presence from the
// online query, not from a change, so no connection is open when the knock is sent. A line cut
// at 2000 bytes keeps whole characters.
TEST_F(DeliveryE2E, KnockAndLongLineBetweenContactsOnlineAtSignIn) {
    start_server(testsupport::loopback_host(1));
    start_pair(testsupport::loopback_block());
    for (child_process* c : {m_ann, m_bob}) {
        c->write_line("quit");
        ASSERT_FALSE(c->wait_line({"\"event\":\"bye\""}).empty());
    }
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann");
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob");
    ann.write_line("login ann@example.org pw-ann");
    bob.write_line("login bob@example.org pw-bob");
    ASSERT_FALSE(ann.wait_line({"\"event\":\"welcome\""}).empty());
    ASSERT_FALSE(bob.wait_line({"\"event\":\"welcome\""}).empty());
    ASSERT_TRUE(knows_address(ann, m_bob_id));
    ASSERT_TRUE(knows_address(bob, m_ann_id));

    bob.write_line("knock " + std::to_string(m_ann_id));
    EXPECT_FALSE(bob.wait_line({"\"ok\":\"knock\""}).empty());
    EXPECT_FALSE(ann.wait_line({"\"event\":\"knock\"", "Knock from Firstbob"}).empty());
    ann.write_line("knock " + std::to_string(m_bob_id));
    EXPECT_FALSE(ann.wait_line({"\"ok\":\"knock\""}).empty());
    EXPECT_FALSE(bob.wait_line({"\"event\":\"knock\"", "Knock from Firstann"}).empty());

    // "ann:" + 1995 x + two 3-byte characters: the 2000-byte cut falls inside the first one.
    ann.write_line("chat " + std::to_string(m_bob_id) + " " + std::string(1995, 'x') +
                   "\xe2\x82\xac\xe2\x82\xac");
    std::string got = bob.wait_line({"\"event\":\"chat_received\"", "\"length\":2005"}, 15000);
    ASSERT_FALSE(got.empty());
    EXPECT_NE(got.find("\"text\":\"" + std::string(1995, 'x') + "\""), std::string::npos)
        << got.substr(0, 80);
}

// Without any relay every line goes as a datagram: a burst arrives complete, in order and once,
// and a line longer than one datagram carries arrives shortened at a whole character.
TEST_F(DeliveryE2E, DatagramBurstAndLongLine) {
    start_server(testsupport::loopback_host(1));
    start_pair(testsupport::loopback_block(), {"--no-peer-listener", "--relay-ports", "19080,19443,19199"});
    const int n = 100;
    for (int i = 0; i < n; i++)
        m_ann->write_line("chat " + std::to_string(m_bob_id) + " burst " + std::to_string(i));
    expect_lines_in_order(*m_bob, "burst", n);
    // The echoes come back as datagrams too, each once.
    for (int i = 0; i < n; i++)
        ASSERT_FALSE(m_ann
                         ->wait_line({"\"event\":\"chat_delivered\"",
                                      "\"text\":\"burst " + std::to_string(i) + "\""},
                                     20000)
                         .empty())
            << "echo " << i;

    std::string word;
    for (int i = 0; i < 600; i++) word += "\xc3\xa9";  // 1200 bytes of two-byte characters
    m_ann->write_line("chat " + std::to_string(m_bob_id) + " " + word);
    std::string got = m_bob->wait_line(
        {"\"event\":\"chat_received\"", "\"path\":\"datagram\"", "\xc3\xa9\xc3\xa9"}, 15000);
    ASSERT_FALSE(got.empty()) << "the long line was lost";
    // 950 bytes of message: 20 header, "ann:" and the text, a zero byte, five attributes.
    std::string text = word.substr(0, 920);
    EXPECT_NE(got.find("\"text\":\"" + text + "\""), std::string::npos) << got;
    EXPECT_NE(got.find("\"length\":930"), std::string::npos) << got;
    EXPECT_FALSE(m_ann->wait_line({"\"event\":\"chat_delivered\"", "\"length\":930"}).empty());
}

// A relay client serves both; lines typed from sign-in on, then after the relay quits, all
// arrive: the route through the relay only counts once the peer registered there, and a send on
// a dead relay connection falls through to the datagram path.
TEST_F(DeliveryE2E, RelayedLinesFromSignInAndAfterTheRelayQuits) {
    start_server(testsupport::loopback_host(1));
    child_process& cat =
        client(testsupport::loopback_host(1), testsupport::loopback_host(4), "cat", {"--relay-ports", "7080,7443,8199"});
    register_and_login(cat, "cat@example.org", "cat");
    start_pair(testsupport::loopback_block(), {"--no-peer-listener", "--relay-ports", "19080,19443,19199"});

    // Lines typed from sign-in on, each as soon as the one before arrived, until one goes through
    // the relay: none is lost while the route comes about (it counts only once Bob registered).
    std::string last;
    ASSERT_FALSE(send_until_relayed(*m_ann, m_bob_id, *m_bob, "early", &last).empty())
        << "no line went through the relay";
    expect_shown_once_in_order(*m_bob, "early", std::atoi(last.c_str() + 6) + 1);

    // After the relay quits, each line still arrives: a send on the dead relay connection falls
    // through to the next path.
    cat.kill_now();
    for (int i = 0; i < 20; i++) {
        std::string text = "late " + std::to_string(i);
        ASSERT_TRUE(chat(*m_ann, m_bob_id, text));
        ASSERT_FALSE(
            m_bob->wait_line({"\"event\":\"chat_received\"", "\"text\":\"" + text + "\""}, 20000)
                .empty())
            << text << " lost";
    }
    expect_shown_once_in_order(*m_bob, "late", 20);
}

// Bob signs in from a second place: the first process is told so and keeps nothing open, and
// Ann's next lines reach the new one.
TEST_F(DeliveryE2E, SecondSignInTakesOverThePeerConnections) {
    start_server(testsupport::loopback_host(1));
    start_pair(testsupport::loopback_block());
    ASSERT_TRUE(chat(*m_ann, m_bob_id, "to the first"));
    ASSERT_FALSE(
        m_bob->wait_line({"\"event\":\"chat_received\"", "\"text\":\"to the first\""}, 15000)
            .empty());

    child_process& second = client(testsupport::loopback_host(1), testsupport::loopback_host(5), "bob2");
    second.write_line("login bob@example.org pw-bob");
    ASSERT_FALSE(second.wait_line({"\"event\":\"welcome\""}).empty());
    ASSERT_FALSE(m_bob->wait_line({"\"event\":\"logged_in_elsewhere\""}).empty());
    // The sign-out that follows closes every peer connection before it reports.
    ASSERT_FALSE(m_bob->wait_line({"\"event\":\"action_done\"", "\"action\":\"sign_out\""}, 20000).empty());
    m_bob->write_line("peers");
    std::string peers = m_bob->wait_line({"\"peers\":["});
    EXPECT_NE(peers.find("\"peers\":[]"), std::string::npos) << peers;

    bool reached = false;
    for (int i = 0; i < 50 && !reached; i++) {
        std::string text = "to the second " + std::to_string(i);
        chat(*m_ann, m_bob_id, text);
        reached =
            !second.wait_line({"\"event\":\"chat_received\"", "\"text\":\"" + text + "\""}, 1000)
                 .empty();
    }
    EXPECT_TRUE(m_bob->wait_line({"\"event\":\"chat_received\"", "to the second"}, 1).empty())
        << "a line reached the signed-out process";
    EXPECT_TRUE(reached) << "no line reached the second sign-in";
}

}  // namespace
