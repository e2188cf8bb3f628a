#include "ui/main/main_dlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/tick.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"
#include "ui/common/gui_call.h"
#include "ui/common/event_popup.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/main/idle_time.h"
#include "ui/main/session_worker.h"
#include "ui/signin/login_dlg.h"
#include "ui/skin/controls.h"
#include "ui/skin/palette.h"

namespace {
// The session thread looks at the duties this often; the housekeeping keeps the 5 s, 120 s,
// 30 min and status-broadcast schedules.
constexpr int kDutyPeriodMs = 250;
constexpr int kTrayClickMs = 200;
// Title bar and strip: the links' positions are in the client area below them.
constexpr int kClientTop = Cgood_dlg::kTitleHeight + Cgood_dlg::kStripHeight;

struct link_def {
    int id;
    int text_id;
};
constexpr link_def kLinks[6] = {
    {CParloDlg::LINK_SIGN_IN, T_SIGN_IN},   {CParloDlg::LINK_SIGN_OUT, T_SIGN_OUT},
    {CParloDlg::LINK_REGISTER, T_REGISTER}, {CParloDlg::LINK_STATUS, T_OFFLINE},
    {CParloDlg::LINK_MENU, T_MENU},         {CParloDlg::LINK_FORGET, T_FORGET_PASSWD}};
}  // namespace

int presence_link_text_id(int state) {
    static const int ids[8] = {TXT_OFFLINE,    T_STATUS_ONLINE, TXT_BUSY,  TXT_AWAY,
                               TXT_RIGHT_BACK, TXT_ON_PHONE,    TXT_LUNCH, TXT_APPEAR_OFFLINE};
    return state >= 0 && state <= 7 ? ids[state] : TXT_OFFLINE;
}

int presence_tip_text_id(int state) {
    static const int ids[8] = {TXT_OFFLINE,    TXT_ONLINE,   TXT_BUSY,  TXT_AWAY,
                               TXT_RIGHT_BACK, TXT_ON_PHONE, TXT_LUNCH, TXT_APPEAR_OFFLINE};
    return state >= 0 && state <= 7 ? ids[state] : TXT_OFFLINE;
}

int presence_tray_icon(int state) {
    static const int icons[8] = {145, 139, 143, 140, 141, 144, 142, 145};
    return state >= 0 && state <= 7 ? icons[state] : 145;
}

CParloDlg::CParloDlg(QWidget* parent)
    : Cgood_dlg_resize_main(parent),
      m_controller(&m_asker),
      m_idle(std::make_unique<gui_idle_source>()),
      m_hk(m_controller, m_idle.get()) {
    m_controller.attach_housekeeping(&m_hk);
    m_questions = new session_questions(
        [this](session_task task) { run_in_session([this, task] { task(m_controller); }); }, this);
    m_asker.set_questions(m_questions);
    m_worker = std::make_unique<session_worker>(
        [this](int n, intptr_t w, intptr_t l) { on_notification(n, w, l); },
        [this] { m_hk.tick(get_tick_count()); }, kDutyPeriodMs);
    run_in_session([this] { m_controller.bind_to_current_thread(); });
    setWindowTitle(ui_text(T_CAPTION));
    setWindowIcon(QIcon(resource_image(128)));
    setMinimumSize(220, 420);
    resize(280, 620);

    m_tree_area = new QWidget(this);
    m_tree_area->setObjectName(QStringLiteral("tree_area"));
    auto* tree_box = new QVBoxLayout(m_tree_area);
    tree_box->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < 6; i++) {
        m_links[i] = new CMyStatic(ui_text(kLinks[i].text_id), this);
        m_links[i]->set_link(true);
        m_links[i]->setObjectName(QStringLiteral("link_%1").arg(kLinks[i].id));
    }
    connect(link(LINK_SIGN_IN), &CMyStatic::clicked, this, &CParloDlg::open_sign_in);
    connect(link(LINK_SIGN_OUT), &CMyStatic::clicked, this, &CParloDlg::sign_out);
    connect(link(LINK_REGISTER), &CMyStatic::clicked, this,
            [this] { m_hooks->open_registration(); });
    connect(link(LINK_FORGET), &CMyStatic::clicked, this,
            [this] { open_web_page("/cgi-bin/messenger/msg_customer/msg_retrieve_passwd.pl"); });
    connect(link(LINK_STATUS), &CMyStatic::clicked, this,
            [this] { show_menu_under(make_status_menu(), link(LINK_STATUS)); });
    connect(link(LINK_MENU), &CMyStatic::clicked, this,
            [this] { show_menu_under(make_main_menu(), link(LINK_MENU)); });

    m_click_timer = new QTimer(this);
    m_click_timer->setSingleShot(true);
    connect(m_click_timer, &QTimer::timeout, this, &CParloDlg::popup_tray_menu);
    set_my_status_display(0);
    lay_out();
}

