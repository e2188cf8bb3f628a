// The main window's handlers change what the user sees: layouts after sign-in and sign-out, the
// caption, the status link and tray tip, the knock, "logged in elsewhere", server notices shown
// as plain text, Escape doing nothing, the tray clicks and the menus' conditions.
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/thread.h"
#include "protocol/commands.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"
#include "tests/ui/ui_test_support.h"
#include "ui/common/texts.h"
#include "ui/main/knock_sound.h"
#include "ui/main/main_dlg.h"
#include "ui/signin/login_dlg.h"
#include "ui/skin/controls.h"

namespace {
constexpr int kBob = 4242;

void server_says(int command, const char* text) {
    char body[1100];
    std::snprintf(body, sizeof(body), "%s", text);
    dispatch_server_command(command, body, static_cast<int>(std::strlen(body)), 0);
}

// Delivers notification n as a worker thread would and waits until its visible side ran (a
// notification 3, which shows nothing, follows it as a marker).
void deliver(CParloDlg& d, int n, intptr_t w = 0, intptr_t l = 0) {
    int before = d.notifications_shown();
    d.notifications()->post(n, w, l);
    d.notifications()->post(NM_LOGIN_CLOSED, 0, 0);
    QVERIFY(QTest::qWaitFor(
        [&] {
            return d.notifications_shown() > before &&
                   d.last_notification_shown() == NM_LOGIN_CLOSED;
        },
        5000));
}

// Runs fn on the session thread and waits for it.
void in_session(CParloDlg& d, std::function<void()> fn) {
    std::atomic<bool> done{false};
    d.run_in_session([&] {
        fn();
        done = true;
    });
    QVERIFY(QTest::qWaitFor([&] { return done.load(); }, 5000));
}

bool shown(CParloDlg& d, int link_id) {
    return d.link(link_id)->isVisibleTo(&d);
}

void close_popups() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<CDlgEvent*>(w)) p->reject();
}

class main_window_test : public QObject {
    Q_OBJECT
private slots:
    void init() {
        clear_all_tables();
        g_logged_in = 0;
        g_my_status = 0;
        add_one_contact(kBob, 0, "bob");
        tables_guard lk(tables_mutex());
        contact_record& c = g_contact[get_contact_index(kBob)];
        std::strcpy(c.first_name, "Bob");
        std::strcpy(c.last_name, "Baker");
        std::strcpy(c.email, "bob@example.com");
    }
    void cleanup() {
        close_popups();
        wait_for_jobs(5000);
        g_logged_in = 0;
    }

    // The desktop's table has exactly one row for each notification the core raises (none for
    // the headless client's own), sorted so that every one is found by number; a number without
    // a row is still shown as an ordinary report.
    void one_row_per_notification() {
        std::vector<int> core;
#define PARLO_CORE_ROW(name, number, text) \
    if (std::string_view(text).rfind("cli_", 0) != 0) core.push_back(number);
        PARLO_NOTIFICATIONS(PARLO_CORE_ROW)
#undef PARLO_CORE_ROW
        std::sort(core.begin(), core.end());
        std::vector<int> rows;
        for (const CParloDlg::route& r : CParloDlg::routes()) rows.push_back(r.n);
        QCOMPARE(rows, core);
        for (int n : core) QCOMPARE(CParloDlg::route_for(n).n, n);

        CParloDlg d;
        d.set_show_messages(false);
        deliver(d, 999, 0, 0);
        QCOMPARE(d.notifications_shown(), 2);
    }

