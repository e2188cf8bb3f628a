// Fake players for the sound queue: an open (or failed) device that keeps what it is handed.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "media/audio/audio_constants.h"
#include "media/audio/sound_queue.h"
#include "platform/debug_log.h"

namespace audiotest {

struct fake_player : player_sink {
    bool open = true;
    std::vector<std::unique_ptr<wave_buffer>> got;
    bool device_open() const override { return open; }
    void post_write(wave_buffer* b) override { got.emplace_back(b); }
};

inline wave_buffer* buffer_of(uint8_t fill, int peer = 0) {
    auto* b = new wave_buffer;
    b->data.assign(audio::kBufferBytes, fill);
    b->peer_id = peer;
    return b;
}

// Ten fake players installed in the queue, with the queue, slots and a debug log of their own.
class sound_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/parlo-audio-XXXXXX";
        m_dir = mkdtemp(tmpl);
        open_debug_log_in(m_dir + "/");
        sound_queue_init();
        for (int i = 0; i < audio::kPlayers; i++) {
            players[i] = std::make_unique<fake_player>();
            set_sound_player(i, players[i].get());
            sound_player_opened(i);
        }
    }
    void TearDown() override {
        for (int i = 0; i < audio::kPlayers; i++) set_sound_player(i, nullptr);
        sound_queue_init();
        close_debug_log();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string log_text() {
        std::ifstream in(m_dir + "/dbg_log.txt");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::unique_ptr<fake_player> players[audio::kPlayers];
    std::string m_dir;
};

}  // namespace audiotest
