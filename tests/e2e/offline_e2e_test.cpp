// Offline messages are reported as sent only when the server said it stored them: a refusal, an
// outage or a server killed in the middle come back as failures; with the receipts switched off
// on one side the message still goes through as before.
#include <signal.h>

#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;

class OfflineE2E : public e2e_fixture {
protected:
    // Ann and Bob registered and befriended, on a server started with server_flags.
    void start_pair(const std::vector<std::string>& server_flags = {},
                    const std::vector<std::string>& bob_flags = {}) {
        start_server(testsupport::loopback_host(1), server_flags);
        m_ann = &client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann");
        m_bob = &client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob", bob_flags);
        m_ann_id = register_and_login(*m_ann, "ann@example.org", "ann");
        m_bob_id = register_and_login(*m_bob, "bob@example.org", "bob");
        befriend(*m_ann, m_ann_id, *m_bob, m_bob_id, "bob@example.org");
    }
    // Bob leaves Ann a message; returns the action_done line (empty when none came).
    std::string leave(const std::string& text) {
        m_bob->write_line("offline " + std::to_string(m_ann_id) + " " + text);
        return m_bob->wait_line({"\"event\":\"action_done\"", "\"action\":\"offline\""}, 30000);
    }
    // Ann reads her waiting messages; true when one holds text.
    bool ann_reads(const std::string& text) {
        m_ann->write_line("logout");
        EXPECT_FALSE(m_ann->wait_line({"\"action\":\"sign_out\""}, 20000).empty());
        m_ann->write_line("login ann@example.org pw-ann");
        if (m_ann->wait_line({"\"question\":\"offline_waiting\""}, 20000).empty()) return false;
        m_ann->write_line("read-offline");
        return !m_ann->wait_line({"\"event\":\"offline_end\"", text}, 20000).empty();
    }
    child_process* m_ann = nullptr;
    child_process* m_bob = nullptr;
    int m_ann_id = 0;
    int m_bob_id = 0;
};

TEST_F(OfflineE2E, ARefusedMessageIsReportedAsFailed) {
    start_pair();
    // Each sender has a share of a mailbox: Bob's share fills, the next one is refused.
    int stored = 0;
    for (;;) {
        std::string done = leave("note " + std::to_string(stored));
        ASSERT_FALSE(done.empty()) << "no answer for message " << stored;
        if (done.find("\"ok\":false") != std::string::npos) {
            EXPECT_NE(done.find("\"text_id\":1031"), std::string::npos) << done;
            break;
        }
        ASSERT_LT(++stored, 1000) << "the server never refused";
    }
    EXPECT_GT(stored, 0);
    EXPECT_TRUE(ann_reads("note 0"));
}

// The server stops answering while Bob's message is on its way, then is killed in the middle of
// the next one, and is gone for the last: none of them is reported as sent.
TEST_F(OfflineE2E, AMessageDuringAnOutageOrAKillIsReportedAsFailed) {
    start_pair();
    std::string done = leave("before");
    ASSERT_NE(done.find("\"ok\":true"), std::string::npos) << done;

    // Stopped: the kernel still takes the connection and the bytes, but no receipt comes.
    ASSERT_EQ(kill(m_server->pid(), SIGSTOP), 0);
    done = leave("stopped");
    ASSERT_FALSE(done.empty());
    EXPECT_NE(done.find("\"ok\":false"), std::string::npos) << done;
    EXPECT_NE(done.find("\"text_id\":1032"), std::string::npos) << done;

    // Killed while the next one is being handed over.
    m_bob->write_line("offline " + std::to_string(m_ann_id) + " midway");
    ASSERT_FALSE(m_bob->wait_line({"\"ok\":\"offline\""}).empty());
    m_server->kill_now();
    done = m_bob->wait_line({"\"event\":\"action_done\"", "\"action\":\"offline\""}, 30000);
    ASSERT_FALSE(done.empty());
    EXPECT_NE(done.find("\"ok\":false"), std::string::npos) << done;

    done = leave("after");
    ASSERT_FALSE(done.empty());
    EXPECT_NE(done.find("\"ok\":false"), std::string::npos) << done;
}

// A server without the extensions: the client falls back to handing the message over unanswered,
// and it arrives.
TEST_F(OfflineE2E, AServerWithoutExtensionsStillGetsTheMessage) {
    start_pair({"--no-extensions"});
    std::string done = leave("plain");
    ASSERT_NE(done.find("\"ok\":true"), std::string::npos) << done;
    EXPECT_TRUE(ann_reads("plain"));
}

}  // namespace
