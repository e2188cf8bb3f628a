#include "ui/chat/chat_dlg.h"

#include <QColorDialog>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "platform/debug_log.h"
#include "platform/thread.h"
#include "protocol/chat_session.h"
#include "protocol/commands.h"
#include "protocol/session.h"
#include "ui/chat/chat_texts.h"
#include "ui/chat/media_widgets.h"
#include "ui/chat/rtf_writer.h"
#include "ui/chat/save_format_dlg.h"
#include "ui/common/gui_call.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/main/main_dlg.h"
#include "ui/skin/controls.h"
#include "ui/skin/palette.h"

namespace {

// Hot spots of the media panel, 13 x 13 pixels, by their top-left client corner.
enum media_spot {
    SPOT_PEER_VIDEO,
    SPOT_ZOOM_PEER,
    SPOT_MY_VIDEO,
    SPOT_ZOOM_MINE,
    SPOT_MY_AUDIO,
    SPOT_PEER_AUDIO
};
const QPoint kSpots[] = {{135, 525}, {150, 525}, {320, 525}, {335, 525}, {380, 440}, {380, 460}};
const QRect kSwatch(15, 15, 15, 15);
const QRect kPeerPicture(20, 400, 160, 120);
const QRect kOwnPicture(200, 400, 160, 120);

chat_dlg_actions default_actions() {
    chat_dlg_actions a;
    // send_line is the application's: the line leaves through the session controller.
    auto set_field = [](int chat_media_state::*field) {
        return [field](int peer_id, bool on) {
            chat_session_update(peer_id, [&](chat_media_state& s) { s.*field = on ? 1 : 0; });
        };
    };
    a.set_my_audio = set_field(&chat_media_state::my_audio);
    a.set_peer_audio = set_field(&chat_media_state::peer_audio);
    a.set_peer_video = set_field(&chat_media_state::peer_video);
    a.set_my_video = [](int peer_id, bool on) {
        return chat_session_update(peer_id, [&](chat_media_state& s) { s.my_video = on ? 1 : 0; });
    };
    a.own_picture = [] { return std::shared_ptr<const peer_picture>(); };
    a.choose_save_format = [](QWidget* parent) {
        CDlgSaveFormat dlg(parent);
        return dlg.exec();
    };
    a.choose_save_file = [](QWidget* parent, bool rtf) {
        QFileDialog dlg(parent);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setOption(QFileDialog::ReadOnly, false);
        dlg.setDefaultSuffix(rtf ? QStringLiteral("rtf") : QStringLiteral("txt"));
        dlg.setNameFilters(
            {ui_text(rtf ? T_CHAT_RTF_FILTER : T_CHAT_TEXT_FILTER), ui_text(T_CHAT_ALL_FILTER)});
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
        return dlg.selectedFiles().first();
    };
    a.report = [](QWidget* parent, const QString& text) { show_message_text(text, parent); };
    return a;
}

// The open chat windows, for the sliders that move together. GUI thread only.
std::vector<CDlgPrivateChat*>& open_windows() {
    static std::vector<CDlgPrivateChat*> windows;
    return windows;
}

const QRegularExpression& link_pattern() {
    static const QRegularExpression re(
        QStringLiteral(R"((?:https?://|www\.)[^\s<>"]+[^\s<>".,;:!?)\]])"));
    return re;
}

}  // namespace

chat_dlg_actions& chat_actions() {
    static chat_dlg_actions actions = default_actions();
    return actions;
}

// ---- transcript ----

chat_transcript::chat_transcript(QWidget* parent) : QTextBrowser(parent) {
    setReadOnly(true);
    setOpenExternalLinks(true);
    setUndoRedoEnabled(false);
    setStyleSheet(skin_edit_style("QTextBrowser"));
}

