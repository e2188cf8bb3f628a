// The end-to-end fixture: the reference server and headless clients as separate processes on
// loopback addresses, each client with its own home directory.
#pragma once
#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/cli_accounts.h"
#include "tests/e2e/json_lines.h"

namespace e2e {

inline std::string make_temp_dir() {
    char tmpl[] = "/tmp/parlo-e2e-XXXXXX";
    char* d = mkdtemp(tmpl);
    return d ? d : "";
}


class e2e_fixture : public ::testing::Test {
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
        // On failure, show what each process printed and the tail of each debug log.
        if (HasFailure()) {
            for (size_t i = 0; i < m_clients.size(); i++) {
                std::fprintf(stderr, "---- client %zu output\n", i);
                for (const auto& l : m_clients[i]->lines()) std::fprintf(stderr, "%.300s\n", l.c_str());
            }
            std::system(("tail -n 40 " + m_dir + "/*/dbg_log.txt " + m_dir + "/server.log 1>&2").c_str());
        }
        m_clients.clear();
        m_server.reset();
        std::error_code ec;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
    }
    // extra: further server flags (for example its own relay).
    void start_server(const std::string& address, const std::vector<std::string>& extra = {}) {
#ifdef PARLO_SERVER_PATH
        std::vector<std::string> args{"--listen", address, "--db", m_dir + "/server.db",
                                      "--fast-hash", "--log", m_dir + "/server.log"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_server = std::make_unique<child_process>(PARLO_SERVER_PATH, args);
        ASSERT_TRUE(m_server->running());
        ASSERT_FALSE(m_server->wait_line({"parlo-server listening on"}, 20000).empty())
            << "parlo-server did not come up on " << address;
#endif
    }
    child_process& client(const std::string& server, const std::string& bind, const std::string& name,
                          const std::vector<std::string>& extra = {}) {
        std::string home = m_dir + "/" + name;
        std::vector<std::string> args{"--server", server, "--bind", bind, "--home", home};
        // No sound card is needed unless the test chooses a sound backend itself.
        if (std::find(extra.begin(), extra.end(), "--audio-backend") == extra.end())
            args.insert(args.end(), {"--audio-backend", "null"});
        args.insert(args.end(), extra.begin(), extra.end());
        m_clients.push_back(std::make_unique<child_process>(PARLO_CLI_PATH, args));
        child_process& c = *m_clients.back();
        EXPECT_FALSE(c.wait_line({"\"event\":\"ready\""}).empty());
        return c;
    }
    // Registers and signs in; returns the user id from the welcome line.
    int register_and_login(child_process& c, const std::string& email, const std::string& nick) {
        int id = register_and_sign_in(c, email, "pw-" + nick, nick, "First" + nick, "Last" + nick,
                                      "--remember-email");
        EXPECT_GT(id, 0) << email << " could not sign up and in";
        return id;
    }
    // a adds b (whose e-mail is b_email); b agrees; both then see each other online.
    void befriend(child_process& a, int a_id, child_process& b, int b_id, const std::string& b_email) {
        a.write_line("add-contact " + b_email);
        ASSERT_FALSE(a.wait_line({"\"event\":\"contact_add_success\""}).empty());
        ASSERT_FALSE(b.wait_line({"\"question\":\"added_me\""}).empty());
        b.write_line("accept-contact " + std::to_string(a_id));
        ASSERT_FALSE(b.wait_line({"\"event\":\"contact_add_confirm_success\""}).empty());
        // Each learns that the other is online (and at which address).
        ASSERT_FALSE(a.wait_line({"\"w\":" + std::to_string(b_id), "\"presence_text\":\"Online\""}, 15000).empty());
        ASSERT_FALSE(b.wait_line({"\"w\":" + std::to_string(a_id), "\"presence_text\":\"Online\""}, 15000).empty());
        // The address arrives in its own reply just after the state: wait until both know it.
        ASSERT_TRUE(knows_address(a, b_id)) << "no address for " << b_id;
        ASSERT_TRUE(knows_address(b, a_id)) << "no address for " << a_id;
    }
    // Sends numbered lines "tag 0", "tag 1", ... from `from` to the contact to_id until one arrives
    // at `to` through a relay: the first at once, each further one when the sender has learnt a
    // route through a relay or reached one. Returns the receiver's line for it and sets *text to
    // its text; an empty line when none came through a relay within ms.
    static std::string send_until_relayed(child_process& from, int to_id, child_process& to,
                                          const std::string& tag, std::string* text = nullptr,
                                          int ms = 120000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        auto left = [&end] {
            auto d = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            return static_cast<int>(std::max<long long>(0, d.count()));
        };
        for (int i = 0; left() > 0; i++) {
            std::string line_text = tag + " " + std::to_string(i);
            from.write_line("chat " + std::to_string(to_id) + " " + line_text);
            std::string got = to.wait_line(
                {"\"event\":\"chat_received\"", "\"text\":\"" + line_text + "\""}, std::min(20000, left()));
            if (got.find("\"path\":\"slave\"") != std::string::npos) {
                if (text) *text = line_text;
                return got;
            }
            std::string relay_news = from.wait_line_if(
                [](const std::string& l) {
                    return l.find("\"event\":\"relay_route\"") != std::string::npos ||
                           l.find("\"event\":\"relay_connected\"") != std::string::npos;
                },
                left());
            if (relay_news.empty()) break;
        }
        return "";
    }
    // Asks c for its contacts until the record of id carries an address (at most about 10 s).
    static bool knows_address(child_process& c, int id) {
        const std::string record = "{\"id\":" + std::to_string(id) + ",";
        for (int i = 0; i < 50; i++) {
            c.write_line("contacts");
            std::string line = c.wait_line({"\"contacts\":["}, 2000);
            size_t at = line.find(record);
            if (at != std::string::npos) {
                size_t addr = line.find("\"address\":\"", at);
                size_t end = line.find('}', at);
                if (addr != std::string::npos && addr < end && line[addr + 11] != '"') return true;
            }
            usleep(200000);
        }
        return false;
    }
    std::string m_dir;
    std::unique_ptr<child_process> m_server;
    std::vector<std::unique_ptr<child_process>> m_clients;
};

}  // namespace e2e
