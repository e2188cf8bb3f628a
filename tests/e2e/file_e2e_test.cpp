// File transfer between two headless clients: files of every size arrive byte for byte, a name
// from the network cannot leave the chosen folder, and a sender that dies mid-file leaves a file
// marked incomplete and no open handle in the receiver.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sodium.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "protocol/framing.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
// The big file through the relay: full size in the plain build; under a sanitizer, which slows
// every byte through three processes, a smaller one that still spans many blocks and progress
// reports.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr size_t kRelayBigFile = 8u << 20;
#else
constexpr size_t kRelayBigFile = 50u << 20;
#endif

using namespace e2e;

std::string sha256_of_file(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "missing";
    crypto_hash_sha256_state st;
    crypto_hash_sha256_init(&st);
    std::vector<unsigned char> buf(1 << 16);
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) crypto_hash_sha256_update(&st, buf.data(), n);
    std::fclose(f);
    unsigned char out[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&st, out);
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof(hex), out, sizeof(out));
    return hex;
}

void write_random_file(const std::string& path, size_t size, unsigned seed) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::mt19937_64 gen(seed);
    std::vector<uint64_t> chunk(8192);
    size_t left = size;
    while (left > 0) {
        for (auto& w : chunk) w = gen();
        size_t n = std::min(left, chunk.size() * sizeof(uint64_t));
        ASSERT_EQ(std::fwrite(chunk.data(), 1, n, f), n);
        left -= n;
    }
    std::fclose(f);
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Descriptors of process pid that refer to a path starting with prefix.
int open_handles(pid_t pid, const std::string& prefix) {
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(dir.c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d)) {
        char link[4096];
        ssize_t len = readlink((dir + "/" + e->d_name).c_str(), link, sizeof(link) - 1);
        if (len <= 0) continue;
        link[len] = '\0';
        n += std::string(link).rfind(prefix, 0) == 0;
    }
    closedir(d);
    return n;
}

std::string quoted(const std::string& key, const std::string& value) {
    return "\"" + key + "\":\"" + value + "\"";
}

// A peer speaking the framed protocol on a plain socket, to offer what a client never would.
struct raw_peer {
    int fd = -1;
    ~raw_peer() {
        if (fd >= 0) close(fd);
    }
    bool connect_to(const std::string& address) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(8188);
        inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        return fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
    }
    bool send_cmd(int command, const std::string& body) {
        std::string msg(kHeaderLen + body.size(), '\0');
        build_message(msg.data(), static_cast<int>(msg.size()), 0, 0, command, body.data(),
                      static_cast<int>(body.size()));
        xor_scramble(msg.data() + kHeaderLen, static_cast<long>(body.size()));
        return write(fd, msg.data(), msg.size()) == static_cast<ssize_t>(msg.size());
    }
    bool read_exact(char* out, size_t n, int ms) {
        size_t got = 0;
        while (got < n) {
            fd_set rd;
            FD_ZERO(&rd);
            FD_SET(fd, &rd);
            timeval tv{ms / 1000, (ms % 1000) * 1000};
            if (select(fd + 1, &rd, nullptr, nullptr, &tv) <= 0) return false;
            ssize_t r = read(fd, out + got, n - got);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    // Reads messages until one with the command arrives.
    bool expect(int command, int ms = 10000) {
        char head[kHeaderLen + 1] = {};
        while (read_exact(head, kHeaderLen, ms)) {
            msg_header h;
            if (parse_header(head, &h) != 0) return false;
            std::string body(static_cast<size_t>(h.len), '\0');
            if (h.len > 0 && !read_exact(body.data(), body.size(), ms)) return false;
            if (h.command == command) return true;
        }
        return false;
    }
};

}  // namespace

