// Proxy handshakes against a scripted proxy: the client's request bytes are checked byte for byte
// and the proxy answers with replies that real proxy programs cannot be made to give.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "protocol/link_socket.h"
#include "protocol/proxy.h"
#include "protocol/settings_store.h"
#include "protocol/texts.h"
#include "proxy_test_support.h"
#include "tests/support/loopback.h"

using namespace proxy_test;

namespace {
const char* const kProxyAddress = testsupport::loopback_host(50);
const uint16_t kServerPort = 9015;
using texts = std::vector<std::string>;

bytes http_request(const std::string& host, int port) {
    std::string target = host + ":" + std::to_string(port);
    return "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n\r\n";
}
bytes socks4_request() { return b({4, 1}) + port_bytes(kServerPort) + b({127, 0, 0, 1}) + "Guest\n" + b({0}); }
bytes socks4_reply(int status) { return b({0, status, 0, 0, 0, 0, 0, 0}); }
const bytes kOffer = b({5, 2, 0, 2});
bytes socks5_connect() { return b({5, 1, 0, 1, 127, 0, 0, 1}) + port_bytes(kServerPort); }
bytes socks5_reply(int code) { return b({5, code, 0, 1, 127, 0, 0, 1, 0x23, 0x27}); }

class ProxyHandshake : public ::testing::Test {
protected:
    void SetUp() override {
        copy_text(link.server_host, "127.0.0.1");
        link.server_port = kServerPort;
    }
    void TearDown() override { link.my_close(); }

    // Stores the settings for a proxy of this type at the scripted proxy and connects.
    int connect_via(int type, const scripted_proxy& proxy, const char* user = "", const char* pass = "") {
        EXPECT_EQ(0, save_proxy_settings(1, type, kProxyAddress, proxy.port(), user, pass));
        return connect_within(link);
    }
    // After a successful handshake: a framed message goes through and comes back, the client
    // closes, and the proxy saw exactly the scripted bytes.
    void expect_tunnel_works(scripted_proxy& proxy) {
        EXPECT_EQ(1, link.connected.load());
        struct in_addr local;
        EXPECT_EQ(1, inet_pton(AF_INET, link.local_address, &local)) << link.local_address;
        EXPECT_EQ("", framed_round_trip(link, nullptr));
        link.my_close();
        EXPECT_EQ("", proxy.finish());
    }
    // After a failed handshake: -1 was returned, the socket is closed and the proxy saw the
    // client hang up after the scripted bytes.
    void expect_refused(int result, scripted_proxy& proxy) {
        EXPECT_EQ(-1, result);
        EXPECT_EQ(0, link.sock.load());
        EXPECT_EQ(0, link.connected.load());
        EXPECT_EQ("", proxy.finish());
    }