CParloDlg::~CParloDlg() {
    stop_windows();
    // The application stopped the session beside the GUI thread already; a window made without
    // the application (tests) stops it here.
    stop_session();
    close_event_popups();
}

notify_target* CParloDlg::notifications() {
    return m_worker.get();
}

void CParloDlg::run_in_session(std::function<void()> fn) {
    m_worker->run(std::move(fn));
}

CMyStatic* CParloDlg::link(int control_id) const {
    for (int i = 0; i < 6; i++)
        if (kLinks[i].id == control_id) return m_links[i];
    return nullptr;
}

void CParloDlg::start() {
    run_in_session([this] { m_hk.start(get_tick_count()); });
    m_worker->set_duties(true);
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(this);
        m_tray->setIcon(QIcon(resource_image(128)));
        m_tray->setToolTip(ui_text(T_TRAY_TIP));
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) {
                    if (r == QSystemTrayIcon::Trigger) tray_single_click();
                    if (r == QSystemTrayIcon::DoubleClick) tray_double_click();
                    if (r == QSystemTrayIcon::Context) popup_tray_menu();
                });
        m_tray->show();
    }
    m_tray_icon_added = true;
    set_my_status_display(0);
    lay_out();
}

void CParloDlg::stop_windows() {
    Q_ASSERT(on_gui_thread());
    if (m_stopped) return;
    m_stopped = true;
    m_click_timer->stop();
    if (m_tray) m_tray->hide();
}

void CParloDlg::stop_session() {
    if (m_session_stopped.exchange(true)) return;
    // The status broadcast (when signed in) and a bounded wait for the controller's workers,
    // then the session thread ends.
    run_in_session([this] { m_controller.shutdown(3000); });
    m_worker->stop();
}

void CParloDlg::lay_out() {
    int w = width(), h = height();
    int x = w / 2 - 35;
    bool in = g_logged_in.load() == 1 || m_resuming;
    m_tree_area->setGeometry(5, kClientTop + 100, w - 20, std::max(0, h - 250));
    link(LINK_SIGN_IN)->setGeometry(x, kClientTop + 150, 60, 20);
    link(LINK_REGISTER)->setGeometry(x, kClientTop + 180, 60, 20);
    link(LINK_FORGET)->setGeometry(x, kClientTop + 210, 100, 20);
    link(LINK_SIGN_OUT)->setGeometry(x, kClientTop + 70, 60, 20);
    link(LINK_STATUS)->setGeometry(12, kClientTop + 40, 110, 20);
    link(LINK_MENU)->setGeometry(w - 62, kClientTop + 40, 50, 20);
    m_tree_area->setVisible(in);
    link(LINK_SIGN_OUT)->setVisible(in);
    link(LINK_STATUS)->setVisible(in);
    link(LINK_MENU)->setVisible(in);
    link(LINK_SIGN_IN)->setVisible(!in);
    link(LINK_REGISTER)->setVisible(!in);
    link(LINK_FORGET)->setVisible(!in);
}

void CParloDlg::resizeEvent(QResizeEvent* e) {
    Cgood_dlg_resize_main::resizeEvent(e);
    if (m_tray_icon_added) lay_out();
}

