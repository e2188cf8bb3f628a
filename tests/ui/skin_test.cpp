// The skin: background choice by height, the title-bar buttons' press-release rule, the button's
// text colours and read-only check boxes.
#include <QSignalSpy>
#include <QTest>

#include "tests/ui/ui_test_support.h"
#include "ui/skin/controls.h"
#include "ui/skin/good_dlg.h"
#include "ui/skin/palette.h"

namespace {
class skin_test : public QObject {
    Q_OBJECT
private slots:
    void background_by_height() {
        QCOMPARE(Cgood_dlg_resize_main::background_entry(300), 25);
        QCOMPARE(Cgood_dlg_resize_main::background_entry(600), 24);
        QCOMPARE(Cgood_dlg_resize_main::background_entry(650), 26);
        QCOMPARE(Cgood_dlg::background_entry(300), 25);
        QCOMPARE(Cgood_dlg::background_entry(650), 24);
        // The entries name our own drawn bitmaps, which the program carries.
        for (int e : {23, 24, 25, 26, 28, 30, 32, 29, 31, 33, 34, 40, 37, 44, 45, 46})
            QVERIFY2(!skin_bitmap(e).isNull(), qPrintable(QString::number(e)));
        QCOMPARE(skin_colour(SKIN_TITLE_STRIP), QColor(0x4D, 0x91, 0xF0));
    }

    void close_button_press_release() {
        Cgood_dlg dlg;
        dlg.resize(300, 200);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QSignalSpy finished(&dlg, &QDialog::finished);
        QPoint close = dlg.close_rect().center();
        // Pressed on the close button, released elsewhere: nothing closes, the picture is normal.
        QTest::mousePress(&dlg, Qt::LeftButton, {}, close);
        QCOMPARE(dlg.close_state(), static_cast<int>(TB_PRESSED));
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(20, 100));
        QCOMPARE(dlg.close_state(), static_cast<int>(TB_NORMAL));
        QCOMPARE(finished.count(), 0);
        QVERIFY(dlg.isVisible());
        // Released on the button without a press there first: no click either.
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, close);
        QCOMPARE(finished.count(), 0);
        // Pressed and released on it: the dialog's cancel action.
        QTest::mousePress(&dlg, Qt::LeftButton, {}, close);
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, close);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), static_cast<int>(QDialog::Rejected));
    }

    void main_window_buttons() {
        Cgood_dlg_resize_main dlg;
        dlg.resize(300, 500);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QSignalSpy finished(&dlg, &QDialog::finished);
        // Pressed on close, released on maximise: neither acts.
        QTest::mousePress(&dlg, Qt::LeftButton, {}, dlg.close_rect().center());
        QCOMPARE(dlg.main_button_state(1), static_cast<int>(TB_PRESSED));
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, dlg.maximise_rect().center());
        QCOMPARE(finished.count(), 0);
        QVERIFY(!dlg.isMaximized());
        QCOMPARE(dlg.main_button_state(1), static_cast<int>(TB_NORMAL));
        QTest::mouseClick(&dlg, Qt::LeftButton, {}, dlg.close_rect().center());
        QCOMPARE(finished.count(), 1);
    }

    void button_text_and_read_only_check_box() {
        CMyButton b(QStringLiteral("Go"));
        QCOMPARE(b.text_colour(), QColor(0xD0, 0xD0, 0xD0));
        b.setEnabled(false);
        QCOMPARE(b.text_colour(), QColor(0x80, 0x80, 0x80));

        CMyCheckBox box(QStringLiteral("Remember"));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.set_input_enabled(false);
        QTest::mouseClick(&box, Qt::LeftButton);
        QTest::keyClick(&box, Qt::Key_Space);
        QVERIFY(!box.isChecked());
        box.set_input_enabled(true);
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, box.height() / 2));
        QVERIFY(box.isChecked());
    }
};
}  // namespace

QObject* make_skin_test() { return new skin_test; }

#include "skin_test.moc"
