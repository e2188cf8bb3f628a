// The real parlo-server program: durability across SIGKILL, clean exit on SIGTERM, notices on
// SIGUSR1, and its command line.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/server/server_fixture.h"
#include "tests/support/file_watch.h"

namespace srvtest {
namespace {

// A listen address of this test process alone, so that the fixed port 9015 is free.
std::string process_address() {
    int pid = getpid();
    return "127." + std::to_string(6 + (pid >> 16)) + "." + std::to_string((pid >> 8) & 255) + "." +
           std::to_string((pid & 255) | 1);
}

class ServerProcess {
public:
    ServerProcess(const std::string& db, const std::string& log, std::vector<std::string> extra)
        : m_addr(process_address()) {
        std::vector<std::string> args = {PARLO_SERVER_BIN, "--listen", m_addr,       "--db", db,
                                         "--log",          log,        "--fast-hash"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_pid = fork();
        if (m_pid == 0) {
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~ServerProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // Waits until the server accepts connections.
    bool wait_ready() {
        for (int i = 0; i < 200; i++) {
            RawClient probe;
            if (probe.connect_to(m_addr, 9015)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    std::unique_ptr<RawClient> login(const std::string& email) {
        auto c = std::make_unique<RawClient>(m_addr, 9015);
        c->send(130, email + ":demo1234");
        auto msgs = c->until(131);
        EXPECT_TRUE(!msgs.empty() && msgs.back().command == 131) << email;
        return c;
    }
    std::unique_ptr<RawClient> connect() { return std::make_unique<RawClient>(m_addr, 9015); }
    void signal(int sig) { kill(m_pid, sig); }
    const std::string& address() const { return m_addr; }
    // The server's resident memory in kB (VmRSS), or -1.
    long rss_kb() const {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return -1;
    }
    // Waits for the exit; returns the exit status, or -1 when it was killed or did not end.
    int wait_exit() {
        int status = 0;
        for (int i = 0; i < 200; i++) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return -1;
    }

private:
    std::string m_addr;
    pid_t m_pid = -1;
};

struct TempFiles {
    std::string db = temp_db_path("proc");
    std::string log = db + ".log";
    std::string notice = db + ".notice";
    ~TempFiles() {
        remove_db(db);
        std::remove(log.c_str());
        std::remove(notice.c_str());
    }
};

int user_id(RawClient& c, const std::string& email) {
    c.send(260, email);
    auto msgs = c.until(265);
    return msgs.empty() ? 0 : std::stoi(msgs.front().body);
}

TEST(ServerProcess, AcknowledgedDataSurvivesSigkill) {
    TempFiles files;
    int carol = 0, alice = 0;
    {
        ServerProcess p(files.db, files.log, {"--seed-demo"});
        ASSERT_TRUE(p.wait_ready());
        auto a = p.login("alice@example.com");
        carol = user_id(*a, "carol@example.com");
        alice = user_id(*a, "alice@example.com");
        a->send(310, "Club");
        ASSERT_EQ(a->recv().command, 311);
        a->send(280, f10(carol) + ":" + f10(0));
        ASSERT_EQ(a->recv().command, 281);
        auto h = p.connect();
        h->send(330, f10(carol) + ":" + f10(alice));
        h->send(331, "kept across a crash");
        h->send(332, f10(carol) + ":" + f10(alice));
        h->send(185, f10(carol));  // answered only after the message was handled
        ASSERT_EQ(h->until(188).back().command, 188);
        p.signal(SIGKILL);
        p.wait_exit();
    }
    ServerProcess p(files.db, files.log, {"--seed-demo"});
    ASSERT_TRUE(p.wait_ready());
    auto c = p.login("carol@example.com");
    c->send(170);
    auto list = c->until(173);
    bool found = false;
    for (const Msg& m : list)
        if (m.command == 179 && m.body == f10(alice) + ":4") found = true;
    EXPECT_TRUE(found) << "Alice's request to Carol was lost";
    c->send(343);
    auto msgs = c->until(347);
    std::string text;
    for (const Msg& m : msgs)
        if (m.command == 346) text += m.body;
    EXPECT_EQ(text, "kept across a crash");
    auto a = p.login("alice@example.com");
    a->send(160);
    bool club = false;
    for (const Msg& m : a->until(163))
        if (m.command == 162 && m.body.substr(11) == "Club") club = true;
    EXPECT_TRUE(club);
}

TEST(ServerProcess, NoticeSignalAndCleanShutdown) {
    TempFiles files;
    { std::ofstream(files.notice) << "Maintenance at noon\n"; }
    ServerProcess p(files.db, files.log, {"--seed-demo", "--notice-file", files.notice});
    ASSERT_TRUE(p.wait_ready());
    auto a = p.login("alice@example.com");
    auto b = p.login("bob@example.com");
    p.signal(SIGUSR1);
    Msg m = a->recv();
    EXPECT_EQ(m.command, 998);
    EXPECT_EQ(m.body, "Maintenance at noon");
    EXPECT_EQ(b->recv().command, 998);
    p.signal(SIGUSR2);
    EXPECT_EQ(a->recv().command, 999);
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait_exit(), 0);
    std::ifstream log(files.log);
    std::stringstream all;
    all << log.rdbuf();
    EXPECT_NE(all.str().find("signed in"), std::string::npos);
    EXPECT_NE(all.str().find("shutting down"), std::string::npos);
}

// Connections that ask for replies and never read them cost the server what their queues may
// hold, counted in memory rather than payload, and the memory goes back once they are gone.
// The pending-connection cap is raised so that all of them hold a queue.
TEST(ServerProcess, ConnectionsThatNeverReadKeepTheServerSmall) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' own allocators decide the resident size: only the drops are checked, of
    // fewer connections.
    constexpr bool kMeasure = false;
    constexpr int kConnections = 20;
#else
    constexpr bool kMeasure = true;
    constexpr int kConnections = 100;
#endif
    TempFiles files;
    ServerProcess p(files.db, files.log, {"--max-pending-per-address", "200"});
    ASSERT_TRUE(p.wait_ready());
    const long base = p.rss_kb();
    ASSERT_GT(base, 0);
    std::vector<int> fds;
    for (int i = 0; i < kConnections; i++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(9015);
        inet_pton(AF_INET, p.address().c_str(), &a.sin_addr);
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ASSERT_TRUE(rc == 0 || errno == EINPROGRESS);
        fds.push_back(fd);
    }
    // Speed-test ends need no account and are answered with two messages each. Every round gives
    // each connection some more until the server has dropped them all for not reading.
    std::string burst;
    for (int i = 0; i < 2000; i++) burst += RawClient::frame(442);
    long peak = base;
    int open = kConnections;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        open = 0;
        for (int& fd : fds) {
            if (fd < 0) continue;
            ssize_t n = ::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                errno != ENOTCONN) {
                ::close(fd);
                fd = -1;
                continue;
            }
            open++;
        }
        peak = std::max(peak, p.rss_kb());
    }
    for (int fd : fds)
        if (fd >= 0) ::close(fd);
    EXPECT_EQ(open, 0) << "connections that never read were not dropped";
    if (kMeasure) {
        EXPECT_LT(peak, 100 * 1024) << "resident kB at the peak; " << base << " kB at the start";
    }
    // Each of them was dropped for its full queue, not for anything else (the log may lag the
    // last drops a little: the log file is read again whenever the server writes to it).
    int full = 0;
    std::string other;
    auto count_drops = [&] {
        std::ifstream log(files.log);
        std::string line;
        full = 0;
        other.clear();
        while (std::getline(log, line)) {
            if (line.find("write queue full") != std::string::npos)
                full++;
            else if (line.find("connection") != std::string::npos)
                other += line + "\n";
        }
        return full >= kConnections;
    };
    testsupport::wait_file(files.log, count_drops, 10000);
    EXPECT_EQ(full, kConnections) << other;
    if (!kMeasure) return;
    // The queues' memory goes back to the system once the connections are gone.
    long now = p.rss_kb();
    for (int i = 0; i < 400 && now > base + 6 * 1024; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        now = p.rss_kb();
    }
    EXPECT_LE(now, base + 6 * 1024) << "resident kB after the closes; " << peak << " at the peak";
    std::printf("server resident kB: %ld at the start, %ld at the peak, %ld after the closes\n",
                base, peak, now);
}

TEST(ServerProcess, CommandLine) {
    FILE* f = popen((std::string(PARLO_SERVER_BIN) + " --help").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[4096];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    buf[n] = '\0';
    EXPECT_EQ(pclose(f), 0);
    std::string help(buf);
    for (const char* flag : {"--listen", "--advertise", "--db", "--seed-demo", "--port",
                             "--fast-hash", "--notice-file", "--log", "--no-extensions",
                             "--max-per-address", "--max-pending-per-address"})
        EXPECT_NE(help.find(flag), std::string::npos) << flag;
    int rc = system((std::string(PARLO_SERVER_BIN) + " --bogus 2>/dev/null").c_str());
    EXPECT_NE(rc, 0);
}

}  // namespace
}  // namespace srvtest
