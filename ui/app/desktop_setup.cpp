#include "ui/app/desktop_setup.h"

#include <QFile>
#include <QPointer>
#include <atomic>
#include <memory>
#include <mutex>

#include "media/audio/audio_service.h"
#include "media/audio/device_watch.h"
#include "media/audio/volume.h"
#include "media/video/my_video.h"
#include "media/video/video_exchange.h"
#include "platform/debug_log.h"
#include "platform/thread.h"
#include "protocol/tables.h"
#include "ui/app/parlo_app.h"
#include "ui/chat/chat_dlg.h"
#include "ui/chat/chat_windows.h"
#include "ui/chat/media_widgets.h"
#include "ui/common/gui_call.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/contacts/contact_panel.h"
#include "ui/contacts/install_contacts.h"
#include "ui/contacts/ui_asker.h"
#include "ui/dialogs/devices_dialog.h"
#include "ui/main/knock_sound.h"
#include "ui/main/main_dlg.h"
#include "ui/main/menu_commands.h"

namespace {

// The microphone's mixer control, made and used only on job threads (enumerating an ALSA mixer
// can take a while: never on the GUI thread).
std::mutex g_mic_mutex;
std::unique_ptr<IVolume> g_mic;  // guarded by g_mic_mutex
// The last volume the slider asked for, applied by one job at a time.
std::atomic<int> g_mic_wanted{-1};
std::atomic<bool> g_mic_setting{false};
// Held while a job opens the camera and while the teardown stops it; g_media_up is guarded by it.
std::mutex g_camera_mutex;
bool g_media_up = false;
// The capture size the user chose last (a size index), applied by the jobs under g_camera_mutex.
std::atomic<int> g_size_wanted{0};

void apply_mic_volume() {
    for (;;) {
        int v = g_mic_wanted.exchange(-1);
        if (v >= 0) {
            std::lock_guard<std::mutex> lk(g_mic_mutex);
            if (g_mic && g_mic->is_available()) g_mic->set_volume(v);
        }
        g_mic_setting = false;
        // A value that came in after the exchange and found the job still running is ours.
        if (g_mic_wanted.load() < 0 || g_mic_setting.exchange(true)) return;
    }
}

// A camera that cannot be opened is told once a run (the log has each attempt), as a notice that
// waits for nobody, over the window whose switch or list asked for it while that is still there.
// Any thread.
std::atomic<bool> g_no_camera_told{false};
void report_no_camera(const QPointer<QWidget>& owner) {
    if (g_no_camera_told.exchange(true)) return;
    post_to_gui(nullptr, [owner] { show_notice(ui_text(T_NO_CAMERA), owner.data()); });
}

// The camera runs while some chat session has my-video on: it opens and closes on a job (a device
// can take a while), after the teardown never.
// A failure is told over owner while that window is still there.
void camera_follow_switches(const QPointer<QWidget>& owner) {
    std::lock_guard<std::mutex> lk(g_camera_mutex);
    if (!g_media_up) return;
    if (video_follow_my_switches() != 0) report_no_camera(owner);
}

// Any thread, possibly under the chat tables' lock: only starts a job.
void on_my_switches(int which) {
    if (which & kMySwitchVideo) start_job([] { camera_follow_switches(QPointer<QWidget>()); });
}

// The chat window's media switches and volume controls over the sound and video layers.
void install_media_actions() {
    chat_dlg_actions& a = chat_actions();
    // Opening a camera can take a while: the switch is set at once, the device opens on a job
    // (never after the windows' teardown stopped the camera).
    a.set_my_video = [](int peer_id, bool on) {
        if (video_set_my_video(peer_id, on, false) != 0) return false;
        // A change of the switch starts the job through the observer; a switch already on
        // with no camera running tries again, telling a failure over this window.
        QPointer<QWidget> owner(message_owner_scope::current());
        if (on && !video_capture_running())
            start_job([owner] { camera_follow_switches(owner); });
        return true;
    };
    a.set_peer_video = [](int peer_id, bool on) { video_set_peer_video(peer_id, on); };
    a.own_picture = [] { return my_video_picture(); };
    a.set_video_quality = [](int quality) { video_set_quality(quality); };
    // A running capture restarts at the new size on a job: closing and reopening a camera can
    // take a while.
    a.set_video_size = [](int size_index) {
        g_size_wanted = size_index;
        QPointer<QWidget> owner(message_owner_scope::current());
        start_job([owner] {
            std::lock_guard<std::mutex> lk(g_camera_mutex);
            // The latest choice: jobs of quick successive choices may run in any order.
            if (g_media_up && video_set_size_index(g_size_wanted.load()) != 0)
                report_no_camera(owner);
        });
    };
    a.video_settings = [](int* quality, int* size_index) {
        *quality = video_quality();
        *size_index = video_size_index();
    };
    volume_hooks& v = media_volume_hooks();
    // Called on a job thread (the slider asks off the GUI thread).
    v.mic_query = [](int* min, int* max, int* volume) {
        std::lock_guard<std::mutex> lk(g_mic_mutex);
        if (!g_mic) g_mic = create_microphone_volume();
        if (!g_mic || !g_mic->is_available()) return false;
        *min = g_mic->get_minimum();
        *max = g_mic->get_maximum();
        *volume = g_mic->get_volume();
        return true;
    };
    v.mic_set = [](int volume) {
        g_mic_wanted = volume;
        if (!g_mic_setting.exchange(true) && start_job(apply_mic_volume) != 0) g_mic_setting = false;
    };
    // The user was told once, when the control was made (create_microphone_volume); each
    // further chat window only notes it.
    v.mic_unavailable = [](QWidget*) { log_line("microphone volume control unavailable\n"); };
    v.speaker_query = [] { return static_cast<int>(speaker_volume_start()); };
    v.speaker_set = [](int volume) { set_speaker_volume(static_cast<uint32_t>(volume)); };
}

}  // namespace

void install_desktop_windows(CParloApp& parlo) {
    static ui_question_asker asker;
    parlo.set_window_setup(
        [](CParloDlg* dlg) {
            dlg->controller().set_asker(&asker);
            contact_ui_hooks* contacts = install_contacts(dlg, asker);
            dlg->set_contact_hooks(contacts);
            install_chat_windows(dlg->controller());
            QObject::connect(static_cast<CContactPanel*>(contacts),
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
                chat_style style = chat_style_from_bytes(a);
                dlg->run_in_session([dlg, peer_id, text, style] {
                    dlg->controller().send_chat_line(peer_id, text, style);
                });
            };
            audio_config audio;
            load_audio_settings(&audio);
            start_audio(audio);
            // Cards and cameras plugged in or out reach the sound and the devices dialog.
            start_device_watch();
            set_devices_dialog_opener(open_devices_dialog);
            // The knock plays through the same sound output as the voices, never on this thread.
            set_knock_player([](const QString& path) {
                play_sound_file(QFile::encodeName(path).toStdString());
            });
            video_load_input_setting();
            video_exchange_start();
            add_my_switch_observer(on_my_switches);
            std::lock_guard<std::mutex> lk(g_camera_mutex);
            g_media_up = true;
        },
        [] {
            remove_my_switch_observer(on_my_switches);
            set_knock_player(nullptr);
            {
                std::lock_guard<std::mutex> lk(g_camera_mutex);
                g_media_up = false;
            }
            set_devices_dialog_opener(nullptr);
            stop_device_watch();
            video_exchange_stop();
            video_stop_capture();
            stop_audio();
            std::lock_guard<std::mutex> lk(g_mic_mutex);
            g_mic.reset();
        });
}

void remove_desktop_windows() {
    destroy_chat_windows();
}