void chat_transcript::append_line(const chat_line& line, const QString& time_tip) {
    QTextCharFormat fmt;
    fmt.setForeground(line.attrs.colour);
    fmt.setFontPointSize(line.attrs.size > 0 ? line.attrs.size : 8);
    fmt.setFontWeight((line.attrs.style & STYLE_BOLD) ? QFont::Bold : QFont::Normal);
    fmt.setFontItalic((line.attrs.style & STYLE_ITALIC) != 0);
    fmt.setFontUnderline((line.attrs.style & STYLE_UNDERLINE) != 0);
    fmt.setFontStrikeOut((line.attrs.style & STYLE_STRIKE) != 0);
    fmt.setToolTip(time_tip);

    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    c.beginEditBlock();
    // Each message starts a line of its own, also when the previous one came without a line end.
    if (!c.block().text().isEmpty()) c.insertBlock();
    qsizetype at = 0;
    auto it = link_pattern().globalMatch(line.text);
    while (it.hasNext()) {
        QRegularExpressionMatch m = it.next();
        c.insertText(line.text.mid(at, m.capturedStart() - at), fmt);
        QString url = m.captured();
        QTextCharFormat link = fmt;
        link.setAnchor(true);
        link.setAnchorHref(url.startsWith(QLatin1String("www.")) ? QStringLiteral("http://") + url
                                                                 : url);
        link.setFontUnderline(true);
        c.insertText(url, link);
        at = m.capturedEnd();
    }
    c.insertText(line.text.mid(at), fmt);
    c.endEditBlock();
    // Keep the end in view.
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QString chat_transcript::tip_at(const QPoint& viewport_pos) const {
    QTextCursor c = cursorForPosition(viewport_pos);
    if (c.atEnd() && !c.atBlockStart()) return QString();
    // The character after the position carries the format of the line under the pointer.
    c.movePosition(QTextCursor::NextCharacter);
    return c.charFormat().toolTip();
}

bool chat_transcript::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* he = static_cast<QHelpEvent*>(e);
        QString tip = tip_at(he->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(he->globalPos(), plain_tool_tip(tip), viewport());
        return true;
    }
    return QTextBrowser::viewportEvent(e);
}

// ---- window ----

