// End to end in one process: the desktop application signs in as alice to a server that closes
// connections silent for 12 s, and bob (headless) offers her a file that she leaves unanswered for
// more than two of those limits. Meanwhile she stays signed in (her keep-alives go on), and bob's
// chat line arrives and is shown; accepting afterwards still brings the file, intact.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "protocol/chat_session.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/json_lines.h"
#include "tests/support/loopback.h"
#include "tests/ui/ui_e2e_support.h"
#include "ui/app/desktop_setup.h"
#include "ui/app/parlo_app.h"
#include "ui/chat/chat_dlg.h"
#include "ui/common/message_boxes.h"
#include "ui/main/main_dlg.h"
#include "ui/skin/controls.h"

namespace {
const std::string kNet = testsupport::loopback_block() + ".";
constexpr int kLong = 90000;  // a loaded 2-core machine under a sanitizer
constexpr int kIdleSeconds = 12;

std::string read_all(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Lines of the server's log that say a connection from address was closed for silence.
int idle_closes(const std::string& log, const std::string& address) {
    std::istringstream in(read_all(log));
    int n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find("from " + address + " ended: idle") != std::string::npos;
    return n;
}

// A silent connection to the server from address: once the server closed it for silence, a
// full idle limit has passed since it was opened.
int open_silent(const std::string& address, const std::string& server) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{}, s{};
    a.sin_family = s.sin_family = AF_INET;
    s.sin_port = htons(9015);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    inet_pton(AF_INET, server.c_str(), &s.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&s), sizeof(s)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A box other than the question itself that repeats the offer's words.
bool question_repeated() {
    QCoreApplication::processEvents();
    bool seen = false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible()) continue;
        QString all = w->windowTitle();
        for (QLabel* l : w->findChildren<QLabel*>()) all += QLatin1Char('|') + l->text();
        if (auto* m = qobject_cast<CDlgMessage*>(w)) all += QLatin1Char('|') + m->text();
        if (all.contains(QLatin1String("do you want accept"))) seen = true;
    }
    return seen;
}

