#include "media/audio/sound_threads.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "media/audio/audio_constants.h"
#include "media/audio/device_report.h"
#include "media/audio/voice_path.h"
#include "media/codec/voice_codec.h"
#include "platform/debug_log.h"
#include "platform/tick.h"
#include "protocol/texts.h"

using namespace audio;

std::atomic<CPlaySound*> g_play_sound_threads[10];

namespace {
std::atomic<play_observer> g_play_observer{nullptr};
// The capture thread; created and ended on the application's thread only.
std::unique_ptr<CRecordSound> g_record_sound;
std::unique_ptr<CPlaySound> g_players_owned[kPlayers];
std::mutex g_app_mutex;  // start/stop calls from more than one thread stay in order
// The capture thread as seen by capture_listeners_changed, which may run under other locks (the
// chat tables'): it takes only this short lock, never g_app_mutex, which is held while the sound
// threads are joined.
std::mutex g_follow_mutex;
CRecordSound* g_follow_target = nullptr;  // guarded by g_follow_mutex
}  // namespace

void set_play_observer(play_observer fn) {
    g_play_observer.store(fn);
}

// ---- capture ------------------------------------------------------------------------------

CRecordSound::CRecordSound(audio_backend& backend, capture_consumer consumer,
                           std::function<bool()> wanted)
    : m_backend(backend), m_consumer(std::move(consumer)), m_wanted(std::move(wanted)) {}

CRecordSound::~CRecordSound() {
    join();
}

bool CRecordSound::on_message(int msg, intptr_t, intptr_t lparam) {
    switch (msg) {
        case kMsgStartRecording:
            on_start();
            break;
        case kMsgStopRecording:
            on_stop();
            break;
        case kMsgFollowListeners:
            if (m_wanted && m_wanted())
                on_start();
            else
                on_stop();
            break;
        case kMsgWimData:
            on_data(reinterpret_cast<wave_buffer*>(lparam));
            break;
        case kMsgQuitRecording:
            on_stop();
            return false;
        default:
            break;
    }
    return true;
}

void CRecordSound::drop_message(int msg, intptr_t, intptr_t lparam) {
    if (msg == kMsgWimData) delete reinterpret_cast<wave_buffer*>(lparam);
}

int CRecordSound::add_fresh_buffer() {
    wave_buffer* b = take_wave_buffer();
    if (!b) return -1;
    b->data.assign(kBufferBytes, 0);
    if (int rc = m_device->add_buffer(b)) {
        recycle_wave_buffer(b);
        return rc;
    }
    return 0;
}

void CRecordSound::on_start() {
    if (m_recording.load()) return;
    if (!m_dsp)
        m_dsp = std::make_unique<voice_processor>();
    else
        m_dsp->restart();
    if (!m_device) m_device = m_backend.make_input();
    std::string error;
    int rc = m_device->open(
        [this](wave_buffer* b) { post(kMsgWimData, 0, reinterpret_cast<intptr_t>(b)); }, &error);
    if (rc != 0) {
        report_device_failure(device_kind::capture,
                              make_text(TXT_WAVEIN_FAILED, {device_error_code(rc), error}));
        m_device.reset();
        return;
    }
    for (int i = 0; i < m_buffer_count; i++) add_fresh_buffer();
    rc = m_device->start(&error);
    if (rc != 0) {
        report_device_failure(device_kind::capture,
                              make_text(TXT_WAVEIN_FAILED, {device_error_code(rc), error}));
        m_device->close();
        m_device.reset();
        return;
    }
    m_recording = 1;
}

void CRecordSound::on_stop() {
    if (!m_recording.load() || !m_device) return;
    m_device->stop();
    if (m_device->reset() == 0) m_recording = 0;
    sleep_ms(500);
    if (m_recording.load()) return;  // a failed reset keeps the device open
    m_device->close();
    m_device.reset();
}

void CRecordSound::on_data(wave_buffer* b) {
    if (!b) return;
    if (b->recorded > 0) {
        uint8_t samples[kBufferBytes];
        std::memset(samples, 128, sizeof(samples));
        std::memcpy(samples, b->data.data(), std::min<size_t>(b->data.size(), sizeof(samples)));
        const voice_processing p = current_voice_processing();
        const bool speech = !m_dsp || m_dsp->process(samples, b->capture_tick, p);
        uint8_t planes[2 * kBufferBytes];
        int length = 0;
        int active = do_one_dimentional_dct_quality(samples, planes, kBufferBytes, &length, 0);
        // A buffer the codec would send is sent, unless the user chose to send noise as silence.
        if (active == 1 && !speech && p.send_silence_for_noise) active = 0;
        if (active >= 0 && m_consumer) m_consumer(samples, planes, length, active, b->capture_tick);
        m_buffers_done++;
    }
    recycle_wave_buffer(b);
    if (m_recording.load() && m_device) add_fresh_buffer();
}

// ---- playback -----------------------------------------------------------------------------

CPlaySound::CPlaySound(audio_backend& backend, int slot_index)
    : m_slot_index(slot_index), m_backend(backend) {}

CPlaySound::~CPlaySound() {
    join();
}

void CPlaySound::post_write(wave_buffer* buffer) {
    post(kMsgWriteSoundData, 0, reinterpret_cast<intptr_t>(buffer));
}

bool CPlaySound::on_message(int msg, intptr_t, intptr_t lparam) {
    switch (msg) {
        case kMsgStartPlayback:
            on_start();
            break;
        case kMsgStopPlayback:
            on_stop();
            break;
        case kMsgWriteSoundData:
            on_write(reinterpret_cast<wave_buffer*>(lparam));
            break;
        case kMsgWomDone:
            recycle_wave_buffer(reinterpret_cast<wave_buffer*>(lparam));
            count_voice(m_finished);
            sound_player_buffer_done(m_slot_index);
            break;
        case kMsgQuitPlayback:
            on_stop();
            return false;
        default:
            break;
    }
    return true;
}

