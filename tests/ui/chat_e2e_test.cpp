// End to end in one process: the real application signs in to parlo-server (with its relay) as
// alice, using file sound devices and the pattern camera, while a parlo-cli process is bob with
// the same sources. A formatted chat goes both ways through the chat window, a voice call moves
// the window's peer meter and reaches bob, bob's video shows in the panel and the zoom window,
// alice's own video reaches bob at the size chosen in the window, and closing the window ends
// the call.
#include <sndfile.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <filesystem>
#include <cstdlib>
#include <string>

#include "media/video/my_video.h"
#include "peer/relay_server.h"
#include "platform/debug_log.h"
#include "platform/thread.h"
#include "protocol/chat_session.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/json_lines.h"
#include "tests/e2e/voice_signal.h"
#include "tests/support/loopback.h"
#include "tests/ui/ui_e2e_support.h"
#include "ui/app/desktop_setup.h"
#include "ui/app/parlo_app.h"
#include "ui/chat/chat_dlg.h"
#include "ui/chat/media_widgets.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/main/main_dlg.h"
#include "ui/skin/controls.h"

namespace {
const std::string kNet = testsupport::loopback_block() + ".";
constexpr int kLong = 90000;  // a loaded 2-core machine under a sanitizer





bool write_speech(const std::string& path) {
    std::vector<uint8_t> s = voicetest::speech_like(200, 777, false);
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_write_raw(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
    return true;
}

// The looks of the transcript text that holds needle (the format of its last character).
QTextCharFormat format_of(chat_transcript* t, const QString& needle) {
    QTextCursor c = t->document()->find(needle);
    return c.isNull() ? QTextCharFormat() : c.charFormat();
}

class chat_e2e_test : public QObject {
    Q_OBJECT
private slots:
    void chat_voice_and_video_with_a_headless_peer() {
        char tmpl[] = "/tmp/parlo-chat-e2e-XXXXXX";
        const char* d = mkdtemp(tmpl);
        QVERIFY(d);
        const std::string dir = d, net = kNet;
        const std::string wav = dir + "/talk.wav";
        QVERIFY(write_speech(wav));
        mkdir((dir + "/bob-out").c_str(), 0755);
        mkdir((dir + "/alice-out").c_str(), 0755);

        child_process server(PARLO_SERVER_PATH,
                             {"--listen", net + "1", "--db", dir + "/server.db", "--fast-hash",
                              "--seed-demo", "--log", dir + "/server.log", "--relay-port", "7162"});
        QVERIFY(server.running());
        QVERIFY(server_listening(server, kLong));
        child_process bob(PARLO_CLI_PATH,
                          {"--server", net + "1", "--bind", net + "3", "--home", dir + "/bob",
                           "--email", "bob@example.com", "--password", "demo1234",
                           "--audio-backend", "wav", "--audio-in", wav, "--audio-out",
                           dir + "/bob-out", "--video-in", "pattern", "--relay-ports",
                           "19080,19443,19199"});
        QVERIFY(!child_line(bob, {"\"event\":\"contact_list\""}).empty());
        bob.write_line("contacts");
        int alice = contact_id_of(child_line(bob, {"\"contacts\":["}), "alice@example.com");
        QVERIFY(alice > 0);

        app_options options;
        options.home = dir + "/alice";
        options.server = net + "1";
        options.bind = net + "2";
        apply_app_options(options);
        // The application's sound and camera come from its settings.
        reg_write("media", "audio_backend", "wav");
        reg_write("media", "audio_in_file", wav.c_str());
        reg_write("media", "audio_out_dir", (dir + "/alice-out").c_str());
        reg_write("media", "video_input", "pattern");
        const uint16_t relay_ports[3] = {19080, 19443, 19199};
        set_relay_ports(relay_ports);
        CParloApp app(options);
        install_desktop_windows(app);
        QCOMPARE(app.start(), 0);
        CParloDlg* dlg = app.main_dlg();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg));
        // Messages (this machine has no microphone mixer) are answered as a user would.
        QTimer answerer;
        answerer.setInterval(20);
        connect(&answerer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<CDlgMessage*>(QApplication::activeModalWidget());
            if (box && box->isVisible()) box->first_button()->click();
        });
        answerer.start();
        dlg->sign_in(QStringLiteral("alice@example.com"), QStringLiteral("demo1234"), false, false);
        QVERIFY(QTest::qWaitFor([&] { return g_logged_in.load() == 1; }, kLong));
        int bob_id = wait_contact_online("bob@example.com", kLong);
        QVERIFY(bob_id > 0);
        QVERIFY(!child_line(bob, {"\"w\":" + std::to_string(alice), "\"presence_text\":\"Online\""})
                     .empty());
        const std::string a = std::to_string(alice);

