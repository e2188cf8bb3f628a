// Runs an in-process server on its own loopback address, an ephemeral port and a private database.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/frame_reader.h"
#include "server/password.h"
#include "server/server.h"
#include "server/store.h"
#include "tests/server/test_client.h"
#include "tests/support/loopback.h"

namespace srvtest {

inline std::string temp_db_path(const char* tag) {
    static std::atomic<int> counter{0};
    return "/tmp/parlo-srvtest-" + std::string(tag) + "-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++) + ".db";
}

inline void remove_db(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

// Test processes run in parallel: each takes an address of its own loopback block.
inline std::string test_address() {
    return testsupport::loopback_address(2);
}

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(srv::password_init(), 0);
        m_db = temp_db_path("proto");
        ASSERT_EQ(m_store.open(m_db), 0) << m_store.last_error();
        m_log.set_quiet(true);
        m_log.set_hook([this](const char* text) {
            std::lock_guard<std::mutex> lk(m_log_mutex);
            m_log_lines.emplace_back(text);
            m_log_cond.notify_all();
        });
        srv::ServerOptions o;
        o.listen = test_address();
        o.port = 0;
        o.fast_hash = true;
        o.handle_signals = false;
        o.advertise = "home.test";
        adjust(o);
        m_server = std::make_unique<srv::Server>(m_store, m_log, o);
        ASSERT_EQ(m_server->core().seed_demo(), 0);
        ASSERT_EQ(m_server->start(), 0);
        m_host = o.listen;
        m_port = m_server->port();
        // Demo ids: alice, bob, carol in that order.
        srv::User u;
        m_store.find_user_by_email("alice@example.com", &u);
        alice = u.id;
        m_store.find_user_by_email("bob@example.com", &u);
        bob = u.id;
        m_store.find_user_by_email("carol@example.com", &u);
        carol = u.id;
        m_thread = std::thread([this] { m_server->run(); });
    }
    void TearDown() override {
        if (m_server) {
            m_server->stop();
            if (m_thread.joinable()) m_thread.join();
            m_server.reset();
        }
        m_store.close();
        remove_db(m_db);
    }

    // Lets a derived fixture change the options before the server starts.
    virtual void adjust(srv::ServerOptions&) {}

    std::unique_ptr<RawClient> connect() {
        auto c = std::make_unique<RawClient>();
        EXPECT_TRUE(c->connect_to(m_host, m_port));
        return c;
    }
    // Connects and signs in; fails the test when the server refuses.
    std::unique_ptr<RawClient> login(const std::string& email,
                                     const std::string& password = "demo1234") {
        auto c = connect();
        c->send(130, email + ":" + password);
        auto msgs = c->until(131);
        EXPECT_FALSE(msgs.empty());
        EXPECT_EQ(msgs.empty() ? -1 : msgs.back().command, 131) << email;
        return c;
    }

    // How many lines the server has logged so far.
    size_t log_count() {
        std::lock_guard<std::mutex> lk(m_log_mutex);
        return m_log_lines.size();
    }
    // Waits at most ms for a line logged from number `from` on that contains part.
    bool wait_log(const std::string& part, size_t from, int ms = 10000) {
        std::unique_lock<std::mutex> lk(m_log_mutex);
        return m_log_cond.wait_for(lk, std::chrono::milliseconds(ms), [&] {
            for (size_t i = from; i < m_log_lines.size(); i++)
                if (m_log_lines[i].find(part) != std::string::npos) return true;
            return false;
        });
    }

    srv::Store m_store;  // read only from the test thread before start and after stop
    srv::Log m_log;
    std::mutex m_log_mutex;
    std::condition_variable m_log_cond;
    std::vector<std::string> m_log_lines;
    std::unique_ptr<srv::Server> m_server;
    std::thread m_thread;
    std::string m_db;
    std::string m_host;
    int m_port = 0;
    int alice = 0, bob = 0, carol = 0;
};

}  // namespace srvtest
