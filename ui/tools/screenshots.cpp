// Takes the pictures for the documentation: the sign-in dialog, the signed-in main window with its
// contact tree, a knock pop-up, a chat window with its lower panel open and the devices dialog, in
// one language. Needs a running server with the demo accounts; run it on a display
// (scripts/screenshots starts one under Xvfb).
// usage: parlo-screenshots --server HOST --bind ADDR --home DIR --lang en|zh --out DIR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <functional>

#include "media/video/video_source.h"
#include "platform/debug_log.h"
#include "protocol/chat_session.h"
#include "protocol/session.h"
#include "ui/app/desktop_setup.h"
#include "ui/app/parlo_app.h"
#include "ui/chat/chat_dlg.h"
#include "ui/common/event_popup.h"
#include "ui/common/texts.h"
#include "ui/dialogs/devices_dialog.h"
#include "ui/main/main_dlg.h"
#include "ui/signin/login_dlg.h"
#include "ui/skin/controls.h"

namespace {
bool wait_until(const std::function<bool()>& cond, int ms) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

void settle(int ms) {
    wait_until([] { return false; }, ms);
}

bool save(QWidget* w, const QString& path) {
    bool ok = w->grab().save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}
}  // namespace

// A chat window with a few formatted lines and a picture of the pattern camera as the peer's
// video (no call needed for the picture).
static bool save_chat_window(const QString& path) {
    constexpr int kPeer = 999001;
    chat_session_open(kPeer);
    auto pic = std::make_shared<peer_picture>();
    pic->width = 160;
    pic->height = 120;
    pic->rgb.resize(160 * 120 * 3);
    draw_pattern_frame(40, 160, 120, pic->rgb.data());
    chat_session_publish_picture(kPeer, pic);
    bool ok;
    {
        CDlgPrivateChat w(kPeer, QStringLiteral("Bob Baker"));
        struct line {
            const char* text;
            unsigned char attrs[5];
        };
        const line lines[] = {
            {"Bob Baker:Hello Alice! Can you see me?\r\n", {0x1e, 0x60, 0xc0, 12, 1}},
            {"Alice Adams:Yes, the picture is sharp.\r\n", {0x20, 0x80, 0x30, 10, 2}},
            {"Bob Baker:Great, see www.example.com for the agenda\r\n", {0xc0, 0x30, 0x30, 11, 4}},
            {"Alice Adams:Talk to you at noon.\r\n", {0, 0, 0, 10, 0}}};
        for (const line& l : lines) {
            std::string body = l.text;
            body.push_back('\0');
            body.append(reinterpret_cast<const char*>(l.attrs), 5);
            w.show_body(body.data(), static_cast<int>(body.size()));
        }
        w.set_panel(true);
        w.click_client(QPoint(135, 525));  // the peer-video switch
        w.move(60, 60);
        w.show();
        settle(800);
        ok = save(&w, path);
    }
    chat_session_close(kPeer);
    return ok;
}

int main(int argc, char** argv) {
    app_options options;
    std::string out = "docs";
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; i++) {
        if (std::string(argv[i]) == "--out" && i + 1 < argc)
            out = argv[++i];
        else
            rest.push_back(argv[i]);
    }
    std::string error;
    if (parse_app_args(static_cast<int>(rest.size()), rest.data(), &options, &error) != 0) {
        std::fprintf(stderr, "parlo-screenshots: %s\n", error.c_str());
        return 2;
    }
    QApplication app(argc, argv);
    QString lang = pick_language(QString::fromStdString(options.lang), QStringLiteral("en"));
    install_language(&app, lang);
    apply_app_options(options);
    QDir().mkpath(QString::fromStdString(out));
    QString prefix = QString::fromStdString(out) + "/";
    int failures = 0;
    {
        CParloApp parlo(options);
        install_desktop_windows(parlo);
        if (parlo.start() != 0) return 1;
        CParloDlg* dlg = parlo.main_dlg();
        dlg->move(40, 40);
        dlg->show();
        {
            CDlgLogin login(dlg);
            login.email_edit()->setText(QString::fromStdString(options.email));
            login.password_edit()->setText(QString::fromStdString(options.password));
            login.show();
            settle(300);
            failures += !save(&login, prefix + "signin_" + lang + ".png");
        }
        dlg->sign_in(QString::fromStdString(options.email),
                     QString::fromStdString(options.password), false, false);
        bool in = wait_until(
            [&] { return g_logged_in.load() == 1 && dlg->tray_icon_number() == 139; }, 20000);
        if (!in) std::fprintf(stderr, "sign-in did not complete\n");
        settle(1500);
        failures += !save(dlg, prefix + "main_" + lang + ".png");
        CDlgEvent* popup =
            show_event_popup(ui_text(T_KNOCK_FROM, {QStringLiteral("Bob"), QStringLiteral("Baker"),
                                                    QStringLiteral("bob@example.com")}));
        settle(1500);
        failures += !save(popup, prefix + "popup_" + lang + ".png");
        popup->reject();
        failures += !save_chat_window(prefix + "chat_" + lang + ".png");
        {
            CDlgDevices devices(dlg);
            devices.move(80, 80);
            devices.show();
            wait_until([&] { return devices.lists_filled() > 0; }, 5000);
            settle(500);
            failures += !save(&devices, prefix + "devices_" + lang + ".png");
        }
        dlg->on_command(32811);
        parlo.shutdown();
        remove_desktop_windows();
        failures += in ? 0 : 1;
    }
    close_debug_log();
    return failures == 0 ? 0 : 1;
}
