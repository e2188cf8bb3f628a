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

class CDlgPrivateChat : public Cgood_dlg, public chat_window {
    Q_OBJECT
public:
    static constexpr int kPanelHeight = 215;
    static constexpr int kWidth = 520;
    static constexpr int kCollapsedHeight = 380;

    CDlgPrivateChat(int contact_id, const QString& nick_name, QWidget* parent = nullptr);

    // chat_window
    int peer_id() const override { return m_contact_id; }
    void post(int n, intptr_t wparam, intptr_t lparam, note_payload owned = {}) override;

    // Shows the window (raised, not stealing focus from another application) and sets its panel.
    void show_with_panel(bool expand);
    void set_panel(bool expand);
    bool panel_expanded() const { return m_expanded; }

    // Notification 7: a received (or echoed) body.
    void show_body(const char* body, int len);
    // Sends the input as the "Send" button does; and the "Send On Return" rule.
    void send_pressed();
    void save_transcript();

    chat_attributes& attributes() { return m_attrs; }
    chat_transcript* transcript() const { return m_transcript; }
    CMyEdit* input() const { return m_input; }
    CMyCheckBox* send_on_return() const { return m_send_on_return; }
    CMyComboBox* size_list() const { return m_size_list; }
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
    void reject() override { hide(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    void handle_notification(int n, intptr_t wparam, intptr_t lparam);
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
    void draw_picture(QPainter& p, const QRect& at, const peer_picture* pic, bool on);
    void toggle_media(int which);

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
    CMyComboBox *m_quality, *m_video_size, *m_speed;
    CWndMySliderMic* m_mic_slider;
    CWndMySliderSpeaker* m_speaker_slider;
    CWndVolumeShow *m_mic_meter, *m_peer_meter;
    CDlgVideoZoom* m_zoom[2] = {nullptr, nullptr};
};
