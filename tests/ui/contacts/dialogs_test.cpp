// Registration, contact search, the offline-message editor and viewer, file offers and the
// progress window.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "protocol/commands.h"
#include "protocol/requests.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "support.h"
#include "tests.h"
#include "ui/contacts/ui_asker.h"
#include "ui/dialogs/contact_search_dialog.h"
#include "ui/dialogs/countries.h"
#include "ui/dialogs/offline_dialogs.h"
#include "ui/dialogs/registration_dialog.h"
#include "ui/skin/controls.h"
#include "ui/transfer/file_transfer_ui.h"

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        reset_tables();
        g_registration() = registration_buffers{};
    }

    void registration_checks_in_order() {
        recorded_boxes boxes;
        CDlgRegister dlg;
        struct step {
            const char *email, *pw, *first, *last, *nick, *text;
        };
        const step steps[] = {
            {" \t ", "", "", "", "", "Email could not be empty."},
            {"a@b.c", "", "", "", "", "Password could not be empty."},
            {"a@b.c", "pw", " ", "", "", "FirstName could not be empty."},
            {"a@b.c", "pw", "F", "", "", "LastName could not be empty."},
            {"a@b.c", "pw", "F", "L", "\t", "NickName could not be empty."},
            {"a@bc", "pw", "F", "L", "N", "Your Email seems not correct, please correct."},
            {"a b@c.d", "pw", "F", "L", "N",
             ":, <, >, ', \", \\ and space is not allowed in email, please correct."},
        };
        for (const step& s : steps) {
            dlg.email_edit()->setText(s.email);
            dlg.password_edit()->setText(s.pw);
            dlg.first_edit()->setText(s.first);
            dlg.last_edit()->setText(s.last);
            dlg.nick_edit()->setText(s.nick);
            QVERIFY(!dlg.on_register());
            QCOMPARE(boxes.last(), std::string(s.text));
        }
        dlg.email_edit()->setText(".x@y");  // both characters anywhere pass
        QVERIFY(dlg.on_register());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(g_registration().nick_name, std::string("N"));
    }

    void registration_countries_cancel_and_reset() {
        QCOMPARE(QString(country_name(0)), QString("Afghanistan"));
        QCOMPARE(QString(country_name(kCountryCount - 1)), QString("Zimbabwe"));
        {
            CDlgRegister dlg;
            QCOMPARE(dlg.country_box()->count(), kCountryCount);
            QCOMPARE(dlg.country_box()->currentText(), QString("United States"));
            dlg.email_edit()->setText("kept@example.org");
            dlg.password_edit()->setText(QString(70, 'p'));
            dlg.country_box()->setCurrentIndex(dlg.country_box()->findText("France"));
            dlg.reject();
        }
        CDlgRegister again;
        QCOMPARE(again.email_edit()->text(), QString("kept@example.org"));
        QCOMPARE(again.password_edit()->text().size(), 62);
        QCOMPARE(again.country_box()->currentText(), QString("France"));
        again.on_reset();
        QVERIFY(again.email_edit()->text().isEmpty());
        QCOMPARE(again.country_box()->currentText(), QString("United States"));
        QVERIFY(g_registration().email.empty());
    }

    void registration_record_layout() {
        registration_fields f{"me@example.org", "secret", "Ann", "Lee", "annie", "123", "Chad"};
        char rec[kRegistrationRecordBytes];
        std::memset(rec, 'x', sizeof(rec));
        build_registration_record(f, rec);
        const struct {
            int offset, width;
            const char* text;
        } fields[] = {{0, 127, "me@example.org"}, {128, 63, "secret"}, {192, 31, "Ann"},
                      {224, 31, "Lee"},           {256, 127, "annie"}, {384, 63, "123"},
                      {448, 63, "Chad"}};
        for (const auto& fl : fields) {
            QCOMPARE(QByteArray(rec + fl.offset), QByteArray(fl.text));
            for (int i = fl.offset + int(std::strlen(fl.text)); i < fl.offset + fl.width; i++)
                QCOMPARE(rec[i], '\0');
            QCOMPARE(rec[fl.offset + fl.width], ':');
        }
    }

    void search_checks() {
        recorded_boxes boxes;
        put_contact(31, 0, "known", 0, REL_ADDED, "K", "N", "known@example.org");
        session_controller controller;
        CDlgAddContact dlg(direct_runner(controller));
        const char* const cases[][2] = {
            {"   ", "Email should not be empty."},
            {"@a.b", "Email seems not correct."},
            {".a@b", "Email seems not correct."},
            {"ab.c", "Email seems not correct."},
            {" known@example.org ", "The email address already exist in your contact list."},
        };
        for (const auto& c : cases) {
            dlg.email_edit()->setText(c[0]);
            QVERIFY(!dlg.on_search());
            QCOMPARE(boxes.last(), std::string(c[1]));
        }
        QVERIFY(dlg.result() != QDialog::Accepted);
    }

    void offline_editor_cuts_at_10000() {
        recorded_boxes boxes;
        session_controller controller;
        put_contact(41, 0, "to");
        CDlgOfflineMessage dlg(41, direct_runner(controller));
        QVERIFY(dlg.windowTitle().startsWith("Offline Message To:First Last(user41@"));
        dlg.edit()->setPlainText(QString(10000, 'a'));
        QVERIFY(boxes.texts.empty());
        dlg.edit()->moveCursor(QTextCursor::End);
        QTest::keyClicks(dlg.edit(), "b");
        QCOMPARE(boxes.last(), std::string("Could not input more than 10000 charactors."));
        QCOMPARE(dlg.edit()->toPlainText().size(), 10000);

        std::string text;
        int to = -1;
        dlg.set_sender([&](int id, std::string t) {
            to = id;
            text = t;
        });
        dlg.edit()->setPlainText("line one\nline two");
        QCOMPARE(dlg.on_send(), 0);
        QCOMPARE(to, 41);
        QCOMPARE(text, std::string("line one\r\nline two"));
        QVERIFY(dlg.edit()->toPlainText().isEmpty());

        // A long title keeps its beginning and fits the title bar (cut at its end if at all).
        put_contact(42, 0, "to", PS_ONLINE, REL_ADDED, "Carol", "Carter", "carol@example.org");
        CDlgOfflineMessage carol(42, direct_runner(controller));
        CDlgShowOfflineMessage from_carol(direct_runner(controller), "hi", 42,
                                          "Carol Carter(carol.carter.of.the.long.address@"
                                          "example.org) and more words than fit in any title");
        for (QDialog* w : {static_cast<QDialog*>(&carol), static_cast<QDialog*>(&from_carol)}) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QString title = w->windowTitle();
            QVERIFY2(title.startsWith("Offline Message"), qPrintable(title));
            QVERIFY(QFontMetrics(w->font()).horizontalAdvance(title) <= w->width() - 44);
        }
        QVERIFY2(carol.windowTitle().endsWith("Carol Carter(carol@example.org)"),
                 qPrintable(carol.windowTitle()));

        CDlgOfflineMessage nobody(77, direct_runner(controller));
        nobody.edit()->setPlainText("x");
        QCOMPARE(nobody.on_send(), -1);
        QCOMPARE(
            boxes.last(),
            std::string("failed to send offline message, did not find contact in contact list."));
    }

    void offline_viewer_must_be_answered() {
        recorded_boxes boxes;
        put_contact(51, 0, "from");
        session_controller controller;
        char chunk[] = "Message by A B(c):\r\nhello";
        controller.handle(NM_OFFLINE_BEGIN, 0, 0);
        dispatch_server_command(SRV_OFFLINE_TEXT, chunk, int(std::strlen(chunk)), 0);
        controller.handle(NM_OFFLINE_TEXT, 0, 0);
        controller.handle(NM_OFFLINE_END, 51, 0);
        QCOMPARE(controller.pending_offline().size(), size_t(1));

        CDlgShowOfflineMessage dlg(direct_runner(controller),
                                   QString::fromUtf8(chunk).replace("\r\n", "\n"), 51,
                                   "First Last(user51@example.org)");
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QCOMPARE(boxes.last(),
                 std::string("Please choose between \"discard message\" or \"save message\"."));
        dlg.close();
        QVERIFY(dlg.isVisible());

        dlg.set_chooser([] { return QString(); });  // Save cancelled: stays open
        dlg.on_save();
        QVERIFY(dlg.isVisible());

        QTemporaryDir dir;
        QString path = dir.filePath("saved.txt");
        dlg.set_chooser([&] { return path; });
        dlg.on_save();
        QVERIFY(!dlg.isVisible());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(chunk));
        QVERIFY(controller.pending_offline().empty());
    }

    void file_offer_answers() {
        recorded_boxes boxes;
        put_contact(61, 0, "peer", PS_ONLINE, REL_ADDED, "Pat", "Doe", "pat@example.org");
        contact_record c;
        QVERIFY(contact_by_id(61, &c));
        QWidget window;
        int tasks = 0;
        file_transfer_ui ui([&](session_task) { tasks++; }, &window);
        // An offer is a question of the window, asked without waiting: its words name the
        // contact and the file, and the answer goes to the session.
        session_questions questions([&](session_task) { tasks++; }, &window);
        ui_question_asker asker;
        asker.set_questions(&questions);
        std::string folder, save_as;
        user_text t =
            make_text(TXT_FILE_OFFER_QUESTION, {"Pat", "Doe", "pat@example.org", "a.bin"});
        QCOMPARE(asker.ask_file_offer(c, t, "a.bin", &folder, &save_as), int(ANSWER_CANCEL));
        QVERIFY(save_as.empty() && folder.empty());
        QVERIFY(QTest::qWaitFor([&] { return questions.dialog(QUESTION_FILE_OFFER, 61); }, 5000));
        CDlgQuestion* d = questions.dialog(QUESTION_FILE_OFFER, 61);
        QCOMPARE(d->text(),
                 QString("Pat Doe(pat@example.org) want to send you a file named a.bin, do you "
                         "want accept?"));
        QCOMPARE(d->windowTitle(), QString("Message from peer"));
        d->no_button()->click();
        QCOMPARE(tasks, 1);
        tasks = 0;

        // Offering: the file dialog, then the question with the name; No sends nothing.
        ui.choose_file_to_send = [] { return QString("/data/report.pdf"); };
        boxes.answers = {ANSWER_NO};
        QCOMPARE(ui.offer(61), -1);
        QCOMPARE(boxes.last(), std::string("Are you sure to tranfer file report.pdf to peer?"));
        boxes.answers = {ANSWER_YES};
        QCOMPARE(ui.offer(61), 0);
        QCOMPARE(tasks, 1);
    }

    void progress_speed_and_time_left() {
        rate_meter m;
        QCOMPARE(m.seconds_left(1000), int64_t(-1));
        m.add(0, 1000);
        m.add(50000, 1100);  // too short a span for a speed
        QCOMPARE(m.bytes_per_second(), 0.0);
        m.add(100000, 3000);
        QCOMPARE(m.bytes_per_second(), 50000.0);
        QCOMPARE(m.seconds_left(250000), int64_t(3));
        // Old samples leave the window: the speed follows the recent pace.
        m.add(110000, 9000);
        m.add(120000, 10000);
        QVERIFY(m.bytes_per_second() < 20000.0);
        // Tick wrap-around.
        rate_meter w;
        w.add(0, 0xFFFFFC18u);
        w.add(2000, 1000);
        QCOMPARE(w.bytes_per_second(), 1000.0);

        CDlgFileProgress win(1, true, "t");
        // Skinned like the other dialogs, and not modal.
        QVERIFY(qobject_cast<Cgood_dlg*>(&win) && !win.isModal());
        win.set_file("f", 4000);
        win.update_bytes(0, 0);
        win.update_bytes(1000, 1000);
        QCOMPARE(win.percent(), 25);
        QVERIFY(win.status_text().contains("1000 B of 3.9 KB"));
        QVERIFY(win.status_text().contains("0:03 left"));
        QCOMPARE(duration_text(3725), QString("1:02:05"));
    }
};

static register_test<DialogsTest> reg;
#include "dialogs_test.moc"
