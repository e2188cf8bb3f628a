// Two headless clients chat and knock over a direct peer connection that presence opened, and
// reach each other by connect-back when one of them accepts no incoming connections.
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;
using PeerE2E = e2e_fixture;

std::string id_field(int id) { return "\"peer\":" + std::to_string(id); }

TEST_F(PeerE2E, ChatAndKnockOverTheDirectConnection) {
    start_server(testsupport::loopback_host(1));
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann");
    child_process& first_bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob");
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(first_bob, "bob@example.org", "bob");
    befriend(ann, ann_id, first_bob, bob_id, "bob@example.org");

    // Bob leaves and comes back: Ann sees him go offline, then come online, which opens the
    // direct connection to him.
    first_bob.write_line("quit");
    ASSERT_FALSE(first_bob.wait_line({"\"event\":\"bye\""}).empty());
    ASSERT_FALSE(ann.wait_line({"\"event\":\"peer_status\"", "\"w\":" + std::to_string(bob_id), "\"l\":0"}).empty());
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob");
    bob.write_line("login bob@example.org pw-bob");
    ASSERT_FALSE(bob.wait_line({"\"event\":\"welcome\""}).empty());
    ASSERT_FALSE(ann.wait_line({"\"event\":\"peer_status\"", "\"w\":" + std::to_string(bob_id), "\"l\":1",
                                "\"previous_presence\":0"}, 15000).empty());
    std::string peers;
    for (int i = 0; i < 50 && peers.empty(); i++) {
        ann.write_line("peers");
        peers = ann.wait_line({"\"peers\":[", "\"peer\":" + std::to_string(bob_id)}, 200);
    }
    ASSERT_FALSE(peers.empty()) << "presence did not open the direct connection";

    ann.write_line("chat " + std::to_string(bob_id) + " --color ff0000 --size 12 --style bi hello bob");
    std::string got = bob.wait_line({"\"event\":\"chat_received\"", "\"text\":\"hello bob\""}, 15000);
    ASSERT_FALSE(got.empty());
    EXPECT_NE(got.find("\"sender\":\"ann\""), std::string::npos) << got;
    EXPECT_NE(got.find("\"color\":\"ff0000\""), std::string::npos) << got;
    EXPECT_NE(got.find("\"size\":12"), std::string::npos) << got;
    EXPECT_NE(got.find("\"style\":3"), std::string::npos) << got;
    EXPECT_NE(got.find("\"path\":\"direct\""), std::string::npos) << got;
    std::string echo = ann.wait_line({"\"event\":\"chat_delivered\"", "\"text\":\"hello bob\""});
    ASSERT_FALSE(echo.empty());
    EXPECT_NE(echo.find(id_field(bob_id)), std::string::npos);

    // A 3000-character line arrives as 2000 bytes of "name:text".
    ann.write_line("chat " + std::to_string(bob_id) + " " + std::string(3000, 'x'));
    std::string long_line = bob.wait_line({"\"event\":\"chat_received\"", "\"length\":2006"});
    EXPECT_FALSE(long_line.empty());
    EXPECT_NE(long_line.find("\"text\":\"" + std::string(1996, 'x') + "\""), std::string::npos);

    ann.write_line("knock " + std::to_string(bob_id));
    std::string knock = bob.wait_line({"\"event\":\"knock\""});
    ASSERT_FALSE(knock.empty());
    EXPECT_NE(knock.find("\"shown\":true"), std::string::npos);
    EXPECT_NE(knock.find("Knock from Firstann Lastann(ann@example.org)\",\"text_id\":1001"), std::string::npos);

    bob.write_line("block-knock " + std::to_string(ann_id));
    ASSERT_FALSE(bob.wait_line({"\"ok\":\"block-knock\""}).empty());
    ann.write_line("knock " + std::to_string(bob_id));
    std::string blocked = bob.wait_line({"\"event\":\"knock\""});
    ASSERT_FALSE(blocked.empty());
    EXPECT_NE(blocked.find("\"shown\":false"), std::string::npos);
    EXPECT_EQ(blocked.find("Knock from"), std::string::npos);
}

TEST_F(PeerE2E, ConnectBackReachesAClientWithoutListener) {
    start_server(testsupport::loopback_host(1));
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann");
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob", {"--no-peer-listener"});
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");

    // Ann cannot connect to Bob; her 380 makes the server push 381 to Bob, who connects to Ann.
    std::string line;
    for (int attempt = 0; attempt < 10 && line.empty(); attempt++) {
        ann.write_line("chat " + std::to_string(bob_id) + " are you there?");
        line = bob.wait_line({"\"event\":\"chat_received\"", "are you there?", "\"path\":\"direct\""}, 2000);
    }
    ASSERT_FALSE(line.empty()) << "no connect-back";
    EXPECT_FALSE(ann.wait_line({"\"event\":\"chat_delivered\"", "are you there?"}).empty());
}

}  // namespace
