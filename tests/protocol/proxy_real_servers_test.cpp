// The proxy tunnel against real proxy programs started on loopback by each test: an HTTP CONNECT
// proxy (open, and one requiring Basic authentication), a SOCKS server speaking SOCKS4 and SOCKS5
// without authentication, and a SOCKS5 server requiring user name and password. Behind each
// proxy an echo server stands in for the messenger server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "protocol/link_socket.h"
#include "protocol/proxy.h"
#include "proxy_test_support.h"
#include "tests/support/loopback.h"

using namespace proxy_test;

namespace {
const char* const kServerAddress = testsupport::loopback_host(200);
using texts = std::vector<std::string>;

// The proxy programs come from the test command's package installation; on a developer machine
// without them the tests are skipped, under CI they fail.
#define FIND_PROXY_PROGRAM(var, ...)                                                      \
    const std::string var = find_program({__VA_ARGS__});                                  \
    if (var.empty()) {                                                                    \
        if (std::getenv("CI")) FAIL() << "proxy program not installed: " #__VA_ARGS__;    \
        GTEST_SKIP() << "proxy program not installed (apt-get install tinyproxy dante-server " \
                        "microsocks): " #__VA_ARGS__;                                     \
    }

class RealProxy : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(home.path().empty());
        ASSERT_NE(0, server.port());
        copy_text(link.server_host, kServerAddress);
        link.server_port = server.port();
    }
    void TearDown() override { link.my_close(); }

    std::string write_config(const char* name, const std::string& text) {
        std::string path = home.path() + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    // Starts a proxy on address at a free port; retries with another port if it loses the port
    // to another process between the choice and its own bind.
    uint16_t start(proxy_process& proc, const char* address,
                   const std::function<std::vector<std::string>(uint16_t)>& argv_for_port) {
        std::string error;
        for (int attempt = 0; attempt < 3; attempt++) {
            uint16_t port = free_port(address);
            error = proc.start(argv_for_port(port), home.path() + "/proxy.log", address, port);
            if (error.empty()) return port;
        }
        ADD_FAILURE() << error;
        return 0;
    }
    void expect_round_trip() {
        bytes wire;
        EXPECT_EQ("", framed_round_trip(link, &wire));
        link.my_close();
        EXPECT_EQ(wire, server.received());
    }

    temp_home home;
    message_capture messages;
    echo_server server{kServerAddress};
    Clink_socket link;
};

std::string tinyproxy_config(const char* address, uint16_t port, bool basic_auth) {
    std::string text = "Port " + std::to_string(port) + "\nListen " + address +
                       "\nTimeout 60\nMaxClients 20\nAllow 127.0.0.0/8\nLogLevel Info\n";
    if (basic_auth) text += "BasicAuth alice secret\n";
    return text;
}

TEST_F(RealProxy, HttpConnectProxy) {
    FIND_PROXY_PROGRAM(tinyproxy, "tinyproxy");
    const char* address = testsupport::loopback_host(2);
    proxy_process proc;
    uint16_t port = start(proc, address, [&](uint16_t p) {
        return std::vector<std::string>{tinyproxy, "-d", "-c",
                                        write_config("open.conf", tinyproxy_config(address, p, false))};
    });
    ASSERT_NE(0, port);
    ASSERT_EQ(0, save_proxy_settings(1, 0, address, port, "", ""));
    ASSERT_EQ(0, connect_within(link)) << read_file(home.path() + "/proxy.log");
    expect_round_trip();
    EXPECT_EQ(texts{}, messages.texts());
}

// A proxy that demands authentication answers CONNECT with 407: the tunnel is not opened and the
// server never sees a connection.
TEST_F(RealProxy, HttpConnectProxyDemandingAuthentication) {
    FIND_PROXY_PROGRAM(tinyproxy, "tinyproxy");
    const char* address = testsupport::loopback_host(3);
    proxy_process proc;
    uint16_t port = start(proc, address, [&](uint16_t p) {
        return std::vector<std::string>{tinyproxy, "-d", "-c",
                                        write_config("auth.conf", tinyproxy_config(address, p, true))};
    });
    ASSERT_NE(0, port);
    ASSERT_EQ(0, save_proxy_settings(1, 0, address, port, "", ""));
    EXPECT_EQ(-1, connect_within(link));
    EXPECT_EQ(0, link.sock.load());
    EXPECT_EQ(0, link.connected.load());
    EXPECT_EQ(0, server.connections());
    EXPECT_EQ(texts{}, messages.texts());
}

TEST_F(RealProxy, SocksServerSpeakingSocks4AndSocks5) {
    FIND_PROXY_PROGRAM(sockd, "sockd", "danted");
    const char* address = testsupport::loopback_host(4);
    const bool root = geteuid() == 0;
    proxy_process proc;
    uint16_t port = start(proc, address, [&](uint16_t p) {
        std::string conf = "logoutput: stderr\ninternal: " + std::string(address) + " port = " +
                           std::to_string(p) +
                           "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
        if (root) conf += "user.privileged: root\nuser.unprivileged: nobody\n";
        conf += "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
        return std::vector<std::string>{sockd, "-f", write_config("sockd.conf", conf), "-p",
                                        home.path() + "/sockd.pid", "-N", "1"};
    });
    ASSERT_NE(0, port);
    for (int type : {1, 2}) {
        SCOPED_TRACE(type == 1 ? "SOCKS4" : "SOCKS5");
        ASSERT_EQ(0, save_proxy_settings(1, type, address, port, "", ""));
        ASSERT_EQ(0, connect_within(link)) << read_file(home.path() + "/proxy.log");
        bytes before = server.received();
        bytes wire;
        EXPECT_EQ("", framed_round_trip(link, &wire));
        link.my_close();
        EXPECT_EQ(before + wire, server.received());
    }
    EXPECT_EQ(texts{}, messages.texts());
}

TEST_F(RealProxy, Socks5ServerWithUserNameAndPassword) {
    FIND_PROXY_PROGRAM(microsocks, "microsocks");
    const char* address = testsupport::loopback_host(5);
    proxy_process proc;
    uint16_t port = start(proc, address, [&](uint16_t p) {
        return std::vector<std::string>{microsocks, "-i", address, "-p", std::to_string(p),
                                        "-u", "alice", "-P", "s3cret pass"};
    });
    ASSERT_NE(0, port);

    ASSERT_EQ(0, save_proxy_settings(1, 2, address, port, "alice", "wrong"));
    EXPECT_EQ(-1, connect_within(link));
    EXPECT_EQ(0, link.sock.load());
    EXPECT_EQ(texts{"Authentication to socks5 proxy failed."}, messages.texts());
    EXPECT_EQ(0, server.connections());

    ASSERT_EQ(0, save_proxy_settings(1, 2, address, port, "alice", "s3cret pass"));
    ASSERT_EQ(0, connect_within(link)) << read_file(home.path() + "/proxy.log");
    expect_round_trip();
    EXPECT_EQ(1u, messages.texts().size());
}

}  // namespace