CDlgPrivateChat::CDlgPrivateChat(int contact_id, const QString& nick_name, QWidget* parent)
    : Cgood_dlg(parent), m_contact_id(contact_id), m_nick(nick_name.left(31)) {
    setModal(false);
    setWindowTitle(ui_text(T_CHAT_WITH, {m_nick}));

    m_size_list = new CMyComboBox(this);
    for (int s = 6; s <= 50; s++) m_size_list->addItem(QString::number(s), s);
    m_size_list->setCurrentIndex(2);
    m_size_list->setMaxVisibleItems(12);  // 45 sizes: a scrolling list, not the screen's height
    connect(m_size_list, &QComboBox::currentIndexChanged, this, [this](int) {
        m_attrs.size = m_size_list->currentData().toInt();
        m_input->setFocus();
    });
    m_bold = new CMyButton(QStringLiteral("B"), this);
    m_italic = new CMyButton(QStringLiteral("I"), this);
    m_underline = new CMyButton(QStringLiteral("U"), this);
    m_strike = new CMyButton(QStringLiteral("S"), this);
    const std::pair<CMyButton*, int> styles[] = {{m_bold, STYLE_BOLD},
                                                 {m_italic, STYLE_ITALIC},
                                                 {m_underline, STYLE_UNDERLINE},
                                                 {m_strike, STYLE_STRIKE}};
    for (auto [b, bit] : styles) {
        b->setCheckable(true);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, [this, b = b, bit = bit] { toggle_style(bit, b); });
    }
    m_save = new CMyButton(ui_text(T_CHAT_SAVE), this);
    connect(m_save, &QPushButton::clicked, this, &CDlgPrivateChat::save_transcript);

    m_transcript = new chat_transcript(this);
    m_input = new CMyEdit(this);
    connect(m_input, &QPlainTextEdit::textChanged, this, &CDlgPrivateChat::input_changed);
    m_send_on_return = new CMyCheckBox(ui_text(T_CHAT_SEND_ON_RETURN), this);
    m_send_on_return->setChecked(true);
    m_send = new CMyButton(ui_text(T_CHAT_SEND), this);
    m_clear = new CMyButton(ui_text(T_CHAT_CLEAR), this);
    m_close = new CMyButton(ui_text(T_CHAT_CLOSE), this);
    for (CMyButton* b : {m_send, m_clear, m_close, m_save}) b->setAutoDefault(false);
    connect(m_send, &QPushButton::clicked, this, &CDlgPrivateChat::send_pressed);
    connect(m_clear, &QPushButton::clicked, this, [this] { m_input->clear(); });
    connect(m_close, &QPushButton::clicked, this, &CDlgPrivateChat::close_window);
    m_panel_link = new CMyStatic(ui_text(T_CHAT_SHOW_PANEL), this);
    m_panel_link->set_link(true);
    connect(m_panel_link, &CMyStatic::clicked, this, [this] { set_panel(!m_expanded); });

    // The media panel.
    m_quality = new CMyComboBox(this);
    for (int q : {50, 60, 70, 80, 90, 100}) m_quality->addItem(QString::number(q), q);
    m_quality->setCurrentIndex(2);
    m_video_size = new CMyComboBox(this);
    for (const char* s : {"160*120", "320*240", "640*480"})
        m_video_size->addItem(QString::fromLatin1(s), m_video_size->count());
    if (chat_actions().video_settings) {
        int quality = 70, size_index = 0;
        chat_actions().video_settings(&quality, &size_index);
        show_video_settings(quality, size_index);
    }
    // Quality and size are the client's: every open window's lists follow the choice.
    connect(m_quality, &QComboBox::currentIndexChanged, this, [this](int) {
        int quality = m_quality->currentData().toInt();
        if (chat_actions().set_video_quality) chat_actions().set_video_quality(quality);
        for (CDlgPrivateChat* w : open_windows())
            if (w != this) w->show_video_settings(quality, m_video_size->currentIndex());
    });
    connect(m_video_size, &QComboBox::currentIndexChanged, this, [this](int index) {
        message_owner_scope owner(this);  // a camera that fails to restart is told over it
        if (chat_actions().set_video_size) chat_actions().set_video_size(index);
        for (CDlgPrivateChat* w : open_windows())
            if (w != this) w->show_video_settings(m_quality->currentData().toInt(), index);
    });
    m_speed = new CMyComboBox(this);
    for (int r : {1, 2, 3, 4, 5, 7, 10, 12, 15, 20, 25, 30, 35, 40, 50})
        m_speed->addItem(QString::number(r), r);
    m_speed->setCurrentIndex(6);
    connect(m_speed, &QComboBox::currentIndexChanged, this, [this](int) {
        int rate = m_speed->currentData().toInt();
        chat_session_update(m_contact_id, [rate](chat_media_state& s) { s.video_rate = rate; });
    });
    m_quality_label = new CMyStatic(ui_text(T_CHAT_QUALITY), this);
    m_video_size_label = new CMyStatic(ui_text(T_CHAT_SIZE), this);
    m_speed_label = new CMyStatic(ui_text(T_CHAT_SPEED), this);
    m_my_audio_label = new CMyStatic(ui_text(T_CHAT_START_MY_AUDIO), this);
    m_peer_audio_label = new CMyStatic(ui_text(T_CHAT_STOP_PEER_AUDIO), this);
    m_mic_slider = new CWndMySliderMic(this);
    m_speaker_slider = new CWndMySliderSpeaker(this);
    m_mic_meter = new CWndVolumeShow(this);
    m_peer_meter = new CWndVolumeShow(this);
    // A slider released in one window sets the device and moves the same slider everywhere.
    connect(m_mic_slider, &CWndMySlider::released, this, [](int pos) {
        if (media_volume_hooks().mic_set) media_volume_hooks().mic_set(pos);
        for (CDlgPrivateChat* w : open_windows()) w->m_mic_slider->set_position(pos);
    });
    connect(m_speaker_slider, &CWndMySlider::released, this, [](int pos) {
        if (media_volume_hooks().speaker_set) media_volume_hooks().speaker_set(pos);
        for (CDlgPrivateChat* w : open_windows()) w->m_speaker_slider->set_position(pos);
    });
    open_windows().push_back(this);

    resize(kWidth, kCollapsedHeight);
    setMinimumSize(kWidth, kCollapsedHeight);
    place_children();
    set_panel(true);  // a window opens with its media panel shown
    m_input->setFocus();
}

QPoint CDlgPrivateChat::client_origin() const {
    return contentsRect().topLeft();
}

