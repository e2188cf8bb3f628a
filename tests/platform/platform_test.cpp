#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/paths.h"
#include "platform/settings_file.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "tests/support/loopback.h"

namespace {
std::atomic<uint32_t> g_fake_now{0};
uint32_t fake_tick() { return g_fake_now.load(); }
}  // namespace

TEST(Tick, DifferencesSurviveWrapAround) {
    g_fake_now = 0xFFFFFF00u;
    set_tick_source(fake_tick);
    uint32_t then = get_tick_count();
    g_fake_now = 0x00000100u;
    uint32_t now = get_tick_count();
    set_tick_source(nullptr);
    EXPECT_EQ(now - then, 0x200u);
    // The real clock is monotonic.
    uint32_t a = get_tick_count();
    sleep_ms(5);
    EXPECT_GE(get_tick_count() - a, 4u);
}

TEST(Event, AutoResetReleasesOneWaitAndTimesOut) {
    Cevent ev;
    EXPECT_EQ(ev.wait(10), WAIT_TIMED_OUT);
    ev.signal();
    EXPECT_EQ(ev.wait(0), WAIT_SIGNALLED);
    EXPECT_EQ(ev.wait(10), WAIT_TIMED_OUT) << "the event must reset itself after one wait";

    std::atomic<bool> woke{false};
    std::thread t([&] {
        if (ev.wait(5000) == WAIT_SIGNALLED) woke = true;
    });
    sleep_ms(20);
    ev.signal();
    t.join();
    EXPECT_TRUE(woke);
}

TEST(TimedMutex, LockForTimesOutWhileHeld) {
    Ctimed_mutex m;
    m.lock();
    std::atomic<bool> got{true};
    std::thread t([&] { got = lock_for(m, 30); });
    t.join();
    EXPECT_FALSE(got);
    m.unlock();
    EXPECT_TRUE(lock_for(m, 30));
    m.unlock();
}

TEST(Jobs, WaitForJobsSeesEveryJobEnd) {
    std::atomic<int> ran{0};
    for (int i = 0; i < 8; i++)
        ASSERT_EQ(start_job([&] {
                      sleep_ms(5);
                      ran++;
                  }),
                  0);
    EXPECT_TRUE(wait_for_jobs(5000));
    EXPECT_EQ(ran, 8);
    EXPECT_EQ(running_jobs(), 0);
}

TEST(Text, CopyTextCutsAndTerminates) {
    char small[6];
    copy_text(small, "abcdefghij");
    EXPECT_STREQ(small, "abcde");
    copy_text(small, nullptr);
    EXPECT_STREQ(small, "");
    char field[4];
    copy_text_n(field, sizeof(field), "xy\0zz", 5);
    EXPECT_STREQ(field, "xy");
}

TEST(Paths, ProgramDirectoryKeepsTrailingSeparator) {
    EXPECT_EQ(program_directory_of("/opt/apps/client"), "/opt/apps/");
    EXPECT_EQ(program_directory_of("client"), "");
    char dir[256];
    ASSERT_EQ(program_directory(dir), 0);
    EXPECT_EQ(dir[std::strlen(dir) - 1], '/');
}

TEST(SettingsFile, RoundTripKeepsAwkwardValuesAndMode) {
    testsupport::temp_dir tmp;
    std::string path = tmp.path + "/settings.ini";
    ini_data data;
    data["messenger_general"]["my_passwd"] = " p;a#s=s%w[o]rd ";
    data["messenger_general"]["my_email"] = "a@b.c";
    data["proxy"]["use_proxy"] = "1";
    data["proxy"]["empty"] = "";
    // Longer than any fixed line buffer, with characters an INI reader may treat specially.
    data["proxy"]["proxy_user_name"] = std::string(300, 'u') + " ; # = [x] \\ \n line two\t";
    ASSERT_EQ(ini_save_atomic(path, data), 0);

    ini_data back;
    ASSERT_EQ(ini_load(path, back), 0);
    EXPECT_EQ(back, data);

    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsFile, InterruptedWriteLeavesOldFileIntact) {
    testsupport::temp_dir tmp;
    std::string path = tmp.path + "/settings.ini";
    ini_data first;
    first["s"]["v"] = "old";
    ASSERT_EQ(ini_save_atomic(path, first), 0);
    ini_data second;
    second["s"]["v"] = "new";
    EXPECT_EQ(ini_save_atomic(path, second, [] { return false; }), -1);
    ini_data back;
    ASSERT_EQ(ini_load(path, back), 0);
    EXPECT_EQ(back["s"]["v"], "old");
    struct stat st;
    EXPECT_NE(stat((path + ".tmp").c_str(), &st), 0) << "the temporary file must be removed";
}

TEST(SettingsFile, MissingFileIsEmptyButGarbageIsAnError) {
    testsupport::temp_dir tmp;
    ini_data d;
    EXPECT_EQ(ini_load(tmp.path + "/none.ini", d), 0);
    EXPECT_TRUE(d.empty());
    std::ofstream(tmp.path + "/bad.ini") << "[unterminated\nx\n";
    EXPECT_EQ(ini_load(tmp.path + "/bad.ini", d), -1);
}

TEST(Sockets, BindAddressIsUsedForOutgoingConnections) {
    testsupport::listener l("127.0.0.1");
    ASSERT_GT(l.fd, 0);
    set_local_bind_address("127.0.0.7");
    socket_t s = tcp_socket();
    set_local_bind_address("");
    ASSERT_GT(s, 0);
    struct in_addr addr;
    ASSERT_EQ(resolve_ipv4("127.0.0.1", &addr), 0);
    ASSERT_EQ(connect_ipv4(s, addr, l.port), 0);
    char local[32];
    ASSERT_EQ(local_address_of(s, local, sizeof(local)), 0);
    EXPECT_STREQ(local, "127.0.0.7");
    close_socket(s);
}

TEST(Sockets, PeerClosedIsSeenBeforeASendWouldBeLost) {
    testsupport::listener l("127.0.0.1");
    socket_t s = tcp_socket();
    struct in_addr addr;
    ASSERT_EQ(resolve_ipv4("127.0.0.1", &addr), 0);
    ASSERT_EQ(connect_ipv4(s, addr, l.port), 0);
    socket_t other = l.accept_one();
    ASSERT_GT(other, 0);
    EXPECT_FALSE(peer_has_closed(s));
    ASSERT_EQ(send_bytes(other, "x", 1), 1);
    ASSERT_EQ(wait_readable(s, 5000), 1);
    EXPECT_FALSE(peer_has_closed(s)) << "unread data is not a close";
    close_socket(other);
    // The send a closed peer would swallow still succeeds: only the check tells.
    EXPECT_TRUE(peer_has_closed(s));
    EXPECT_EQ(send_bytes(s, "lost", 4), 4);
    close_socket(s);
}

TEST(Sockets, ErrnoMapsToWinsockTexts) {
    EXPECT_STREQ(socket_error_format(socket_error_from_errno(EINTR)), "WSAEINTR in %s sock");
    EXPECT_STREQ(socket_error_format(socket_error_from_errno(EBADF)), "WSAENOTSOCK in %s sock");
    EXPECT_STREQ(socket_error_format(socket_error_from_errno(ENETDOWN)), "Net work down in %s sock.");
    EXPECT_STREQ(socket_error_format(socket_error_from_errno(EPERM)),
                 "Unknown socket error in %s sock");
}
