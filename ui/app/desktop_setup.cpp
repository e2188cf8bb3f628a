#include "ui/app/desktop_setup.h"

#include <memory>

#include "media/audio/audio_constants.h"
#include "media/audio/audio_service.h"
#include "media/audio/volume.h"
#include "media/video/my_video.h"
#include "media/video/video_exchange.h"
#include "platform/debug_log.h"
#include "protocol/tables.h"
#include "ui/app/parlo_app.h"
#include "ui/chat/chat_dlg.h"
#include "ui/chat/chat_windows.h"
#include "ui/chat/media_widgets.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/contacts/contact_panel.h"
#include "ui/contacts/install_contacts.h"
#include "ui/contacts/ui_asker.h"
#include "ui/main/main_dlg.h"

namespace {

// The main window's hooks with the chat windows' share in front: the level samples of the
// voice path go to the chat window of their peer; everything else to the contact windows.
struct media_hooks : contact_ui_hooks {
    contact_ui_hooks* contacts = nullptr;
    void notification(int n, intptr_t wparam, intptr_t lparam, const QString& text) override {
        if (n == audio::kNotifyMicLevel || n == audio::kNotifyPeerLevel) {
            auto* w =
                static_cast<CDlgPrivateChat*>(get_chat_dlg_from_peer_id(static_cast<int>(wparam)));
            if (!w) return;
            if (n == audio::kNotifyMicLevel)
                w->add_mic_level(static_cast<int>(lparam));
            else
                w->add_peer_level(static_cast<int>(lparam));
            return;
        }
        contacts->notification(n, wparam, lparam, text);
    }
    void signed_out() override { contacts->signed_out(); }
    bool command(int id) override { return contacts->command(id); }
    void open_registration() override { contacts->open_registration(); }
};

std::unique_ptr<IVolume> g_mic;

// The chat window's media switches and volume controls over the sound and video layers.
void install_media_actions() {
    chat_dlg_actions& a = chat_actions();
    a.set_my_video = [](int peer_id, bool on) { return video_set_my_video(peer_id, on) == 0; };
    a.set_peer_video = [](int peer_id, bool on) { video_set_peer_video(peer_id, on); };
    a.own_picture = [] { return my_video_picture(); };
    volume_hooks& v = media_volume_hooks();
    v.mic_query = [](int* min, int* max, int* volume) {
        if (!g_mic) g_mic = create_microphone_volume();
        if (!g_mic || !g_mic->is_available()) return false;
        *min = g_mic->get_minimum();
        *max = g_mic->get_maximum();
        *volume = g_mic->get_volume();
        return true;
    };
    v.mic_set = [](int volume) {
        if (g_mic && g_mic->is_available()) g_mic->set_volume(volume);
    };
    // A notice, non-modal: every chat window asks, and none waits for the user (the same text
    // already open is brought to the front instead).
    v.mic_unavailable = [] {
        show_notice(
            QStringLiteral("failed to create IVolume, please check your microphone device."));
    };
    v.speaker_query = [] { return static_cast<int>(speaker_volume_start()); };
    v.speaker_set = [](int volume) { set_speaker_volume(static_cast<uint32_t>(volume)); };
}

}  // namespace

void install_desktop_windows(CParloApp& parlo) {
    static ui_question_asker asker;
    static media_hooks hooks;
    parlo.set_window_setup(
        [](CParloDlg* dlg) {
            dlg->controller().set_asker(&asker);
            hooks.contacts = install_contacts(dlg, asker);
            dlg->set_contact_hooks(&hooks);
            install_chat_windows(dlg->controller());
            QObject::connect(static_cast<CContactPanel*>(hooks.contacts),
                             &CContactPanel::chat_requested, dlg,
                             [dlg](int peer_id, bool audio_video) {
                                 dlg->run_in_session([dlg, peer_id, audio_video] {
                                     show_chat_dlg(dlg->controller(), peer_id, audio_video);
                                 });
                             });
            install_media_actions();
            // A line leaves on the session thread's worker; a failure comes back as a message.
            chat_actions().send_line = [dlg](int peer_id, const std::string& text,
                                             const unsigned char a[5]) {
                chat_style style;
                style.colour =
                    static_cast<uint32_t>(a[0]) << 16 | static_cast<uint32_t>(a[1]) << 8 | a[2];
                style.size = a[3];
                style.style = a[4];
                dlg->run_in_session([dlg, peer_id, text, style] {
                    dlg->controller().send_chat_line(peer_id, text, style);
                });
            };
            audio_config audio;
            load_audio_settings(&audio);
            start_audio(audio);
            video_load_input_setting();
            video_exchange_start();
        },
        [] {
            video_exchange_stop();
            video_stop_capture();
            stop_audio();
            g_mic.reset();
        });
}

void remove_desktop_windows() {
    destroy_chat_windows();
}
