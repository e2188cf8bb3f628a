// The event pop-up: slot choice, the height timeline driven step by step, closing, no focus theft.
#include <QLineEdit>
#include <QTest>

#include "tests/ui/ui_test_support.h"
#include "ui/common/event_popup.h"

namespace {
class popup_test : public QObject {
    Q_OBJECT
private slots:
    void slot_choice() {
        popup_slots s;
        // Five pop-ups take places 0-4; the sixth the smallest counter, slot 0 on a tie.
        for (int i = 0; i < 5; i++) QCOMPARE(s.take(), i);
        QCOMPARE(s.take(), 0);
        QCOMPARE(s.count(0), 2);
        QCOMPARE(s.take(), 1);
        s.release(3);
        QCOMPARE(s.take(), 3);
        // Every counter at 100 or more: slot 0.
        popup_slots full;
        for (int i = 0; i < 5 * 100; i++) full.take();
        for (int i = 0; i < 5; i++) QCOMPARE(full.count(i), 100);
        QCOMPARE(full.take(), 0);
        QCOMPARE(full.count(0), 101);
        QCOMPARE(full.take(), 0);
    }

    void height_timeline() {
        const int h = 90;
        QCOMPARE(popup_height(150, h), 23);
        QCOMPARE(popup_height(149, h), 90 - 9 * 67 / 10);
        QCOMPARE(popup_height(140, h), 90);
        QCOMPARE(popup_height(40, h), 90);
        QCOMPARE(popup_height(39, h), 90 - 67 / 40);
        QCOMPARE(popup_height(20, h), 90 - 20 * 67 / 40);
        QCOMPARE(popup_height(0, h), 23);

        popup_slots places;
        places.take();  // slot 0 busy: this pop-up stacks above it
        auto* d = new CDlgEvent(QStringLiteral("Knock from A B(a@b)"), &places, false);
        QPointer<CDlgEvent> alive(d);
        d->show();
        QCOMPARE(d->slot(), 1);
        const int bottom = d->bottom_edge();
        QCOMPARE(d->height(), 23);
        int previous = d->height();
        // Grows for ten steps, stays for a hundred, shrinks for forty; the bottom never moves.
        for (int step = 1; step <= 150; step++) {
            d->step();
            QCOMPARE(d->geometry().bottom() + 1, bottom);
            QCOMPARE(d->height(), popup_height(150 - step, CDlgEvent::kHeight));
            if (step <= 10) QVERIFY(d->height() >= previous);
            if (step > 110) QVERIFY(d->height() <= previous);
            previous = d->height();
        }
        QCOMPARE(d->height(), 23);
        QCOMPARE(places.count(1), 1);
        d->step();  // e below 0: closes and frees the slot
        QCOMPARE(places.count(1), 0);
        QVERIFY(QTest::qWaitFor([&] { return alive.isNull(); }, 2000));
    }

    void escape_closes_and_frees_the_slot() {
        popup_slots places;
        auto* d = new CDlgEvent(QStringLiteral("x"), &places, false);
        QPointer<CDlgEvent> alive(d);
        d->show();
        QCOMPARE(places.count(0), 1);
        QTest::keyClick(d, Qt::Key_Escape);
        QCOMPARE(places.count(0), 0);
        QVERIFY(QTest::qWaitFor([&] { return alive.isNull(); }, 2000));
    }

    void pop_up_leaves_the_focus() {
        QWidget typing;
        auto* edit = new QLineEdit(&typing);
        typing.show();
        typing.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&typing));
        edit->setFocus();
        QVERIFY(edit->hasFocus());
        CDlgEvent* d = show_event_popup(QString(600, QChar('z')));
        QPointer<CDlgEvent> alive(d);
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QVERIFY(QTest::qWaitFor(
            [&] { return QApplication::activeWindow() == &typing && edit->hasFocus(); }, 2000));
        QVERIFY(!d->isActiveWindow());
        QCOMPARE(d->text().size(), 512);
        // Pop-ups still on screen go with the main window, at once.
        QPointer<CDlgEvent> second(show_event_popup(QStringLiteral("y")));
        close_event_popups();
        QVERIFY(alive.isNull() && second.isNull());
    }
};
}  // namespace

QObject* make_popup_test() {
    return new popup_test;
}

#include "popup_test.moc"
