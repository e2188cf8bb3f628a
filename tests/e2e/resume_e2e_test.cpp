// A server outage while signed in: the headless clients print their attempts to sign in again,
// come back by themselves once the server is up again on the same address and store, and chat;
// sign-out ends the attempts, and so does a server that came back and refuses the sign-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;

// The first line from number `from` on with every part (ms: how long to wait for it).
std::string line_after(child_process& c, size_t from, const std::vector<std::string>& parts, int ms = 60000) {
    return c.wait_line_if(
        [&parts](const std::string& l) {
            for (const auto& p : parts)
                if (l.find(p) == std::string::npos) return false;
            return true;
        },
        ms, from);
}

// The connecting event of attempt n, with its back-off: 1 s doubling, less at most a fifth.
void expect_attempt(child_process& c, int n) {
    std::string line = c.wait_line({"\"event\":\"connecting\"", "\"attempt\":" + std::to_string(n) + ","}, 60000);
    ASSERT_FALSE(line.empty()) << "no attempt " << n;
    int base = 1000 << (n - 1), delay = json_int(line, "delay_ms");
    EXPECT_TRUE(delay >= base - base / 5 && delay <= base) << line;
    EXPECT_NE(line.find("\"text\":\"Connecting...\""), std::string::npos) << line;
}

using ResumeE2E = e2e_fixture;

TEST_F(ResumeE2E, OutageIsSurvivedAndSignOutEndsTheAttempts) {
    const std::string server = testsupport::loopback_host(1);
    start_server(server);
    child_process& ann = client(server, testsupport::loopback_host(2), "ann");
    child_process& bob = client(server, testsupport::loopback_host(3), "bob");
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    ASSERT_GT(ann_id, 0);
    ASSERT_GT(bob_id, 0);
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");

    size_t ann_from = ann.line_count(), bob_from = bob.line_count();
    m_server->kill_now();
    for (int n = 1; n <= 4; n++) expect_attempt(ann, n);  // about 7 s without a server
    expect_attempt(bob, 1);
    start_server(server);

    // Both sign in again by themselves, as at a first sign-in: contacts, presence, then a chat.
    ASSERT_FALSE(line_after(ann, ann_from, {"\"event\":\"login_success\""}).empty());
    ASSERT_FALSE(line_after(bob, bob_from, {"\"event\":\"login_success\""}).empty());
    ASSERT_FALSE(line_after(ann, ann_from, {"\"event\":\"my_status\"", "\"w\":1,"}).empty());
    ASSERT_FALSE(line_after(ann, ann_from, {"\"w\":" + std::to_string(bob_id) + ",", "\"presence_text\":\"Online\""}).empty());
    ASSERT_TRUE(knows_address(ann, bob_id));
    ann.write_line("chat " + std::to_string(bob_id) + " back again");
    EXPECT_FALSE(bob.wait_line({"\"event\":\"chat_received\"", "back again"}, 30000).empty());
    EXPECT_TRUE(line_after(ann, ann_from, {"\"event\":\"login_failed\""}, 0).empty());

    ann.write_line("logout");
    ASSERT_FALSE(ann.wait_line({"\"action\":\"sign_out\""}).empty());
    size_t after_logout = ann.line_count();
    m_server->kill_now();
    expect_attempt(bob, 1);
    EXPECT_TRUE(line_after(ann, after_logout, {"\"event\":\"connecting\""}, 3000).empty());
}

TEST_F(ResumeE2E, RefusalByTheServerThatCameBackEndsTheAttempts) {
    const std::string server = testsupport::loopback_host(1);
    start_server(server);
    child_process& cy = client(server, testsupport::loopback_host(2), "cy");
    ASSERT_GT(register_and_login(cy, "cy@example.org", "cy"), 0);
    size_t from = cy.line_count();
    m_server->kill_now();
    expect_attempt(cy, 1);
    // The server comes back without the account: the sign-in is refused once, and not tried again
    // (the next attempt would come within 2 s).
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(m_dir + "/server.db" + suffix);
    start_server(server);
    std::string failed = line_after(cy, from, {"\"event\":\"login_failed\"", "\"text_id\":191"});
    ASSERT_FALSE(failed.empty());
    size_t after = cy.line_count();
    EXPECT_TRUE(line_after(cy, after, {"\"event\":\"connecting\""}, 5000).empty());
    EXPECT_TRUE(line_after(cy, after, {"\"event\":\"login_failed\""}, 0).empty());
}

}  // namespace
