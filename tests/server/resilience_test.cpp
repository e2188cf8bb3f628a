// The server under a peer that never reads, and its files: the log's size limit and line budget,
// and the modes of the log and the database.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "tests/server/server_fixture.h"

namespace srvtest {
namespace {

using Resilience = ServerFixture;

// Speed-test ends need no sign-in and are answered with two messages each; a client that sends
// them without end and reads nothing must lose its connection, and only that.
TEST_F(Resilience, AClientThatNeverReadsIsDroppedAndTheServerGoesOn) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(m_port));
    inet_pton(AF_INET, m_host.c_str(), &a.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    std::string burst;
    for (int i = 0; i < 2000; i++) burst += RawClient::frame(442);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool dropped = false;
    while (!dropped && std::chrono::steady_clock::now() < deadline) {
        ssize_t n = ::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL);
        dropped = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
    ::close(fd);
    EXPECT_TRUE(dropped) << "the connection was not closed";
    auto c = login("alice@example.com");
    c->send(442);
    EXPECT_EQ(c->until(445).size(), 2u);
}

std::string temp_path(const char* tag) {
    return "/tmp/parlo-srvtest-" + std::string(tag) + "-" + std::to_string(getpid());
}

off_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

int file_mode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST(ServerLog, StaysUnderItsLimitWithOneOlderFile) {
    const std::string path = temp_path("log");
    std::remove(path.c_str());
    std::remove((path + ".old").c_str());
    srv::Log log;
    ASSERT_EQ(log.open(path, 4096), 0);
    for (int i = 0; i < 1000; i++) log.line("line %d of a log that would grow without end", i);
    EXPECT_LE(file_size(path), 4096);
    EXPECT_LE(file_size(path + ".old"), 4096);
    EXPECT_GT(file_size(path + ".old"), 3000);
    std::ifstream in(path);
    std::string last, line;
    while (std::getline(in, line)) last = line;
    EXPECT_NE(last.find("line 999 of"), std::string::npos);
    std::remove(path.c_str());
    std::remove((path + ".old").c_str());
}

TEST(ServerLog, BudgetAllowsABurstThenOneLinePerSecond) {
    srv::LineBudget budget;
    const auto t0 = std::chrono::steady_clock::now();
    int held = -1, written = 0;
    for (int i = 0; i < 100; i++) written += budget.take(t0, &held) ? 1 : 0;
    EXPECT_EQ(written, srv::LineBudget::kBurst);
    EXPECT_FALSE(budget.take(t0 + std::chrono::milliseconds(500), &held));
    ASSERT_TRUE(budget.take(t0 + std::chrono::milliseconds(1100), &held));
    EXPECT_EQ(held, 100 - srv::LineBudget::kBurst + 1);
    EXPECT_FALSE(budget.take(t0 + std::chrono::milliseconds(1200), &held));
}

TEST(ServerFiles, LogAndDatabaseAreForTheOwnerAloneWhateverTheUmask) {
    const std::string log_path = temp_path("modes.log");
    const std::string db_path = temp_path("modes.db");
    std::remove(log_path.c_str());
    remove_db(db_path);
    const mode_t old_mask = umask(0);
    {
        srv::Log log;
        ASSERT_EQ(log.open(log_path), 0);
        log.line("first");
        srv::Store store;
        ASSERT_EQ(store.open(db_path), 0) << store.last_error();
        srv::User u;
        u.email = "modes@example.com";
        u.pw_hash = "not a hash";
        ASSERT_GT(store.create_user(u), 0);  // a write, so that the journal exists
        EXPECT_EQ(file_mode(log_path), 0600);
        EXPECT_EQ(file_mode(db_path), 0600);
        EXPECT_EQ(file_mode(db_path + "-wal"), 0600);
    }
    // A file an older version left readable to everyone is narrowed when opened.
    chmod(log_path.c_str(), 0644);
    chmod(db_path.c_str(), 0644);
    {
        srv::Log log;
        ASSERT_EQ(log.open(log_path), 0);
        srv::Store store;
        ASSERT_EQ(store.open(db_path), 0);
        EXPECT_EQ(file_mode(log_path), 0600);
        EXPECT_EQ(file_mode(db_path), 0600);
    }
    umask(old_mask);
    std::remove(log_path.c_str());
    remove_db(db_path);
}

}  // namespace
}  // namespace srvtest
