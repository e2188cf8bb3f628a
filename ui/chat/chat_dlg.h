// The one-to-one conversation window: a formatted transcript, an input with size, style and colour
// choices, saving as RTF or text, and the audio/video panel below. At most one window per contact
// and 20 in all (the chat-window table); closing hides it, a new message shows it again.
//
// Threads: the window lives on the GUI thread. As a chat_window it is also called by the peer
// session, media and receive threads: post() queues the call to the GUI thread and returns; what
// the notification owns (the body of notification 7) lives until the handler ran.
#pragma once
#include <QPointer>
#include <QTextBrowser>
#include <deque>
#include <functional>
#include <mutex>
#include <memory>
#include <string>

#include "protocol/notify.h"
#include "ui/chat/chat_body.h"
#include "ui/main/contact_hooks.h"
#include "ui/skin/good_dlg.h"

class CMyButton;
class CMyCheckBox;
class CMyComboBox;
class CMyEdit;
class CMyStatic;
class CWndMySliderMic;
class CWndMySliderSpeaker;
class CWndVolumeShow;
class CDlgVideoZoom;
struct peer_picture;

// The read-only transcript: links open in the desktop's browser, and a line's arrival time shows
// as a tool tip over it.
class chat_transcript : public QTextBrowser {
    Q_OBJECT
public:
    explicit chat_transcript(QWidget* parent = nullptr);
    // Appends a line at the end with its looks; web addresses become links.
    void append_line(const chat_line& line, const QString& time_tip);
    QString tip_at(const QPoint& viewport_pos) const;

protected:
    bool viewportEvent(QEvent* e) override;
};

// What the window does outside itself. The application fills these once; tests replace them.
struct chat_dlg_actions {
    // Sends one line to the peer (never blocks the caller: the connect and send run on a worker).
    std::function<void(int peer_id, const std::string& text, const unsigned char attrs[5])>
        send_line;
    // The media switches: the new state wanted. my_video returns false when it was refused.
    std::function<void(int peer_id, bool on)> set_my_audio;
    std::function<void(int peer_id, bool on)> set_peer_audio;
    std::function<bool(int peer_id, bool on)> set_my_video;
    std::function<void(int peer_id, bool on)> set_peer_video;
    // The client's video settings, shared by every window: quality 50-100, and the size index
    // (0 160x120, 1 320x240, 2 640x480). Setting the size restarts a running capture, off the
    // GUI thread. video_settings reads both.
    std::function<void(int quality)> set_video_quality;
    std::function<void(int size_index)> set_video_size;
    std::function<void(int* quality, int* size_index)> video_settings;
    // The last own captured frame (null while none).
    std::function<std::shared_ptr<const peer_picture>()> own_picture;
    // The file a save should write: rtf or plain text. Empty: cancelled.
    std::function<QString(QWidget* parent, bool rtf)> choose_save_file;
    // The save-format question: 1 RTF, 2 text, 0 cancel, 3 accepted without a choice.
    std::function<int(QWidget* parent)> choose_save_format;
    // Tells the user something went wrong (a message box).
    std::function<void(QWidget* parent, const QString& text)> report;
};
chat_dlg_actions& chat_actions();

class CDlgPrivateChat : public Cgood_dlg, public chat_window, public chat_ui_hooks {
    Q_OBJECT
public:
    static constexpr int kPanelHeight = 215;
    static constexpr int kWidth = 520;
    static constexpr int kCollapsedHeight = 380;

    CDlgPrivateChat(int contact_id, const QString& nick_name, QWidget* parent = nullptr);

    // chat_window
    int peer_id() const override { return m_contact_id; }
    void post(int n, intptr_t wparam, intptr_t lparam, note_payload owned = {}) override;

    // Shows the window raised and sets its panel. The user's own open-or-show activates it; a
    // window brought back by an arriving line shows without taking the focus.
    void show_with_panel(bool expand, bool activate = true);
    // "Close", Escape and the close box: the window hides and its call ends: my voice and picture
    // stop going to the peer and the peer's stop playing and showing (the switches turn off).
    void close_window();
    void set_panel(bool expand);
    bool panel_expanded() const { return m_expanded; }

