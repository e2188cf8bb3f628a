// Loopback helpers for socket tests: a listener on a port the test owns and a temporary home.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/socket.h"

namespace testsupport {

// The loopback block of this test process, "127.A.B" (A from 200 up): claimed with a lock file
// that the process holds until it exits, so tests that ctest runs in parallel (each test is a
// process of its own) never share an address. Hand-picked addresses stay below 127.200.
inline const std::string& loopback_block() {
    static const std::string block = [] {
        const char* dir = "/tmp/parlo-loopback-locks";
        mkdir(dir, 0777);
        for (int a = 200; a < 255; a++)
            for (int b = 0; b < 256; b++) {
                std::string name = std::to_string(a) + "." + std::to_string(b);
                int fd = open((std::string(dir) + "/" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
                if (fd < 0) continue;
                if (flock(fd, LOCK_EX | LOCK_NB) == 0) return "127." + name;  // fd stays open
                close(fd);
            }
        return std::string("127.0.0");
    }();
    return block;
}
// Address host (1-254) of this process's block.
inline std::string loopback_address(int host) { return loopback_block() + "." + std::to_string(host); }
// The same as a C string that lives as long as the process.
inline const char* loopback_host(int host) {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> v;
        for (int h = 0; h < 256; h++) v.push_back(loopback_address(h));
        return v;
    }();
    return all.at(static_cast<size_t>(host)).c_str();
}

// Something another thread did may have changed what a test waits for: a debug-log line was
// written or a notification recorded. Wakes every wait_until.
struct change_signal {
    std::mutex m;
    std::condition_variable cv;
    uint64_t count = 0;
};
inline change_signal& changes() {
    static change_signal s;
    return s;
}
inline void state_changed() {
    change_signal& s = changes();
    {
        std::lock_guard<std::mutex> lk(s.m);
        s.count++;
    }
    s.cv.notify_all();
}

// Waits until cond holds or ms passed; returns its last value. cond is checked again whenever
// the product logs a line or a notification is recorded, and at least every 50 ms for states
// that nothing announces (a table slot freed, a thread ended).
inline bool wait_until(const std::function<bool()>& cond, int ms = 20000) {
    static const bool observing = [] {
        set_debug_log_observer(&state_changed);
        return true;
    }();
    (void)observing;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    change_signal& s = changes();
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lk(s.m);
            seen = s.count;
        }
        if (cond()) return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        std::unique_lock<std::mutex> lk(s.m);
        s.cv.wait_until(lk, std::min(deadline, now + std::chrono::milliseconds(50)),
                        [&] { return s.count != seen; });
    }
}

// Bytes that arrived on s and that no receive has taken yet (0 when it cannot tell).
inline int unread_bytes(socket_t s) {
    int n = 0;
    return s > 0 && ioctl(s, FIONREAD, &n) == 0 ? n : 0;
}

// A listening socket on address with a kernel-chosen port.
struct listener {
    socket_t fd = -1;
    uint16_t port = 0;
    explicit listener(const char* address = "127.0.0.1") {
        fd = tcp_listen(address, 0, 16);
        struct sockaddr_in sa;
        socklen_t len = sizeof(sa);
        if (fd > 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
            port = ntohs(sa.sin_port);
    }
    ~listener() { close_socket(fd); }
    // Accepts one connection, waiting at most ms. Returns the handle or -1.
    socket_t accept_one(int ms = 5000) const {
        if (wait_readable(fd, ms) <= 0) return -1;
        return accept(fd, nullptr, nullptr);
    }
};

// Reads exactly n bytes from fd within ms (in total). Returns true when all arrived.
inline bool read_exact(socket_t fd, void* out, size_t n, int ms = 5000) {
    size_t got = 0;
    while (got < n) {
        if (wait_readable(fd, ms) <= 0) return false;
        ssize_t r = recv(fd, static_cast<char*>(out) + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

inline bool write_all(socket_t fd, const void* data, size_t n) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = send(fd, static_cast<const char*>(data) + done, n - done, MSG_NOSIGNAL);
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

// A fresh directory under /tmp, removed with its contents when the object goes.
struct temp_dir {
    std::string path;
    temp_dir() {
        char tmpl[] = "/tmp/parlo-test-XXXXXX";
        const char* made = mkdtemp(tmpl);
        path = made ? made : "/tmp";
    }
    ~temp_dir() {
        std::error_code ec;
        if (path.rfind("/tmp/parlo-test-", 0) == 0) std::filesystem::remove_all(path, ec);
    }
};

}  // namespace testsupport
