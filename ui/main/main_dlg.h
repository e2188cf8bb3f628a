// The main window: the contact tree area, six links, the tray icon, the notification handlers
// (the desktop's one table of them, routes()), the periodic duties and the menus. It owns the
// session controller and the housekeeping; the application (CParloApp) publishes notifications()
// as g_main_dlg before the session starts.
//
// Threads: the window runs on the GUI thread. The controller and the housekeeping belong to the
// session thread (session_worker): notifications() queues there, the protocol side runs there,
// and the visible side comes back to the GUI thread as a queued call. User actions that reach the
// network go through run_in_session(), so nothing on the GUI thread waits on a socket. The
// contact tree and dialogs (contact_ui_hooks) call the controller the same way. Nothing on the
// session thread waits for the user: the controller's questions are non-modal dialogs of
// questions(), answered later through run_in_session(); message boxes for notifications are
// non-modal too.
#pragma once
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "protocol/housekeeping.h"
#include "protocol/session_controller.h"
#include "ui/common/event_popup.h"
#include "ui/common/questions.h"
#include "ui/main/contact_hooks.h"
#include "ui/skin/good_dlg.h"

class CMyStatic;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class gui_idle_source;
class session_worker;

class CParloDlg : public Cgood_dlg_resize_main {
    Q_OBJECT
public:
    // Control ids of the links.
    enum {
        LINK_SIGN_IN = 1058,
        LINK_SIGN_OUT = 1059,
        LINK_REGISTER = 1060,
        LINK_STATUS = 1061,
        LINK_MENU = 1062,
        LINK_FORGET = 1063
    };

    explicit CParloDlg(QWidget* parent = nullptr);
    ~CParloDlg() override;

    // Session thread only (through run_in_session).
    session_controller& controller() { return m_controller; }
    housekeeping& duties() { return m_hk; }
    // Runs fn on the session thread, behind what is already queued there.
    void run_in_session(std::function<void()> fn);
    notify_target* notifications();
    // Starts the periodic duties and adds the tray icon (after the session started).
    void start();
    // Exit, in two halves, each run once; the caller first releases waits on dialogs.
    // stop_windows (GUI thread): nothing more is shown, the click timer and the tray icon stop.
    // stop_session (any thread but the session's): runs what is queued for the session thread and
    // the sign-out, then ends the thread. It waits up to about 3 s, so the application runs it
    // beside the GUI thread.
    void stop_windows();
    void stop_session();

    // What notification n shows, computed on the session thread after the controller handled
    // it, and shown on the GUI thread.
    struct visible_event {
        int n;
        intptr_t wparam;
        intptr_t lparam;
        user_text text;      // what the controller says to show (refusal, confirmation)
        std::string notice;  // 46, 47: the server's words
    };
    // How the desktop handles notification n, all in one row. On the session thread: the session
    // step (null: nothing runs and nothing is shown; false: nothing is shown). Then, queued to the
    // GUI thread and in this order: the main window's step, the controller's text as a non-modal
    // message when `message` is set, the contact tree's or dialogs' step, the transfer windows'
    // step. The chat step is what the peer's chat window does with the notifications posted to
    // it. A null step does nothing.
    struct route {
        int n;
        bool (CParloDlg::*session)(visible_event& e);
        void (CParloDlg::*main)(const visible_event& e);
        bool message;
        void (contact_ui_hooks::*contacts)(int id, intptr_t lparam);
        void (transfer_ui_hooks::*transfer)(int peer_id, intptr_t lparam);
        void (chat_ui_hooks::*chat)(intptr_t wparam, intptr_t lparam);
    };
    // Every notification the desktop can receive, sorted by number, one row each.
    static std::span<const route> routes();
    // The row of n; a number without one gets the row of an ordinary report (the controller's
    // handling and its text as a message).
    static const route& route_for(int n);

    // Session thread: the protocol side of notification n, then the visible side queued.
    void on_notification(int n, intptr_t wparam, intptr_t lparam);
    // GUI thread: the visible side.
    void show_notification(const visible_event& e);
    // How many visible sides ran (tests wait on it).
    int notifications_shown() const { return m_shown; }
    int last_notification_shown() const { return m_last_shown; }
    // The open questions of the session (GUI thread); an asker set with
    // controller().set_asker() posts to it.
    session_questions& questions() { return *m_questions; }
    // A menu command by id (one place for every menu).
    void on_command(int command_id);
    void set_contact_hooks(contact_ui_hooks* hooks) { m_hooks = hooks; }
    // The slot the contact tree fills.
    QWidget* tree_area() const { return m_tree_area; }