class questions_e2e_test : public QObject {
    Q_OBJECT
private slots:
    void an_unanswered_file_offer_keeps_the_session_alive() {
        char tmpl[] = "/tmp/parlo-questions-e2e-XXXXXX";
        const char* d = mkdtemp(tmpl);
        QVERIFY(d);
        const std::string dir = d, net = kNet, log = dir + "/server.log";
        const std::string offered = dir + "/report.bin", saved = dir + "/alice-report.bin";
        {
            std::string data(150000, '\0');
            for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>((i * 7919) >> 3);
            std::ofstream(offered, std::ios::binary) << data;
        }

        child_process server(PARLO_SERVER_PATH, {"--listen", net + "1", "--db", dir + "/server.db",
                                                 "--fast-hash", "--seed-demo", "--log", log,
                                                 "--idle-timeout", std::to_string(kIdleSeconds)});
        QVERIFY(server.running());
        QVERIFY(server_listening(server, kLong));
        child_process bob(PARLO_CLI_PATH, {"--server", net + "1", "--bind", net + "3", "--home",
                                           dir + "/bob", "--email", "bob@example.com", "--password",
                                           "demo1234", "--audio-backend", "null"});
        QVERIFY(!child_line(bob, {"\"event\":\"contact_list\""}).empty());
        bob.write_line("contacts");
        int alice = contact_id_of(child_line(bob, {"\"contacts\":["}), "alice@example.com");
        QVERIFY(alice > 0);
        const std::string a = std::to_string(alice);

        app_options options;
        options.home = dir + "/alice";
        options.server = net + "1";
        options.bind = net + "2";
        apply_app_options(options);
        reg_write("media", "audio_backend", "null");
        CParloApp app(options);
        install_desktop_windows(app);
        QCOMPARE(app.start(), 0);
        CParloDlg* dlg = app.main_dlg();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg));
        dlg->sign_in(QStringLiteral("alice@example.com"), QStringLiteral("demo1234"), false, false);
        QVERIFY(QTest::qWaitFor([&] { return g_logged_in.load() == 1; }, kLong));
        int bob_id = wait_contact_online("bob@example.com", kLong);
        QVERIFY(bob_id > 0);
        QVERIFY(!child_line(bob, {"\"w\":" + a, "\"presence_text\":\"Online\""}).empty());

        // Bob offers the file; alice's question opens and stays unanswered.
        bob.write_line("send-file " + a + " " + offered);
        CDlgQuestion* question = nullptr;
        QVERIFY(QTest::qWaitFor(
            [&] {
                question = dlg->questions().dialog(QUESTION_FILE_OFFER, bob_id);
                return question && question->isVisible();
            },
            kLong));
        QVERIFY(!question->isModal());

        // Two idle limits in a row pass, each seen by a silent connection the server closed.
        for (int round = 0; round < 2; round++) {
            int before = idle_closes(log, net + "4");
            int fd = open_silent(net + "4", net + "1");
            QVERIFY(fd >= 0);
            bool closed =
                QTest::qWaitFor([&] { return idle_closes(log, net + "4") > before; }, kLong);
            close(fd);
            QVERIFY2(closed, "the server never closed a silent connection");
            if (round > 0) continue;
            // Bob's line arrives and shows while the question is open.
            bob.write_line("chat " + a + " still there, alice?");
            QVERIFY(QTest::qWaitFor(
                [&] {
                    auto* w = static_cast<CDlgPrivateChat*>(get_chat_dlg_from_peer_id(bob_id));
                    return w && w->isVisible() &&
                           w->transcript()->toPlainText().contains(QLatin1String("still there"));
                },
                kLong));
            QVERIFY(question->isVisible());
        }
        // Alice's connection was never closed for silence, and she is still signed in.
        QCOMPARE(idle_closes(log, net + "2"), 0);
        QCOMPARE(g_logged_in.load(), 1);
        // The dialog says the sender's wait may be over; the question is still open.
        QVERIFY(question->isVisible());
        QVERIFY2(question->note().contains(QLatin1String("15 seconds")),
                 qPrintable(question->note()));

        // Accepted now, the file still comes, intact.
        dlg->questions().choose_save_path = [&](const QString& proposed) {
            return proposed == QLatin1String("report.bin") ? QString::fromStdString(saved)
                                                           : QString();
        };
        question->yes_button()->click();
        const std::string want = read_all(offered);
        QVERIFY(QTest::qWaitFor([&] { return read_all(saved) == want; }, kLong));
        // The answered question is not asked again, as a notice or otherwise: once the window
        // showed the file saved, no box repeats it.
        QVERIFY(QTest::qWaitFor([&] { return dlg->last_notification_shown() == NM_FILE_DONE; },
                                kLong));
        QVERIFY2(!question_repeated(), "the answered offer was shown again");

        // A second offer refused: bob hears of it, and the question is not repeated either.
        bob.write_line("send-file " + a + " " + offered);
        QVERIFY(QTest::qWaitFor(
            [&] {
                question = dlg->questions().dialog(QUESTION_FILE_OFFER, bob_id);
                return question && question->isVisible();
            },
            kLong));
        question->no_button()->click();
        QVERIFY(!child_line(bob, {"\"w\":" + a, "\"event\":\"file_refused\""}).empty());
        QVERIFY(QTest::qWaitFor([&] { return dlg->questions().open_count() == 0; }, kLong));
        QVERIFY2(!question_repeated(), "the refused offer was shown again");

        bob.write_line("quit");
        child_line(bob, {"\"event\":\"bye\""}, 20000);
        dlg->on_command(32811);
        app.shutdown();
        remove_desktop_windows();
        server.stop();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};
}  // namespace

int main(int argc, char** argv) {
    return run_ui_e2e<questions_e2e_test>(argc, argv);
}

#include "questions_e2e_test.moc"
