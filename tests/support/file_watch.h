// Waiting for a condition on a file that another process writes (a debug log): the condition is
// checked again whenever the file, or its folder while the file does not exist yet, changes.
#pragma once
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace testsupport {

// True once done() holds; false when timeout_ms passed without it.
inline bool wait_file(const std::string& path, const std::function<bool()>& done, int timeout_ms) {
    int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) return done();
    std::string folder = std::filesystem::path(path).parent_path().string();
    inotify_add_watch(fd, folder.empty() ? "." : folder.c_str(), IN_CREATE | IN_MODIFY);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool ok = false;
    for (;;) {
        if ((ok = done())) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0) break;
        if (poll(&p, 1, static_cast<int>(left)) > 0) {
            char events[4096];
            while (read(fd, events, sizeof events) > 0) {
            }
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace testsupport