void CPlaySound::drop_message(int msg, intptr_t, intptr_t lparam) {
    if (msg == kMsgWriteSoundData || msg == kMsgWomDone)
        delete reinterpret_cast<wave_buffer*>(lparam);
}

void CPlaySound::on_start() {
    if (m_opened.load()) return;
    m_device = m_backend.make_output(m_slot_index);
    std::string error;
    int rc = m_device->open(
        [this](wave_buffer* b) { post(kMsgWomDone, 0, reinterpret_cast<intptr_t>(b)); }, &error);
    if (rc != 0) {
        report_device_failure(device_kind::playback,
                              make_text(TXT_WAVEOUT_FAILED, {device_error_code(rc), error}));
        m_device.reset();
        return;
    }
    m_opened = 1;
    sound_player_opened(m_slot_index);
}

void CPlaySound::on_stop() {
    sound_player_closed(m_slot_index);
    if (!m_opened.load() || !m_device) return;
    if (m_device->reset() == 0) m_opened = 0;
    sleep_ms(500);
    if (m_opened.load()) return;
    m_device->close();
    m_device.reset();
}

void CPlaySound::on_write(wave_buffer* b) {
    if (!b) return;
    if (!m_opened.load() || !m_device) {
        delete b;
        return;
    }
    uint32_t v = m_volume.load();
    apply_gain(b->data.data(), static_cast<int>(b->data.size()), v & 0xFFFF);
    if (play_observer fn = g_play_observer.load()) fn(get_tick_count(), *b);
    if (m_device->write(b) != 0) {
        log_line("error from waveoutwrite in CPlaySound::OnWriteSoundData\n");
        recycle_wave_buffer(b);
        sound_player_buffer_done(m_slot_index);
        return;
    }
    count_voice(m_written);
}

// ---- application-level operations ----------------------------------------------------------

namespace {
int make_capture_thread(audio_backend& backend, capture_consumer consumer,
                        std::function<bool()> wanted) {
    if (g_record_sound) return 0;
    g_record_sound =
        std::make_unique<CRecordSound>(backend, std::move(consumer), std::move(wanted));
    if (g_record_sound->start("snd-record") != 0) {
        g_record_sound.reset();
        return -1;
    }
    return 0;
}
}  // namespace

int start_capture(audio_backend& backend, capture_consumer consumer) {
    std::lock_guard<std::mutex> lk(g_app_mutex);
    if (make_capture_thread(backend, std::move(consumer), nullptr) != 0) return -1;
    g_record_sound->post(kMsgStartRecording, 0, 0);
    return 0;
}

int start_capture_on_demand(audio_backend& backend, capture_consumer consumer,
                            std::function<bool()> wanted) {
    std::lock_guard<std::mutex> lk(g_app_mutex);
    if (make_capture_thread(backend, std::move(consumer), std::move(wanted)) != 0) return -1;
    {
        std::lock_guard<std::mutex> f(g_follow_mutex);
        g_follow_target = g_record_sound.get();
    }
    g_record_sound->post(kMsgFollowListeners, 0, 0);
    return 0;
}

void capture_listeners_changed() {
    std::lock_guard<std::mutex> lk(g_follow_mutex);
    if (g_follow_target) g_follow_target->post(kMsgFollowListeners, 0, 0);
}

void stop_capture() {
    std::lock_guard<std::mutex> lk(g_app_mutex);
    if (g_record_sound) g_record_sound->post(kMsgStopRecording, 0, 0);
}

CRecordSound* capture_thread() {
    std::lock_guard<std::mutex> lk(g_app_mutex);
    return g_record_sound.get();
}

void start_players(audio_backend& backend) {
    std::lock_guard<std::mutex> lk(g_app_mutex);
    reset_play_sound_slots();
    for (int i = 0; i < kPlayers; i++) {
        if (!g_players_owned[i]) {
            auto p = std::make_unique<CPlaySound>(backend, i);
            std::string name = "snd-play-" + std::to_string(i);
            if (p->start(name.c_str()) != 0) continue;
            g_players_owned[i] = std::move(p);
            g_play_sound_threads[i] = g_players_owned[i].get();
            set_sound_player(i, g_players_owned[i].get());
        }
        g_players_owned[i]->post(kMsgStartPlayback, 0, 0);
    }
}

void stop_players() {
    std::lock_guard<std::mutex> lk(g_app_mutex);
    for (auto& p : g_players_owned)
        if (p) p->post(kMsgStopPlayback, 0, 0);
    reset_play_sound_slots();
}

void end_sound_threads() {
    std::lock_guard<std::mutex> lk(g_app_mutex);
    // Every thread is told first and joined after, so their device stops overlap instead of
    // adding up.
    {
        std::lock_guard<std::mutex> f(g_follow_mutex);
        g_follow_target = nullptr;
    }
    if (g_record_sound) g_record_sound->post(kMsgQuitRecording, 0, 0);
    for (int i = 0; i < kPlayers; i++) {
        if (!g_players_owned[i]) continue;
        set_sound_player(i, nullptr);
        g_play_sound_threads[i] = nullptr;
        g_players_owned[i]->post(kMsgQuitPlayback, 0, 0);
    }
    if (g_record_sound) {
        g_record_sound->join();
        g_record_sound.reset();
    }
    for (auto& p : g_players_owned) {
        if (p) p->join();
        p.reset();
    }
}
