// Direct peer connections and the peer commands, driven by raw loopback peers.
#include <fstream>
#include <sstream>
#include <thread>

#include "peer/peer_session.h"
#include "peer_test_support.h"
#include "platform/text.h"
#include "protocol/server_link.h"

using namespace peertest;
using testsupport::listener;
using testsupport::temp_dir;

namespace {
constexpr int kMyId = 7777;


std::atomic<uint32_t> g_now{1000};
uint32_t fake_tick() { return g_now.load(); }

class PeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        block = test_block("127.6");
        own = block + "1";
        set_home_dir(home.path);
        ASSERT_EQ(open_debug_log(), 0);
        set_local_bind_address(addr());
        clear_all_tables();
        clear_peer_table();
        g_user_id = kMyId;
        g_main_dlg = &main;
        ASSERT_EQ(start_peer_service(), 0);
    }
    void TearDown() override {
        stop_peer_service();
        g_main_link.my_close();
        g_main_dlg = nullptr;
        for (chat_window* w : take_all_chat_dlgs()) (void)w;
        set_tick_source(nullptr);
        set_local_bind_address("");
        close_debug_log();
        set_home_dir("");
    }
    std::string log_text() {
        std::ifstream f(home.path + "/dbg_log.txt");
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    // A raw peer connected to our listener that has identified itself as id.
    std::unique_ptr<raw_peer> identified_peer(int id) {
        auto p = std::make_unique<raw_peer>();
        EXPECT_TRUE(p->connect_to(addr(), kPeerPort));
        EXPECT_TRUE(p->send_cmd(200, id_body(id)));
        std::string body;
        EXPECT_TRUE(p->expect(200, &body)) << "the accepting side identifies itself on first data";
        EXPECT_EQ(body, id_body(kMyId));
        (void)wait_until([id] { return get_peer_sock_index(id) >= 0; });
        return p;
    }
    const char* addr() const { return own.c_str(); }
    std::string block;
    std::string own;
    temp_dir home;
    recorder rec;
    test_main main{&rec};
};
}  // namespace

TEST_F(PeerTest, IdentificationSetsPeerIdAndLaterCommandsUseIt) {
    auto p = identified_peer(4242);
    EXPECT_EQ(is_peer_connected(4242), 1);
    ASSERT_TRUE(p->send_cmd(410, ""));
    note n;
    ASSERT_TRUE(rec.wait_for(48, &n));
    EXPECT_EQ(n.w, 4242);
}

TEST_F(PeerTest, BadHeaderIsLoggedAndConnectionStays) {
    auto p = identified_peer(4243);
    // The reader throws away what one receive returns after a bad header: here the junk behind it.
    ASSERT_TRUE(p->send_raw("   0:   0: 410x   0:junk!"));
    // The knock goes once the reader has logged the header and taken the junk.
    int index = get_peer_sock_index(4243);
    ASSERT_GE(index, 0);
    ASSERT_TRUE(wait_until([&] {
        return log_text().find("content is:") != std::string::npos &&
               testsupport::unread_bytes(g_peer_socks[index].sock) == 0;
    }));
    ASSERT_TRUE(p->send_cmd(410, ""));
    ASSERT_TRUE(rec.wait_for(48));
    EXPECT_NE(log_text().find("g_peer_one_client_thread command format error at:14."), std::string::npos);
    EXPECT_NE(log_text().find("content is:   0:   0: 410x   0:."), std::string::npos);
}

TEST_F(PeerTest, OversizedLengthIsSkippedAndNegativeLengthCloses) {
    auto p = identified_peer(4244);
    std::string big(9000, 'b');
    ASSERT_TRUE(p->send_raw("   0:   0: 210:9000:" + big));
    ASSERT_TRUE(p->send_cmd(410, ""));
    ASSERT_TRUE(rec.wait_for(48));
    EXPECT_EQ(rec.count(7), 0) << "the oversized message is never dispatched";
    ASSERT_TRUE(p->send_raw("   0:   0: 410:  -1:"));
    EXPECT_TRUE(wait_until([] { return get_peer_sock_index(4244) < 0; }));
}