void CDlgPrivateChat::place_children() {
    QPoint o = client_origin();
    auto at = [o](QWidget* w, int x, int y, int wd, int ht) {
        w->setGeometry(o.x() + x, o.y() + y, wd, ht);
    };
    at(m_size_list, 40, 10, 50, 22);
    at(m_bold, 96, 10, 24, 22);
    at(m_italic, 122, 10, 24, 22);
    at(m_underline, 148, 10, 24, 22);
    at(m_strike, 174, 10, 24, 22);
    at(m_save, 420, 10, 80, 22);
    at(m_transcript, 10, 38, 490, 190);
    at(m_input, 10, 234, 490, 56);
    at(m_send_on_return, 10, 296, 130, 22);
    at(m_send, 268, 296, 74, 24);
    at(m_clear, 347, 296, 74, 24);
    at(m_close, 426, 296, 74, 24);
    at(m_panel_link, 10, 320, 200, 18);
    at(m_quality_label, 20, 350, 56, 22);
    at(m_quality, 76, 350, 56, 22);
    at(m_video_size_label, 150, 350, 40, 22);
    at(m_video_size, 190, 350, 86, 22);
    at(m_speed_label, 294, 350, 50, 22);
    at(m_speed, 344, 350, 50, 22);
    at(m_my_audio_label, 396, 440, 118, 14);
    at(m_peer_audio_label, 396, 460, 118, 14);
    at(m_mic_meter, 20, 540, 160, 16);
    at(m_peer_meter, 200, 540, 160, 16);
    at(m_mic_slider, 396, 484, 110, 16);
    at(m_speaker_slider, 396, 504, 110, 16);
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_quality_label, m_quality, m_video_size_label, m_video_size, m_speed_label, m_speed,
             m_my_audio_label, m_peer_audio_label, m_mic_meter, m_peer_meter, m_mic_slider,
             m_speaker_slider})
        w->setVisible(m_expanded);
}

void CDlgPrivateChat::set_panel(bool expand) {
    if (expand == m_expanded) return;
    m_expanded = expand;
    m_panel_link->setText(ui_text(expand ? T_CHAT_HIDE_PANEL : T_CHAT_SHOW_PANEL));
    int h = height() + (expand ? kPanelHeight : -kPanelHeight);
    setMinimumHeight(expand ? kCollapsedHeight + kPanelHeight : kCollapsedHeight);
    resize(width(), h);
    place_children();
    update();
}

void CDlgPrivateChat::show_with_panel(bool expand, bool activate) {
    setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    show();
    raise();
    if (activate) activateWindow();
    set_panel(expand);
}

void CDlgPrivateChat::close_window() {
    // The same switches the hot spots turn off, so the peer sees the same stop as from them.
    chat_dlg_actions& a = chat_actions();
    if (m_my_audio) toggle_media(SPOT_MY_AUDIO);
    if (m_peer_audio) toggle_media(SPOT_PEER_AUDIO);
    if (m_peer_video) toggle_media(SPOT_PEER_VIDEO);
    if (m_my_video) {
        if (a.set_my_video) a.set_my_video(m_contact_id, false);
        m_my_video = false;
    }
    for (CDlgVideoZoom* z : m_zoom)
        if (z) z->hide();
    hide();
}

void CDlgPrivateChat::show_video_settings(int quality, int size_index) {
    QSignalBlocker q(m_quality), v(m_video_size);
    int at = m_quality->findData(quality);
    if (at >= 0) m_quality->setCurrentIndex(at);
    if (size_index >= 0 && size_index < m_video_size->count())
        m_video_size->setCurrentIndex(size_index);
}

void CDlgPrivateChat::post(int n, intptr_t wparam, intptr_t lparam, note_payload owned) {
    // What the notification owns (a chat line's body, a buffer's levels) stays in the inbox until
    // its handler ran; one queued call drains whatever is waiting.
    bool wake;
    {
        std::lock_guard<std::mutex> lk(m_inbox_mutex);
        m_inbox.push_back(posted_note{n, wparam, lparam, std::move(owned)});
        wake = !m_drain_queued;
        m_drain_queued = true;
    }
    if (!wake) return;
    QPointer<CDlgPrivateChat> self(this);
    QMetaObject::invokeMethod(
        this, [self] { if (self) self->drain_inbox(); }, Qt::QueuedConnection);
}