    temp_home home;
    message_capture messages;
    Clink_socket link;
};

TEST_F(ProxyHandshake, HttpReplyVariants) {
    struct http_case {
        const char* what;
        bytes reply;
        int result;
        texts shown;
    };
    const std::string long_header = "X-Padding: " + std::string(3000, 'p') + "\r\n";
    const std::vector<http_case> cases = {
        {"1.1 status, one header line", "HTTP/1.1 200 Connection established\r\nProxy-agent: t\r\n\r\n", 0, {}},
        {"bare line feeds", "HTTP/1.0 200 OK\n\n", 0, {}},
        {"any 2xx, long header line", "HTTP/1.0   204 Fine\r\n" + long_header + "\r\n", 0, {}},
        {"407", "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n", -1, {}},
        {"302", "HTTP/1.1 302 Found\r\n\r\n", -1, {}},
        {"not HTTP", "SOCKS 200 OK\r\n\r\n", -1, {}},
        {"status line longer than 1023 bytes", "HTTP/1.0 200 " + std::string(1100, 'x') + "\r\n\r\n", -1, {}},
    };
    for (const http_case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<step> script = {expect(http_request("127.0.0.1", kServerPort)), reply(c.reply)};
        script.push_back(c.result == 0 ? echo_rest() : expect_eof());
        scripted_proxy proxy(kProxyAddress, script);
        int r = connect_via(0, proxy);
        EXPECT_EQ(c.result, r);
        if (r == 0)
            expect_tunnel_works(proxy);
        else
            expect_refused(r, proxy);
        EXPECT_EQ(c.shown, messages.take());
        link.my_close();
    }
}

TEST_F(ProxyHandshake, HttpSendsHostNameUnresolved) {
    copy_text(link.server_host, "messenger.example.invalid");
    scripted_proxy proxy(kProxyAddress, {expect(http_request("messenger.example.invalid", kServerPort)),
                                         reply("HTTP/1.0 200 OK\r\n\r\n"), echo_rest()});
    ASSERT_EQ(0, connect_via(0, proxy));
    expect_tunnel_works(proxy);
}

TEST_F(ProxyHandshake, HttpRefusesHostNamesThatWouldAddRequestLines) {
    copy_text(link.server_host, "evil\r\nX-Injected: 1");
    scripted_proxy proxy(kProxyAddress, {expect_eof()});
    expect_refused(connect_via(0, proxy), proxy);
}

TEST_F(ProxyHandshake, ProxyClosingMidReplyEndsHandshake) {
    struct close_case {
        const char* what;
        int type;
        std::vector<step> script;
        texts shown;
    };
    const std::vector<close_case> cases = {
        {"http status line", 0, {expect(http_request("127.0.0.1", kServerPort)), reply("HTTP/1.0 20")}, {}},
        {"http headers", 0, {expect(http_request("127.0.0.1", kServerPort)), reply("HTTP/1.0 200 OK\r\nVia: x")},
         {"Receiving data from server failed, may need reconnect."}},
        {"socks4 reply", 1, {expect(socks4_request()), reply(b({0, 90, 0, 0}))}, {"failed to read from proxy."}},
        {"socks5 method choice", 2, {expect(kOffer), reply(b({5}))}, {"failed to read from socks5 proxy."}},
        {"socks5 authentication answer", 2, {expect(kOffer), reply(b({5, 2})), expect(b({1, 0, 0})), reply(b({1}))},
         {"failed to read from proxy socks5 user_name/password result."}},
        {"socks5 connect reply", 2, {expect(kOffer), reply(b({5, 0})), expect(socks5_connect()), reply(b({5, 0, 0, 1}))},
         {"failed to read from proxy socks5 1."}},
        {"socks5 before any answer", 2, {expect(kOffer)}, {"failed to read from socks5 proxy."}},
    };
    for (const close_case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<step> script = c.script;
        script.push_back(close_now());
        scripted_proxy proxy(kProxyAddress, script);
        expect_refused(connect_via(c.type, proxy), proxy);
        // Every box goes to the front end by id, for its own language.
        for (int id : messages.ids()) EXPECT_GE(id, TXT_PROXY_TYPE_ERROR);
        EXPECT_EQ(c.shown, messages.take());
        link.my_close();
    }
}

TEST_F(ProxyHandshake, Socks4Statuses) {
    struct socks4_case {
        int status;
        texts shown;
    };
    const std::vector<socks4_case> cases = {
        {90, {}},
        {0, {}},
        {94, {}},
        {91, {"connect to proxy request rejected or failed"}},
        {92, {"request rejected becasue SOCKS server cannot connect to identd on the client"}},
        {93, {"request rejected because the client program and identd report different user-ids"}},
    };
    for (const socks4_case& c : cases) {
        SCOPED_TRACE(c.status);
        bool granted = c.shown.empty();
        scripted_proxy proxy(kProxyAddress, {expect(socks4_request()), reply(socks4_reply(c.status)),
                                             granted ? echo_rest() : expect_eof()});
        int r = connect_via(1, proxy);
        if (granted) {
            EXPECT_EQ(0, r);
            expect_tunnel_works(proxy);
        } else {
            expect_refused(r, proxy);
        }
        EXPECT_EQ(c.shown, messages.take());
        link.my_close();
    }
}

TEST_F(ProxyHandshake, Socks5ReplyCodes) {
    const texts table = {"general SOCKS server failure", "connection not allowed by ruleset",
                         "Network unreachable",          "Host unreachable",
                         "Connection refused",           "TTL expired",
                         "Command not supported",        "Address type not supported",
                         "to X'FF' unassigned"};
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 255}) {
        SCOPED_TRACE(code);
        scripted_proxy proxy(kProxyAddress, {expect(kOffer), reply(b({5, 0})), expect(socks5_connect()),
                                             reply(socks5_reply(code)), code == 0 ? echo_rest() : expect_eof()});
        int r = connect_via(2, proxy);
        texts shown;
        if (code >= 1 && code <= 9) shown.push_back(table[static_cast<size_t>(code - 1)]);
        // Every reply the protocol names has an id of its own.
        static const int kIds[] = {TXT_SOCKS5_GENERAL_FAILURE, TXT_SOCKS5_NOT_ALLOWED,
                                   TXT_SOCKS5_NETWORK_UNREACHABLE, TXT_SOCKS5_HOST_UNREACHABLE,
                                   TXT_SOCKS5_CONNECTION_REFUSED, TXT_SOCKS5_TTL_EXPIRED,
                                   TXT_SOCKS5_COMMAND_NOT_SUPPORTED,
                                   TXT_SOCKS5_ADDRESS_TYPE_NOT_SUPPORTED, TXT_SOCKS5_UNASSIGNED};
        std::vector<int> ids = messages.ids();
        std::vector<int> want;
        if (code >= 1 && code <= 9) want = {kIds[code - 1]};
        EXPECT_EQ(want, ids);
        if (code == 0) {
            EXPECT_EQ(0, r);
            expect_tunnel_works(proxy);
        } else {
            expect_refused(r, proxy);
        }
        EXPECT_EQ(shown, messages.take());
        link.my_close();
    }
}

