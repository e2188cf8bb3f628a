// File transfer through a slave server: a sending thread that started without a direct connection
// keeps the slave server for every block, even when a direct connection opens mid-file.
#include <fstream>
#include <random>

#include "peer/file_transfer.h"
#include "peer/peer_socket.h"
#include "peer/slave_server.h"
#include "protocol/server_link.h"
#include "relay_test_support.h"
#include "tests/support/loopback.h"

using namespace relaytest;
using testsupport::listener;

namespace {
constexpr int kMe = 7101;
constexpr int kPeer = 7102;

class FileSlaveTest : public relay_fixture {
protected:
    void TearDown() override {
        stop_file_transfers();
        stop_slave_service();
        stop_peer_service();
        clear_slave_tables();
        g_main_link.my_close();
        relay_fixture::TearDown();
    }
    testsupport::temp_dir files;
};
}  // namespace

TEST_F(FileSlaveTest, BlocksKeepTheSlaveServerWhenADirectConnectionOpens) {
    const char* addr = testsupport::loopback_host(61);
    begin(addr, kMe);
    clear_slave_tables();
    clear_peer_table();
    ASSERT_EQ(start_slave_service(), 0);
    ASSERT_EQ(start_peer_service(), 0);
    add_contact(kPeer, addr);

    listener slave(addr);
    ASSERT_EQ(connect_to_slave_server(addr, slave.port), 0);
    socket_t fd = slave.accept_one();
    ASSERT_GT(fd, 0);
    ASSERT_TRUE(wait_until([&] { return find_slave_server_index(addr) >= 0; }));
    ASSERT_EQ(add_peer_slave_server(kPeer, addr), 0);

    // Larger than what the loopback socket buffers hold, so the sender is still streaming when
    // the slave server stops reading for a while.
    const size_t size = 24u << 20;
    std::string data(size, '\0');
    std::mt19937 gen(7);
    for (auto& c : data) c = static_cast<char>(gen() & 0xff);
    std::string path = files.path + "/big.bin";
    {
        std::ofstream f(path, std::ios::binary);
        f.write(data.data(), static_cast<std::streamsize>(data.size()));
    }

    ASSERT_EQ(get_peer_sock_index(kPeer), -1);
    ASSERT_EQ(offer_file(kPeer, path.c_str()), 0);
    outer_msg m;
    ASSERT_TRUE(expect_outer(fd, 370, &m)) << "without a direct connection the offer is relayed";
    EXPECT_EQ(m.payload.substr(kHeaderLen), "big.bin");
    ASSERT_FALSE(on_file_offer_accepted(kPeer).empty());
    ASSERT_TRUE(expect_outer(fd, 373, &m));
    ASSERT_TRUE(expect_outer(fd, 374, &m));
    std::string got = m.payload.substr(kHeaderLen);

    // The slave server pauses; meanwhile the peer opens a direct connection and identifies.
    peertest::raw_peer direct;
    ASSERT_TRUE(direct.connect_to(addr, kPeerPort));
    ASSERT_TRUE(direct.send_cmd(200, peertest::id_body(kPeer)));
    ASSERT_TRUE(direct.expect(200));
    ASSERT_TRUE(wait_until([] { return get_peer_sock_index(kPeer) >= 0; }));
    ASSERT_EQ(file_send_threads_running(), 1) << "the file must still be streaming here";

    // Every remaining block still arrives through the slave server, in order, then 375.
    bool ended = false;
    while (!ended) {
        ASSERT_TRUE(read_outer(fd, &m, 10000)) << "after " << got.size() << " bytes";
        msg_header h;
        if (m.payload.size() < static_cast<size_t>(kHeaderLen) ||
            parse_header(m.payload.data(), &h) != 0)
            continue;
        if (h.command == 374) got += m.payload.substr(kHeaderLen);
        ended = h.command == 375;
    }
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "the relayed blocks differ from the file";
    EXPECT_TRUE(wait_until([] { return file_send_threads_running() == 0; }));
    file_progress p;
    ASSERT_TRUE(file_send_progress(kPeer, &p));
    EXPECT_TRUE(p.finished);

    // Nothing of the file went over the direct connection.
    msg_header h;
    std::string body;
    while (direct.recv_cmd(&h, &body, 300))
        EXPECT_FALSE(h.command >= 370 && h.command <= 375) << h.command;
    close_socket(fd);
}
