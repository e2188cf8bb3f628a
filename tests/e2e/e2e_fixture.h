// The end-to-end fixture: the reference server and headless clients as separate processes on
// loopback addresses, each client with its own home directory.
#pragma once
#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"

namespace e2e {

inline std::string make_temp_dir() {
    char tmpl[] = "/tmp/parlo-e2e-XXXXXX";
    char* d = mkdtemp(tmpl);
    return d ? d : "";
}

// The number that follows "key": in a JSON line.
inline int json_int(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return -1;
    return std::atoi(line.c_str() + at + key.size() + 3);
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
        ASSERT_TRUE(server_accepts(address)) << "parlo-server did not come up on " << address;
#endif
    }
    // Waits (at most 20 s) until the server accepts connections on its main port.
    static bool server_accepts(const std::string& address) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(9015);
        if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return false;
        for (int i = 0; i < 800; i++) {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
            if (fd >= 0) close(fd);
            if (ok) return true;
            usleep(25000);
        }
        return false;
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
        c.write_line("register " + email + " pw-" + nick + " First" + nick + " Last" + nick + " " + nick);
        EXPECT_FALSE(c.wait_line({"\"event\":\"register_success\""}).empty());
        c.write_line("login " + email + " pw-" + nick + " --remember-email");
        std::string welcome = c.wait_line({"\"event\":\"welcome\""});
        EXPECT_FALSE(c.wait_line({"\"event\":\"contact_list\""}).empty());
        return json_int(welcome, "user_id");
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