TEST_F(ProxyHandshake, Socks5MethodChoices) {
    {
        SCOPED_TRACE("no acceptable method");
        scripted_proxy proxy(kProxyAddress, {expect(kOffer), reply(b({5, 0xFF})), expect_eof()});
        expect_refused(connect_via(2, proxy, "alice", "secret"), proxy);
        EXPECT_EQ(texts{"proxy does not support anonymouse or username/password method."}, messages.take());
    }
    {
        SCOPED_TRACE("user name and password");
        scripted_proxy proxy(kProxyAddress,
                             {expect(kOffer), reply(b({5, 2})), expect(b({1, 5}) + "alice" + b({6}) + "secret"),
                              reply(b({1, 0})), expect(socks5_connect()), reply(socks5_reply(0)), echo_rest()});
        ASSERT_EQ(0, connect_via(2, proxy, "alice", "secret"));
        expect_tunnel_works(proxy);
    }
    {
        SCOPED_TRACE("empty credentials: the proxy's answer decides");
        scripted_proxy proxy(kProxyAddress, {expect(kOffer), reply(b({5, 2})), expect(b({1, 0, 0})), reply(b({1, 0})),
                                             expect(socks5_connect()), reply(socks5_reply(0)), echo_rest()});
        ASSERT_EQ(0, connect_via(2, proxy));
        expect_tunnel_works(proxy);
    }
    {
        SCOPED_TRACE("credentials refused");
        scripted_proxy proxy(kProxyAddress, {expect(kOffer), reply(b({5, 2})), expect(b({1, 1}) + "u" + b({1}) + "p"),
                                             reply(b({1, 1})), expect_eof()});
        expect_refused(connect_via(2, proxy, "u", "p"), proxy);
        EXPECT_EQ(texts{"Authentication to socks5 proxy failed."}, messages.take());
    }
}

// Stored credentials are cut to the 127 characters their fields hold, and fields filled to their
// full width without a terminator are sent at that width and no further.
TEST_F(ProxyHandshake, Socks5CredentialsStayWithinTheirFields) {
    {
        SCOPED_TRACE("150-character values in the settings");
        const std::string user(150, 'u'), pass(150, 'p');
        scripted_proxy proxy(kProxyAddress, {expect(kOffer), reply(b({5, 2})),
                                             expect(b({1, 127}) + user.substr(0, 127) + b({127}) + pass.substr(0, 127)),
                                             reply(b({1, 0})), expect(socks5_connect()), reply(socks5_reply(0)), echo_rest()});
        ASSERT_EQ(0, connect_via(2, proxy, user.c_str(), pass.c_str()));
        expect_tunnel_works(proxy);
    }
    {
        SCOPED_TRACE("fields without terminator");
        scripted_proxy proxy(kProxyAddress, {expect(kOffer), reply(b({5, 2})),
                                             expect(b({1, 128}) + std::string(128, 'U') + b({128}) + std::string(128, 'P')),
                                             reply(b({1, 0})), expect(socks5_connect()), reply(socks5_reply(0)), echo_rest()});
        copy_text(link.proxy_address, kProxyAddress);
        link.proxy_port = proxy.port();
        link.proxy_type = 2;
        std::memset(link.proxy_user_name, 'U', sizeof(link.proxy_user_name));
        std::memset(link.proxy_password, 'P', sizeof(link.proxy_password));
        ASSERT_EQ(0, link.connect_through_proxy());
        expect_tunnel_works(proxy);
    }
    EXPECT_EQ(texts{}, messages.take());
}

