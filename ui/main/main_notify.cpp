// The main window's notifications: the desktop's one table of what each notification does, the
// protocol side on the session thread, then what the user sees on the GUI thread.
#include <QApplication>
#include <algorithm>
#include <array>

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

std::span<const CParloDlg::route> CParloDlg::routes() {
    using D = CParloDlg;
    using H = contact_ui_hooks;
    using T = transfer_ui_hooks;
    using C = chat_ui_hooks;
    // clang-format off
    static constexpr auto kRoutes = std::to_array<route>({
        // n                                   session              main window                    msg    contact tree, dialogs      transfers                 chat window
        {NM_LOGIN_SUCCESS,                     &D::handle_step,     &D::show_signed_in,            true,  nullptr,                   nullptr,                  nullptr},
        {NM_LOGIN_FAILED,                      &D::handle_step,     &D::show_login_failed,         true,  nullptr,                   nullptr,                  nullptr},
        {NM_LOGIN_CLOSED,                      &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_GROUP_LIST,                        &D::handle_step,     nullptr,                       true,  &H::groups_listed,         nullptr,                  nullptr},
        {NM_CONTACT_LIST,                      &D::handle_step,     nullptr,                       true,  &H::contacts_listed,       nullptr,                  nullptr},
        {NM_CONTACT_STATUS,                    &D::handle_step,     &D::show_contact_status,       true,  &H::contact_presence,      nullptr,                  nullptr},
        {NM_CHAT_TEXT,                         &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  &C::chat_text},
        {NM_OPEN_CHAT,                         &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        // The caption, never a message box.
        {NM_WELCOME,                           &D::handle_step,     &D::show_welcome,              false, nullptr,                   nullptr,                  nullptr},
        {NM_OWN_VIDEO,                         &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  &C::own_picture_changed},
        {NM_PEER_VIDEO,                        &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  &C::peer_picture_changed},
        {NM_REGISTER_SUCCESS,                  &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_REGISTER_ERROR,                    &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_REGISTER_EMAIL_EXISTS,             &D::handle_step,     nullptr,                       true,  &H::register_again,        nullptr,                  nullptr},
        {NM_CONTACT_FOUND,                     &D::handle_step,     nullptr,                       true,  &H::contact_found,         nullptr,                  nullptr},
        {NM_CONTACT_SEARCH_FAILED,             &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_CONTACT_NOT_FOUND,                 &D::handle_step,     nullptr,                       true,  &H::contact_not_found,     nullptr,                  nullptr},
        {NM_CONTACT_ADD_SUCCESS,               &D::handle_step,     nullptr,                       true,  &H::found_contact_added,   nullptr,                  nullptr},
        {NM_CONTACT_ADD_FAILED,                &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_CONTACT_ALREADY_EXISTS,            &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_CONTACT_REMOVE_SUCCESS,            &D::handle_step,     nullptr,                       true,  &H::contact_changed,       nullptr,                  nullptr},
        {NM_CONTACT_REMOVE_FAILED,             &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_CONTACT_ADD_CONFIRM_SUCCESS,       &D::handle_step,     nullptr,                       true,  &H::contact_changed,       nullptr,                  nullptr},
        {NM_CONTACT_NOT_ADDED,                 &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_CONTACT_REMOVE_CONFIRM_SUCCESS,    &D::handle_step,     nullptr,                       true,  &H::contact_changed,       nullptr,                  nullptr},
        {NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS, &D::handle_step,     nullptr,                       true,  &H::contact_changed,       nullptr,                  nullptr},
        {NM_GROUP_REMOVE_SUCCESS,              &D::handle_step,     nullptr,                       true,  &H::groups_changed,        nullptr,                  nullptr},
        {NM_GROUP_ADD_SUCCESS,                 &D::handle_step,     nullptr,                       true,  &H::groups_changed,        nullptr,                  nullptr},
        {NM_GROUP_ADD_FAILED,                  &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_GROUP_REMOVE_FAILED,               &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_GROUP_UPDATE_SUCCESS,              &D::group_name_step, nullptr,                       true,  &H::groups_changed,        nullptr,                  nullptr},
        {NM_GROUP_UPDATE_FAILED,               &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_OFFLINE_WAITING,                   &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_OFFLINE_BEGIN,                     &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_OFFLINE_TEXT,                      &D::hand_on_step,    nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_OFFLINE_END,                       &D::handle_step,     nullptr,                       true,  &H::offline_message_ready, nullptr,                  nullptr},
        {NM_TRAY_ICON,                         &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_SET_MY_STATUS,                     &D::handle_step,     &D::show_my_status,            true,  nullptr,                   nullptr,                  nullptr},
        // The question is the asker's non-modal dialog; the text is not shown again.
        {NM_FILE_ASK,                          &D::handle_step,     nullptr,                       false, nullptr,                   nullptr,                  nullptr},
        {NM_FILE_ACCEPTED,                     &D::handle_step,     nullptr,                       true,  nullptr,                   &T::file_accepted,        nullptr},
        {NM_FILE_REFUSED,                      &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_FILE_DONE,                         &D::handle_step,     nullptr,                       true,  nullptr,                   &T::file_saved,           nullptr},
        {NM_LOGGED_IN_ELSEWHERE,               &D::handle_step,     &D::show_signed_out_elsewhere, true,  nullptr,                   nullptr,                  nullptr},
        // The controller's text when the contact came online is a pop-up, not a message box.
        {NM_PEER_STATUS,                       &D::handle_step,     &D::show_peer_status,          false, &H::contact_presence,      nullptr,                  nullptr},
        {NM_SERVER_NOTICE,                     &D::notice_step,     &D::show_server_notice,        false, nullptr,                   nullptr,                  nullptr},
        {NM_SERVER_NOTICE2,                    &D::notice_step,     &D::show_server_notice,        false, nullptr,                   nullptr,                  nullptr},
        {NM_KNOCK,                             &D::knock_step,      &D::show_knock,                false, nullptr,                   nullptr,                  nullptr},
        {NM_FILE_SEND_PROGRESS,                &D::handle_step,     nullptr,                       true,  nullptr,                   &T::file_send_progress,   nullptr},
        {NM_FILE_RECV_PROGRESS,                &D::handle_step,     nullptr,                       true,  nullptr,                   &T::file_recv_progress,   nullptr},
        {NM_FILE_RECV_INCOMPLETE,              &D::handle_step,     nullptr,                       true,  nullptr,                   &T::file_recv_incomplete, nullptr},
        {NM_FILE_SEND_FAILED,                  &D::handle_step,     nullptr,                       true,  nullptr,                   &T::file_send_failed,     nullptr},
        {NM_ACTION_DONE,                       &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        // The status link says so instead of a presence, and no box interrupts the user.
        {NM_CONNECTING,                        &D::resume_step,     &D::show_resuming,             false, nullptr,                   nullptr,                  nullptr},
        // A meter's samples reach the main window only when their chat window is no longer open.
        {NM_MIC_LEVEL,                         nullptr,             nullptr,                       false, nullptr,                   nullptr,                  &C::mic_levels},
        {NM_PEER_LEVEL,                        nullptr,             nullptr,                       false, nullptr,                   nullptr,                  &C::peer_levels},
        {NM_PLAYER_STARTED,                    &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_PLAYER_STOPPED,                    &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_RELAY_CONNECTED,                   &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        {NM_RELAY_ROUTE,                       &D::handle_step,     nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
        // The controller hands the line to its chat window.
        {NM_PEER_CHAT_LINE,                    &D::hand_on_step,    nullptr,                       true,  nullptr,                   nullptr,                  nullptr},
    });
    // clang-format on
    // Strictly ascending: one row per number, found by binary search.
    static_assert(std::adjacent_find(kRoutes.begin(), kRoutes.end(),
                                     [](const route& a, const route& b) { return a.n >= b.n; }) ==
                  kRoutes.end());
    return kRoutes;
}

const CParloDlg::route& CParloDlg::route_for(int n) {
    static constexpr route kReport{.n = 0,
                                   .session = &CParloDlg::handle_step,
                                   .main = nullptr,
                                   .message = true,
                                   .contacts = nullptr,
                                   .transfer = nullptr,
                                   .chat = nullptr};
    std::span<const route> all = routes();
    auto it = std::lower_bound(all.begin(), all.end(), n,
                               [](const route& r, int number) { return r.n < number; });
    return it != all.end() && it->n == n ? *it : kReport;
}

void contact_ui_hooks::notification(int n, intptr_t wparam, intptr_t lparam, const QString&) {
    const CParloDlg::route& r = CParloDlg::route_for(n);
    int id = static_cast<int>(wparam);
    if (r.contacts) (this->*r.contacts)(id, lparam);
    if (r.transfer)
        if (transfer_ui_hooks* t = transfer_part()) (t->*r.transfer)(id, lparam);
}

void CParloDlg::on_notification(int n, intptr_t wparam, intptr_t lparam) {
    const route& r = route_for(n);
    visible_event e{n, wparam, lparam, user_text(), std::string()};
    if (!r.session || !(this->*r.session)(e)) return;
    QMetaObject::invokeMethod(
        this, [this, e] { show_notification(e); }, Qt::QueuedConnection);
}

bool CParloDlg::handle_step(visible_event& e) {
    e.text = m_controller.handle(e.n, e.wparam, e.lparam);
    return true;
}

bool CParloDlg::knock_step(visible_event& e) {
    // Empty for an unknown contact (logged) and for a blocked one: nothing is shown or heard.
    e.text = m_controller.knock_text(static_cast<int>(e.wparam));
    return !e.text.empty();
}

bool CParloDlg::notice_step(visible_event& e) {
    e.notice = note_text(e.wparam, e.lparam);
    e.wparam = e.lparam = 0;
    return true;
}

bool CParloDlg::hand_on_step(visible_event& e) {
    // The controller hands the line to its chat window, or keeps the chunk: nothing for the main
    // window to show, and the data they point at goes with the handler's end.
    m_controller.handle(e.n, e.wparam, e.lparam);
    return false;
}

bool CParloDlg::group_name_step(visible_event& e) {
    e.text = m_controller.handle(e.n, e.wparam, e.lparam);
    e.lparam = 0;  // the name it pointed at is in the group table now
    return true;
}

bool CParloDlg::resume_step(visible_event& e) {
    e.text = m_controller.handle(e.n, e.wparam, e.lparam);
    // A report that came after the session was back or over changes nothing.
    return m_controller.resuming();
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
    const route& r = route_for(e.n);
    if (r.main) (this->*r.main)(e);
    // Refusals and confirmations; the rest of what a notification shows is the tree's, the
    // dialogs' and the transfer windows' (hooks).
    QString shown;
    if (r.message && !e.text.empty()) {
        shown = ui_text(e.text);
        show_notification_message(shown);
    }
    m_hooks->notification(e.n, e.wparam, e.lparam, shown);
}

void CParloDlg::show_signed_in(const visible_event&) {
    m_resuming = false;
    set_my_status_display(0);
    lay_out();
}

void CParloDlg::show_resuming(const visible_event&) {
    // The session stays on screen while the sign-in is tried again.
    m_resuming = true;
    show_connecting();
    lay_out();
}

void CParloDlg::show_login_failed(const visible_event&) {
    if (!m_resuming) return;
    m_resuming = false;
    set_my_status_display(0);
    lay_out();
}

void CParloDlg::show_welcome(const visible_event& e) {
    session_texts t = get_session_texts();
    setWindowTitle(e.text.empty()
                       ? ui_text(T_WELCOME, {utf8(t.my_name1), utf8(t.my_name2), utf8(t.my_name3)})
                       : ui_text(e.text));
}

void CParloDlg::show_my_status(const visible_event& e) {
    int state = static_cast<int>(e.wparam);
    if (state >= 0 && state <= 7) set_my_status_display(state);
}

void CParloDlg::show_signed_out_elsewhere(const visible_event&) {
    // The controller signs out and closes the connection on a worker; the window shows the
    // signed-out state now.
    g_logged_in = 0;
    m_resuming = false;
    m_questions->close_all();
    m_hooks->signed_out();
    lay_out();
}

void CParloDlg::show_knock(const visible_event& e) {
    popup(ui_text(e.text));
    play_knock_sound();
}

void CParloDlg::show_server_notice(const visible_event& e) {
    // Words from the server, shown as they are: never read as a format, at most 512.
    popup(QString::fromUtf8(e.notice.c_str()).left(512));
}

void CParloDlg::show_contact_status(const visible_event& e) {
    m_questions->peer_status(static_cast<int>(e.wparam), static_cast<int>(e.lparam));
}

void CParloDlg::show_peer_status(const visible_event& e) {
    m_questions->peer_status(static_cast<int>(e.wparam), static_cast<int>(e.lparam));
    if (!e.text.empty()) popup(ui_text(e.text));
}