void CDlgPrivateChat::drain_inbox() {
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        posted_note note;
        {
            std::lock_guard<std::mutex> lk(m_inbox_mutex);
            if (m_inbox.empty()) {
                m_drain_queued = false;
                return;
            }
            if (slice.elapsed() >= 8) break;  // the rest after other events had their turn
            note = std::move(m_inbox.front());
            m_inbox.pop_front();
        }
        handle_notification(note.n, note.w, note.l);
    }
    QPointer<CDlgPrivateChat> self(this);
    QTimer::singleShot(0, this, [self] { if (self) self->drain_inbox(); });
}

void CDlgPrivateChat::handle_notification(int n, intptr_t wparam, intptr_t lparam) {
    Q_ASSERT(on_gui_thread());
    if (auto step = CParloDlg::route_for(n).chat) (this->*step)(wparam, lparam);
}

void CDlgPrivateChat::chat_text(intptr_t wparam, intptr_t lparam) {
    show_body(reinterpret_cast<const char*>(wparam), static_cast<int>(lparam));
}

void CDlgPrivateChat::mic_levels(intptr_t, intptr_t lparam) {
    if (!lparam) return;
    for (char sample : *reinterpret_cast<const std::string*>(lparam))
        add_mic_level(static_cast<uint8_t>(sample));
}

void CDlgPrivateChat::peer_levels(intptr_t, intptr_t lparam) {
    if (!lparam) return;
    for (char sample : *reinterpret_cast<const std::string*>(lparam))
        add_peer_level(static_cast<uint8_t>(sample));
}

void CDlgPrivateChat::own_picture_changed(intptr_t, intptr_t) {
    picture_changed(true);
}

void CDlgPrivateChat::peer_picture_changed(intptr_t, intptr_t) {
    picture_changed(false);
}

void CDlgPrivateChat::picture_changed(bool mine) {
    update(
        QRect(client_origin() + (mine ? kOwnPicture : kPeerPicture).topLeft(), kOwnPicture.size()));
    if (CDlgVideoZoom* z = m_zoom[mine ? 0 : 1]) z->update();
}

void CDlgPrivateChat::show_body(const char* body, int len) {
    chat_line line;
    if (!parse_chat_body(body, len, &line)) return;
    QString tip = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    m_transcript->append_line(line, tip);
    // Back on screen, but the focus stays where the user is typing.
    if (!isVisible()) show_with_panel(m_expanded, false);
}

void CDlgPrivateChat::send_pressed() {
    QString typed = m_input->toPlainText();
    std::string text = chat_wire_text(typed, 1999);
    if (text.empty()) return;
    m_input->clear();
    send_text(text + "\r\n");
}

void CDlgPrivateChat::input_changed() {
    if (!m_send_on_return->isChecked()) return;
    QString typed = m_input->toPlainText().left(1998);
    if (typed.isEmpty() || !typed.endsWith(QChar('\n'))) return;
    std::string text = chat_wire_text(typed, 1998);
    QSignalBlocker block(m_input);
    m_input->clear();
    send_text(text);
}

void CDlgPrivateChat::send_text(const std::string& text) {
    if (text.empty()) return;
    unsigned char attrs[5];
    chat_attribute_bytes(m_attrs, attrs);
    // The line shows in this window when the peer's echo returns.
    if (chat_actions().send_line) chat_actions().send_line(m_contact_id, text, attrs);
}

void CDlgPrivateChat::toggle_style(int bit, CMyButton* b) {
    m_attrs.style ^= bit;
    b->setChecked((m_attrs.style & bit) != 0);
    m_input->setFocus();
}

void CDlgPrivateChat::pick_colour() {
    QColor c = QColorDialog::getColor(m_attrs.colour, this);
    if (c.isValid()) {
        m_attrs.colour = QColor(c.red(), c.green(), c.blue());
        update();
    }
    m_input->setFocus();
}

