#include "ui/app/parlo_app.h"

#include <QApplication>
#include <QEventLoop>
#include <QWidget>
#include <cstdlib>

#include "peer/peer_service.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/extensions.h"
#include "protocol/notify.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"
#include "ui/common/gui_call.h"
#include "ui/common/texts.h"
#include "ui/main/main_dlg.h"

void apply_app_options(const app_options& options) {
    std::string home = options.home;
    if (home.empty()) {
        if (const char* env = std::getenv("PARLO_HOME")) home = env;
    }
    if (!home.empty()) {
        make_dirs(home);
        set_home_dir(home);
    }
    open_debug_log();
    if (!options.server.empty()) set_server_host_override(options.server.c_str());
    set_extensions_enabled(options.extensions);
    if (!options.bind.empty()) set_local_bind_address(options.bind.c_str());
    apply_bind_address_setting();
}

CParloApp::CParloApp(const app_options& options) : m_options(options) {}

CParloApp::~CParloApp() {
    shutdown();
}

int CParloApp::start() {
    if (m_started) return 0;
    restart_gui_calls();
    set_message_box_handler(&m_boxes);
    m_dlg = std::make_unique<CParloDlg>();
    // The windows plug in (the asker, the chat-window factory, the media hooks) before anything can
    // post to the session thread that reads them.
    if (m_setup) m_setup(m_dlg.get());
    g_main_dlg = m_dlg->notifications();
    if (session_start() != 0) {
        log_line("session start failed\r\n");
        return -1;
    }
    m_session = true;
    if (start_peer_networking(m_options.peer_listener) != 0)
        log_line("peer listener not available; only outgoing peer connections\r\n");
    m_networking = true;
    m_dlg->start();
    m_started = true;
    return 0;
}

int CParloApp::run() {
    if (start() != 0) {
        show_message_text(ui_text(T_SOCKETS_FAILED));
        shutdown();
        return 1;
    }
    m_dlg->show();
    if (!m_options.email.empty()) {
        auto r = session_controller::load_remembered();
        m_dlg->sign_in(QString::fromStdString(m_options.email),
                       QString::fromStdString(m_options.password), r.remember_email,
                       r.remember_passwd);
    }
    // Only "Exit" ends the main window. Hidden into the tray it lives on: the dialog's own
    // exec() would return as soon as the window hides, so this loop waits for Exit (the dialog
    // finishing) instead.
    QEventLoop loop;
    QObject::connect(m_dlg.get(), &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec();
    shutdown();
    return 0;
}

uint32_t CParloApp::shutdown(uint32_t wait_ms) {
    uint32_t begin = get_tick_count();
    if (!m_dlg) return 0;
    // Every window goes at once (the chat windows, notices and questions too).
    for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    // A session thread waiting for a dialog gets its default answer; nothing more is shown.
    stop_gui_calls();
    close_notices();
    m_dlg->stop_windows();
    // The rest waits: every home server learns that this user went offline (the session thread
    // tells them when signed in and waits a bounded time for its workers, and the job threads are
    // waited for at most wait_ms), then devices stop and threads are joined. It runs beside the
    // GUI thread, whose event loop keeps turning, so nothing on the screen waits for it.
    run_beside_gui([this, wait_ms] {
        m_dlg->stop_session();
        if (!wait_for_jobs(wait_ms))
            log_line("shutdown: %d job threads still running\r\n", running_jobs());
        if (m_teardown) m_teardown();
        if (m_networking) stop_peer_networking();
        if (m_session) session_stop();
    });
    g_main_dlg = nullptr;
    set_message_box_handler(nullptr);
    m_dlg.reset();
    m_started = m_session = m_networking = false;
    return get_tick_count() - begin;
}