class FileTransferE2E : public e2e_fixture {
protected:
    // Server on block.1, Ann on block.2, Bob on block.3, both signed in and contacts of each
    // other; Bob started with --accept-files inbox when flagged.
    void start_pair(const std::string& block, bool bob_accepts = false) {
        start_server(block + "1");
        inbox = m_dir + "/inbox";
        outbox = m_dir + "/outbox";
        mkdir(inbox.c_str(), 0755);
        mkdir(outbox.c_str(), 0755);
        ann = &client(block + "1", block + "2", "ann");
        std::vector<std::string> flags;
        if (bob_accepts) flags = {"--accept-files", inbox};
        bob = &client(block + "1", block + "3", "bob", flags);
        ann_id = register_and_login(*ann, "ann@example.org", "ann");
        bob_id = register_and_login(*bob, "bob@example.org", "bob");
        befriend(*ann, ann_id, *bob, bob_id, "bob@example.org");
    }
    // Ann sends outbox/name; Bob (saving into inbox) reports it saved. Returns Bob's saved line.
    std::string send_and_wait(const std::string& name, int ms = 60000) {
        ann->write_line("send-file " + std::to_string(bob_id) + " " + outbox + "/" + name);
        EXPECT_FALSE(ann->wait_line({quoted("ok", "send-file")}).empty());
        std::string saved = bob->wait_line({quoted("event", "file_saved"), quoted("name", name)}, ms);
        EXPECT_FALSE(saved.empty()) << name << " not saved";
        // The next offer waits until the sending thread has ended.
        EXPECT_FALSE(ann->wait_line({quoted("event", "file_send_progress"), quoted("name", name),
                                     "\"finished\":true"},
                                    ms)
                         .empty())
            << name << " not reported sent";
        return saved;
    }
    // Ann offers Bob outbox/big.bin, a sparse 8 GB file (read fast, long enough to be cut
    // part-way), and Bob has received some of it.
    void start_big_transfer() {
        std::string big = outbox + "/big.bin";
        int fd = open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 8LL << 30), 0);
        close(fd);
        ann->write_line("send-file " + std::to_string(bob_id) + " " + big);
        bool moving = false;
        for (int i = 0; i < 200 && !moving; i++) {
            std::string l = bob->wait_line({quoted("event", "file_recv_progress")}, 15000);
            ASSERT_FALSE(l.empty()) << "no progress from the receiver";
            moving = json_int(l, "bytes") > 0;
        }
        ASSERT_TRUE(moving);
    }
    std::string inbox;
    std::string outbox;
    child_process* ann = nullptr;
    child_process* bob = nullptr;
    int ann_id = 0;
    int bob_id = 0;
};

