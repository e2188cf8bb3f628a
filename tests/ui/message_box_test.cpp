// Message boxes: the return value of every way of closing, and the core's hook from a worker
// thread, which never waits (reports become notices, questions get their safe answer).
#include <QTest>
#include <atomic>
#include <thread>

#include "tests/ui/ui_test_support.h"
#include "ui/common/gui_call.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/skin/controls.h"

namespace {
void press_escape(QDialog* d) {
    QTest::keyClick(d, Qt::Key_Escape);
}

class message_box_test : public QObject {
    Q_OBJECT
private slots:
    void show_message_returns_one() {
        QCOMPARE(answer_modal<CDlgMessage>(
                     [] { return show_message_text(QStringLiteral("Login failed.")); },
                     [](CDlgMessage* d) { d->first_button()->click(); }),
                 1);
        QCOMPARE(answer_modal<CDlgMessage>([] { return show_message_text(QStringLiteral("x")); },
                                           [](CDlgMessage* d) {
                                               QVERIFY(!d->second_button()->isVisible());
                                               press_escape(d);
                                           }),
                 1);
        QCOMPARE(answer_modal<CDlgMessage>([] { return show_message_text(QStringLiteral("x")); },
                                           [](CDlgMessage* d) { d->reject(); }),
                 1);
    }

    void ask_yes_no_values() {
        auto ask = [] {
            return ask_yes_no_text(
                QStringLiteral("You have offline message, do you want to read now?"));
        };
        QCOMPARE(answer_modal<CDlgMessage>(ask,
                                           [](CDlgMessage* d) {
                                               QCOMPARE(d->first_button()->text(),
                                                        QStringLiteral("YES"));
                                               d->first_button()->click();
                                           }),
                 6);
        QCOMPARE(
            answer_modal<CDlgMessage>(ask, [](CDlgMessage* d) { d->second_button()->click(); }), 7);
        QCOMPARE(answer_modal<CDlgMessage>(ask, [](CDlgMessage* d) { press_escape(d); }), 7);
    }

    void ask_yes_no_cancel_values() {
        auto ask = [] { return ask_yes_no_cancel_text(QStringLiteral("Save?")); };
        QCOMPARE(answer_modal<CDlgYesNoCancel>(
                     ask, [](CDlgYesNoCancel* d) { d->yes_button()->click(); }),
                 6);
        QCOMPARE(
            answer_modal<CDlgYesNoCancel>(ask, [](CDlgYesNoCancel* d) { d->no_button()->click(); }),
            7);
        QCOMPARE(answer_modal<CDlgYesNoCancel>(
                     ask, [](CDlgYesNoCancel* d) { d->cancel_button()->click(); }),
                 2);
        QCOMPARE(answer_modal<CDlgYesNoCancel>(ask, [](CDlgYesNoCancel* d) { press_escape(d); }),
                 0);
    }

    void hook_from_a_worker_thread() {
        qt_message_boxes boxes;
        std::atomic<int> answer{-1};
        // No event loop runs while the worker asks and reports: neither may wait for a dialog.
        std::thread worker([&] {
            answer = boxes.ask_yes_no("Are you sure to remove this group?");
            boxes.show_message("failed to open the sound device");
            boxes.show_message("failed to open the sound device");
        });
        worker.join();
        QCOMPARE(answer.load(), 7);
        std::thread worker2([&] { answer = boxes.ask_yes_no_cancel("Save?"); });
        worker2.join();
        QCOMPARE(answer.load(), 2);
        // The report shows once, non-modal, however often it came.
        QVERIFY(QTest::qWaitFor([] { return open_notices().size() == 1; }, 10000));
        CDlgMessage* notice = open_notices().first();
        QVERIFY(!notice->isModal());
        QCOMPARE(notice->text(), QStringLiteral("failed to open the sound device"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        notice->first_button()->click();
        QVERIFY(QTest::qWaitFor([] { return open_notices().isEmpty(); }, 10000));

        // After shutdown a report posted before it never opens.
        std::thread late([&] { boxes.show_message("late report"); });
        late.join();
        stop_gui_calls();
        QCoreApplication::processEvents();
        QVERIFY(open_notices().isEmpty());
        restart_gui_calls();
    }

    // The core's texts come by id and show in the chosen language; plain texts as they came,
    // never looked up by their English words.
    void core_texts_in_the_chosen_language() {
        QCOMPARE(core_text(TXT_LOGIN_FAILED, {}), QStringLiteral("Login failed."));
        QCOMPARE(core_text(TXT_BECOME_ONLINE, {"100%s", "b@x"}),
                 QStringLiteral("100%s(b@x) become online."));
        QVERIFY(install_language(qApp, QStringLiteral("zh")));
        qt_message_boxes boxes;
        std::atomic<int> answer{-1};
        std::thread worker([&] {
            boxes.show_text(TXT_MAX_VIDEOS, {}, "Maximun videos reached.");
            boxes.show_message("Login failed.");
            answer = boxes.ask_text_yes_no(TXT_OFFLINE_WAITING, {}, "You have offline message");
        });
        worker.join();
        QCOMPARE(answer.load(), 7);
        QVERIFY(QTest::qWaitFor([] { return open_notices().size() == 2; }, 10000));
        QStringList shown;
        for (CDlgMessage* d : open_notices()) shown << d->text();
        QVERIFY(install_language(qApp, QStringLiteral("en")));
        close_notices();
        QCOMPARE(shown, (QStringList{QString::fromUtf8("视频数已达上限。"),
                                     QStringLiteral("Login failed.")}));
    }
};
}  // namespace

QObject* make_message_box_test() {
    return new message_box_test;
}

#include "message_box_test.moc"