TEST_F(ProxyHandshake, UnknownProxyTypeSendsNothing) {
    scripted_proxy proxy(kProxyAddress, {expect_eof()});
    expect_refused(connect_via(3, proxy), proxy);
    EXPECT_EQ(texts{"Proxy type error, Please choose your proxy type in proxy options."}, messages.take());
}

TEST_F(ProxyHandshake, UnreachableProxyFailsWithoutMessage) {
    uint16_t port = free_port(kProxyAddress);
    ASSERT_NE(0, port);
    ASSERT_EQ(0, save_proxy_settings(1, 2, kProxyAddress, port, "", ""));
    EXPECT_EQ(-1, connect_within(link));
    EXPECT_EQ(0, link.sock.load());
    EXPECT_EQ(texts{}, messages.take());
}

TEST(ProxySettings, AddressIsOneBigEndianNumber) {
    temp_home home;
    Clink_socket link;
    link.load_proxy_settings();
    EXPECT_EQ(0, link.use_proxy);
    EXPECT_STREQ("0.0.0.0", link.proxy_address);

    reg_write("proxy", "proxy_ip", "3232235777");
    reg_write("proxy", "proxy_port", "8080");
    reg_write("proxy", "proxy_type", "2");
    reg_write("proxy", "use_proxy", "1");
    link.load_proxy_settings();
    EXPECT_STREQ("192.168.1.1", link.proxy_address);
    EXPECT_EQ(8080, link.proxy_port);
    EXPECT_EQ(2, link.proxy_type);
    EXPECT_EQ(1, link.use_proxy);

    // The same address written as a signed 32-bit number.
    reg_write("proxy", "proxy_ip", "-1062731519");
    link.load_proxy_settings();
    EXPECT_STREQ("192.168.1.1", link.proxy_address);

    ASSERT_EQ(0, save_proxy_settings(1, 0, "10.20.30.40", 3128, "u", "p"));
    char text[32];
    reg_read("proxy", "proxy_ip", text, sizeof(text));
    EXPECT_STREQ("169090600", text);
    link.load_proxy_settings();
    EXPECT_STREQ("10.20.30.40", link.proxy_address);
    EXPECT_STREQ("u", link.proxy_user_name);
    EXPECT_STREQ("p", link.proxy_password);

    EXPECT_EQ(-1, save_proxy_settings(1, 0, "proxy.example", 3128, "", ""));
    ASSERT_EQ(0, disable_proxy());
    link.load_proxy_settings();
    EXPECT_EQ(0, link.use_proxy);
    EXPECT_STREQ("10.20.30.40", link.proxy_address);
}

// The settings are read again before every connect: once the proxy is turned off, the same socket
// object reaches the server directly.
TEST_F(ProxyHandshake, SettingsAreReadBeforeEveryConnect) {
    echo_server server(testsupport::loopback_host(200));
    copy_text(link.server_host, testsupport::loopback_host(200));
    link.server_port = server.port();
    scripted_proxy proxy(kProxyAddress, {expect(http_request(testsupport::loopback_host(200), server.port())),
                                         reply("HTTP/1.0 200 OK\r\n\r\n"), echo_rest()});
    ASSERT_EQ(0, connect_via(0, proxy));
    expect_tunnel_works(proxy);
    EXPECT_EQ(0, server.connections());

    ASSERT_EQ(0, disable_proxy());
    ASSERT_EQ(0, connect_within(link));
    bytes wire;
    EXPECT_EQ("", framed_round_trip(link, &wire));
    link.my_close();
    EXPECT_EQ(1, server.connections());
    EXPECT_EQ(wire, server.received());
}

}  // namespace
