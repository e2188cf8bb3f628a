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

#include "tests/e2e/child_process.h"

namespace {

std::string make_temp_dir() {
    char tmpl[] = "/tmp/parlo-e2e-XXXXXX";
    char* d = mkdtemp(tmpl);
    return d ? d : "";
}

// The number that follows "key": in a JSON line.
int json_int(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return -1;
    return std::atoi(line.c_str() + at + key.size() + 3);
}

class SessionE2E : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef PARLO_SERVER_PATH
        GTEST_SKIP() << "parlo-server is not part of this build";
#else
        m_dir = make_temp_dir();
        ASSERT_FALSE(m_dir.empty());
#endif
    }
    void TearDown() override {
        m_clients.clear();
        m_server.reset();
        if (!m_dir.empty()) std::system(("rm -rf " + m_dir).c_str());
    }
    void start_server(const std::string& address) {
#ifdef PARLO_SERVER_PATH
        m_server = std::make_unique<child_process>(
            PARLO_SERVER_PATH, std::vector<std::string>{"--listen", address, "--db", m_dir + "/server.db",
                                                        "--fast-hash", "--log", m_dir + "/server.log"});
        ASSERT_TRUE(m_server->running());
        usleep(300000);
#endif
    }
    child_process& client(const std::string& server, const std::string& bind, const std::string& name) {
        std::string home = m_dir + "/" + name;
        m_clients.push_back(std::make_unique<child_process>(
            PARLO_CLI_PATH, std::vector<std::string>{"--server", server, "--bind", bind, "--home", home}));
        child_process& c = *m_clients.back();
        EXPECT_FALSE(c.wait_line({"\"event\":\"ready\""}).empty());
        return c;
    }
    // Registers and signs in; returns the user id from the welcome line.
    int register_and_login(child_process& c, const std::string& email, const std::string& nick) {
        c.write_line("register " + email + " pw-" + nick + " First" + nick + " Last" + nick + " " + nick);
        EXPECT_FALSE(c.wait_line({"\"event\":\"register_success\""}).empty());
        c.write_line("login " + email + " pw-" + nick + " --remember-email");
        std::string welcome = c.wait_line({"\"event\":\"welcome\""});
        EXPECT_FALSE(c.wait_line({"\"event\":\"contact_list\""}).empty());
        return json_int(welcome, "user_id");
    }
    std::string m_dir;
    std::unique_ptr<child_process> m_server;
    std::vector<std::unique_ptr<child_process>> m_clients;
};

TEST_F(SessionE2E, TwoClientsBefriendSeePresenceExchangeOfflineMessageAndPart) {
    start_server("127.0.4.1");
    child_process& ann = client("127.0.4.1", "127.0.4.2", "ann");
    child_process& bob = client("127.0.4.1", "127.0.4.3", "bob");
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
    start_server("127.0.5.1");
    child_process& cy = client("127.0.5.1", "127.0.5.2", "cy");
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
    EXPECT_FALSE(cy.wait_line({"\"event\":\"login_failed\"", "Login failed."}).empty());
}

}  // namespace
