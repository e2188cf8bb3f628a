// Two headless clients and the reference server, each its own process on loopback addresses:
// register, add each other with the approval question, see presence change, exchange an offline
// message and remove a contact.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;
using SessionE2E = e2e_fixture;

TEST_F(SessionE2E, TwoClientsBefriendSeePresenceExchangeOfflineMessageAndPart) {
    start_server(testsupport::loopback_host(1));
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann");
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob");
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    ASSERT_GT(ann_id, 0);
    ASSERT_GT(bob_id, 0);

    // Ann adds Bob; Bob is asked and agrees.
    ann.write_line("add-contact bob@example.org");
    ASSERT_FALSE(ann.wait_line({"\"event\":\"contact_found\"", "bob@example.org"}).empty());
    ASSERT_FALSE(ann.wait_line({"\"event\":\"contact_add_success\""}).empty());
    std::string question = bob.wait_line({"\"question\":\"added_me\""});
    ASSERT_FALSE(question.empty());
    EXPECT_EQ(json_int(question, "id"), ann_id);
    bob.write_line("accept-contact " + std::to_string(ann_id));
    ASSERT_FALSE(bob.wait_line({"\"event\":\"contact_add_confirm_success\""}).empty());
    bob.write_line("contacts");
    ASSERT_FALSE(bob.wait_line({"\"contacts\":[", "ann@example.org"}).empty());

    // Bob goes Busy; five seconds later his home-server broadcast reaches Ann.
    bob.write_line("status busy");
    ASSERT_FALSE(bob.wait_line({"\"event\":\"my_status\"", "\"w\":2"}).empty());
    std::string seen = ann.wait_line({"\"event\":\"peer_status\"", "\"w\":" + std::to_string(bob_id), "\"l\":2"}, 15000);
    EXPECT_FALSE(seen.empty());

    // Bob leaves Ann a message; Ann reads it at her next sign-in and saves it.
    bob.write_line("offline " + std::to_string(ann_id) + " Hello Ann, call me.");
    ASSERT_FALSE(bob.wait_line({"\"ok\":\"offline\""}).empty());
    ann.write_line("logout");
    ann.write_line("login");  // the remembered e-mail; the password is not remembered
    ASSERT_FALSE(ann.wait_line({"\"event\":\"login_failed\""}).empty());
    ann.write_line("login ann@example.org pw-ann");
    ASSERT_FALSE(ann.wait_line({"\"question\":\"offline_waiting\""}).empty());
    ann.write_line("read-offline");
    std::string message = ann.wait_line({"\"event\":\"offline_end\""});
    ASSERT_FALSE(message.empty());
    EXPECT_NE(message.find("Hello Ann, call me."), std::string::npos);
    EXPECT_NE(message.find("Message by Firstbob Lastbob(bob)"), std::string::npos);
    EXPECT_NE(message.find("Firstbob Lastbob(bob@example.org)"), std::string::npos);
    std::string saved = m_dir + "/saved.txt";
    ann.write_line("save-offline " + std::to_string(bob_id) + " " + saved);
    ASSERT_FALSE(ann.wait_line({"\"ok\":\"save-offline\""}).empty());
    std::ifstream f(saved);
    std::stringstream text;
    text << f.rdbuf();
    EXPECT_NE(text.str().find("Hello Ann, call me.\r\n\r\n\r\n"), std::string::npos);

    // Ann removes Bob.
    ann.write_line("remove-contact " + std::to_string(bob_id));
    ASSERT_FALSE(ann.wait_line({"\"event\":\"contact_remove_success\"", "\"w\":" + std::to_string(bob_id)}).empty());
    ann.write_line("contacts");
    EXPECT_FALSE(ann.wait_line({"\"contacts\":[]"}).empty());

    // The settings store remembers the e-mail as the sign-in dialog would, not the password.
    std::ifstream settings(m_dir + "/ann/settings.ini");
    std::stringstream s;
    s << settings.rdbuf();
    EXPECT_NE(s.str().find("my_email=ann@example.org"), std::string::npos);
    EXPECT_NE(s.str().find("remember_passwd=0"), std::string::npos);

    ann.write_line("quit");
    EXPECT_FALSE(ann.wait_line({"\"event\":\"bye\""}).empty());
}

TEST_F(SessionE2E, GroupsAndAWrongPassword) {
    start_server(testsupport::loopback_host(1));
    child_process& cy = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "cy");
    register_and_login(cy, "cy@example.org", "cy");
    cy.write_line("add-group Work mates");
    std::string added = cy.wait_line({"\"event\":\"group_add_success\"", "Work mates"});
    ASSERT_FALSE(added.empty());
    int group = json_int(added, "w");
    cy.write_line("rename-group " + std::to_string(group) + " Office");
    ASSERT_FALSE(cy.wait_line({"\"event\":\"group_update_success\"", "Office"}).empty());
    cy.write_line("delete-group 0");
    ASSERT_FALSE(cy.wait_line({"\"message\":\"could not delete default group.\""}).empty());
    cy.write_line("delete-group " + std::to_string(group));
    ASSERT_FALSE(cy.wait_line({"\"event\":\"group_remove_success\""}).empty());
    cy.write_line("groups");
    EXPECT_FALSE(cy.wait_line({"\"groups\":[{\"id\":0,\"name\":\"Default Group\"}]"}).empty());
    cy.write_line("logout");
    cy.write_line("login cy@example.org wrong");
    EXPECT_FALSE(cy.wait_line({"\"event\":\"login_failed\"", "Login failed.", "\"text_id\":191"}).empty());
}

}  // namespace

namespace {
// Each command line is queued with the notifications it wakes the main loop for: none waits for
// the next event or the five-second duty. Command n+1 is written the moment the answer to n is
// seen, which is when a wake-up used to be lost.
TEST_F(SessionE2E, BackToBackCommandsAreEachAnsweredAtOnce) {
    start_server(testsupport::loopback_host(1));
    child_process& c = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "solo");
    int slow = 0;
    for (int i = 0; i < 200; i++) {
        size_t from = c.line_count();
        std::string word = "no-such-command-" + std::to_string(i);
        c.write_line(word);
        // Well below the duty period: an answer that waited for it shows as missing here.
        std::string answer =
            c.wait_line_if([&](const std::string& l) { return l.find(word + " ") != std::string::npos; }, 3000, from);
        if (answer.empty()) slow++;
    }
    EXPECT_EQ(slow, 0) << "commands left waiting for the next wake-up";
}
}  // namespace
