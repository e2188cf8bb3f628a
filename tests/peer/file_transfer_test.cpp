// File transfer, driven by raw loopback peers: the offer and its answers, the stream of blocks,
// names that come from the network, files that cannot be opened, and transfers that stop.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <random>
#include <sstream>

#include "peer/file_transfer.h"
#include "peer_test_support.h"
#include "platform/text.h"
#include "protocol/requests.h"
#include "protocol/server_link.h"

using namespace peertest;
using testsupport::temp_dir;

namespace {
constexpr int kMyId = 8888;

std::atomic<uint32_t> g_now{1000};
uint32_t fake_tick() {
    return g_now.load();
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool read_file(const std::string& path, std::string* out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::stringstream ss;
    ss << f.rdbuf();
    *out = ss.str();
    return true;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Number of this process's open descriptors that refer to path.
int open_handles(const std::string& path) {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (dirent* e = readdir(d)) {
        char link[512];
        std::string fd_path = std::string("/proc/self/fd/") + e->d_name;
        ssize_t len = readlink(fd_path.c_str(), link, sizeof(link) - 1);
        if (len <= 0) continue;
        link[len] = '\0';
        n += path == link;
    }
    closedir(d);
    return n;
}

class FileTransferTest : public ::testing::Test {
protected:
    std::string m_addr;
    void SetUp() override {
        set_home_dir(home.path);
        ASSERT_EQ(open_debug_log(), 0);
        m_addr = test_block("127.8") + "1";
        set_local_bind_address(m_addr.c_str());
        clear_all_tables();
        clear_peer_table();
        g_user_id = kMyId;
        g_main_dlg = &main;
        ASSERT_EQ(start_peer_service(), 0);
        folder = files.path + "/in";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    }
    void TearDown() override {
        stop_file_transfers();
        stop_peer_service();
        g_main_link.my_close();
        g_main_dlg = nullptr;
        set_tick_source(nullptr);
        set_local_bind_address("");
        close_debug_log();
        set_home_dir("");
    }
    std::string log_text() {
        std::string s;
        read_file(home.path + "/dbg_log.txt", &s);
        return s;
    }
    static size_t count_of(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }
    void add_contact(int id) {
        add_one_contact(id, 0, "Nick");
        tables_guard lk(tables_mutex());
        contact_record& c = g_contact[get_contact_index(id)];
        copy_text(c.first_name, "Ann");
        copy_text(c.last_name, "Lee");
        copy_text(c.email, "ann@example.org");
    }
    contact_record record(int id) {
        contact_record c{};
        contact_by_id(id, &c);
        return c;
    }
    // A contact and a raw peer connected to our listener that identified itself as id.
    std::unique_ptr<raw_peer> peer(int id) {
        add_contact(id);
        auto p = std::make_unique<raw_peer>();
        EXPECT_TRUE(p->connect_to(m_addr.c_str(), kPeerPort));
        EXPECT_TRUE(p->send_cmd(200, id_body(id)));
        EXPECT_TRUE(p->expect(200));
        EXPECT_TRUE(wait_until([id] { return get_peer_sock_index(id) >= 0; }));
        return p;
    }
    // Offers a file from the raw peer and accepts it into folder; returns the path it will have.
    std::string offer_and_accept(raw_peer& p, int id, const std::string& offered) {
        int asked = rec.count(40);
        EXPECT_TRUE(p.send_cmd(370, offered));
        EXPECT_TRUE(wait_until([&] { return rec.count(40) > asked; }));
        EXPECT_EQ(file_offer_answer(id, true, folder.c_str()), 0);
        EXPECT_TRUE(p.expect(371));
        return record(id).recv_file_path;
    }
    temp_dir home;
    temp_dir files;
    std::string folder;
    recorder rec;
    test_main main{&rec};
};
}  // namespace

TEST_F(FileTransferTest, FileGoesAsBeginBlocksOfAThousandAndEnd) {
    auto p = peer(5001);
    std::string data = random_bytes(2500, 1);
    std::string path = files.path + "/report.bin";
    write_file(path, data);

    ASSERT_EQ(offer_file(5001, path.c_str()), 0);
    std::string body;
    ASSERT_TRUE(p->expect(370, &body));
    EXPECT_EQ(body, "report.bin");
    EXPECT_STREQ(record(5001).send_file_path, path.c_str());
    EXPECT_STREQ(record(5001).send_file_name, "report.bin");

    ASSERT_TRUE(p->send_cmd(371, ""));
    note accepted;
    ASSERT_TRUE(rec.wait_for(41, &accepted));
    EXPECT_EQ(english(handle_file_notification(41, accepted.w, 0)),
              "sending file report.bin to Ann Lee(ann@example.org) now.");

    msg_header h;
    std::string got;
    ASSERT_TRUE(p->recv_cmd(&h, &body));
    ASSERT_EQ(h.command, 373);
    EXPECT_EQ(body, "report.bin");
    for (int expected_len : {1000, 1000, 500}) {
        ASSERT_TRUE(p->recv_cmd(&h, &body));
        ASSERT_EQ(h.command, 374);
        EXPECT_EQ(h.len, expected_len);
        got += body;
    }
    ASSERT_TRUE(p->recv_cmd(&h, &body));
    EXPECT_EQ(h.command, 375);
    EXPECT_EQ(h.len, 0);
    EXPECT_EQ(got, data);

    ASSERT_TRUE(wait_until([] { return file_send_threads_running() == 0; }));
    EXPECT_EQ(open_handles(path), 0) << "the sender closes the file after 375";
    file_progress prog;
    ASSERT_TRUE(file_send_progress(5001, &prog));
    EXPECT_TRUE(prog.finished);
    EXPECT_EQ(prog.bytes, 2500);
    EXPECT_EQ(prog.total, 2500);
    ASSERT_TRUE(wait_until([&] { return rec.count(NM_FILE_SEND_PROGRESS) >= 2; }));

    // The answer is used once: a repeated 371 sends nothing more.
    ASSERT_TRUE(p->send_cmd(371, ""));
    ASSERT_TRUE(wait_until([&] { return rec.count(41) == 2; }));
    EXPECT_EQ(english(handle_file_notification(41, 5001, 0)), "");
    EXPECT_FALSE(p->recv_cmd(&h, &body, 300) && h.command == 373);
}

// Offered the moment the contact showed Online, before its address came: the offer waits for
// the address and then goes out on a direct connection to it.
TEST_F(FileTransferTest, AnOfferMadeBeforeTheAddressArrivedWaitsForIt) {
    add_contact(5010);
    std::string there = test_block("127.8") + "2";
    socket_t listener = tcp_listen(there.c_str(), kPeerPort, 5);
    ASSERT_GT(listener, 0);
    std::string path = files.path + "/early.txt";
    write_file(path, "early");
    std::atomic<int> result{1};
    std::thread offer([&] { result = offer_file(5010, path.c_str()); });
    ASSERT_TRUE(wait_until([&] { return log_text().find("waiting for the address of peer_id:5010") != std::string::npos; }));
    std::string reply = id_body(5010) + ":" + there;
    ASSERT_EQ(query_online_reply_ip_from_server(reply.c_str(), static_cast<int>(reply.size())), 0);
    raw_peer contact;
    ASSERT_EQ(accept_ready(listener, 10000, &contact.fd), accept_result::accepted);
    std::string body;
    ASSERT_TRUE(contact.expect(370, &body));
    EXPECT_EQ(body, "early.txt");
    offer.join();
    EXPECT_EQ(result.load(), 0);
    close_socket(listener);
}

// Accepted while no way back to the sender exists (its connection gone, no relay route yet): the
// acceptance waits and goes out on the next connection from the sender.
TEST_F(FileTransferTest, AnAcceptanceWithNoWayBackWaitsForOne) {
    auto first = peer(5011);
    int asked = rec.count(40);
    ASSERT_TRUE(first->send_cmd(370, "late.txt"));
    ASSERT_TRUE(wait_until([&] { return rec.count(40) > asked; }));
    first.reset();
    ASSERT_TRUE(wait_until([] { return get_peer_sock_index(5011) < 0; }));
    ASSERT_EQ(file_offer_answer(5011, true, folder.c_str()), 0);
    ASSERT_TRUE(wait_until([&] { return log_text().find("no way yet to send 371 to peer_id:5011") != std::string::npos; }));
    raw_peer again;
    ASSERT_TRUE(again.connect_to(m_addr.c_str(), kPeerPort));
    ASSERT_TRUE(again.send_cmd(200, id_body(5011)));
    EXPECT_TRUE(again.expect(371));
}

TEST_F(FileTransferTest, EmptyFilesOnBothSides) {
    auto p = peer(5002);
    std::string path = files.path + "/empty.txt";
    write_file(path, "");
    ASSERT_EQ(offer_file(5002, path.c_str()), 0);
    ASSERT_TRUE(p->expect(370));
    ASSERT_TRUE(p->send_cmd(371, ""));
    ASSERT_TRUE(rec.wait_for(41));
    handle_file_notification(41, 5002, 0);
    msg_header h;
    std::string body;
    ASSERT_TRUE(p->recv_cmd(&h, &body));
    EXPECT_EQ(h.command, 373);
    ASSERT_TRUE(p->recv_cmd(&h, &body));
    EXPECT_EQ(h.command, 375) << "no data block for an empty file";

    // Receiving an empty file creates an empty file.
    std::string target = offer_and_accept(*p, 5002, "nothing.dat");
    EXPECT_EQ(target, folder + "/nothing.dat");
    ASSERT_TRUE(p->send_cmd(373, "nothing.dat"));
    ASSERT_TRUE(p->send_cmd(375, ""));
    ASSERT_TRUE(rec.wait_for(43));
    std::string saved;
    ASSERT_TRUE(read_file(target, &saved));
    EXPECT_EQ(saved, "");
    EXPECT_EQ(record(5002).recv_fd, nullptr);
}

TEST_F(FileTransferTest, ReceivedFileIsSavedShownAndFieldsEmptied) {
    auto p = peer(5003);
    std::string data = random_bytes(2500, 2);
    std::string target = offer_and_accept(*p, 5003, "photo.jpg");
    user_text question;
    ASSERT_EQ(file_offer_question(5003, &question, nullptr), 0);
    EXPECT_EQ(
        english(question),
        "Ann Lee(ann@example.org) want to send you a file named photo.jpg, do you want accept?");

    ASSERT_TRUE(p->send_cmd(373, "photo.jpg"));
    for (size_t at = 0; at < data.size(); at += 1000)
        ASSERT_TRUE(p->send_cmd(374, data.substr(at, 1000)));
    ASSERT_TRUE(p->send_cmd(375, ""));
    ASSERT_TRUE(rec.wait_for(43));
    std::string saved;
    ASSERT_TRUE(read_file(target, &saved));
    EXPECT_EQ(saved, data);
    EXPECT_EQ(open_handles(target), 0);
    file_progress prog;
    ASSERT_TRUE(file_recv_progress(5003, &prog));
    EXPECT_TRUE(prog.finished);
    EXPECT_EQ(prog.bytes, 2500);

    EXPECT_EQ(english(handle_file_notification(43, 5003, 0)),
              "File " + target + " saved successfully from Ann Lee (ann@example.org).");
    EXPECT_STREQ(record(5003).recv_file_path, "");
    EXPECT_STREQ(record(5003).recv_file_name, "");

    // A second 373 without a new accepted offer cannot overwrite the saved file.
    ASSERT_TRUE(p->send_cmd(373, "photo.jpg"));
    ASSERT_TRUE(p->expect(372));
    ASSERT_TRUE(read_file(target, &saved));
    EXPECT_EQ(saved, data);
}

TEST_F(FileTransferTest, RefusalsShowTheRefusalText) {
    auto p = peer(5004);
    std::string path = files.path + "/a.txt";
    write_file(path, "abc");
    ASSERT_EQ(offer_file(5004, path.c_str()), 0);
    ASSERT_TRUE(p->expect(370));
    ASSERT_TRUE(p->send_cmd(372, ""));
    note refused;
    ASSERT_TRUE(rec.wait_for(42, &refused));
    EXPECT_EQ(english(handle_file_notification(42, refused.w, 0)),
              "Ann Lee(ann@example.org) did not accept your file transfer.");
    // A late 371 after the refusal starts nothing.
    ASSERT_TRUE(p->send_cmd(371, ""));
    ASSERT_TRUE(rec.wait_for(41));
    EXPECT_EQ(english(handle_file_notification(41, 5004, 0)), "");
    EXPECT_EQ(file_send_threads_running(), 0);

    // The user saying No sends 372.
    ASSERT_TRUE(p->send_cmd(370, "b.txt"));
    ASSERT_TRUE(rec.wait_for(40));
    EXPECT_EQ(file_offer_answer(5004, false, nullptr), 0);
    EXPECT_TRUE(p->expect(372));
}

TEST_F(FileTransferTest, NamesFromTheNetworkStayInsideTheFolder) {
    EXPECT_EQ(safe_file_name("../../x", 127), "x");
    EXPECT_EQ(safe_file_name("..\\..\\win.ini", 127), "win.ini");
    EXPECT_EQ(safe_file_name("/etc/passwd", 127), "passwd");
    EXPECT_EQ(safe_file_name("", 127), "");
    EXPECT_EQ(safe_file_name(".", 127), "");
    EXPECT_EQ(safe_file_name("a/..", 127), "");
    EXPECT_EQ(safe_file_name("dir/", 127), "");
    EXPECT_EQ(safe_file_name(std::string(300, 'n').c_str(), 127), std::string(127, 'n'));

    auto p = peer(5005);
    std::string target = offer_and_accept(*p, 5005, "../../x");
    EXPECT_EQ(target, folder + "/x");
    ASSERT_TRUE(p->send_cmd(373, "../../x"));
    ASSERT_TRUE(p->send_cmd(374, "hello"));
    ASSERT_TRUE(p->send_cmd(375, ""));
    ASSERT_TRUE(rec.wait_for(43));
    EXPECT_FALSE(exists(files.path + "/x"));
    std::string saved;
    ASSERT_TRUE(read_file(folder + "/x", &saved));
    EXPECT_EQ(saved, "hello");
    handle_file_notification(43, 5005, 0);

    // An existing name, or a link planted under it, is never written through: a free name is taken.
    std::string outside = files.path + "/outside.txt";
    write_file(outside, "keep");
    ASSERT_EQ(symlink(outside.c_str(), (folder + "/y.txt").c_str()), 0);
    EXPECT_EQ(offer_and_accept(*p, 5005, "y.txt"), folder + "/y (1).txt");
    EXPECT_EQ(offer_and_accept(*p, 5005, "x"), folder + "/x (1)");

    // Names that are no names are refused without asking the user.
    for (const char* bad : {"", ".", "..", "../"}) {
        ASSERT_TRUE(p->send_cmd(370, bad));
        EXPECT_TRUE(p->expect(372)) << "name \"" << bad << "\"";
    }
    EXPECT_EQ(rec.count(40), 3);
    std::string kept;
    ASSERT_TRUE(read_file(outside, &kept));
    EXPECT_EQ(kept, "keep");
}

TEST(FileNames, OfferedNamesAreCleanedForTheFolderAndTheScreen) {
    EXPECT_EQ(safe_file_name("a\x01" "b\tc\n.txt", 127), "a_b_c_.txt");
    EXPECT_EQ(safe_file_name("\x1b[1;31mred\x1b[0m.txt", 127), "red.txt");
    EXPECT_EQ(safe_file_name("\x1b]0;owned\x07" "name\x1b" "c", 127), "name");
    EXPECT_EQ(safe_file_name("\xc2\x9b" "2Jx", 127), "x");  // the one-character CSI
    EXPECT_EQ(safe_file_name("\xe2\x80\xae" "fdp.exe", 127), "fdp.exe");
    EXPECT_EQ(safe_file_name("-rf", 127), "rf");
    EXPECT_EQ(safe_file_name("../.-. x", 127), "x");
    EXPECT_EQ(safe_file_name(".bashrc", 127), "bashrc");
    EXPECT_EQ(safe_file_name("dir/-- ", 127), "");
    EXPECT_EQ(safe_file_name("\x1b[2J", 127), "");
    EXPECT_EQ(safe_file_name("bad\xff" "byte \xc3\xa9", 127), "bad_byte \xc3\xa9");
    // A name cut inside a character by the sender's field, and one cut here.
    EXPECT_EQ(safe_file_name("caf\xc3\xa9\xe2\x82", 127), "caf\xc3\xa9");
    std::string wide = std::string(126, 'a') + "\xe2\x82\xac.txt";
    EXPECT_EQ(safe_file_name(wide.c_str(), 127), std::string(126, 'a'));
}

TEST_F(FileTransferTest, SameNamedFilesAreAllKeptAndNoOtherFileIsWrittenOver) {
    // Two contacts offer "same.txt"; both are accepted before either file exists.
    auto a = peer(5012);
    auto b = peer(5013);
    std::string target = folder + "/same.txt";
    ASSERT_EQ(offer_and_accept(*a, 5012, "same.txt"), target);
    ASSERT_EQ(offer_and_accept(*b, 5013, "same.txt"), target);
    // A file the user puts there after accepting is theirs.
    write_file(target, "mine");
    std::string from_a = random_bytes(3500, 3), from_b = random_bytes(2100, 4);
    ASSERT_TRUE(a->send_cmd(373, "same.txt"));
    ASSERT_TRUE(b->send_cmd(373, "same.txt"));
    for (size_t at = 0; at < 3500; at += 1000) {
        ASSERT_TRUE(a->send_cmd(374, from_a.substr(at, 1000)));
        if (at < from_b.size()) {
            ASSERT_TRUE(b->send_cmd(374, from_b.substr(at, 1000)));
        }
    }
    ASSERT_TRUE(b->send_cmd(375, ""));
    ASSERT_TRUE(a->send_cmd(375, ""));
    ASSERT_TRUE(wait_until([&] { return rec.count(43) == 2; }));

    std::string kept, got_a, got_b;
    ASSERT_TRUE(read_file(target, &kept));
    EXPECT_EQ(kept, "mine");
    file_progress pa, pb;
    ASSERT_TRUE(file_recv_progress(5012, &pa));
    ASSERT_TRUE(file_recv_progress(5013, &pb));
    EXPECT_NE(pa.path, pb.path);
    for (const file_progress* p : {&pa, &pb}) {
        EXPECT_NE(p->path, target);
        EXPECT_EQ(p->path, folder + "/" + p->name);
        EXPECT_TRUE(p->name == "same (1).txt" || p->name == "same (2).txt") << p->name;
    }
    ASSERT_TRUE(read_file(pa.path, &got_a));
    ASSERT_TRUE(read_file(pb.path, &got_b));
    EXPECT_TRUE(got_a == from_a) << "the bytes of " << pa.path;
    EXPECT_TRUE(got_b == from_b) << "the bytes of " << pb.path;
    // Each is reported under the name it has, and the log says why.
    EXPECT_EQ(english(handle_file_notification(43, 5012, 0)),
              "File " + pa.path + " saved successfully from Ann Lee (ann@example.org).");
    EXPECT_STREQ(record(5012).recv_file_path, "");
    EXPECT_NE(log_text().find(target + " exists, the file from peer_id:5012 is saved as " + pa.path),
              std::string::npos);

    // A file chosen in a save dialog that exists when the file begins is kept as well.
    ASSERT_TRUE(a->send_cmd(370, "again.txt"));
    ASSERT_TRUE(wait_until([&] { return rec.count(40) == 3; }));
    std::string chosen = folder + "/chosen.txt";
    ASSERT_EQ(file_offer_accept_as(5012, chosen.c_str()), 0);
    ASSERT_TRUE(a->expect(371));
    write_file(chosen, "mine too");
    ASSERT_TRUE(a->send_cmd(373, "again.txt"));
    ASSERT_TRUE(a->send_cmd(374, "theirs"));
    ASSERT_TRUE(a->send_cmd(375, ""));
    ASSERT_TRUE(wait_until([&] { return rec.count(43) == 3; }));
    ASSERT_TRUE(read_file(chosen, &kept));
    EXPECT_EQ(kept, "mine too");
    ASSERT_TRUE(read_file(folder + "/chosen (1).txt", &kept));
    EXPECT_EQ(kept, "theirs");

    // A numbered long name is cut before the number, never inside a character.
    std::string wide = std::string(118, 'w') + "\xe2\x82\xac.txt";
    write_file(folder + "/" + wide, "x");
    EXPECT_EQ(offer_and_accept(*b, 5013, wide), folder + "/" + std::string(118, 'w') + " (1).txt");

    // A part kept as incomplete does not replace a file of that name either.
    std::string part = offer_and_accept(*a, 5012, "part.bin");
    write_file(part + ".incomplete", "older");
    ASSERT_TRUE(a->send_cmd(373, "part.bin"));
    ASSERT_TRUE(a->send_cmd(374, "half"));
    file_progress pp;
    ASSERT_TRUE(wait_until([&] { return file_recv_progress(5012, &pp) && pp.bytes == 4; }));
    stop_file_transfers();
    ASSERT_TRUE(read_file(part + ".incomplete", &kept));
    EXPECT_EQ(kept, "older");
    ASSERT_TRUE(read_file(part + " (1).incomplete", &kept));
    EXPECT_EQ(kept, "half");
}

TEST_F(FileTransferTest, FilesThatCannotBeOpenedEndTheTransferCleanly) {
    auto p = peer(5006);
    // The sender: the offered file was removed before the answer came.
    std::string path = files.path + "/gone.bin";
    write_file(path, "xyz");
    ASSERT_EQ(offer_file(5006, path.c_str()), 0);
    ASSERT_TRUE(p->expect(370));
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_TRUE(p->send_cmd(371, ""));
    ASSERT_TRUE(rec.wait_for(41));
    handle_file_notification(41, 5006, 0);
    note failed;
    ASSERT_TRUE(rec.wait_for(NM_FILE_SEND_FAILED, &failed));
    EXPECT_EQ(failed.l, FILE_SEND_OPEN_FAILED);
    EXPECT_EQ(english(handle_file_notification(NM_FILE_SEND_FAILED, 5006, failed.l)),
              "Could not open file " + path + " to send it to Ann Lee(ann@example.org).");
    EXPECT_NE(log_text().find("could not open file " + path + " in send_file_to_peer_thread"),
              std::string::npos);
    msg_header h;
    std::string body;
    EXPECT_FALSE(p->recv_cmd(&h, &body, 300) && h.command == 373) << "nothing is sent";

    // The receiver: a save path that cannot be created is refused at once.
    ASSERT_TRUE(p->send_cmd(370, "r.bin"));
    ASSERT_TRUE(rec.wait_for(40));
    EXPECT_EQ(file_offer_accept_as(5006, (files.path + "/no/such/dir/r.bin").c_str()), -1);
    EXPECT_TRUE(p->expect(372));

    // ... and one that becomes unusable before 373 is refused then, its blocks dropped quietly.
    std::string sub = folder + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    ASSERT_EQ(file_offer_answer(5006, true, sub.c_str()), 0);
    ASSERT_TRUE(p->expect(371));
    ASSERT_EQ(rmdir(sub.c_str()), 0);
    ASSERT_TRUE(p->send_cmd(373, "r.bin"));
    ASSERT_TRUE(p->expect(372));
    for (int i = 0; i < 5; i++) ASSERT_TRUE(p->send_cmd(374, "data"));
    ASSERT_TRUE(p->send_cmd(375, ""));
    ASSERT_TRUE(
        wait_until([&] { return log_text().find("end of a refused file") != std::string::npos; }));
    EXPECT_EQ(count_of(log_text(), "recv_fd is NULL"), 0u);
    EXPECT_EQ(rec.count(43), 0);
}

TEST_F(FileTransferTest, SilentTransferIsClosedAsIncompleteAfterAMinute) {
    set_tick_source(fake_tick);
    g_now = 1000;
    auto p = peer(5007);
    std::string target = offer_and_accept(*p, 5007, "big.iso");
    std::string data = random_bytes(1500, 3);
    ASSERT_TRUE(p->send_cmd(373, "big.iso"));
    ASSERT_TRUE(p->send_cmd(374, data.substr(0, 1000)));
    ASSERT_TRUE(p->send_cmd(374, data.substr(1000)));
    ASSERT_TRUE(wait_until([] {
        file_progress prog;
        return file_recv_progress(5007, &prog) && prog.bytes == 1500;
    }));
    EXPECT_NE(record(5007).recv_fd, nullptr);

    EXPECT_EQ(file_transfer_watchdog_pass(1000 + kFileIdleLimitMs - 1), 0);
    EXPECT_TRUE(exists(target));
    g_now = 1000 + kFileIdleLimitMs;
    file_transfer_watchdog_pass(g_now);  // the watchdog thread may have been first
    note incomplete;
    ASSERT_TRUE(rec.wait_for(NM_FILE_RECV_INCOMPLETE, &incomplete));
    EXPECT_EQ(incomplete.w, 5007);
    EXPECT_EQ(incomplete.l, FILE_INCOMPLETE_NO_DATA);
    EXPECT_EQ(record(5007).recv_fd, nullptr);
    EXPECT_FALSE(exists(target));
    std::string kept;
    ASSERT_TRUE(read_file(target + ".incomplete", &kept));
    EXPECT_EQ(kept, data);
    EXPECT_EQ(open_handles(target + ".incomplete"), 0);
    EXPECT_EQ(english(handle_file_notification(NM_FILE_RECV_INCOMPLETE, 5007, incomplete.l)),
              "The file big.iso from Ann Lee(ann@example.org) did not arrive completely; the part "
              "received is kept as " +
                  target + ".incomplete.");

    // Late blocks and the end are dropped; nothing is reported as saved.
    ASSERT_TRUE(p->send_cmd(374, "late"));
    ASSERT_TRUE(p->send_cmd(375, ""));
    ASSERT_TRUE(
        wait_until([&] { return log_text().find("end of a refused file") != std::string::npos; }));
    EXPECT_EQ(rec.count(43), 0);
    EXPECT_FALSE(exists(target));
}

TEST_F(FileTransferTest, TransferOnAClosedConnectionIsClosedAsIncomplete) {
    auto p = peer(5008);
    std::string target = offer_and_accept(*p, 5008, "part.bin");
    // The handlers called as the direct reader calls them, with the path and the connection.
    int index = get_peer_sock_index(5008);
    ASSERT_GE(index, 0);
    ASSERT_EQ(do_file_transfer_begin_from_peer("part.bin", 8, 5008, PEER_PATH_DIRECT, index), 0);
    ASSERT_EQ(do_file_transfer_cont_from_peer("12345", 5, 5008, PEER_PATH_DIRECT, index), 0);
    EXPECT_EQ(file_transfer_watchdog_pass(get_tick_count()), 0) << "the connection is still open";

    p.reset();  // the sender goes away
    ASSERT_TRUE(wait_until([] { return get_peer_sock_index(5008) < 0; }));
    note incomplete;
    ASSERT_TRUE(rec.wait_for(NM_FILE_RECV_INCOMPLETE, &incomplete, 5000))
        << "the watchdog thread notices";
    EXPECT_EQ(incomplete.l, FILE_INCOMPLETE_PATH_FAILED);
    std::string kept;
    ASSERT_TRUE(read_file(target + ".incomplete", &kept));
    EXPECT_EQ(kept, "12345");
    EXPECT_EQ(record(5008).recv_fd, nullptr);
    EXPECT_EQ(open_handles(target + ".incomplete"), 0);
}

TEST_F(FileTransferTest, ProgressIsReportedAtAModestRate) {
    set_tick_source(fake_tick);
    g_now = 5000;
    auto p = peer(5009);
    std::string target = offer_and_accept(*p, 5009, "prog.bin");
    std::string block(1000, 'p');
    ASSERT_EQ(do_file_transfer_begin_from_peer("prog.bin", 8, 5009), 0);
    for (int i = 0; i < 100; i++)
        ASSERT_EQ(do_file_transfer_cont_from_peer(block.data(), 1000, 5009), 0);
    EXPECT_EQ(rec.count(NM_FILE_RECV_PROGRESS), 1) << "only the start within the first 250 ms";
    g_now += kFileProgressMs;
    ASSERT_EQ(do_file_transfer_cont_from_peer(block.data(), 1000, 5009), 0);
    EXPECT_EQ(rec.count(NM_FILE_RECV_PROGRESS), 2);
    ASSERT_EQ(do_file_transfer_end_from_peer("", 0, 5009), 0);
    EXPECT_EQ(rec.count(NM_FILE_RECV_PROGRESS), 3) << "and at the end";
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 101000);

    // Without a transfer, data is logged and dropped.
    ASSERT_EQ(do_file_transfer_cont_from_peer("x", 1, 5009), -1);
    EXPECT_NE(log_text().find("recv_fd is NULL in do_file_transfer_cont_from_peer."),
              std::string::npos);
    EXPECT_EQ(do_file_transfer_cont_from_peer("x", 1, 9999), -1);
    EXPECT_NE(log_text().find(
                  "could not find peer index in do_file_transfer_cont_from_peer, peer_id:9999"),
              std::string::npos);
}