void CDlgPrivateChat::save_transcript() {
    int kind = chat_actions().choose_save_format(this);
    if (kind == CDlgSaveFormat::kNoChoice) {
        chat_actions().report(this, ui_text(T_CHAT_BAD_SAVE_TYPE));
        return;
    }
    if (kind != CDlgSaveFormat::kRtf && kind != CDlgSaveFormat::kText) return;
    bool rtf = kind == CDlgSaveFormat::kRtf;
    QString path = chat_actions().choose_save_file(this, rtf);
    if (path.isEmpty()) return;
    QByteArray bytes = rtf ? document_to_rtf(*m_transcript->document())
                           : m_transcript->document()->toPlainText().toUtf8();
    QFile f(path);
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    if (ok) ok = f.flush();
    f.close();
    if (!ok) {
        log_line("failed to save the chat transcript to %s\r\n", path.toLocal8Bit().constData());
        chat_actions().report(this, ui_text(T_CHAT_WRITE_FAILED));
    }
}

void CDlgPrivateChat::toggle_media(int which) {
    chat_dlg_actions& a = chat_actions();
    // What the switches make the core report (too many videos, no camera) opens over this window.
    message_owner_scope owner(this);
    switch (which) {
        case SPOT_MY_AUDIO:
            m_my_audio = !m_my_audio;
            if (a.set_my_audio) a.set_my_audio(m_contact_id, m_my_audio);
            m_my_audio_label->setText(
                ui_text(m_my_audio ? T_CHAT_STOP_MY_AUDIO : T_CHAT_START_MY_AUDIO));
            break;
        case SPOT_PEER_AUDIO:
            m_peer_audio = !m_peer_audio;
            if (a.set_peer_audio) a.set_peer_audio(m_contact_id, m_peer_audio);
            m_peer_audio_label->setText(
                ui_text(m_peer_audio ? T_CHAT_STOP_PEER_AUDIO : T_CHAT_START_PEER_AUDIO));
            break;
        case SPOT_MY_VIDEO:
            if (a.set_my_video && a.set_my_video(m_contact_id, !m_my_video))
                m_my_video = !m_my_video;
            break;
        case SPOT_PEER_VIDEO:
            m_peer_video = !m_peer_video;
            if (a.set_peer_video) a.set_peer_video(m_contact_id, m_peer_video);
            break;
        case SPOT_ZOOM_PEER:
        case SPOT_ZOOM_MINE:
            zoom(which == SPOT_ZOOM_MINE);
            break;
    }
    update();
}

CDlgPrivateChat::~CDlgPrivateChat() {
    auto& all = open_windows();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    for (CDlgVideoZoom* z : m_zoom) delete z;
}

void CDlgPrivateChat::add_mic_level(int value) {
    m_mic_meter->add_sample(value);
}
void CDlgPrivateChat::add_peer_level(int value) {
    m_peer_meter->add_sample(value);
}

CDlgVideoZoom* CDlgPrivateChat::zoom(bool mine) {
    CDlgVideoZoom*& z = m_zoom[mine ? 0 : 1];
    if (!z) {
        QPointer<CDlgPrivateChat> self(this);
        int peer = m_contact_id;
        // Each picture draws only while its switch is on.
        CDlgVideoZoom::picture_source source;
        if (mine)
            source = [self]() -> std::shared_ptr<const peer_picture> {
                if (!self || !self->m_my_video || !chat_actions().own_picture) return nullptr;
                return chat_actions().own_picture();
            };
        else
            source = [self, peer]() -> std::shared_ptr<const peer_picture> {
                chat_media_state st;
                if (!self || !self->m_peer_video || !chat_session_get(peer, &st)) return nullptr;
                return st.picture;
            };
        z = new CDlgVideoZoom(std::move(source));
        z->setWindowTitle(m_nick.isEmpty() ? ui_text(mine ? T_CHAT_MY_VIDEO : T_CHAT_PEER_VIDEO)
                                           : m_nick);
        z->move(x() + (mine ? 300 : 0), y());
    }
    z->show();
    z->raise();
    return z;
}

void CDlgPrivateChat::click_client(QPoint p) {
    if (kSwatch.contains(p)) {
        pick_colour();
        return;
    }
    if (!m_expanded) return;
    for (int i = 0; i < 6; i++)
        if (QRect(kSpots[i], QSize(13, 13)).contains(p)) {
            toggle_media(i);
            return;
        }
}

