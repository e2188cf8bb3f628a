// A backend of named fake sound devices that can be unplugged, for the device switching tests.
// An output hands each buffer straight back as played on the device it is switched to; on an
// unplugged device it keeps them, as a stream that stopped calling back does, until it is
// switched away. A switch to an unplugged device runs silent: buffers come back unplayed.
#pragma once
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "media/audio/wave_device.h"

namespace audiotest {

class fake_device_backend : public audio_backend {
public:
    class fake_out;
    struct state {
        std::mutex m;
        std::string input, output;  // in use ("" = the default one)
        bool silent = false;
        std::set<std::string> unplugged;
        std::map<std::string, int> played;                          // buffers played, by device
        int dropped = 0;                                            // buffers played on no device
        std::vector<std::pair<std::string, std::string>> switches;  // use_devices calls
        std::vector<fake_out*> outs;
        std::vector<std::string> input_names{"Mic A", "Mic B"};
        std::vector<std::string> output_names{"Speakers A", "USB Headset"};
        void unplug(const std::string& name) {
            std::lock_guard<std::mutex> lk(m);
            unplugged.insert(name);
        }
        int played_on(const std::string& name) {
            std::lock_guard<std::mutex> lk(m);
            return played[name];
        }
        int dropped_count() {
            std::lock_guard<std::mutex> lk(m);
            return dropped;
        }
        std::string output_now() {
            std::lock_guard<std::mutex> lk(m);
            return output;
        }
    };

    class fake_out : public wave_out {
    public:
        explicit fake_out(std::shared_ptr<state> s) : m_s(std::move(s)) {}
        ~fake_out() override { close(); }
        int open(wave_notice done, std::string*) override {
            std::lock_guard<std::mutex> lk(m_s->m);
            m_done = std::move(done);
            m_s->outs.push_back(this);
            return 0;
        }
        int write(wave_buffer* b) override {
            {
                std::lock_guard<std::mutex> lk(m_s->m);
                if (!m_s->silent && m_s->unplugged.count(m_s->output)) {
                    if (held.size() >= 16) return -1;
                    held.push_back(b);
                    return 0;
                }
                if (m_s->silent)
                    m_s->dropped++;
                else
                    m_s->played[m_s->output]++;
            }
            m_done(b);
            return 0;
        }
        int reset() override {
            for (wave_buffer* b : take_held()) m_done(b);
            return 0;
        }
        void close() override {
            for (wave_buffer* b : take_held()) delete b;
            std::lock_guard<std::mutex> lk(m_s->m);
            auto& outs = m_s->outs;
            outs.erase(std::remove(outs.begin(), outs.end(), this), outs.end());
        }
        std::vector<wave_buffer*> take_held() {
            std::lock_guard<std::mutex> lk(m_s->m);
            return std::exchange(held, {});
        }
        wave_notice m_done;              // set at open
        std::vector<wave_buffer*> held;  // guarded by the state's mutex

    private:
        std::shared_ptr<state> m_s;
    };

    // Keeps the buffers it is given; those held at start come back filled with a tone of
    // mic_level (0-127) around the middle, the others unfilled at reset.
    class fake_in : public wave_in {
    public:
        explicit fake_in(int level) : m_level(level) {}
        int open(wave_notice filled, std::string*) override {
            m_filled = std::move(filled);
            return 0;
        }
        int add_buffer(wave_buffer* b) override {
            m_held.push_back(b);
            return 0;
        }
        int start(std::string*) override {
            for (wave_buffer* b : std::exchange(m_held, {})) {
                for (size_t i = 0; i < b->data.size(); i++)
                    b->data[i] = static_cast<uint8_t>(i % 2 ? 128 + m_level : 128 - m_level);
                b->recorded = static_cast<int>(b->data.size());
                m_filled(b);
            }
            return 0;
        }
        int stop() override { return 0; }
        int reset() override {
            for (wave_buffer* b : std::exchange(m_held, {})) m_filled(b);
            return 0;
        }
        void close() override {
            for (wave_buffer* b : std::exchange(m_held, {})) delete b;
        }
        ~fake_in() override { close(); }

    private:
        int m_level;
        wave_notice m_filled;
        std::vector<wave_buffer*> m_held;
    };

    std::shared_ptr<state> s = std::make_shared<state>();

    const char* name() const override { return "fake"; }
    int mic_level = 0;  // set before the service starts
    std::unique_ptr<wave_in> make_input() override { return std::make_unique<fake_in>(mic_level); }
    std::unique_ptr<wave_out> make_output(int) override { return std::make_unique<fake_out>(s); }
    std::vector<std::string> device_names(bool input) override {
        std::lock_guard<std::mutex> lk(s->m);
        return input ? s->input_names : s->output_names;
    }
    int use_devices(const std::string& input, const std::string& output) override {
        std::vector<std::pair<fake_out*, wave_buffer*>> back;
        bool silent;
        {
            std::lock_guard<std::mutex> lk(s->m);
            s->switches.emplace_back(input, output);
            s->input = input;
            s->output = output;
            silent = s->silent = s->unplugged.count(output) > 0;
            // What an output kept plays on the new device (or nowhere).
            for (fake_out* o : s->outs)
                for (wave_buffer* b : std::exchange(o->held, {})) {
                    back.emplace_back(o, b);
                    if (silent)
                        s->dropped++;
                    else
                        s->played[output]++;
                }
        }
        for (auto& [o, b] : back) o->m_done(b);
        return silent ? -1 : 0;
    }
    int check_devices() override {
        std::lock_guard<std::mutex> lk(s->m);
        return !s->silent && s->unplugged.count(s->output) && !s->outs.empty()
                   ? kDeviceFailedPlayback
                   : 0;
    }
};

}  // namespace audiotest