TEST_F(PeerTest, ChatTextOpensWindowEchoesAndShows) {
    auto p = identified_peer(4245);
    const unsigned char attrs[5] = {255, 0, 0, 12, 1};
    char body[2100];
    int len = build_chat_body(body, "Bob", "hello there", attrs);
    ASSERT_EQ(len, 15 + 6);
    // Not a contact yet: the line is neither shown nor echoed as if it had been.
    ASSERT_TRUE(p->send_cmd(210, std::string(body, static_cast<size_t>(len))));
    ASSERT_TRUE(wait_until([&] {
        return log_text().find("chat line from peer_id:4245, who is not a contact, dropped") !=
               std::string::npos;
    }));
    EXPECT_EQ(rec.count(NM_PEER_CHAT_LINE), 0);
    msg_header h;
    std::string none;
    EXPECT_FALSE(p->recv_cmd(&h, &none, 200));
    add_one_contact(4245, 0, "Bob");
    ASSERT_TRUE(p->send_cmd(210, std::string(body, static_cast<size_t>(len))));
    std::string echo;
    ASSERT_TRUE(p->expect(211, &echo));
    EXPECT_EQ(echo, std::string(body, static_cast<size_t>(len)));
    note shown;
    ASSERT_TRUE(rec.wait_for(7, &shown));
    EXPECT_EQ(shown.body, std::string(body, static_cast<size_t>(len)));
    note opened;
    ASSERT_TRUE(rec.wait_for(NM_PEER_CHAT_LINE, &opened));
    EXPECT_EQ(opened.w, 4245);
}

TEST_F(PeerTest, EchoWithoutWindowIsDroppedAndNothingIsSentBack) {
    main.open_chats = false;
    auto p = identified_peer(4246);
    ASSERT_TRUE(p->send_cmd(211, std::string("x:y\0\0\0\0\0\0", 9)));
    ASSERT_TRUE(wait_until([&] {
        return log_text().find("could not find chat_dlg in g_peer_one_client_thread 222.") != std::string::npos;
    }));
    msg_header h;
    std::string b;
    EXPECT_FALSE(p->recv_cmd(&h, &b, 200));
}

TEST_F(PeerTest, LongChatTextIsCutTo2000BytesAndKnockGoesDirect) {
    auto p = identified_peer(4247);
    const unsigned char attrs[5] = {1, 2, 3, 10, 2};
    std::string text(3000, 'q');
    EXPECT_EQ(send_chat_text(4247, "Al", text.c_str(), attrs), 0);
    std::string body;
    ASSERT_TRUE(p->expect(210, &body));
    ASSERT_EQ(body.size(), 2006u);
    EXPECT_EQ(body.substr(0, 3), "Al:");
    EXPECT_EQ(body[2000], '\0');
    EXPECT_EQ(body.substr(2001), std::string(reinterpret_cast<const char*>(attrs), 5));
    EXPECT_EQ(OnContactKnockPeer(4247), 0);
    EXPECT_TRUE(p->expect(410));
    EXPECT_EQ(OnContactKnockPeer(999), -1) << "no path to an unknown peer";
}

TEST_F(PeerTest, ClosedPeerFreesItsSlotAtOnce) {
    auto p = identified_peer(4248);
    close_socket(p->fd);
    p->fd = -1;
    EXPECT_TRUE(wait_until([] { return peer_slots_in_use() == 0; }, 2000));
}

TEST_F(PeerTest, SilentConnectionIsClosedByKeepAlive) {
    raw_peer p;
    ASSERT_TRUE(p.connect_to(addr(), kPeerPort));
    ASSERT_TRUE(wait_until([] { return peer_slots_in_use() == 1; }));
    for (int pass = 0; pass < 6; pass++) peer_keepalive_pass();
    EXPECT_EQ(peer_slots_in_use(), 1) << "six silent passes are tolerated";
    EXPECT_TRUE(p.expect(1001));
    peer_keepalive_pass();
    EXPECT_EQ(peer_slots_in_use(), 0);
    msg_header h;
    std::string b;
    while (p.recv_cmd(&h, &b, 2000)) {
    }
    char c;
    EXPECT_EQ(recv(p.fd, &c, 1, 0), 0) << "the connection was closed";
}

