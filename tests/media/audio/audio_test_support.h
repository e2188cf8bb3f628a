// Fake players for the sound queue: an open (or failed) device that keeps what it is handed.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "media/audio/audio_constants.h"
#include "media/audio/device_report.h"
#include "media/audio/sound_queue.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"

namespace audiotest {

struct fake_player : player_sink {
    bool open = true;
    std::vector<std::unique_ptr<wave_buffer>> got;
    bool device_open() const override { return open; }
    void post_write(wave_buffer* b) override { got.emplace_back(b); }
};

// The message boxes a test would have shown.
struct recorded_boxes : message_box_handler {
    std::mutex m;
    std::vector<std::string> texts;
    void show_message(const char* text) override {
        std::lock_guard<std::mutex> lk(m);
        texts.emplace_back(text);
    }
    int ask_yes_no(const char*) override { return ANSWER_NO; }
    int ask_yes_no_cancel(const char*) override { return ANSWER_NO; }
    std::vector<std::string> shown() {
        std::lock_guard<std::mutex> lk(m);
        return texts;
    }
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
        reset_device_failure_reports();
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
    static size_t count_of(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
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