TEST_F(FileTransferE2E, FilesOfEverySizeArriveIdenticalOnTheDirectPath) {
    start_pair((testsupport::loopback_block() + "."));
    const std::vector<std::pair<std::string, size_t>> files = {
        {"f0.bin", 0}, {"f1.bin", 1}, {"f1000.bin", 1000}, {"f1001.bin", 1001}, {"f50m.bin", 50u << 20}};
    unsigned seed = 1;
    for (const auto& f : files) write_random_file(outbox + "/" + f.first, f.second, seed++);

    // Without a standing answer the offer is a question; a refusal reaches the sender as 209.
    ann->write_line("send-file " + std::to_string(bob_id) + " " + outbox + "/f1.bin");
    std::string q = bob->wait_line({quoted("question", "file_offer"), quoted("name", "f1.bin")});
    ASSERT_FALSE(q.empty());
    EXPECT_NE(q.find("Firstann Lastann(ann@example.org) want to send you a file named f1.bin"),
              std::string::npos)
        << q;
    bob->write_line("refuse-file " + std::to_string(ann_id));
    std::string refused = ann->wait_line({quoted("event", "file_refused")});
    ASSERT_FALSE(refused.empty());
    EXPECT_NE(refused.find("Firstbob Lastbob(bob@example.org) did not accept your file transfer."),
              std::string::npos)
        << refused;

    // Accepted by command into a folder.
    ann->write_line("send-file " + std::to_string(bob_id) + " " + outbox + "/f1.bin");
    ASSERT_FALSE(bob->wait_line({quoted("question", "file_offer"), quoted("name", "f1.bin")}).empty());
    bob->write_line("accept-file " + std::to_string(ann_id) + " " + inbox);
    std::string saved = bob->wait_line({quoted("event", "file_saved"), quoted("name", "f1.bin")}, 20000);
    ASSERT_FALSE(saved.empty());
    EXPECT_NE(saved.find(quoted("path", inbox + "/f1.bin")), std::string::npos) << saved;
    EXPECT_NE(saved.find("saved successfully from Firstann Lastann (ann@example.org)"), std::string::npos);
    EXPECT_EQ(sha256_of_file(inbox + "/f1.bin"), sha256_of_file(outbox + "/f1.bin"));
    ASSERT_FALSE(ann->wait_line({quoted("event", "file_send_progress"), "\"finished\":true"}).empty());
    std::string accepted = ann->wait_line({quoted("event", "file_accepted")});
    EXPECT_NE(accepted.find("sending file f1.bin to Firstbob Lastbob(bob@example.org) now."),
              std::string::npos)
        << accepted;

    // From now on every offer is saved into the folder at once.
    bob->write_line("accept-files " + inbox);
    ASSERT_FALSE(bob->wait_line({quoted("ok", "accept-files")}).empty());
    for (const auto& f : files) {
        if (f.first == "f1.bin") continue;
        send_and_wait(f.first);
        EXPECT_EQ(sha256_of_file(inbox + "/" + f.first), sha256_of_file(outbox + "/" + f.first))
            << f.first;
    }
    struct stat st;
    ASSERT_EQ(stat((inbox + "/f0.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);

    // The big file's progress was printed on both sides (at its start, at most every 250 ms while
    // it moved, and at its end): the sender with the size, the receiver with the bytes written.
    int sender_lines = 0;
    for (const auto& l : ann->lines())
        if (l.find(quoted("event", "file_send_progress")) != std::string::npos &&
            l.find(quoted("name", "f50m.bin")) != std::string::npos &&
            l.find("\"total\":52428800") != std::string::npos)
            sender_lines++;
    EXPECT_GE(sender_lines, 2);
    bool receiver_end = false;
    for (const auto& l : bob->lines())
        if (l.find(quoted("event", "file_recv_progress")) != std::string::npos &&
            l.find(quoted("name", "f50m.bin")) != std::string::npos &&
            l.find("\"bytes\":52428800") != std::string::npos)
            receiver_end = true;
    EXPECT_TRUE(receiver_end);
}

TEST_F(FileTransferE2E, HostileNamesLandInsideTheChosenFolder) {
    start_pair((testsupport::loopback_block() + "."));
    bob->write_line("accept-files " + inbox);
    ASSERT_FALSE(bob->wait_line({quoted("ok", "accept-files")}).empty());
    // Ann's client leaves; a raw peer takes her id on a direct connection to Bob.
    ann->write_line("quit");
    ASSERT_FALSE(ann->wait_line({quoted("event", "bye")}).empty());
    ann->stop();
    sleep(1);

    raw_peer p;
    ASSERT_TRUE(p.connect_to(testsupport::loopback_host(3)));
    char id[16];
    std::snprintf(id, sizeof(id), "%10d", ann_id);
    ASSERT_TRUE(p.send_cmd(200, id));
    ASSERT_TRUE(p.expect(200));

    ASSERT_TRUE(p.send_cmd(370, ".."));
    EXPECT_TRUE(p.expect(372)) << "a name that is no file name is refused";

    bool tmp_x_before = exists("/tmp/x");
    ASSERT_TRUE(p.send_cmd(370, "../../x"));
    ASSERT_TRUE(p.expect(371));
    ASSERT_TRUE(p.send_cmd(373, "../../x"));
    ASSERT_TRUE(p.send_cmd(374, "landed"));
    ASSERT_TRUE(p.send_cmd(375, ""));
    std::string saved = bob->wait_line({quoted("event", "file_saved")});
    ASSERT_FALSE(saved.empty());
    EXPECT_NE(saved.find(quoted("path", inbox + "/x")), std::string::npos) << saved;
    FILE* f = std::fopen((inbox + "/x").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof(buf), f), 6u);
    std::fclose(f);
    EXPECT_STREQ(buf, "landed");
    EXPECT_FALSE(exists(m_dir + "/x"));
    EXPECT_EQ(exists("/tmp/x"), tmp_x_before) << "a file escaped to /tmp/x";

    // Backslashes separate too.
    ASSERT_TRUE(p.send_cmd(370, "..\\..\\evil.txt"));
    ASSERT_TRUE(p.expect(371));
    ASSERT_TRUE(p.send_cmd(373, "..\\..\\evil.txt"));
    ASSERT_TRUE(p.send_cmd(375, ""));
    ASSERT_FALSE(bob->wait_line({quoted("event", "file_saved"), quoted("path", inbox + "/evil.txt")}).empty());
}

TEST_F(FileTransferE2E, KilledSenderLeavesAnIncompleteFileAndNoHandle) {
    start_pair((testsupport::loopback_block() + "."), true);

    ASSERT_NO_FATAL_FAILURE(start_big_transfer());
    ASSERT_EQ(kill(ann->pid(), SIGKILL), 0);

    std::string inc = bob->wait_line({quoted("event", "file_incomplete")}, 20000);
    ASSERT_FALSE(inc.empty()) << "the receiver did not close the transfer";
    EXPECT_NE(inc.find(quoted("reason", "connection closed")), std::string::npos) << inc;
    EXPECT_NE(inc.find(quoted("path", inbox + "/big.bin.incomplete")), std::string::npos) << inc;
    EXPECT_NE(inc.find("did not arrive completely"), std::string::npos) << inc;
    EXPECT_TRUE(exists(inbox + "/big.bin.incomplete"));
    EXPECT_FALSE(exists(inbox + "/big.bin"));
    struct stat st;
    ASSERT_EQ(stat((inbox + "/big.bin.incomplete").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 0);
    EXPECT_LT(st.st_size, 8LL << 30);
    EXPECT_EQ(open_handles(bob->pid(), inbox), 0) << "the receiver still holds the file open";
}

// Neither client accepts peer connections, so everything goes through a third client's relay:
// once a chat line travels that way, files of every size follow the same path intact.
TEST_F(FileTransferE2E, FilesOfEverySizeArriveIdenticalThroughARelay) {
    const std::string block = (testsupport::loopback_block() + ".");
    start_server(block + "1");
    inbox = m_dir + "/inbox";
    outbox = m_dir + "/outbox";
    mkdir(inbox.c_str(), 0755);
    mkdir(outbox.c_str(), 0755);
    child_process& cat = client(block + "1", block + "4", "cat", {"--relay-ports", "7080,7443,8199"});
    register_and_login(cat, "cat@example.org", "cat");
    ann = &client(block + "1", block + "2", "ann", {"--no-peer-listener"});
    bob = &client(block + "1", block + "3", "bob", {"--no-peer-listener", "--accept-files", inbox});
    ann_id = register_and_login(*ann, "ann@example.org", "ann");
    bob_id = register_and_login(*bob, "bob@example.org", "bob");
    befriend(*ann, ann_id, *bob, bob_id, "bob@example.org");

    // Routes through the relay come with the periodic exchange, one direction at a time; until then
    // lines go as datagrams. The answer to an offer (371) travels back the other way, so both
    // directions must have their route before a file is offered.
    ASSERT_FALSE(send_until_relayed(*ann, bob_id, *bob, "route a").empty()) << "no route from ann through the relay";
    ASSERT_FALSE(send_until_relayed(*bob, ann_id, *ann, "route b").empty()) << "no route from bob through the relay";

    const std::vector<std::pair<std::string, size_t>> files = {
        {"r0.bin", 0}, {"r1.bin", 1}, {"r1000.bin", 1000}, {"r1001.bin", 1001}, {"r50m.bin", kRelayBigFile}};
    unsigned seed = 11;
    for (const auto& f : files) {
        write_random_file(outbox + "/" + f.first, f.second, seed++);
        send_and_wait(f.first, 120000);
        EXPECT_EQ(sha256_of_file(inbox + "/" + f.first), sha256_of_file(outbox + "/" + f.first)) << f.first;
    }
    // The sender's log names the path it chose for the file.
    bool through_relay = false;
    FILE* log = std::fopen((m_dir + "/ann/dbg_log.txt").c_str(), "r");
    ASSERT_NE(log, nullptr);
    char line[1024];
    while (std::fgets(line, sizeof(line), log)) {
        std::string l = line;
        if (l.find("r50m.bin to peer_id:") != std::string::npos &&
            l.find("through the slave server") != std::string::npos)
            through_relay = true;
    }
    std::fclose(log);
    EXPECT_TRUE(through_relay) << "the file did not take the relay";
}

// Three files offered at once: one transfer per contact, so the later two are refused at once
// with a message, and the one that goes keeps its own name and size in every progress line.
TEST_F(FileTransferE2E, FurtherOffersWhileAFileGoesAreRefusedAtOnce) {
    start_pair((testsupport::loopback_block() + "."), true);
    const std::vector<std::pair<std::string, size_t>> files = {
        {"a.bin", 8u << 20}, {"b.bin", 3000}, {"c.bin", 5000}};
    unsigned seed = 21;
    for (const auto& f : files) write_random_file(outbox + "/" + f.first, f.second, seed++);
    for (const auto& f : files)
        ann->write_line("send-file " + std::to_string(bob_id) + " " + outbox + "/" + f.first);
    ASSERT_FALSE(ann->wait_line({quoted("ok", "send-file"), "a.bin"}).empty());
    for (int i = 0; i < 2; i++) {
        std::string refused =
            ann->wait_line({quoted("action", "send_file"), "\"ok\":false", "is still being offered or sent"});
        EXPECT_FALSE(refused.empty()) << "offer " << i + 2 << " was not refused";
    }
    ASSERT_FALSE(
        bob->wait_line({quoted("event", "file_saved"), quoted("name", "a.bin")}, 60000).empty());
    EXPECT_EQ(sha256_of_file(inbox + "/a.bin"), sha256_of_file(outbox + "/a.bin"));
    ASSERT_FALSE(ann->wait_line({quoted("event", "file_send_progress"), "\"finished\":true"}, 60000)
                     .empty());
    for (const auto& l : ann->lines())
        if (l.find(quoted("event", "file_send_progress")) != std::string::npos) {
            EXPECT_NE(l.find(quoted("name", "a.bin")), std::string::npos) << l;
            EXPECT_NE(l.find("\"total\":8388608"), std::string::npos) << l;
        }
    // Once it ended the next one goes.
    send_and_wait("b.bin");
    EXPECT_EQ(sha256_of_file(inbox + "/b.bin"), sha256_of_file(outbox + "/b.bin"));
}

// Ann and Bob without peer listeners, a third client's relay between them, routes both ways;
// Bob saves into inbox. Then Ann starts an 8 GB sparse file and waits until bytes arrive.
class RelayedFileE2E : public FileTransferE2E {
protected:
    void start_relayed_transfer(const std::string& block) {
        start_server(block + "1");
        inbox = m_dir + "/inbox";
        outbox = m_dir + "/outbox";
        mkdir(inbox.c_str(), 0755);
        mkdir(outbox.c_str(), 0755);
        child_process& cat =
            client(block + "1", block + "4", "cat", {"--relay-ports", "7080,7443,8199"});
        register_and_login(cat, "cat@example.org", "cat");
        ann = &client(block + "1", block + "2", "ann", {"--no-peer-listener"});
        bob = &client(block + "1", block + "3", "bob",
                      {"--no-peer-listener", "--accept-files", inbox});
        ann_id = register_and_login(*ann, "ann@example.org", "ann");
        bob_id = register_and_login(*bob, "bob@example.org", "bob");
        befriend(*ann, ann_id, *bob, bob_id, "bob@example.org");
        ASSERT_FALSE(send_until_relayed(*ann, bob_id, *bob, "route a").empty());
        ASSERT_FALSE(send_until_relayed(*bob, ann_id, *ann, "route b").empty());
        ASSERT_NO_FATAL_FAILURE(start_big_transfer());
    }
};

// The receiver quits mid-file: the sender stops and says so instead of reporting the file sent.
TEST_F(RelayedFileE2E, SenderStopsWhenTheReceiverQuits) {
    start_relayed_transfer((testsupport::loopback_block() + "."));
    ASSERT_EQ(kill(bob->pid(), SIGKILL), 0);
    std::string failed = ann->wait_line({quoted("event", "file_send_failed")}, 30000);
    ASSERT_FALSE(failed.empty()) << "the sender did not notice the receiver leaving";
    EXPECT_NE(failed.find("stopped before the end"), std::string::npos) << failed;
    EXPECT_TRUE(
        ann->wait_line({quoted("event", "file_send_progress"), "\"finished\":true"}, 1).empty());
}

// The sender dies mid-file: no connection of the receiver ends, yet it closes the transfer as
// incomplete well before a minute of silence.
TEST_F(RelayedFileE2E, ReceiverClosesASilentTransfer) {
    start_relayed_transfer((testsupport::loopback_block() + "."));
    ASSERT_EQ(kill(ann->pid(), SIGKILL), 0);
    std::string inc = bob->wait_line({quoted("event", "file_incomplete")}, 35000);
    ASSERT_FALSE(inc.empty()) << "the receiver did not close the transfer";
    EXPECT_NE(inc.find(quoted("path", inbox + "/big.bin.incomplete")), std::string::npos) << inc;
    EXPECT_EQ(open_handles(bob->pid(), inbox), 0) << "the receiver still holds the file open";
}
