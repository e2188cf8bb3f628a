#include "media/audio/volume.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>

#include "media/audio/device_report.h"
#include "media/audio/sound_threads.h"
#include "platform/debug_log.h"
#include "protocol/texts.h"

namespace {
snd_mixer_t* open_default_mixer() {
    snd_mixer_t* m = nullptr;
    if (snd_mixer_open(&m, 0) < 0) return nullptr;
    if (snd_mixer_attach(m, "default") < 0 || snd_mixer_selem_register(m, nullptr, nullptr) < 0 ||
        snd_mixer_load(m) < 0) {
        snd_mixer_close(m);
        return nullptr;
    }
    return m;
}

bool has_capture_volume(snd_mixer_elem_t* e) {
    return snd_mixer_selem_is_active(e) && snd_mixer_selem_has_capture_volume(e);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
}  // namespace

int enumerate_input_lines(const std::function<bool(int, const std::string&)>& visit) {
    snd_mixer_t* m = open_default_mixer();
    if (!m) return -1;
    int index = 0;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(m); e; e = snd_mixer_elem_next(e)) {
        if (!has_capture_volume(e)) continue;
        if (!visit(index++, snd_mixer_selem_get_name(e))) break;
    }
    snd_mixer_close(m);
    return 0;
}

int find_microphone_line() {
    int mic = -1, first = -1;
    int rc = enumerate_input_lines([&](int index, const std::string& name) {
        if (first < 0) first = index;
        if (lower(name).find("mic") != std::string::npos) {
            mic = index;
            return false;
        }
        return true;
    });
    if (rc != 0) {
        log_line("EnumerateInputLines failed 1 in CWndMySliderMic OnCreate.\n");
        return -1;
    }
    if (mic < 0) mic = first;  // cards without a microphone element record through "Capture"
    if (mic < 0) log_line("EnumerateInputLines failed 2 in CWndMySliderMic OnCreate.\n");
    return mic;
}

std::unique_ptr<IVolume> create_microphone_volume() {
    auto v = std::make_unique<CVolumeInXXX>(find_microphone_line());
    if (!v->is_available())
        report_device_failure(device_kind::volume, make_text(TXT_NO_MIC_VOLUME));
    return v;
}

CVolumeInXXX::CVolumeInXXX(int source_index) : m_source_index(source_index) {
    if (source_index < 0) return;
    snd_mixer_t* m = open_default_mixer();
    if (!m) return;
    int index = 0;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(m); e; e = snd_mixer_elem_next(e)) {
        if (!has_capture_volume(e)) continue;
        if (index++ != source_index) continue;
        long lo = 0, hi = 0;
        if (snd_mixer_selem_get_capture_volume_range(e, &lo, &hi) < 0 || hi <= lo) break;
        m_mixer = m;
        m_elem = e;
        m_min = lo;
        m_max = hi;
        m_name = snd_mixer_selem_get_name(e);
        m_available = true;
        return;
    }
    snd_mixer_close(m);
}

CVolumeInXXX::~CVolumeInXXX() {
    if (m_mixer) snd_mixer_close(static_cast<snd_mixer_t*>(m_mixer));
}

void CVolumeInXXX::enable_line() {
    if (!m_available) return;
    auto* mine = static_cast<snd_mixer_elem_t*>(m_elem);
    auto* m = static_cast<snd_mixer_t*>(m_mixer);
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(m); e; e = snd_mixer_elem_next(e)) {
        if (snd_mixer_selem_is_enum_capture(e)) {
            // A source selector: its item named like our line, on every channel.
            int items = snd_mixer_selem_get_enum_items(e);
            for (int i = 0; i < items; i++) {
                char name[64];
                if (snd_mixer_selem_get_enum_item_name(e, static_cast<unsigned>(i), sizeof(name),
                                                       name) == 0 &&
                    lower(name) == lower(m_name)) {
                    for (int c = 0; c <= SND_MIXER_SCHN_LAST; c++)
                        snd_mixer_selem_set_enum_item(e,
                                                      static_cast<snd_mixer_selem_channel_id_t>(c),
                                                      static_cast<unsigned>(i));
                }
            }
        }
    }
    // Our own capture switch on, on every channel.
    if (snd_mixer_selem_has_capture_switch(mine)) snd_mixer_selem_set_capture_switch_all(mine, 1);
}

long CVolumeInXXX::get_steps() const {
    return m_available ? m_max - m_min + 1 : -1;
}

long CVolumeInXXX::get_volume() const {
    if (!m_available) return -1;
    snd_mixer_handle_events(static_cast<snd_mixer_t*>(m_mixer));
    long v = 0;
    if (snd_mixer_selem_get_capture_volume(static_cast<snd_mixer_elem_t*>(m_elem),
                                           SND_MIXER_SCHN_FRONT_LEFT, &v) < 0)
        return -1;
    return v;
}

void CVolumeInXXX::set_volume(long value) {
    if (!m_available || value < m_min || value > m_max) return;
    snd_mixer_selem_set_capture_volume_all(static_cast<snd_mixer_elem_t*>(m_elem), value);
}

void CVolumeInXXX::set_listener(void (*callback)(long, void*), void* user) {
    m_listener = callback;
    m_listener_user = user;
}

int set_speaker_volume(uint32_t volume) {
    volume = std::min<uint32_t>(volume, 0xFFFF);
    int n = 0;
    for (auto& slot : g_play_sound_threads) {
        CPlaySound* p = slot.load();
        if (p && p->device_open()) {
            p->set_volume(volume | (volume << 16));
            n++;
        }
    }
    return n;
}

uint32_t speaker_volume_start() {
    CPlaySound* p = g_play_sound_threads[0].load();
    if (!p || !p->device_open()) return 8191;
    uint32_t v = p->volume() & 0xFFFF;
    return v == 0 ? 8191 : v;
}