TEST_F(PeerTest, HundredAndFirstConnectionEvictsEarliestTakenSlot) {
    set_tick_source(fake_tick);
    std::vector<std::unique_ptr<raw_peer>> peers;
    for (int i = 0; i < kPeerSlots; i++) {
        g_now = 1000 + static_cast<uint32_t>(i);
        peers.push_back(std::make_unique<raw_peer>());
        ASSERT_TRUE(peers.back()->connect_to(addr(), kPeerPort));
        ASSERT_TRUE(wait_until([i] { return peer_slots_in_use() == i + 1; }));
        // Set up to the end (stamped again when its socket is stored) before the clock moves.
        ASSERT_TRUE(wait_until([i] {
            std::lock_guard<std::mutex> lk(g_peer_mutex);
            return g_peer_socks[i].sock != 0;
        }));
    }
    g_now = 5000;
    raw_peer extra;
    ASSERT_TRUE(extra.connect_to(addr(), kPeerPort));
    ASSERT_TRUE(wait_until([] {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        return g_peer_socks[0].taken_tick == 5000;
    }));
    EXPECT_EQ(peer_slots_in_use(), kPeerSlots);
    char c;
    ASSERT_GT(wait_readable(peers[0]->fd, 2000), 0);
    EXPECT_LE(recv(peers[0]->fd, &c, 1, 0), 0) << "the earliest connection was closed";
    EXPECT_EQ(wait_readable(peers[1]->fd, 100), 0) << "the others stay open";
}

TEST_F(PeerTest, ConnectToPeerAsksForSlaveServersOnceAndNotWhenConnected) {
    listener server(addr());
    copy_text(g_main_link.server_host, addr());
    g_main_link.server_port = server.port;
    ASSERT_EQ(g_main_link.connect_to_server(), 0);
    socket_t srv = server.accept_one();
    ASSERT_GT(srv, 0);

    EXPECT_EQ(connect_to_peer(5001, ""), -1);
    EXPECT_EQ(connect_to_peer(5001, addr()), 0);  // our own listener stands in for the peer
    char head[kHeaderLen];
    ASSERT_TRUE(testsupport::read_exact(srv, head, kHeaderLen));
    EXPECT_EQ(std::string(head, kHeaderLen), "   0:   0: 460:   0:");
    EXPECT_EQ(is_peer_connected(5001), 1);
    EXPECT_EQ(connect_to_peer(5001, addr()), 0);
    EXPECT_EQ(wait_readable(srv, 200), 0) << "a connected peer causes no request";
    close_socket(srv);
}

TEST_F(PeerTest, FailedConnectAsksPeerToConnectBackThroughHomeServer) {
    // The contact's home server listens on 9015 of its own loopback address.
    socket_t home_srv = tcp_listen((block + "2").c_str(), kServerPort, 4);
    ASSERT_GT(home_srv, 0);
    add_one_contact(5002, 0, "carol");
    {
        tables_guard lk(tables_mutex());
        int i = get_contact_index(5002);
        ASSERT_GE(i, 0);
        copy_text(g_contact[i].home_server, (block + "2").c_str());
        copy_text(g_contact[i].address, (block + "3").c_str());  // nobody listens there
    }
    copy_text(g_main_link.local_address, addr());
    EXPECT_EQ(OnContactTextChat(5002), -1);
    ASSERT_GT(wait_readable(home_srv, 5000), 0);
    socket_t conn = accept(home_srv, nullptr, nullptr);
    ASSERT_GT(conn, 0);
    char msg[kHeaderLen + 64] = {};
    ASSERT_TRUE(testsupport::read_exact(conn, msg, kHeaderLen));
    msg_header h;
    ASSERT_EQ(parse_header(msg, &h), 0);
    EXPECT_EQ(h.command, 380);
    ASSERT_TRUE(testsupport::read_exact(conn, msg + kHeaderLen, static_cast<size_t>(h.len)));
    xor_scramble(msg + kHeaderLen, h.len);
    EXPECT_EQ(std::string(msg + kHeaderLen, static_cast<size_t>(h.len)),
              "      5002:      7777:" + own);
    EXPECT_EQ(peer_slots_in_use(), 0);
    EXPECT_EQ(OnContactTextChat(5999), -1);
    EXPECT_NE(log_text().find("did not found contact(contact_id=5999) in OnContactTextChat"),
              std::string::npos);
    close_socket(conn);
    close_socket(home_srv);
}
