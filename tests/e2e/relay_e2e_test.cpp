// Two headless clients that cannot reach each other (no peer listener on either side, so neither
// a direct connection nor a connect-back comes about) chat and knock through a third client's
// relay server, through the server's own relay, and, with no relay at all, by datagrams that the
// server relays; when the relay dies, the next line falls back to the datagram path.
#include <signal.h>

#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;

// Relay ports of the relaying client: unprivileged, and below 10000 because a port travels in
// the header's 4-digit board_num. 8199 is the usual third port and is announced without one.
const std::vector<std::string> kRelayFlags{"--relay-ports", "7080,7443,8199"};

class RelayE2E : public e2e_fixture {
protected:
    // Ann and Bob, both without a peer listener, befriended; `net` is "127.0.N". Their own relay
    // servers listen on ports that cannot be announced (above 9999), so the only relay the server
    // can hand out is the one each test provides.
    void start_pair(const std::string& net) {
        const std::vector<std::string> flags{"--no-peer-listener", "--relay-ports", "19080,19443,19199"};
        m_ann = &client(net + ".1", net + ".2", "ann", flags);
        m_bob = &client(net + ".1", net + ".3", "bob", flags);
        m_ann_id = register_and_login(*m_ann, "ann@example.org", "ann");
        m_bob_id = register_and_login(*m_bob, "bob@example.org", "bob");
        befriend(*m_ann, m_ann_id, *m_bob, m_bob_id, "bob@example.org");
    }
    // Numbered lines from Ann (or Bob) until one reaches the other through a relay.
    std::string chat_until_relayed(const std::string& tag, bool from_bob = false) {
        if (from_bob) return send_until_relayed(*m_bob, m_ann_id, *m_ann, tag, &m_last_text);
        return send_until_relayed(*m_ann, m_bob_id, *m_bob, tag, &m_last_text);
    }
    std::string echo_of_last() {
        return m_ann->wait_line({"\"event\":\"chat_delivered\"", "\"text\":\"" + m_last_text + "\""});
    }
    // A knock has no datagram path: with no direct connection it arrives only through a relay.
    void knock_arrives() {
        m_ann->write_line("knock " + std::to_string(m_bob_id));
        ASSERT_FALSE(m_ann->wait_line({"\"ok\":\"knock\""}).empty());
        std::string knock = m_bob->wait_line({"\"event\":\"knock\""});
        ASSERT_FALSE(knock.empty());
        EXPECT_NE(knock.find("Knock from Firstann Lastann(ann@example.org)"), std::string::npos) << knock;
    }

    child_process* m_ann = nullptr;
    child_process* m_bob = nullptr;
    int m_ann_id = 0;
    int m_bob_id = 0;
    std::string m_last_text;
};

TEST_F(RelayE2E, ChatAndKnockThroughAnotherClientsRelay) {
    start_server(testsupport::loopback_host(1));
    child_process& cat = client(testsupport::loopback_host(1), testsupport::loopback_host(4), "cat", kRelayFlags);
    register_and_login(cat, "cat@example.org", "cat");
    start_pair(testsupport::loopback_block());

    // Routes come with the periodic exchange, one direction at a time; until then lines go as
    // datagrams. Echoes travel back, so Bob's route to Ann must be there too.
    ASSERT_FALSE(chat_until_relayed("bob via cat", true).empty()) << "no route from bob";
    std::string got = chat_until_relayed("via cat");
    ASSERT_FALSE(got.empty()) << "no line went through the relay";
    EXPECT_NE(got.find("\"sender\":\"ann\""), std::string::npos) << got;
    std::string echo = echo_of_last();
    ASSERT_FALSE(echo.empty());
    EXPECT_NE(echo.find("\"path\":\"slave\""), std::string::npos) << echo;
    knock_arrives();

    // The other way round too.
    m_bob->write_line("chat " + std::to_string(m_ann_id) + " back from bob");
    std::string back = m_ann->wait_line({"\"event\":\"chat_received\"", "\"text\":\"back from bob\""});
    ASSERT_FALSE(back.empty());
    EXPECT_NE(back.find("\"path\":\"slave\""), std::string::npos) << back;
}

TEST_F(RelayE2E, ChatAndKnockThroughTheServersOwnRelay) {
    start_server(testsupport::loopback_host(1), {"--relay-port", "7099"});
    start_pair(testsupport::loopback_block());

    ASSERT_FALSE(chat_until_relayed("bob via server", true).empty()) << "no route from bob";
    std::string got = chat_until_relayed("via server");
    ASSERT_FALSE(got.empty()) << "no line went through the server's relay";
    std::string echo = echo_of_last();
    ASSERT_FALSE(echo.empty());
    EXPECT_NE(echo.find("\"path\":\"slave\""), std::string::npos) << echo;
    knock_arrives();
}

TEST_F(RelayE2E, WithoutAnyRelayTheLineTravelsAsDatagrams) {
    start_server(testsupport::loopback_host(1));
    start_pair(testsupport::loopback_block());

    m_ann->write_line("chat " + std::to_string(m_bob_id) + " --color 00ff00 by datagram");
    std::string got = m_bob->wait_line({"\"event\":\"chat_received\"", "\"text\":\"by datagram\""}, 15000);
    ASSERT_FALSE(got.empty());
    EXPECT_NE(got.find("\"path\":\"datagram\""), std::string::npos) << got;
    EXPECT_NE(got.find("\"color\":\"00ff00\""), std::string::npos) << got;
    std::string echo = m_ann->wait_line({"\"event\":\"chat_delivered\"", "\"text\":\"by datagram\""});
    ASSERT_FALSE(echo.empty());
    EXPECT_NE(echo.find("\"path\":\"datagram\""), std::string::npos) << echo;
    // Shown once, although the sender may repeat an unacknowledged datagram.
    EXPECT_TRUE(m_bob->wait_line({"\"event\":\"chat_received\"", "\"text\":\"by datagram\""}, 2000).empty());
}

TEST_F(RelayE2E, WhenTheRelayDiesTheNextLineGoesAsADatagram) {
    start_server(testsupport::loopback_host(1));
    child_process& cat = client(testsupport::loopback_host(1), testsupport::loopback_host(4), "cat", kRelayFlags);
    register_and_login(cat, "cat@example.org", "cat");
    start_pair(testsupport::loopback_block());
    ASSERT_FALSE(chat_until_relayed("bob before", true).empty()) << "no route from bob";
    ASSERT_FALSE(chat_until_relayed("before").empty()) << "no line went through the relay";
    ASSERT_FALSE(echo_of_last().empty());

    cat.kill_now();
    m_ann->write_line("chat " + std::to_string(m_bob_id) + " after the relay died");
    std::string got =
        m_bob->wait_line({"\"event\":\"chat_received\"", "\"text\":\"after the relay died\""}, 15000);
    ASSERT_FALSE(got.empty());
    EXPECT_NE(got.find("\"path\":\"datagram\""), std::string::npos) << got;
    std::string echo = m_ann->wait_line({"\"event\":\"chat_delivered\"", "\"text\":\"after the relay died\""});
    ASSERT_FALSE(echo.empty());
    EXPECT_NE(echo.find("\"path\":\"datagram\""), std::string::npos) << echo;
}

}  // namespace