bool CParloDlg::hides_to_tray() const {
    if (!m_tray_icon_added) return false;
    return m_tray_check ? m_tray_check() : QSystemTrayIcon::isSystemTrayAvailable();
}

void CParloDlg::changeEvent(QEvent* e) {
    Cgood_dlg_resize_main::changeEvent(e);
    // Minimised, the window lives on in the tray only, when there is a tray to bring it back
    // from; without one it stays minimised on the task bar.
    if (e->type() == QEvent::WindowStateChange && isMinimized() && hides_to_tray())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && hides_to_tray()) hide();
        });
}

void CParloDlg::contextMenuEvent(QContextMenuEvent* e) {
    // The caption (not its buttons) offers About and Exit, as a system menu would.
    if (!in_title_band(e->pos()) || button_at(e->pos()) != 0)
        return Cgood_dlg_resize_main::contextMenuEvent(e);
    QMenu* menu = make_caption_menu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
    e->accept();
}

void CParloDlg::reject() {}

void CParloDlg::restore_window() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CParloDlg::set_my_status_display(int state) {
    m_tray_icon_number = presence_tray_icon(state);
    m_tray_tip = ui_text(T_TRAY_TIP_STATE, {ui_text(presence_tip_text_id(state))});
    if (m_tray) {
        m_tray->setIcon(QIcon(resource_image(m_tray_icon_number)));
        m_tray->setToolTip(m_tray_tip);
    }
    link(LINK_STATUS)->setText(ui_text(presence_link_text_id(state)));
}

void CParloDlg::show_connecting() {
    m_tray_icon_number = presence_tray_icon(0);
    m_tray_tip = ui_text(T_TRAY_TIP_STATE, {ui_text(T_CONNECTING)});
    if (m_tray) {
        m_tray->setIcon(QIcon(resource_image(m_tray_icon_number)));
        m_tray->setToolTip(m_tray_tip);
    }
    link(LINK_STATUS)->setText(ui_text(T_CONNECTING));
}

void CParloDlg::open_sign_in() {
    CDlgLogin dlg(this);
    if (dlg.exec() != QDialog::Accepted) return;
    sign_in(dlg.email(), dlg.password(), dlg.remember_email(), dlg.remember_password());
}

void CParloDlg::sign_in(const QString& email, const QString& password, bool remember_email,
                        bool remember_passwd) {
    std::string e = email.toStdString(), p = password.toStdString();
    // The controller connects and sends 130 on a worker; a failure comes back as a notification.
    run_in_session([this, e, p, remember_email, remember_passwd] {
        m_controller.sign_in(e.c_str(), p.c_str(), remember_email, remember_passwd);
    });
}

void CParloDlg::sign_out() {
    // 133 goes out on a worker; the window shows the signed-out state at once.
    run_in_session([this] { m_controller.sign_out(); });
    g_logged_in = 0;
    if (m_resuming) {
        // The attempts end with the sign-out; the link no longer says "Connecting...".
        m_resuming = false;
        set_my_status_display(0);
    }
    m_questions->close_all();
    m_hooks->signed_out();
    lay_out();
}

void CParloDlg::open_web_page(const char* path) {
    char base[256] = "";
    deployment_web_base(base, sizeof(base));
    QString url = QString::fromUtf8(base);
    while (url.endsWith('/')) url.chop(1);
    QDesktopServices::openUrl(QUrl(url + QLatin1String(path)));
}

void CParloDlg::show_menu_under(QMenu* menu, CMyStatic* under) {
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(under->mapToGlobal(QPoint(0, under->height())));
}

void CParloDlg::tray_single_click() {
    m_click_timer->start(kTrayClickMs);
}

void CParloDlg::tray_double_click() {
    m_click_timer->stop();
    restore_window();
}

bool CParloDlg::tray_click_pending() const {
    return m_click_timer->isActive();
}

void CParloDlg::popup_tray_menu() {
    m_click_timer->stop();
    emit tray_menu_requested();
    QMenu* menu = make_tray_menu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}
