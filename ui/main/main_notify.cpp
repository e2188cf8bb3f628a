// The visible side of the main window's notifications.
#include <QApplication>

#include "platform/thread.h"
#include "protocol/commands.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "ui/common/event_popup.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/main/knock_sound.h"
#include "ui/main/main_dlg.h"
#include "ui/skin/controls.h"

namespace {
QString utf8(const char* s) { return QString::fromUtf8(s); }
}  // namespace

void CParloDlg::show_notification_message(const QString& text) {
    m_last_message = text;
    if (m_show_messages) show_message_text(text, this);
}

void CParloDlg::popup(const QString& text) {
    m_popups_opened++;
    m_last_popup = show_event_popup(text);
}

void CParloDlg::knock(int peer_id) {
    // The controller's text is empty for an unknown contact (logged) and for a blocked one.
    if (m_controller.knock_text(peer_id).empty()) return;
    contact_record c;
    if (!contact_by_id(peer_id, &c)) return;
    popup(ui_text(T_KNOCK_FROM, {utf8(c.first_name), utf8(c.last_name), utf8(c.email)}));
    play_knock_sound();
}

void CParloDlg::logged_in_elsewhere() {
    // Sign-out's 133 and closing the main connection may wait on the socket: a job does both.
    start_job([] {
        ::sign_out();
        g_main_link.my_close();
    });
    g_logged_in = 0;
    m_hooks->signed_out();
    lay_out();
    show_notification_message(ui_text(T_LOGGED_IN_ELSEWHERE));
}

void CParloDlg::on_notification(int n, intptr_t wparam, intptr_t lparam) {
    if (m_stopped) return;
    int id = static_cast<int>(wparam);
    QString shown;
    switch (n) {
    case NM_LOGGED_IN_ELSEWHERE:
        logged_in_elsewhere();
        m_hooks->notification(n, wparam, lparam, m_last_message);
        return;
    case NM_KNOCK: knock(id); return;
    case NM_SERVER_NOTICE:
    case NM_SERVER_NOTICE2: {
        // The notice is words from the server, shown as they are: never read as a format.
        QString notice = QString::fromUtf8(get_server_notice(n == NM_SERVER_NOTICE ? 0 : 1).c_str());
        popup(notice.left(512));
        return;
    }
    case NM_PEER_STATUS: {
        contact_record c;
        bool known = contact_by_id(id, &c);
        int before = known ? c.presence : -1;
        m_controller.handle(n, wparam, lparam);
        if (known && lparam == PS_ONLINE && before != PS_ONLINE)
            popup(ui_text(T_BECOME_ONLINE, {utf8(c.display_name), utf8(c.email)}));
        m_hooks->notification(n, wparam, lparam, QString());
        return;
    }
    default: break;
    }

    std::string text = m_controller.handle(n, wparam, lparam);
    switch (n) {
    case NM_LOGIN_SUCCESS:
        set_my_status_display(0);
        lay_out();
        break;
    case NM_WELCOME: {
        session_texts t = get_session_texts();
        setWindowTitle(ui_text(T_WELCOME, {utf8(t.my_name1), utf8(t.my_name2), utf8(t.my_name3)}));
        break;
    }
    case NM_SET_MY_STATUS:
        if (id >= 0 && id <= 7) set_my_status_display(id);
        break;
    default: break;
    }
    // Refusals and confirmations; the rest of what a notification shows is the tree's and the
    // dialogs' (hooks).
    if (!text.empty()) {
        shown = core_text(text.c_str());
        show_notification_message(shown);
    }
    m_hooks->notification(n, wparam, lparam, shown);
}
