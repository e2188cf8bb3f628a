// A headless client configured for each kind of proxy reaches the reference server through a
// real proxy program: it registers and signs in, and the server never sees a connection from the
// client's own address.
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/e2e/e2e_fixture.h"
#include "tests/protocol/proxy_test_support.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;
using namespace proxy_test;

const char* const kServer = testsupport::loopback_host(1);
const char* const kClient = testsupport::loopback_host(2);

class ProxyE2E : public e2e_fixture {
protected:
    // Starts a proxy on address at a free port (retrying if another process takes the port).
    uint16_t start_proxy(proxy_process& proc, const char* address,
                         const std::function<std::vector<std::string>(uint16_t)>& argv_for_port) {
        for (int attempt = 0; attempt < 3; attempt++) {
            uint16_t port = free_port(address);
            if (proc.start(argv_for_port(port), m_dir + "/proxy.log", address, port).empty()) return port;
        }
        return 0;
    }
    std::string write_file(const std::string& name, const std::string& text) {
        std::ofstream(m_dir + "/" + name) << text;
        return m_dir + "/" + name;
    }
    // A new client whose first command sets the proxy; it registers and signs in through it.
    void register_through(const std::string& name, const std::string& proxy_command) {
        child_process& c = client(kServer, kClient, name);
        c.write_line(proxy_command);
        ASSERT_FALSE(c.wait_line({"\"ok\":\"proxy\""}).empty());
        // A proxy that has only just started may drop the very first connection it accepts
        // (dante does while its worker processes come up on a loaded machine): the client says
        // so, and a second registration goes through.
        const std::string email = name + "@example.org";
        c.write_line("register " + email + " pw-" + name + " First" + name + " Last" + name + " " + name);
        std::string first = c.wait_line({"\"event\":\"register_success\""}, 20000);
        if (first.empty()) {
            bool dropped = false;
            for (const std::string& line : c.lines())
                if (line.find("failed to read from proxy") != std::string::npos) dropped = true;
            ASSERT_TRUE(dropped) << "registration through " << proxy_command << " failed";
            c.write_line("register " + email + " pw-" + name + " First" + name + " Last" + name + " " + name);
            ASSERT_FALSE(c.wait_line({"\"event\":\"register_success\""}, 20000).empty()) << proxy_command;
        }
        c.write_line("login " + email + " pw-" + name + " --remember-email");
        std::string welcome = c.wait_line({"\"event\":\"welcome\""});
        EXPECT_GT(json_int(welcome, "user_id"), 0) << proxy_command;
    }
    // No connection reached the server from the client's own address: all went through proxies.
    void expect_only_proxied_connections() {
        std::ifstream log(m_dir + "/server.log");
        std::stringstream text;
        text << log.rdbuf();
        EXPECT_NE(text.str().find("signed in"), std::string::npos);
        EXPECT_EQ(text.str().find(std::string("from ") + kClient + ":"), std::string::npos) << text.str();
    }
};

#define NEED_PROGRAM(var, ...)                                                          \
    const std::string var = find_program({__VA_ARGS__});                                \
    if (var.empty()) {                                                                  \
        if (std::getenv("CI")) FAIL() << "proxy program not installed: " #__VA_ARGS__;  \
        GTEST_SKIP() << "proxy program not installed: " #__VA_ARGS__;                   \
    }

TEST_F(ProxyE2E, ClientsReachTheServerThroughEveryKindOfProxy) {
    NEED_PROGRAM(tinyproxy, "tinyproxy");
    NEED_PROGRAM(sockd, "sockd", "danted");
    NEED_PROGRAM(microsocks, "microsocks");
    start_server(kServer);

    proxy_process http;
    uint16_t http_port = start_proxy(http, testsupport::loopback_host(5), [&](uint16_t p) {
        return std::vector<std::string>{
            tinyproxy, "-d", "-c",
            write_file("tinyproxy.conf", "Port " + std::to_string(p) +
                                             "\nListen " + std::string(testsupport::loopback_host(5)) + "\nTimeout 60\nAllow 127.0.0.0/8\n")};
    });
    ASSERT_NE(0, http_port);
    register_through("hana", "proxy http " + std::string(testsupport::loopback_host(5)) + " " + std::to_string(http_port));

    proxy_process socks;
    const bool root = geteuid() == 0;
    uint16_t socks_port = start_proxy(socks, testsupport::loopback_host(6), [&](uint16_t p) {
        std::string conf = "logoutput: stderr\ninternal: " + std::string(testsupport::loopback_host(6)) + " port = " + std::to_string(p) +
                           "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
        if (root) conf += "user.privileged: root\nuser.unprivileged: nobody\n";
        conf += "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
        return std::vector<std::string>{sockd, "-f", write_file("sockd.conf", conf), "-p",
                                        m_dir + "/sockd.pid", "-N", "1"};
    });
    ASSERT_NE(0, socks_port);
    register_through("sven", "proxy socks4 " + std::string(testsupport::loopback_host(6)) + " " + std::to_string(socks_port));
    register_through("sofi", "proxy socks5 " + std::string(testsupport::loopback_host(6)) + " " + std::to_string(socks_port));

    proxy_process authed;
    uint16_t auth_port = start_proxy(authed, testsupport::loopback_host(7), [&](uint16_t p) {
        return std::vector<std::string>{microsocks, "-i", testsupport::loopback_host(7), "-p", std::to_string(p),
                                        "-u", "mia", "-P", "pass-word"};
    });
    ASSERT_NE(0, auth_port);
    register_through("mia", "proxy socks5 " + std::string(testsupport::loopback_host(7)) + " " + std::to_string(auth_port) + " mia pass-word");

    expect_only_proxied_connections();
}

}  // namespace
