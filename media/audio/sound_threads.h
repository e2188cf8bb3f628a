// The capture thread CRecordSound and the ten playback threads CPlaySound (g_play_sound_threads),
// each owning one device of the chosen backend and driven only by its thread messages.
//
// Threads: the application calls start/stop capture and start/stop players on one thread (its
// UI or main thread). Each device is touched only by its own thread; the players' pacing fields
// live in the sound queue under g_mutex_sound.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "media/audio/msg_thread.h"
#include "media/audio/sound_queue.h"
#include "media/audio/voice_dsp.h"
#include "media/audio/wave_device.h"

// Receives every captured buffer after the voice processing (voice_dsp.h): its 960 samples, the encoded planes, their length, the activity
// flag and the tick when the device finished the buffer (voice_capture_consumer in a client).
using capture_consumer = std::function<void(const uint8_t* samples, const uint8_t* planes,
                                            int length, int active, uint32_t capture_tick)>;

class CRecordSound : public msg_thread {
public:
    // wanted (optional) tells whether the device should be open; it is asked on this thread
    // whenever kMsgFollowListeners arrives.
    CRecordSound(audio_backend& backend, capture_consumer consumer,
                 std::function<bool()> wanted = nullptr);
    ~CRecordSound() override;
    int recording() const { return m_recording.load(); }
    // Buffers handled since the start (statistics).
    int buffers_done() const { return m_buffers_done.load(); }

protected:
    bool on_message(int msg, intptr_t wparam, intptr_t lparam) override;
    void drop_message(int msg, intptr_t wparam, intptr_t lparam) override;

private:
    void on_start();
    void on_stop();
    void on_data(wave_buffer* b);
    int add_fresh_buffer();
    audio_backend& m_backend;
    capture_consumer m_consumer;
    std::function<bool()> m_wanted;
    std::unique_ptr<wave_in> m_device;
    std::unique_ptr<voice_processor> m_dsp;  // made by this thread at the first start
    int m_buffer_count = 25;
    std::atomic<int> m_recording{0};
    std::atomic<int> m_buffers_done{0};
};

class CPlaySound : public msg_thread, public player_sink {
public:
    CPlaySound(audio_backend& backend, int slot_index);
    ~CPlaySound() override;
    bool device_open() const override { return m_opened.load() == 1; }
    void post_write(wave_buffer* buffer) override;
    // Volume: low word left, high word right (0-65535 each); applied to every buffer written.
    void set_volume(uint32_t left_right) { m_volume.store(left_right); }
    uint32_t volume() const { return m_volume.load(); }
    const int m_slot_index;  // 0-9 in g_play_sound_threads
    // Buffers written to the device, and given back by it as played, since the start.
    std::atomic<int> m_written{0};
    std::atomic<int> m_finished{0};

protected:
    bool on_message(int msg, intptr_t wparam, intptr_t lparam) override;
    void drop_message(int msg, intptr_t wparam, intptr_t lparam) override;

private:
    void on_start();
    void on_stop();
    void on_write(wave_buffer* b);
    audio_backend& m_backend;
    std::unique_ptr<wave_out> m_device;
    std::atomic<int> m_opened{0};
    std::atomic<uint32_t> m_volume{0xFFFFFFFFu};
};

// g_play_sound_threads: entries exist between start_players and the end of stop_players.
extern std::atomic<CPlaySound*> g_play_sound_threads[10];

// Application-level operations (one thread). The backend must outlive the threads.
int start_capture(audio_backend& backend, capture_consumer consumer);
// The capture thread without an open device: the device opens when wanted() turns true and
// closes when it turns false, each time capture_listeners_changed() is called (from any thread;
// wanted is asked on the capture thread, so the last call always decides).
int start_capture_on_demand(audio_backend& backend, capture_consumer consumer,
                            std::function<bool()> wanted);
void capture_listeners_changed();
void stop_capture();
// Current capture thread (or null) and whether it records.
CRecordSound* capture_thread();
void start_players(audio_backend& backend);
void stop_players();
// Posts quit to every sound thread and waits for them (process end).
void end_sound_threads();

// Called for each buffer a player hands to its device (benchmarks): tick, peer, bytes.
using play_observer = void (*)(uint32_t tick, const wave_buffer& b);
void set_play_observer(play_observer fn);