        // (1) Bob's formatted line opens alice's chat window with its looks.
        CDlgPrivateChat* w = nullptr;
        bool chatted = false;
        for (int i = 0; i < 20 && !chatted; i++) {
            bob.write_line("chat " + a + " --color 1e90ff --size 14 --style b hello from bob");
            chatted = !child_line(bob, {"\"ok\":\"chat\""}, 5000).empty();
        }
        QVERIFY(chatted);
        QVERIFY(QTest::qWaitFor(
            [&] {
                w = static_cast<CDlgPrivateChat*>(get_chat_dlg_from_peer_id(bob_id));
                return w && w->isVisible() &&
                       w->transcript()->toPlainText().contains(QLatin1String("hello from bob"));
            },
            kLong));
        QTextCharFormat f = format_of(w->transcript(), QStringLiteral("hello from bob"));
        QCOMPARE(f.foreground().color(), QColor(0x1e, 0x90, 0xff));
        QCOMPARE(f.fontPointSize(), 14.0);
        QCOMPARE(f.fontWeight(), static_cast<int>(QFont::Bold));
        QVERIFY(!f.fontItalic());

        // Alice answers by typing and Enter; the line shows once the echo came back.
        w->attributes().style = STYLE_ITALIC;
        w->input()->setFocus();
        QTest::keyClicks(w->input(), QStringLiteral("hi bob, alice here"));
        QTest::keyClick(w->input(), Qt::Key_Return);
        std::string got = child_line(bob, {"\"event\":\"chat_received\"", "hi bob, alice here"});
        QVERIFY2(!got.empty(), "bob received nothing");
        QCOMPARE(json_int(got, "style"), static_cast<int>(STYLE_ITALIC));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return w->transcript()->toPlainText().contains(QLatin1String("hi bob, alice here"));
            },
            kLong));
        QVERIFY(format_of(w->transcript(), QStringLiteral("alice here")).fontItalic());

        // (2) Voice: bob talks, the window's peer meter takes samples.
        w->set_panel(true);
        CWndVolumeShow* meter = w->peer_meter();
        const int meter_start = meter->write_position();
        bob.write_line("talk " + a + " on");
        QVERIFY(!child_line(bob, {"\"ok\":\"talk\""}).empty());
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (meter->write_position() == meter_start) return false;
                for (int i = 0; i < meter->ring_length(); i++)
                    if (meter->value_at(i) != 2 && meter->value_at(i) != 128) return true;
                return false;
            },
            kLong));
        // Alice's my-audio hot spot: bob's player starts with her sound.
        bob.write_line("listen " + a + " on");
        w->click_client(QPoint(385, 445));
        QVERIFY2(!child_line(bob, {"\"event\":\"player_started\"", "\"peer\":" + a}).empty(),
                 "bob never played alice's sound");

        // (3) Video: bob's camera on, alice's peer-video switch on through its hot spot.
        bob.write_line("video-size 0");
        std::string size = child_line(bob, {"\"ok\":\"video-size\""});
        const int vw = json_int(size, "width"), vh = json_int(size, "height");
        QVERIFY2(vw > 0 && vh > 0, size.c_str());
        bob.write_line("video " + a + " on");
        QVERIFY(!child_line(bob, {"\"ok\":\"video\"", "\"capturing\":true"}).empty());
        w->click_client(QPoint(135, 525));
        chat_media_state st;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return chat_session_get(bob_id, &st) && st.picture &&
                                st.picture->width == vw && st.picture->height == vh;
                     },
                     150000),
                 "no picture of bob's camera");
        QCOMPARE(st.picture->rgb.size(), static_cast<size_t>(vw) * vh * 3);
        CDlgVideoZoom* zoom = w->zoom(false);
        QVERIFY(zoom && zoom->isVisible());
        QImage shot = zoom->grab().toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 4)
            for (int x = 0; x < shot.width(); x += 4) colours.insert(shot.pixel(x, y));
        QVERIFY2(colours.size() > 16, "the zoom window shows no picture");

        // (4) A camera that cannot be opened is told once, however often the switch is tried.
        video_set_input("v4l2:/dev/parlo-no-such-camera");
        for (int i = 0; i < 2; i++) {
            QVERIFY(chat_actions().set_my_video(bob_id, true));
            QVERIFY(wait_for_jobs(10000));
            chat_actions().set_my_video(bob_id, false);
        }
        auto told = [] {
            int n = 0;
            for (CDlgMessage* m : open_notices()) n += m->text() == ui_text(T_NO_CAMERA);
            return n;
        };
        QVERIFY(QTest::qWaitFor([&] { return told() > 0; }, kLong));
        QCoreApplication::processEvents();
        QCOMPARE(told(), 1);

        // (5) The window's lists set alice's picture: bob watches her camera and receives
        // 640x480 pictures once she chooses that size (the capture restarts at it).
        video_set_input("pattern");
        bob.write_line("watch " + a + " on");
        QVERIFY(!child_line(bob, {"\"ok\":\"watch\"", "\"on\":true"}).empty());
        w->click_client(QPoint(325, 530));
        QVERIFY(w->my_video_on());
        w->quality_list()->setCurrentIndex(w->quality_list()->findData(90));
        QCOMPARE(video_quality(), 90);
        w->video_size_list()->setCurrentIndex(2);
        QVERIFY2(!child_line(bob,
                             {"\"event\":\"video_frame\"", "\"peer\":" + a, "\"width\":640",
                              "\"height\":480"},
                             150000)
                      .empty(),
                 "bob never received a 640x480 picture of alice");

        // (6) "Close" ends the call: bob's player of alice's voice stops, her switches are off.
        const size_t mark = bob.line_count();
        w->close_button()->click();
        QVERIFY(!w->isVisible());
        auto stopped = [&](const std::string& l) {
            return l.find("\"event\":\"player_stopped\"") != std::string::npos &&
                   l.find("\"peer\":" + a) != std::string::npos;
        };
        QVERIFY2(
            QTest::qWaitFor([&] { return !bob.wait_line_if(stopped, 0, mark).empty(); }, kLong),
            "bob kept playing alice's voice after she closed the window");
        QVERIFY(chat_session_get(bob_id, &st));
        QVERIFY(!st.my_audio && !st.my_video && !st.peer_audio && !st.peer_video);
        w->show_with_panel(true);
        QVERIFY(!w->my_audio_on() && !w->my_video_on());

        // Exit in the middle of the call, with the sound threads and the camera running: the GUI
        // thread's event loop keeps turning while they stop and the session signs out.
        dlg->on_command(32811);
        loop_watchdog watchdog;
        watchdog.start();
        uint32_t took = app.shutdown();
        watchdog.stop();
        qInfo("shutdown took %u ms; longest GUI event-loop stall in it: %lld ms", took,
              static_cast<long long>(watchdog.longest()));
        QVERIFY2(watchdog.longest() <= kShutdownStallLimitMs,
                 qPrintable(QString::number(watchdog.longest())));
        remove_desktop_windows();
        bob.write_line("quit");
        child_line(bob, {"\"event\":\"bye\""}, 20000);
        server.stop();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};
}  // namespace

int main(int argc, char** argv) { return run_ui_e2e<chat_e2e_test>(argc, argv); }

#include "chat_e2e_test.moc"
