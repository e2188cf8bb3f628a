// How long connections and their readers live: churn against the peer listener and a relay port
// must not leave reader threads behind, and a sign-in ends the previous session's connections.
#include <dirent.h>

#include <fcntl.h>

#include <deque>

#include "peer/peer_service.h"
#include "peer/relay_server.h"
#include "protocol/proxy.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"
#include "relay_test_support.h"
#include "tests/support/loopback.h"

using namespace relaytest;

namespace {
constexpr uint16_t kRelayPorts[3] = {7081, 7444, 8198};
constexpr int kConnections = 2000;

int thread_count() {
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    if (!d) return -1;
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

// A connection from a plain socket. The listeners' short backlog drops a SYN now and then during
// the burst; instead of the kernel's one-second retry, a connect not done in 100 ms starts over.
socket_t quick_connect(const char* address, uint16_t port) {
    struct in_addr a;
    if (resolve_ipv4(address, &a) != 0) return -1;
    struct sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = a;
    for (int attempt = 0; attempt < 200; attempt++) {
        socket_t s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (s < 0) return -1;
        int r = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        int err = 0;
        socklen_t len = sizeof(err);
        if (r != 0 && errno == EINPROGRESS && wait_writable(s, 100) > 0)
            r = getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0 ? 0 : -1;
        if (r == 0) {
            fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK);
            return s;
        }
        ::close(s);
    }
    return -1;
}

class ChurnTest : public relay_fixture {
protected:
    // Opens kConnections connections to address:port, up to window of them open at once (more
    // than the table holds, so slots are evicted while their readers wait), each sending the
    // first bytes of a message so that a reader is inside a receive when it is evicted or closed.
    static int churn(const char* address, uint16_t port, int window, const std::string& bytes) {
        std::deque<std::unique_ptr<peertest::raw_peer>> open;
        int made = 0;
        for (int i = 0; i < kConnections; i++) {
            auto p = std::make_unique<peertest::raw_peer>();
            if ((p->fd = quick_connect(address, port)) < 0) continue;
            made++;
            p->send_raw(i % 3 == 0 ? bytes : bytes.substr(0, 5));
            open.push_back(std::move(p));
            if (static_cast<int>(open.size()) > window) open.pop_front();
        }
        open.clear();
        return made;
    }
    static bool threads_back_to(int base, int* now) {
        bool ok = wait_until([&] { return (*now = thread_count()) <= base; }, 60000);
        return ok;
    }
};
}  // namespace

TEST_F(ChurnTest, PeerAndRelayReadersEndWithTheirConnections) {
    const char* addr = testsupport::loopback_host(90);
    begin(addr, 7090);
    clear_peer_table();
    clear_relay_table();
    set_relay_ports(kRelayPorts);
    ASSERT_EQ(start_peer_service(), 0);
    ASSERT_EQ(start_relay_service(), 0);
    int base = thread_count();
    int now = 0;

    std::string keepalive = framed(1001, "");
    EXPECT_EQ(churn(addr, kPeerPort, 130, keepalive), kConnections);
    EXPECT_TRUE(threads_back_to(base, &now)) << "peer churn: " << base << " -> " << now;
    std::printf("threads after %d peer connections: %d (started with %d)\n", kConnections, now,
                base);
    EXPECT_TRUE(wait_until([] { return peer_slots_in_use() == 0; }, 20000));

    std::string reg = outer(0, 55, 0, 0);
    EXPECT_EQ(churn(addr, kRelayPorts[2], 230, reg), kConnections);
    EXPECT_TRUE(threads_back_to(base, &now)) << "relay churn: " << base << " -> " << now;
    std::printf("threads after %d relay connections: %d (started with %d)\n", kConnections, now,
                base);
    EXPECT_TRUE(wait_until([] { return relay_connection_count() == 0; }, 20000));

    // The services still work after the churn.
    auto p = std::make_unique<peertest::raw_peer>();
    ASSERT_TRUE(p->connect_to(addr, kPeerPort));
    ASSERT_TRUE(p->send_cmd(200, peertest::id_body(4242)));
    EXPECT_TRUE(p->expect(200));

    stop_relay_service();
    stop_peer_service();
    set_relay_ports(nullptr);
    clear_relay_table();
}

TEST_F(ChurnTest, SignInClosesThePreviousSessionsPeerAndRelayConnections) {
    const char* addr = testsupport::loopback_host(91);
    begin(addr, 7091);
    set_relay_ports(kRelayPorts);
    set_server_host_override(addr);  // nothing listens there: the login itself goes nowhere
    ASSERT_EQ(start_peer_networking(), 0);
    peertest::raw_peer peer, relay_client;
    ASSERT_TRUE(peer.connect_to(addr, kPeerPort));
    ASSERT_TRUE(peer.send_cmd(200, peertest::id_body(4243)));
    ASSERT_TRUE(peer.expect(200));
    ASSERT_TRUE(relay_client.connect_to(addr, kRelayPorts[2]));
    ASSERT_TRUE(
        wait_until([] { return peer_slots_in_use() == 1 && relay_connection_count() == 1; }));

    login("ann@example.org", "secret");
    EXPECT_EQ(peer_slots_in_use(), 0);
    EXPECT_EQ(relay_connection_count(), 0);
    char c;
    EXPECT_TRUE(wait_readable(peer.fd, 5000) > 0 && recv(peer.fd, &c, 1, 0) == 0);
    EXPECT_TRUE(wait_readable(relay_client.fd, 5000) > 0 && recv(relay_client.fd, &c, 1, 0) == 0);

    stop_peer_networking();
    set_server_host_override("");
    set_relay_ports(nullptr);
}

TEST_F(ChurnTest, ThroughAProxyThatCarriesEverythingNothingListensAndNoPeerIsDialled) {
    const char* addr = testsupport::loopback_host(92);
    begin(addr, 7092);
    set_relay_ports(kRelayPorts);
    EXPECT_FALSE(proxy_everything()) << "without a proxy";
    ASSERT_EQ(save_proxy_settings(1, 2, testsupport::loopback_host(93), 1080, "", ""), 0);
    EXPECT_TRUE(proxy_everything()) << "on by default once a proxy is set";
    start_peer_networking();
    peertest::raw_peer probe, relay_probe, direct;
    EXPECT_FALSE(probe.connect_to(addr, kPeerPort)) << "no peer listener";
    EXPECT_FALSE(relay_probe.connect_to(addr, kRelayPorts[2])) << "no relay port";
    testsupport::listener peer_side(testsupport::loopback_host(94));
    EXPECT_EQ(connect_to_peer(55, testsupport::loopback_host(94)), -1);
    EXPECT_EQ(peer_side.accept_one(300), -1) << "no direct connection around the proxy";
    stop_peer_networking();

    ASSERT_EQ(save_proxy_everything(false), 0);
    EXPECT_FALSE(proxy_everything());
    ASSERT_EQ(start_peer_networking(), 0);
    EXPECT_TRUE(direct.connect_to(addr, kPeerPort)) << "switched off: the listener is back";
    stop_peer_networking();
    set_relay_ports(nullptr);
}
