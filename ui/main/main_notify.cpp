// The main window's notifications: the protocol side on the session thread, then what the user
// sees on the GUI thread.
#include <QApplication>

#include "protocol/commands.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "ui/common/event_popup.h"
#include "ui/common/gui_call.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/main/knock_sound.h"
#include "ui/main/main_dlg.h"
#include "ui/skin/controls.h"

namespace {
QString utf8(const char* s) {
    return QString::fromUtf8(s);
}
}  // namespace

void CParloDlg::on_notification(int n, intptr_t wparam, intptr_t lparam) {
    visible_event e{n, wparam, lparam, user_text(), std::string()};
    int id = static_cast<int>(wparam);
    switch (n) {
        case NM_KNOCK:
            // Empty for an unknown contact (logged) and for a blocked one: nothing is shown or
            // heard.
            e.text = m_controller.knock_text(id);
            if (e.text.empty()) return;
            break;
        case NM_SERVER_NOTICE:
        case NM_SERVER_NOTICE2:
            e.notice = note_text(wparam, lparam);
            e.wparam = e.lparam = 0;
            break;
        case NM_MIC_LEVEL:
        case NM_PEER_LEVEL:
            return;  // a meter's samples for a chat window no longer open
        case NM_PEER_CHAT_LINE:
        case NM_OFFLINE_TEXT:
            // The controller hands the line to its chat window, or keeps the chunk: nothing for
            // the main window to show, and the data they point at goes with the handler's end.
            m_controller.handle(n, wparam, lparam);
            return;
        case NM_GROUP_UPDATE_SUCCESS:
            e.text = m_controller.handle(n, wparam, lparam);
            e.lparam = 0;  // the name it pointed at is in the group table now
            break;
        case NM_CONNECTING:
            e.text = m_controller.handle(n, wparam, lparam);
            // A report that came after the session was back or over changes nothing.
            if (!m_controller.resuming()) return;
            break;
        default:
            e.text = m_controller.handle(n, wparam, lparam);
            break;
    }
    QMetaObject::invokeMethod(
        this, [this, e] { show_notification(e); }, Qt::QueuedConnection);
}

void CParloDlg::show_notification_message(const QString& text) {
    m_last_message = text;
    // Non-modal: several reports may stand at once, and none holds the notifications behind it.
    if (m_show_messages) show_notice(text, this);
}

void CParloDlg::popup(const QString& text) {
    m_popups_opened++;
    m_last_popup = show_event_popup(text);
}

void CParloDlg::show_notification(const visible_event& e) {
    Q_ASSERT(on_gui_thread());
    if (m_stopped) return;
    m_shown++;
    m_last_shown = e.n;
    int id = static_cast<int>(e.wparam);
    QString shown;
    switch (e.n) {
        case NM_LOGIN_SUCCESS:
            m_resuming = false;
            set_my_status_display(0);
            lay_out();
            break;
        case NM_CONNECTING:
            // The session stays on screen while the sign-in is tried again; the status link
            // says so instead of a presence, and no box interrupts the user.
            m_resuming = true;
            show_connecting();
            lay_out();
            m_hooks->notification(e.n, e.wparam, e.lparam, QString());
            return;
        case NM_LOGIN_FAILED:
            if (m_resuming) {
                m_resuming = false;
                set_my_status_display(0);
                lay_out();
            }
            break;
        case NM_WELCOME: {
            // The caption, never a message box.
            session_texts t = get_session_texts();
            setWindowTitle(e.text.empty() ? ui_text(T_WELCOME, {utf8(t.my_name1), utf8(t.my_name2),
                                                                utf8(t.my_name3)})
                                          : ui_text(e.text));
            m_hooks->notification(e.n, e.wparam, e.lparam, QString());
            return;
        }
        case NM_SET_MY_STATUS:
            if (id >= 0 && id <= 7) set_my_status_display(id);
            break;
        case NM_LOGGED_IN_ELSEWHERE:
            // The controller signs out and closes the connection on a worker; the window shows the
            // signed-out state now.
            g_logged_in = 0;
            m_resuming = false;
            m_questions->close_all();
            m_hooks->signed_out();
            lay_out();
            break;
        case NM_KNOCK:
            popup(ui_text(e.text));
            play_knock_sound();
            return;
        case NM_SERVER_NOTICE:
        case NM_SERVER_NOTICE2:
            // Words from the server, shown as they are: never read as a format, at most 512.
            popup(QString::fromUtf8(e.notice.c_str()).left(512));
            return;
        case NM_FILE_ASK:
            // The question is the asker's non-modal dialog; the text is not shown again.
            m_hooks->notification(e.n, e.wparam, e.lparam, QString());
            return;
        case NM_CONTACT_STATUS:
            m_questions->peer_status(id, static_cast<int>(e.lparam));
            break;
        case NM_PEER_STATUS:
            m_questions->peer_status(id, static_cast<int>(e.lparam));
            // The controller's text when the contact came online: a pop-up, not a message box.
            if (!e.text.empty()) popup(ui_text(e.text));
            m_hooks->notification(e.n, e.wparam, e.lparam, QString());
            return;
        default:
            break;
    }
    // Refusals and confirmations; the rest of what a notification shows is the tree's and the
    // dialogs' (hooks).
    if (!e.text.empty()) {
        shown = ui_text(e.text);
        show_notification_message(shown);
    }
    m_hooks->notification(e.n, e.wparam, e.lparam, shown);
}