    // Notification 7: a received (or echoed) body.
    void show_body(const char* body, int len);
    // chat_ui_hooks: the steps the main window's table names for what is posted here.
    void chat_text(intptr_t wparam, intptr_t lparam) override;
    void mic_levels(intptr_t wparam, intptr_t lparam) override;
    void peer_levels(intptr_t wparam, intptr_t lparam) override;
    void own_picture_changed(intptr_t wparam, intptr_t lparam) override;
    void peer_picture_changed(intptr_t wparam, intptr_t lparam) override;
    // Sends the input as the "Send" button does; and the "Send On Return" rule.
    void send_pressed();
    void save_transcript();

    chat_attributes& attributes() { return m_attrs; }
    chat_transcript* transcript() const { return m_transcript; }
    CMyEdit* input() const { return m_input; }
    CMyCheckBox* send_on_return() const { return m_send_on_return; }
    CMyComboBox* size_list() const { return m_size_list; }
    CMyComboBox* quality_list() const { return m_quality; }
    CMyComboBox* video_size_list() const { return m_video_size; }
    // B, I, U, S by index 0-3.
    CMyButton* style_button(int i) const {
        CMyButton* const buttons[] = {m_bold, m_italic, m_underline, m_strike};
        return buttons[i];
    }
    CMyButton* close_button() const { return m_close; }
    // Switch states as the panel shows them.
    bool my_audio_on() const { return m_my_audio; }
    bool my_video_on() const { return m_my_video; }
    bool peer_audio_on() const { return m_peer_audio; }
    bool peer_video_on() const { return m_peer_video; }
    // The tool tip of the panel's hot spot at a client point (empty elsewhere).
    QString spot_tip(QPoint client) const;
    CMyStatic* panel_link() const { return m_panel_link; }
    // Client-area point (the content area's top-left is 0,0) of a hot spot click.
    void click_client(QPoint client);
    QPoint client_origin() const;

    // Level samples for the meters (0-255, 128 silence), from posted notifications.
    void add_mic_level(int value);
    void add_peer_level(int value);
    CWndMySliderMic* mic_slider() const { return m_mic_slider; }
    CWndMySliderSpeaker* speaker_slider() const { return m_speaker_slider; }
    CWndVolumeShow* mic_meter() const { return m_mic_meter; }
    CWndVolumeShow* peer_meter() const { return m_peer_meter; }
    // The zoom window of my picture or the peer's (made on first use, then shown again).
    CDlgVideoZoom* zoom(bool mine);
    ~CDlgPrivateChat() override;

public slots:
    void reject() override { close_window(); }

protected:
    bool event(QEvent*) override;
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    void handle_notification(int n, intptr_t wparam, intptr_t lparam);
    void picture_changed(bool mine);
    // Runs what was posted, a slice at a time, so that a burst (a flood of lines, a call's
    // meters) never holds the event loop for long.
    void drain_inbox();
    struct posted_note {
        int n;
        intptr_t w;
        intptr_t l;
        note_payload owned;
    };
    std::mutex m_inbox_mutex;
    std::deque<posted_note> m_inbox;  // guarded by m_inbox_mutex
    bool m_drain_queued = false;      // guarded by m_inbox_mutex
    void input_changed();
    void send_text(const std::string& text);
    void toggle_style(int bit, CMyButton* b);
    void pick_colour();
    void place_children();
    void toggle_media(int which);
    // The video lists show the client's current settings (no signal while they change).
    void show_video_settings(int quality, int size_index);

    int m_contact_id;
    QString m_nick;
    chat_attributes m_attrs;
    bool m_expanded = false;
    bool m_my_audio = false, m_peer_audio = true, m_my_video = false, m_peer_video = false;
    chat_transcript* m_transcript;
    CMyEdit* m_input;
    CMyComboBox* m_size_list;
    CMyButton *m_bold, *m_italic, *m_underline, *m_strike, *m_save;
    CMyCheckBox* m_send_on_return;
    CMyButton *m_send, *m_clear, *m_close;
    CMyStatic* m_panel_link;
    CMyStatic *m_my_audio_label, *m_peer_audio_label;
    CMyStatic *m_quality_label, *m_video_size_label, *m_speed_label;
    CMyComboBox *m_quality, *m_video_size, *m_speed;
    CWndMySliderMic* m_mic_slider;
    CWndMySliderSpeaker* m_speaker_slider;
    CWndVolumeShow *m_mic_meter, *m_peer_meter;
    CDlgVideoZoom* m_zoom[2] = {nullptr, nullptr};
};
