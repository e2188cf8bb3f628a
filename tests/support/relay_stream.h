// A long stream of full-size relayed messages for the relay pacing tests: written by one thread in
// blocking writes, checked byte by byte by a reader that takes small pieces.
#pragma once
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace relaystream {

constexpr int kPayload = 2000;  // the largest payload a relay passes on
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kMessages = 16 * 1024 * 1024 / kPayload;  // sanitizer builds run slower
#else
constexpr int kMessages = 100 * 1024 * 1024 / kPayload;
#endif

// Message i from `from` to `to`: its bytes depend on i and their place.
inline std::string message(int from, int to, int i) {
    char h[64];
    std::snprintf(h, sizeof h, "%12d:%10d:%10d:%10d:", i + 1, from, to, kPayload);
    std::string m = h;
    uint32_t x = static_cast<uint32_t>(i) * 2654435761u + 1;
    for (int k = 0; k < kPayload; k++) {
        x = x * 1664525u + 1013904223u;
        m.push_back(static_cast<char>(x >> 24));
    }
    return m;
}

// Writes count messages in writes of about 64 KB, adding what went out to *sent.
inline bool send(int fd, int from, int to, int count, std::atomic<size_t>* sent) {
    std::string block;
    for (int i = 0; i < count; i++) {
        block += message(from, to, i);
        if (block.size() < 64 * 1024 && i + 1 < count) continue;
        for (size_t done = 0; done < block.size();) {
            ssize_t r = ::send(fd, block.data() + done, block.size() - done, MSG_NOSIGNAL);
            if (r <= 0) return false;
            done += static_cast<size_t>(r);
        }
        *sent += block.size();
        block.clear();
    }
    return true;
}

// Reads in pieces of 1000 bytes until count messages came or 30 s pass without a byte; returns
// how many arrived intact before the first difference.
inline int receive(int fd, int from, int to, int count) {
    int next = 0;
    size_t at = 0;
    std::string want = message(from, to, 0);
    char buf[1000];
    pollfd p{fd, POLLIN, 0};
    while (next < count && ::poll(&p, 1, 30000) > 0) {
        ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        for (ssize_t k = 0; k < r; k++) {
            if (buf[k] != want[at]) return next;
            if (++at == want.size()) {
                want = message(from, to, ++next);
                at = 0;
            }
        }
        if (r <= 0) break;
    }
    return next;
}

}  // namespace relaystream