    void layouts_after_sign_in_and_sign_out() {
        CParloDlg d;
        d.set_show_messages(false);
        d.show();
        QVERIFY(!d.tree_area()->isVisibleTo(&d));
        QVERIFY(shown(d, CParloDlg::LINK_SIGN_IN) && shown(d, CParloDlg::LINK_REGISTER) &&
                shown(d, CParloDlg::LINK_FORGET));
        QVERIFY(!shown(d, CParloDlg::LINK_SIGN_OUT) && !shown(d, CParloDlg::LINK_STATUS));
        int x = d.width() / 2 - 35;
        QCOMPARE(d.link(CParloDlg::LINK_SIGN_IN)->geometry().topLeft().x(), x);
        QCOMPARE(d.link(CParloDlg::LINK_REGISTER)->y() - d.link(CParloDlg::LINK_SIGN_IN)->y(), 30);

        g_logged_in = 1;  // the receive loop sets it before notification 1
        deliver(d, NM_LOGIN_SUCCESS, 0, 0);
        QVERIFY(d.tree_area()->isVisibleTo(&d));
        QVERIFY(shown(d, CParloDlg::LINK_SIGN_OUT) && shown(d, CParloDlg::LINK_STATUS) &&
                shown(d, CParloDlg::LINK_MENU));
        QVERIFY(!shown(d, CParloDlg::LINK_SIGN_IN) && !shown(d, CParloDlg::LINK_FORGET));
        QCOMPARE(d.tree_area()->geometry().size(), QSize(d.width() - 20, d.height() - 250));
        QCOMPARE(d.link(CParloDlg::LINK_STATUS)->text(), QStringLiteral("Offline"));

        deliver(d, NM_SET_MY_STATUS, PS_BUSY, 0);
        d.sign_out();
        QCOMPARE(g_logged_in.load(), 0);
        in_session(d, [] {});  // 133 went out (or failed) on the session thread
        QVERIFY(!d.tree_area()->isVisibleTo(&d));
        QVERIFY(shown(d, CParloDlg::LINK_SIGN_IN));
        // The presence display keeps its last value after sign-out.
        QCOMPARE(d.link(CParloDlg::LINK_STATUS)->text(), QStringLiteral("Busy"));
        QCOMPARE(d.tray_icon_number(), 143);
    }

    // A lost session stays laid out with "Connecting..." in the status link and the tray tip,
    // without a box, until sign-out ends it; a report that comes after that changes nothing.
    void connecting_until_sign_out() {
        CParloDlg d;
        d.set_show_messages(false);
        d.show();
        g_logged_in = 1;
        deliver(d, NM_LOGIN_SUCCESS, 0, 0);
        g_logged_in = 0;  // the receive loop clears it when the connection is lost
        deliver(d, NM_CONNECTING, 0, 0);
        QCOMPARE(d.link(CParloDlg::LINK_STATUS)->text(), QStringLiteral("Connecting..."));
        QVERIFY(d.tray_tip().contains(QStringLiteral("Connecting...")));
        QVERIFY(d.tree_area()->isVisibleTo(&d) && shown(d, CParloDlg::LINK_SIGN_OUT));
        QVERIFY(d.last_message().isEmpty());

        d.sign_out();
        in_session(d, [] {});
        QCOMPARE(d.link(CParloDlg::LINK_STATUS)->text(), QStringLiteral("Offline"));
        deliver(d, NM_CONNECTING, 1, 0);
        QVERIFY(!d.showing_connecting() && shown(d, CParloDlg::LINK_SIGN_IN));
    }

    void caption_after_welcome() {
        CParloDlg d;
        d.set_show_messages(false);
        QCOMPARE(d.windowTitle(), QStringLiteral("Parlo"));
        server_says(SRV_NAME1, "Alice");
        server_says(SRV_NAME2, "Archer");
        server_says(SRV_NAME3, "alice");
        deliver(d, NM_WELCOME, 0, 0);
        QCOMPARE(d.windowTitle(), QStringLiteral("Welcome (Alice, Archer) alice!"));
    }

    void status_link_and_tray_tip() {
        CParloDlg d;
        d.set_show_messages(false);
        QCOMPARE(d.tray_tip(), QStringLiteral("Vorlane Messenger (Offline)"));
        deliver(d, NM_SET_MY_STATUS, PS_ONLINE, 0);
        QCOMPARE(d.link(CParloDlg::LINK_STATUS)->text(), QStringLiteral("OnLine"));
        QCOMPARE(d.tray_tip(), QStringLiteral("Vorlane Messenger (Online)"));
        QCOMPARE(d.tray_icon_number(), 139);
        deliver(d, NM_SET_MY_STATUS, PS_AWAY, 0);
        QCOMPARE(d.tray_tip(), QStringLiteral("Vorlane Messenger (Away)"));
        QCOMPARE(d.tray_icon_number(), 140);
        QCOMPARE(g_my_status.load(), static_cast<int>(PS_AWAY));
        // Out of range: nothing changes.
        deliver(d, NM_SET_MY_STATUS, 9, 0);
        QCOMPARE(d.tray_tip(), QStringLiteral("Vorlane Messenger (Away)"));
        QCOMPARE(g_my_status.load(), static_cast<int>(PS_AWAY));
        deliver(d, NM_SET_MY_STATUS, 7, 0);
        QCOMPARE(d.link(CParloDlg::LINK_STATUS)->text(), QStringLiteral("Appear Offline"));
        QCOMPARE(d.tray_icon_number(), 145);
    }

