// The devices dialog on a sound service with fake devices: the lists come from the backend, a
// choice is saved and the running service switches to it, and the meter and the test sound use
// the devices.
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "media/audio/audio_service.h"
#include "protocol/settings_store.h"
#include "tests/media/audio/fake_devices.h"
#include "tests/ui/ui_test_support.h"
#include "ui/common/texts.h"
#include "ui/dialogs/devices_dialog.h"

namespace {

std::string media_setting(const char* name) {
    char text[256] = "";
    reg_read("media", name, text, sizeof(text));
    return text;
}

QStringList items(QComboBox* box) {
    QStringList l;
    for (int i = 0; i < box->count(); i++) l << box->itemText(i);
    return l;
}

class devices_dialog_test : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_dir = std::filesystem::temp_directory_path() / "parlo-devices-test";
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir / "video0") << "not a camera";
        m_backend->mic_level = 100;
        QCOMPARE(start_audio_on(m_backend), 0);
    }
    void cleanupTestCase() {
        stop_audio();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    void listsComeFromTheBackendAndAChoiceIsSavedAndApplied() {
        CDlgDevices d(nullptr, m_dir.string());
        d.show();
        QVERIFY(QTest::qWaitFor([&] { return d.lists_filled() > 0; }));
        const QString def = ui_text(T_DEVICES_DEFAULT);
        QCOMPARE(items(d.input_list()), (QStringList{def, "Mic A", "Mic B"}));
        QCOMPARE(items(d.output_list()), (QStringList{def, "Speakers A", "USB Headset"}));
        QCOMPARE(d.output_list()->currentIndex(), 0);
        QCOMPARE(items(d.camera_list()), QStringList{ui_text(T_DEVICES_NO_CAMERA)});
        QVERIFY(!d.camera_list()->isEnabled());
        QVERIFY(d.echo_cancel_box()->isChecked() && d.noise_box()->isChecked() &&
                d.gain_box()->isChecked());

        // Down twice in the output list, as a user picks the headset.
        d.output_list()->setFocus();
        QTest::keyClick(d.output_list(), Qt::Key_Down);
        QTest::keyClick(d.output_list(), Qt::Key_Down);
        QCOMPARE(d.output_list()->currentText(), QString("USB Headset"));
        QVERIFY(QTest::qWaitFor([&] { return m_backend->s->output_now() == "USB Headset"; }));
        QVERIFY(QTest::qWaitFor([] { return media_setting("audio_output") == "USB Headset"; }));
        QCOMPARE(media_setting("audio_input"), std::string());

        // On the box itself: the row is wider than what takes clicks.
        QTest::mouseClick(d.noise_box(), Qt::LeftButton, {},
                          QPoint(8, d.noise_box()->height() / 2));
        QVERIFY(QTest::qWaitFor([] { return media_setting("noise_suppression") == "0"; }));
        QCOMPARE(media_setting("echo_cancel"), std::string("1"));

        // A dialog opened later shows what was saved.
        d.close();
        CDlgDevices again(nullptr, m_dir.string());
        QVERIFY(QTest::qWaitFor([&] { return again.lists_filled() > 0; }));
        QCOMPARE(again.output_list()->currentText(), QString("USB Headset"));
        QVERIFY(!again.noise_box()->isChecked());
    }

    void theMeterShowsTheMicrophoneAndTheTestSoundPlays() {
        CDlgDevices d(nullptr, m_dir.string());
        d.show();
        QVERIFY(QTest::qWaitFor([&] { return d.meter()->value() == 100; }));
        const std::string out = m_backend->s->output_now();
        const int before = m_backend->s->played_on(out);
        QTest::mouseClick(d.test_button(), Qt::LeftButton);
        // Half a second of tone: five device buffers.
        QVERIFY(QTest::qWaitFor([&] { return m_backend->s->played_on(out) >= before + 5; }));
    }

private:
    std::filesystem::path m_dir;
    std::shared_ptr<audiotest::fake_device_backend> m_backend =
        std::make_shared<audiotest::fake_device_backend>();
};

}  // namespace

QObject* make_devices_dialog_test() {
    return new devices_dialog_test;
}

#include "devices_dialog_test.moc"
