// A server outage while signed in: the headless clients report their attempts to sign in again
// (attempt and back-off), come back by themselves once the server is up on the same address and
// store, and chat again; a server that comes back without the account refuses the sign-in, which
// ends the attempts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;

class ResumeE2E : public e2e_fixture {
protected:
    // Waits for the connecting event of attempt n and checks its back-off (1 s doubling, less
    // at most a fifth).
    static void expect_attempt(child_process& c, int n, int ms = 60000) {
        std::string line = c.wait_line({"\"event\":\"connecting\"", "\"attempt\":" + std::to_string(n) + ","}, ms);
        ASSERT_FALSE(line.empty()) << "no attempt " << n;
        int base = 1000 << (n - 1);
        int delay = json_int(line, "delay_ms");
        EXPECT_GE(delay, base - base / 5) << line;
        EXPECT_LE(delay, base) << line;
        EXPECT_NE(line.find("\"text\":\"Connecting...\""), std::string::npos) << line;
    }
    // The first line from number `from` on that has every part.
    static std::string wait_after(child_process& c, size_t from, const std::vector<std::string>& parts,
                                  int ms = 60000) {
        return c.wait_line_if(
            [&parts](const std::string& l) {
                for (const auto& p : parts)
                    if (l.find(p) == std::string::npos) return false;
                return true;
            },
            ms, from);
    }
    static int count_lines(child_process& c, const std::string& part, size_t from) {
        auto all = c.lines();
        int n = 0;
        for (size_t i = from; i < all.size(); i++)
            if (all[i].find(part) != std::string::npos) n++;
        return n;
    }
};

TEST_F(ResumeE2E, OutageIsSurvivedAndTheClientsChatAgain) {
    const std::string server = testsupport::loopback_host(1);
    start_server(server);
    child_process& ann = client(server, testsupport::loopback_host(2), "ann");
    child_process& bob = client(server, testsupport::loopback_host(3), "bob");
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    ASSERT_GT(ann_id, 0);
    ASSERT_GT(bob_id, 0);
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");

    size_t ann_from = ann.line_count();
    size_t bob_from = bob.line_count();
    m_server->kill_now();
    // Three attempts fail (about 7 s of outage) before the server comes back.
    for (int n = 1; n <= 4; n++) expect_attempt(ann, n);
    expect_attempt(bob, 1);
    start_server(server);

    // Both sign in again by themselves, as on a first sign-in: contacts, presence, chat.
    ASSERT_FALSE(wait_after(ann, ann_from, {"\"event\":\"login_success\""}).empty());
    ASSERT_FALSE(wait_after(bob, bob_from, {"\"event\":\"login_success\""}).empty());
    ASSERT_FALSE(wait_after(ann, ann_from, {"\"event\":\"contact_list\""}).empty());
    ASSERT_FALSE(wait_after(ann, ann_from, {"\"event\":\"my_status\"", "\"w\":1,"}).empty());
    ASSERT_FALSE(wait_after(ann, ann_from, {"\"w\":" + std::to_string(bob_id) + ",", "\"presence_text\":\"Online\""}).empty());
    ASSERT_TRUE(knows_address(ann, bob_id));
    ann.write_line("chat " + std::to_string(bob_id) + " back again");
    EXPECT_FALSE(bob.wait_line({"\"event\":\"chat_received\"", "back again"}, 30000).empty());
    EXPECT_EQ(count_lines(ann, "\"event\":\"login_failed\"", ann_from), 0);

    // Signing out ends the session for good: the next outage brings no attempts.
    ann.write_line("logout");
    ASSERT_FALSE(ann.wait_line({"\"action\":\"sign_out\""}).empty());
    size_t after_logout = ann.line_count();
    m_server->kill_now();
    ASSERT_FALSE(bob.wait_line({"\"event\":\"connecting\"", "\"attempt\":1,"}).empty());
    std::string ann_connecting = ann.wait_line_if(
        [](const std::string& l) { return l.find("\"event\":\"connecting\"") != std::string::npos; }, 3000,
        after_logout);
    EXPECT_TRUE(ann_connecting.empty()) << ann_connecting;
    ann.write_line("quit");
    EXPECT_FALSE(ann.wait_line({"\"event\":\"bye\""}).empty());
    bob.write_line("quit");
    EXPECT_FALSE(bob.wait_line({"\"event\":\"bye\""}).empty());
}

TEST_F(ResumeE2E, RefusalByTheServerThatCameBackEndsTheAttempts) {
    const std::string server = testsupport::loopback_host(1);
    start_server(server);
    child_process& cy = client(server, testsupport::loopback_host(2), "cy");
    ASSERT_GT(register_and_login(cy, "cy@example.org", "cy"), 0);

    size_t cy_from = cy.line_count();
    m_server->kill_now();
    expect_attempt(cy, 1);
    // The server comes back without the account: the repeated sign-in is refused.
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(m_dir + "/server.db" + suffix);
    start_server(server);
    std::string failed = wait_after(cy, cy_from, {"\"event\":\"login_failed\""});
    ASSERT_FALSE(failed.empty());
    EXPECT_NE(failed.find("\"text_id\":191"), std::string::npos) << failed;
    // No attempt follows the refusal: the next one would have come within about 2 s.
    std::string later = cy.wait_line_if(
        [](const std::string& l) {
            return l.find("\"event\":\"connecting\"") != std::string::npos ||
                   l.find("\"event\":\"login_failed\"") != std::string::npos;
        },
        5000, cy.line_count());
    EXPECT_TRUE(later.empty()) << later;
}

}  // namespace