void CDlgPrivateChat::mousePressEvent(QMouseEvent* e) {
    QPoint client = e->position().toPoint() - client_origin();
    if (e->button() == Qt::LeftButton && client.y() >= 0 &&
        !in_title_band(e->position().toPoint())) {
        click_client(client);
        return;
    }
    Cgood_dlg::mousePressEvent(e);
}

QString CDlgPrivateChat::spot_tip(QPoint client) const {
    if (!m_expanded) return QString();
    for (int i = 0; i < 6; i++) {
        if (!QRect(kSpots[i], QSize(13, 13)).contains(client)) continue;
        switch (i) {
            case SPOT_PEER_VIDEO:
                return ui_text(m_peer_video ? T_CHAT_STOP_PEER_VIDEO : T_CHAT_START_PEER_VIDEO);
            case SPOT_ZOOM_PEER:
                return ui_text(T_CHAT_ZOOM_PEER_VIDEO);
            case SPOT_MY_VIDEO:
                return ui_text(m_my_video ? T_CHAT_STOP_MY_VIDEO : T_CHAT_START_MY_VIDEO);
            case SPOT_ZOOM_MINE:
                return ui_text(T_CHAT_ZOOM_MY_VIDEO);
            case SPOT_MY_AUDIO:
                return ui_text(m_my_audio ? T_CHAT_STOP_MY_AUDIO : T_CHAT_START_MY_AUDIO);
            default:
                return ui_text(m_peer_audio ? T_CHAT_STOP_PEER_AUDIO : T_CHAT_START_PEER_AUDIO);
        }
    }
    return QString();
}

bool CDlgPrivateChat::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* he = static_cast<QHelpEvent*>(e);
        QString tip = spot_tip(he->pos() - client_origin());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(he->globalPos(), tip, this);
        return true;
    }
    return Cgood_dlg::event(e);
}

void CDlgPrivateChat::paintEvent(QPaintEvent* e) {
    Cgood_dlg::paintEvent(e);
    QPainter p(this);
    p.translate(client_origin());
    p.fillRect(kSwatch, m_attrs.colour);
    p.setPen(Qt::gray);
    p.drawRect(kSwatch.adjusted(0, 0, -1, -1));
    if (!m_expanded) return;
    p.setPen(skin_colour(SKIN_TEXT));
    p.drawText(QPoint(20, 392), ui_text(T_CHAT_PEER_VIDEO));
    p.drawText(QPoint(200, 392), ui_text(T_CHAT_MY_VIDEO));
    p.drawText(QPoint(375, 430), ui_text(T_CHAT_AUDIO));
    chat_media_state st;
    std::shared_ptr<const peer_picture> peer_pic;
    if (chat_session_get(m_contact_id, &st)) peer_pic = st.picture;
    draw_peer_picture(p, kPeerPicture, m_peer_video ? peer_pic.get() : nullptr);
    std::shared_ptr<const peer_picture> own;
    if (chat_actions().own_picture) own = chat_actions().own_picture();
    draw_peer_picture(p, kOwnPicture, m_my_video ? own.get() : nullptr);
    // State of the four switches: a filled square when on.
    const std::pair<int, bool> states[] = {{SPOT_PEER_VIDEO, m_peer_video},
                                           {SPOT_MY_VIDEO, m_my_video},
                                           {SPOT_MY_AUDIO, m_my_audio},
                                           {SPOT_PEER_AUDIO, m_peer_audio}};
    for (auto [spot, on] : states) {
        QRect r(kSpots[spot], QSize(13, 13));
        p.fillRect(r, on ? QColor(0x40, 0xa0, 0x40) : QColor(0xb0, 0xb0, 0xb0));
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    for (int spot : {SPOT_ZOOM_PEER, SPOT_ZOOM_MINE}) {
        QRect r(kSpots[spot], QSize(13, 13));
        p.drawRect(r.adjusted(0, 0, -1, -1));
        p.drawLine(r.left() + 3, r.center().y(), r.right() - 3, r.center().y());
        p.drawLine(r.center().x(), r.top() + 3, r.center().x(), r.bottom() - 3);
    }
}
