// Shared pieces of the video tests: a chat window that records its notices, a transport that
// records every command sent, the debug log read back, and a fresh encoder.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "media/video/my_video.h"
#include "media/video/video_exchange.h"
#include "protocol/notify.h"

namespace vtest {

struct recording_window : chat_window {
    explicit recording_window(int peer) : m_peer(peer) {}
    void post(int n, intptr_t w, intptr_t l, note_payload = {}) override {
        std::lock_guard<std::mutex> lk(mutex);
        notices.push_back({n, static_cast<int>(w), static_cast<int>(l)});
    }
    int peer_id() const override { return m_peer; }
    int count(int n) {
        std::lock_guard<std::mutex> lk(mutex);
        int c = 0;
        for (auto& x : notices) c += x.n == n;
        return c;
    }
    struct notice {
        int n, w, l;
    };
    std::mutex mutex;
    std::vector<notice> notices;
    int m_peer;
};

struct sent_command {
    bool relay;
    int peer_id;
    int command;
    std::string body;
};
// Every command sent while installed; the direct path fails when direct_fails is set.
std::vector<sent_command> take_sent();
void install_recorder(bool direct_fails = false);
void remove_recorder();

// Opens the debug log in a fresh folder; log_text() reads everything written since.
void open_test_log();
std::string log_text();

// A new encoder with versions (0, 0), size 160x120, quality 70.
void reset_my_video();

// A test with a chat window (and session) for each of the given peers.
struct sessions {
    explicit sessions(std::vector<int> peers);
    ~sessions();
    recording_window& window(int peer);
    std::vector<std::unique_ptr<recording_window>> windows;
};

}  // namespace vtest