    void knock_shown_and_blocked_knock_not() {
        CParloDlg d;
        d.set_show_messages(false);
        int played = 0;
        set_knock_player([&](const QString& path) {
            QVERIFY(path.endsWith(QLatin1String("knock_door.wav")));
            played++;
        });
        deliver(d, NM_KNOCK, kBob, 0);
        QCOMPARE(d.popups_opened(), 1);
        QVERIFY(d.last_popup());
        QCOMPARE(d.last_popup()->text(), QStringLiteral("Knock from Bob Baker(bob@example.com)"));
        QCOMPARE(played, 1);
        in_session(d, [&] { d.controller().set_knock_blocked(kBob, true); });
        deliver(d, NM_KNOCK, kBob, 0);
        deliver(d, NM_KNOCK, 999, 0);  // unknown contact
        QCOMPARE(d.popups_opened(), 1);
        QCOMPARE(played, 1);
        set_knock_player(nullptr);
    }

    void peer_online_pop_up_only_on_change() {
        CParloDlg d;
        d.set_show_messages(false);
        deliver(d, NM_PEER_STATUS, kBob, PS_BUSY);
        QCOMPARE(d.popups_opened(), 0);
        deliver(d, NM_PEER_STATUS, kBob, PS_ONLINE);
        QCOMPARE(d.popups_opened(), 1);
        QCOMPARE(d.last_popup()->text(), QStringLiteral("bob(bob@example.com) become online."));
        deliver(d, NM_PEER_STATUS, kBob, PS_ONLINE);
        QCOMPARE(d.popups_opened(), 1);
    }

    void logged_in_elsewhere_signs_out() {
        CParloDlg d;
        d.set_show_messages(false);
        g_logged_in = 1;
        d.lay_out();
        deliver(d, NM_LOGGED_IN_ELSEWHERE, 0, 0);
        QCOMPARE(g_logged_in.load(), 0);
        QVERIFY(shown(d, CParloDlg::LINK_SIGN_IN));
        QCOMPARE(
            d.last_message(),
            QStringLiteral("You logged in at another location, this connection is disconnected."));
    }

    void server_notice_is_plain_text() {
        CParloDlg d;
        d.set_show_messages(false);
        // The receive loop posts each notice with its text, which the window shows later.
        g_main_dlg = d.notifications();
        const char* notice = "Maintenance at 100%s %n %d <b>tonight</b>";
        server_says(SRV_NOTICE1, notice);
        deliver(d, NM_LOGIN_CLOSED);  // after the notice
        QCOMPARE(d.last_popup()->text(), QString::fromUtf8(notice));
        std::string longer(1000, 'n');
        server_says(SRV_NOTICE2, longer.c_str());
        server_says(SRV_NOTICE1, "a later notice");  // cannot change the one before it
        deliver(d, NM_LOGIN_CLOSED);
        g_main_dlg = nullptr;
        QCOMPARE(d.popups_opened(), 3);
        QCOMPARE(d.last_popup()->text(), QStringLiteral("a later notice"));
    }

    void escape_and_close_box_keep_the_window() {
        CParloDlg d;
        d.set_show_messages(false);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QSignalSpy finished(&d, &QDialog::finished);
        QTest::keyClick(&d, Qt::Key_Escape);
        QTest::mouseClick(&d, Qt::LeftButton, {}, d.close_rect().center());
        QCOMPARE(finished.count(), 0);
        QVERIFY(d.isVisible());
        d.on_command(32811);  // Exit
        QCOMPARE(finished.count(), 1);
        QCOMPARE(d.result(), static_cast<int>(QDialog::Accepted));
    }

