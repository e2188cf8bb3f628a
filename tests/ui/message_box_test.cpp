// Message boxes: the return value of every way of closing, and the core's hook answered from a
// worker thread (and released at shutdown).
#include <QTest>
#include <atomic>
#include <thread>

#include "tests/ui/ui_test_support.h"
#include "ui/common/gui_call.h"
#include "ui/common/message_boxes.h"
#include "ui/skin/controls.h"

namespace {
void press_escape(QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }

class message_box_test : public QObject {
    Q_OBJECT
private slots:
    void show_message_returns_one() {
        QCOMPARE(answer_modal<CDlgMessage>([] { return show_message_text(QStringLiteral("Login failed.")); },
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
        auto ask = [] { return ask_yes_no_text(QStringLiteral("You have offline message, do you want to read now?")); };
        QCOMPARE(answer_modal<CDlgMessage>(ask, [](CDlgMessage* d) {
                     QCOMPARE(d->first_button()->text(), QStringLiteral("YES"));
                     d->first_button()->click();
                 }),
                 6);
        QCOMPARE(answer_modal<CDlgMessage>(ask, [](CDlgMessage* d) { d->second_button()->click(); }), 7);
        QCOMPARE(answer_modal<CDlgMessage>(ask, [](CDlgMessage* d) { press_escape(d); }), 7);
    }

    void ask_yes_no_cancel_values() {
        auto ask = [] { return ask_yes_no_cancel_text(QStringLiteral("Save?")); };
        QCOMPARE(answer_modal<CDlgYesNoCancel>(ask, [](CDlgYesNoCancel* d) { d->yes_button()->click(); }), 6);
        QCOMPARE(answer_modal<CDlgYesNoCancel>(ask, [](CDlgYesNoCancel* d) { d->no_button()->click(); }), 7);
        QCOMPARE(answer_modal<CDlgYesNoCancel>(ask, [](CDlgYesNoCancel* d) { d->cancel_button()->click(); }), 2);
        QCOMPARE(answer_modal<CDlgYesNoCancel>(ask, [](CDlgYesNoCancel* d) { press_escape(d); }), 0);
    }

    void hook_from_a_worker_thread() {
        qt_message_boxes boxes;
        std::atomic<int> answer{-1};
        std::atomic<bool> done{false};
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* d = qobject_cast<CDlgMessage*>(QApplication::activeModalWidget())) {
                poll.stop();
                d->first_button()->click();
            }
        });
        poll.start();
        std::thread worker([&] {
            answer = boxes.ask_yes_no("Are you sure to remove this group?");
            done = true;
        });
        // The GUI thread stays free while the worker waits: the dialog opens here.
        QVERIFY(QTest::qWaitFor([&] { return done.load(); }, 10000));
        worker.join();
        QCOMPARE(answer.load(), 6);

        // At shutdown a worker waiting for an answer gets No without a dialog.
        std::thread late([&] { answer = boxes.ask_yes_no("late question"); });
        stop_gui_calls();
        late.join();
        QCOMPARE(answer.load(), 7);
        restart_gui_calls();
        QCoreApplication::processEvents();
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void core_texts_in_the_chosen_language() {
        QCOMPARE(core_text("Login failed."), QStringLiteral("Login failed."));
        QCOMPARE(core_text("an unknown 100% text"), QStringLiteral("an unknown 100% text"));
    }
};
}  // namespace

QObject* make_message_box_test() { return new message_box_test; }

#include "message_box_test.moc"