    void open_sign_in();
    // Starts the login on a job thread; the answer arrives as notification 1 or 2.
    void sign_in(const QString& email, const QString& password, bool remember_email,
                 bool remember_passwd);
    void sign_out();
    void lay_out();
    void restore_window();

    CMyStatic* link(int control_id) const;
    QString tray_tip() const { return m_tray_tip; }
    bool showing_connecting() const { return m_resuming; }
    int tray_icon_number() const { return m_tray_icon_number; }
    // The last event pop-up this window opened (null once it closed) and how many it opened.
    CDlgEvent* last_popup() const { return m_last_popup; }
    int popups_opened() const { return m_popups_opened; }
    // The text of the last message box this window showed for a notification.
    QString last_message() const { return m_last_message; }
    // Message boxes for notifications: shown as non-modal notices (default) or only recorded
    // (tests).
    void set_show_messages(bool show) { m_show_messages = show; }

    // Menus, built when they open. The status and main menus are null while signed out.
    QMenu* make_status_menu();
    QMenu* make_main_menu();
    QMenu* make_tray_menu();
    // The caption's context menu: About and Exit, signed in or out (the frameless window has no
    // system menu).
    QMenu* make_caption_menu();

    // Minimised, the window hides into the tray only when a tray shows its icon; elsewhere
    // (desktops without a tray) it stays an ordinary minimised window. The check is
    // QSystemTrayIcon::isSystemTrayAvailable() unless replaced (tests).
    bool hides_to_tray() const;
    void set_tray_check(std::function<bool()> check) { m_tray_check = std::move(check); }

    // Tray mouse handling: a single click opens the tray menu after 200 ms unless a double click
    // follows; a double click restores the window.
    void tray_single_click();
    void tray_double_click();
    bool tray_click_pending() const;

    void reject() override;  // Escape and the close box do nothing

signals:
    void tray_menu_requested();

protected:
    void changeEvent(QEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    // Session steps of routes() (session thread).
    bool handle_step(visible_event& e);
    bool knock_step(visible_event& e);
    bool notice_step(visible_event& e);
    bool hand_on_step(visible_event& e);
    bool group_name_step(visible_event& e);
    bool resume_step(visible_event& e);
    // Main window steps of routes() (GUI thread).
    void show_signed_in(const visible_event& e);
    void show_resuming(const visible_event& e);
    void show_login_failed(const visible_event& e);
    void show_welcome(const visible_event& e);
    void show_my_status(const visible_event& e);
    void show_signed_out_elsewhere(const visible_event& e);
    void show_knock(const visible_event& e);
    void show_server_notice(const visible_event& e);
    void show_contact_status(const visible_event& e);
    void show_peer_status(const visible_event& e);

    void set_my_status_display(int state);
    // The status link and tray tip while a lost session is being resumed.
    void show_connecting();
    void show_notification_message(const QString& text);
    void popup(const QString& text);
    void open_web_page(const char* path);
    void show_menu_under(QMenu* menu, CMyStatic* link);
    void popup_tray_menu();

    qt_question_asker m_asker;
    session_questions* m_questions;
    session_controller m_controller;
    std::unique_ptr<gui_idle_source> m_idle;
    housekeeping m_hk;
    contact_ui_hooks m_no_hooks;
    contact_ui_hooks* m_hooks = &m_no_hooks;

    QWidget* m_tree_area;
    CMyStatic* m_links[6];
    QSystemTrayIcon* m_tray = nullptr;
    bool m_tray_icon_added = false;
    std::function<bool()> m_tray_check;
    QString m_tray_tip;
    int m_tray_icon_number = 128;
    QTimer* m_click_timer;
    QPointer<CDlgEvent> m_last_popup;
    int m_popups_opened = 0;
    QString m_last_message;
    bool m_show_messages = true;
    bool m_stopped = false;
    std::atomic<bool> m_session_stopped{false};
    // A lost session is being resumed: it stays laid out as signed in (GUI thread).
    bool m_resuming = false;
    int m_shown = 0;
    int m_last_shown = 0;
    // Last member: the session thread ends before the controller and housekeeping go.
    std::unique_ptr<session_worker> m_worker;
};

// Text ids and tray icons of the presence states 0-7.
int presence_link_text_id(int state);
int presence_tip_text_id(int state);
int presence_tray_icon(int state);