    void sign_in_dialog_checks_and_remembered_values() {
        reg_write_int("messenger_general", "remember_email", 1);
        reg_write("messenger_general", "my_email", "alice@example.com");
        reg_write_int("messenger_general", "remember_passwd", 0);
        reg_write("messenger_general", "my_passwd", "stale");
        CDlgLogin dlg;
        dlg.set_show_messages(false);
        QCOMPARE(dlg.email(), QStringLiteral("alice@example.com"));
        QVERIFY(dlg.remember_email() && !dlg.remember_password());
        QCOMPARE(dlg.password(), QString());
        QSignalSpy finished(&dlg, &QDialog::finished);
        dlg.email_edit()->clear();
        dlg.sign_in_button()->click();
        QCOMPARE(dlg.last_refusal(), QStringLiteral("Email could not be blank."));
        dlg.email_edit()->setText(QStringLiteral("a:b@example.com"));
        dlg.sign_in_button()->click();
        QCOMPARE(dlg.last_refusal(), QStringLiteral("Email could not contain ':' charactor"));
        QCOMPARE(finished.count(), 0);
        // An e-mail of 127 or more characters is cut to 126; an empty password is allowed.
        dlg.email_edit()->setText(QString(130, QChar('e')));
        QCOMPARE(dlg.email().size(), 126);
        dlg.sign_in_button()->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dlg.result(), static_cast<int>(QDialog::Accepted));
    }

    // Minimised with a tray the window hides into it and comes back from it; without one it
    // stays an ordinary minimised window. The caption's menu offers About and Exit, signed in or
    // out, and a right click on the caption opens it.
    void minimise_with_and_without_a_tray_and_the_caption_menu() {
        CParloDlg d;
        d.set_show_messages(false);
        d.start();
        d.set_tray_check([] { return false; });
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.showMinimized();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(d.isVisible() && d.isMinimized());
        d.restore_window();
        d.set_tray_check([] { return true; });
        d.showMinimized();
        QVERIFY(QTest::qWaitFor([&] { return !d.isVisible(); }, 5000));
        d.tray_double_click();
        QVERIFY(d.isVisible() && !d.isMinimized());

        for (int in = 0; in < 2; in++) {
            g_logged_in = in;
            d.lay_out();
            std::unique_ptr<QMenu> caption(d.make_caption_menu());
            QStringList texts;
            for (QAction* a : caption->actions())
                if (!a->isSeparator()) texts << a->text();
            QCOMPARE(texts, QStringList({"About Vorlane Messenger", "Exit"}));
        }
        g_logged_in = 0;
        QContextMenuEvent on_caption(QContextMenuEvent::Mouse, QPoint(30, 10),
                                     d.mapToGlobal(QPoint(30, 10)));
        QApplication::sendEvent(&d, &on_caption);
        QMenu* opened = nullptr;
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (QMenu* m : d.findChildren<QMenu*>())
                    if (m->isVisible()) opened = m;
                return opened != nullptr;
            },
            5000));
        QSignalSpy finished(&d, &QDialog::finished);
        opened->actions().last()->trigger();  // Exit
        QCOMPARE(finished.count(), 1);
        QCOMPARE(d.result(), static_cast<int>(QDialog::Accepted));
    }

    void tray_clicks_and_menus() {
        CParloDlg d;
        d.set_show_messages(false);
        QSignalSpy menu(&d, &CParloDlg::tray_menu_requested);
        d.tray_single_click();
        QVERIFY(d.tray_click_pending());
        d.tray_double_click();  // a double click cancels the menu and restores the window
        QVERIFY(!d.tray_click_pending());
        QVERIFY(d.isVisible());
        d.tray_single_click();
        QVERIFY(QTest::qWaitFor([&] { return menu.count() == 1; }, 3000));
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<QMenu*>(w)) m->close();

        // Signed out: no status or main menu; the tray offers Sign In and no status sub-menu.
        QVERIFY(d.make_status_menu() == nullptr);
        QVERIFY(d.make_main_menu() == nullptr);
        std::unique_ptr<QMenu> tray(d.make_tray_menu());
        QCOMPARE(tray->actions().size(), 3);
        QCOMPARE(tray->actions().at(1)->text(), QStringLiteral("Sign In"));

        g_logged_in = 1;
        g_my_status = PS_BUSY;
        in_session(d, [&] { d.controller().select_group(7); });
        std::unique_ptr<QMenu> main_menu(d.make_main_menu());
        QVERIFY(main_menu);
        int group = -1;
        in_session(d, [&] { group = d.controller().selected_group(); });
        QCOMPARE(group, 0);
        QCOMPARE(main_menu->actions().last()->text(), QStringLiteral("Exit"));
        std::unique_ptr<QMenu> status(d.make_status_menu());
        QCOMPARE(status->actions().size(), 7);
        for (QAction* a : status->actions())
            QCOMPARE(a->isChecked(), a->text() == QStringLiteral("Busy"));
        tray.reset(d.make_tray_menu());
        QCOMPARE(tray->actions().at(1)->text(), QStringLiteral("Sign Out"));
        QVERIFY(tray->actions().last()->menu());
        QCOMPARE(tray->actions().last()->menu()->actions().size(), 7);
        g_logged_in = 0;
    }
};
}  // namespace

QObject* make_main_window_test() {
    return new main_window_test;
}

#include "main_window_test.moc"
