// The chat window: what a received body looks like, what leaves the window, saving, the panel.
#include <QAbstractItemView>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include "protocol/chat_session.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "ui/chat/chat_dlg.h"
#include "ui/chat/chat_windows.h"
#include "ui/chat/media_widgets.h"
#include "ui/chat/save_format_dlg.h"
#include "ui/common/message_boxes.h"
#include "ui/skin/controls.h"
#include "ui/skin/good_dlg.h"

namespace {

QByteArray body(const QByteArray& text, unsigned char r, unsigned char g, unsigned char b, int size,
                int style) {
    QByteArray out = text;
    out.append('\0');
    out.append(static_cast<char>(r)).append(static_cast<char>(g)).append(static_cast<char>(b));
    out.append(static_cast<char>(size)).append(static_cast<char>(style));
    return out;
}

struct sent_line {
    int peer;
    std::string text;
    unsigned char attrs[5];
};

}  // namespace

class ChatDlgTest : public QObject {
    Q_OBJECT
    std::vector<sent_line> m_sent;
    std::vector<QString> m_reports;

private slots:
    void init() {
        m_sent.clear();
        m_reports.clear();
        clear_all_tables();
        chat_actions().send_line = [this](int peer, const std::string& text,
                                          const unsigned char a[5]) {
            sent_line s{peer, text, {}};
            std::memcpy(s.attrs, a, 5);
            m_sent.push_back(s);
        };
        chat_actions().report = [this](QWidget*, const QString& t) { m_reports.push_back(t); };
    }

    void receivingKeepsColourSizeStyleAndShowsAHiddenWindow() {
        CDlgPrivateChat w(5, QStringLiteral("bob"));
        QVERIFY(!w.isVisible());
        QByteArray b = body("bob:hello\r\n", 0x11, 0x22, 0x33, 14, STYLE_BOLD | STYLE_STRIKE);
        w.show_body(b.constData(), static_cast<int>(b.size()));
        QVERIFY(w.isVisible());
        QTextCursor c(w.transcript()->document());
        c.setPosition(2);
        QTextCharFormat f = c.charFormat();
        QCOMPARE(f.foreground().color(), QColor(0x11, 0x22, 0x33));
        QCOMPARE(f.fontPointSize(), 14.0);
        QCOMPARE(f.fontWeight(), static_cast<int>(QFont::Bold));
        QVERIFY(f.fontStrikeOut());
        QVERIFY(!f.fontItalic());
        QVERIFY(w.transcript()->toPlainText().startsWith(QStringLiteral("bob:hello\n")));
        QVERIFY(!f.toolTip().isEmpty());  // the arrival time shows on hover

        // At most 4095 characters of one body are shown; a link becomes clickable.
        QByteArray longer = body("x:" + QByteArray(5000, 'a'), 0, 0, 0, 8, 0);
        w.show_body(longer.constData(), static_cast<int>(longer.size()));
        QCOMPARE(w.transcript()->document()->lastBlock().text().size(), 4095);
        QByteArray link = body("x:see https://example.org/a?b=1.", 0, 0, 0, 8, 0);
        w.show_body(link.constData(), static_cast<int>(link.size()));
        QTextBlock last = w.transcript()->document()->lastBlock();
        QTextCursor lc(last);
        lc.setPosition(last.position() + 8);
        QCOMPARE(lc.charFormat().anchorHref(), QStringLiteral("https://example.org/a?b=1"));
        // A body too short for its attributes shows nothing.
        int blocks = w.transcript()->document()->blockCount();
        w.show_body("ab", 2);
        QCOMPARE(w.transcript()->document()->blockCount(), blocks);
    }

    void sendingRulesAndLimits() {
        CDlgPrivateChat w(5, QStringLiteral("bob"));
        w.show();
        // Enter with "Send On Return" sends the line with its line end.
        QTest::keyClicks(w.input(), QStringLiteral("hi there"));
        QVERIFY(m_sent.empty());
        QTest::keyClick(w.input(), Qt::Key_Return);
        QCOMPARE(m_sent.size(), size_t(1));
        QCOMPARE(m_sent[0].text, std::string("hi there\r\n"));
        QCOMPARE(m_sent[0].peer, 5);
        QCOMPARE(w.input()->toPlainText(), QString());
        QCOMPARE(int(m_sent[0].attrs[0]), 64);
        QCOMPARE(int(m_sent[0].attrs[2]), 224);
        QCOMPARE(int(m_sent[0].attrs[3]), 8);

        // Without it, Enter stays in the box; "Send" adds the line end and reads 1999 characters.
        w.send_on_return()->setChecked(false);
        w.attributes().style = STYLE_ITALIC;
        w.size_list()->setCurrentIndex(10);
        w.input()->setPlainText(QString(2500, QChar('z')));
        w.send_pressed();
        QCOMPARE(m_sent.size(), size_t(2));
        QCOMPARE(m_sent[1].text.size(), size_t(1999 + 2));
        QCOMPARE(m_sent[1].text.substr(1999), std::string("\r\n"));
        QCOMPARE(int(m_sent[1].attrs[3]), 16);
        QCOMPARE(int(m_sent[1].attrs[4]), int(STYLE_ITALIC));
        // Empty input sends nothing; the own transcript waits for the echo.
        w.send_pressed();
        QCOMPARE(m_sent.size(), size_t(2));
        QCOMPARE(w.transcript()->toPlainText(), QString());
    }

    void savingAsRtfAndText() {
        if (QStandardPaths::findExecutable(QStringLiteral("unrtf")).isEmpty())
            QSKIP("unrtf is not installed");
        QTemporaryDir dir;
        CDlgPrivateChat w(5, QStringLiteral("bob"));
        QByteArray a = body("bob:plain {brace} \\ back\r\n", 0xff, 0x00, 0x00, 12, STYLE_BOLD);
        QByteArray b = body("me:\xe4\xbd\xa0\xe5\xa5\xbd under\r\n", 0x00, 0x80, 0x00, 10,
                            STYLE_UNDERLINE | STYLE_ITALIC);
        w.show_body(a.constData(), int(a.size()));
        w.show_body(b.constData(), int(b.size()));

        int format = CDlgSaveFormat::kRtf;
        QString target = dir.filePath(QStringLiteral("t.rtf"));
        chat_actions().choose_save_format = [&format](QWidget*) { return format; };
        chat_actions().choose_save_file = [&target](QWidget*, bool) { return target; };
        w.save_transcript();
        QProcess unrtf;
        unrtf.start(QStringLiteral("unrtf"), {QStringLiteral("--html"), target});
        QVERIFY(unrtf.waitForFinished(20000));
        QString html = QString::fromUtf8(unrtf.readAllStandardOutput());
        QVERIFY2(html.contains(QStringLiteral("plain {brace} \\ back")), qPrintable(html));
        QVERIFY(html.contains(QStringLiteral("#ff0000"), Qt::CaseInsensitive));
        QVERIFY(html.contains(QStringLiteral("#008000"), Qt::CaseInsensitive));
        QVERIFY(html.contains(QStringLiteral("<b>")));
        QVERIFY(html.contains(QStringLiteral("<i>")));
        QVERIFY(html.contains(QStringLiteral("<u>")));
        QVERIFY(html.contains(QString::fromUtf8("\xe4\xbd\xa0\xe5\xa5\xbd")) ||
                html.contains(QStringLiteral("&#20320;")));

        format = CDlgSaveFormat::kText;
        target = dir.filePath(QStringLiteral("t.txt"));
        w.save_transcript();
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), w.transcript()->toPlainText());
        QVERIFY(m_reports.empty());

        // Enter without a choice, and a file that cannot be written, are both told.
        format = CDlgSaveFormat::kNoChoice;
        w.save_transcript();
        format = CDlgSaveFormat::kText;
        target = dir.filePath(QStringLiteral("missing/dir/t.txt"));
        w.save_transcript();
        QCOMPARE(m_reports.size(), size_t(2));
        QCOMPARE(m_reports[0], QStringLiteral("Invlidate save type."));
        QVERIFY(m_reports[1].startsWith(QStringLiteral("failed to open file to write")));
    }

    void saveFormatDialogEnterMeansNoChoice() {
        CDlgSaveFormat dlg;
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Return);
        QCOMPARE(dlg.result(), int(CDlgSaveFormat::kNoChoice));
    }

    void panelGrowsByItsHeightAndRoutesHotSpots() {
        CDlgPrivateChat w(5, QStringLiteral("bob"));
        QVERIFY(add_chat_dlg(&w) >= 0);
        w.show();
        QVERIFY(w.panel_expanded());
        int h = w.height();
        w.set_panel(false);
        QCOMPARE(w.height(), h - CDlgPrivateChat::kPanelHeight);
        QCOMPARE(w.panel_link()->text(), QStringLiteral("Show audio video >>>>>>"));
        w.set_panel(true);
        w.set_panel(true);
        QCOMPARE(w.height(), h);
        QCOMPARE(w.panel_link()->text(), QStringLiteral("Hide audio video <<<<<<"));

        // My-audio hot spot at (380, 440): inside toggles the session's switch, outside does not.
        chat_media_state st;
        w.click_client(QPoint(379, 440));
        QVERIFY(chat_session_get(5, &st));
        QCOMPARE(st.my_audio, 0);
        w.click_client(QPoint(380 + 12, 440 + 12));
        QVERIFY(chat_session_get(5, &st));
        QCOMPARE(st.my_audio, 1);
        w.click_client(QPoint(380, 460));
        QVERIFY(chat_session_get(5, &st));
        QCOMPARE(st.peer_audio, 0);

        w.set_panel(false);
        QCOMPARE(w.height(), h - CDlgPrivateChat::kPanelHeight);
        w.click_client(QPoint(385, 445));  // collapsed: the panel's spots do nothing
        QVERIFY(chat_session_get(5, &st));
        QCOMPARE(st.my_audio, 1);
        remove_chat_dlg(&w);
    }

    void closeHidesAndATwentyFirstConversationOpensNoWindow() {
        session_controller controller;
        install_chat_windows(controller);
        std::vector<std::unique_ptr<CDlgPrivateChat>> held;
        for (int i = 0; i < 20; i++) {
            held.push_back(std::make_unique<CDlgPrivateChat>(100 + i, QString()));
            QVERIFY(add_chat_dlg(held.back().get()) >= 0);
        }
        QVERIFY(open_or_show_chat(controller, 500, true) == nullptr);
        // An open window is found again, with its transcript, after Escape hid it.
        CDlgPrivateChat* w = static_cast<CDlgPrivateChat*>(get_chat_dlg_from_peer_id(103));
        w->show();
        QByteArray b = body("x:kept", 0, 0, 0, 8, 0);
        w->show_body(b.constData(), int(b.size()));
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!w->isVisible());
        QCOMPARE(open_or_show_chat(controller, 103, false), w);
        QVERIFY(w->isVisible());
        QVERIFY(w->transcript()->toPlainText().contains(QStringLiteral("kept")));
        for (auto& h : held) remove_chat_dlg(h.get());
    }

    void slidersMetersAndZoom() {
        // Position formula and the drag band around the middle line.
        CWndMySlider s;
        s.resize(108, 16);  // track of 100 pixels from x = 4
        s.set_range(0, 1000);
        s.set_position(500);
        QCOMPARE(s.thumb_x(), 54);
        int m = s.middle_line();
        QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(29, m));
        QCOMPARE(s.position(), 250);
        QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(80, m + 4));  // below the band: nothing
        QCOMPARE(s.position(), 250);
        QTest::mousePress(&s, Qt::LeftButton, {}, QPoint(s.thumb_x() + 2, m - 5));
        QVERIFY(s.dragging());
        QTest::mouseRelease(&s, Qt::LeftButton, {}, QPoint(s.thumb_x(), m));
        s.set_position(5000);
        QCOMPARE(s.position(), 1000);

        // A speaker slider released in one window moves the others and sets the players.
        int set_to = -1;
        media_volume_hooks().speaker_set = [&set_to](int v) { set_to = v; };
        CDlgPrivateChat a(1, QString()), b(2, QString());
        QCOMPARE(a.speaker_slider()->position(), 8191);  // no player yet
        a.speaker_slider()->set_position(30000);
        emit a.speaker_slider()->released(30000);
        QCOMPARE(set_to, 30000);
        QCOMPARE(b.speaker_slider()->position(), 30000);
        media_volume_hooks().speaker_set = nullptr;

        // A meter 120 pixels wide keeps 120 values and wraps after the 120th.
        CWndVolumeShow meter;
        meter.resize(120, 20);
        meter.show();
        QCOMPARE(meter.ring_length(), 120);
        for (int i = 0; i < 119; i++) meter.add_sample(128);
        QCOMPARE(meter.write_position(), 119);
        meter.add_sample(7);
        QCOMPARE(meter.write_position(), 0);
        QCOMPARE(meter.value_at(0), 7);
        QCOMPARE(CWndVolumeShow::line_height(128, 20), 0);
        for (int v : {0, 85, 255}) QCOMPARE(CWndVolumeShow::line_height(v, 20), 20);

        // The zoom toggles only for a press strictly inside the corner band.
        CDlgVideoZoom z([] { return std::shared_ptr<const peer_picture>(); });
        z.show();
        QCOMPARE(z.size(), QSize(325, 300));
        QTest::mouseClick(&z, Qt::LeftButton, {}, QPoint(325 - 2, 300 - 8));  // on the edge pixels
        QVERIFY(!z.large());
        QTest::mouseClick(&z, Qt::LeftButton, {}, QPoint(325 - 8, 300 - 8));
        QVERIFY(z.large());
        QCOMPARE(z.size(), QSize(645, 540));
    }

    void videoListsSwitchTipsAndClose() {
        int quality = 90, size_index = 1, size_calls = 0;
        std::vector<bool> my_video;
        chat_dlg_actions& act = chat_actions();
        act.video_settings = [&](int* q, int* s) { *q = quality, *s = size_index; };
        act.set_video_quality = [&](int q) { quality = q; };
        act.set_video_size = [&](int s) { size_index = s, size_calls++; };
        act.set_my_video = [](int, bool) { return show_message("Maximun videos reached."), false; };
        CDlgPrivateChat w(7, QStringLiteral("bob")), other(8, QString());
        QVERIFY(add_chat_dlg(&w) >= 0);
        w.show_with_panel(true);
        // The lists open on the client's settings, set them, and the other window's follow.
        QCOMPARE(w.quality_list()->currentData().toInt(), 90);
        QCOMPARE(w.video_size_list()->currentIndex(), 1);
        w.quality_list()->setCurrentIndex(0);
        w.video_size_list()->setCurrentIndex(2);
        QCOMPARE(std::make_pair(quality, size_index), std::make_pair(50, 2));
        QCOMPARE(size_calls, 1);
        QCOMPARE(other.video_size_list()->currentText(), QStringLiteral("640*480"));
        QStringList shown;
        for (CMyStatic* l : w.findChildren<CMyStatic*>())
            shown << (l->isVisible() ? l->text() : "");
        QVERIFY(shown.contains("Quality:") && shown.contains("Size:") && shown.contains("Speed:"));
        QCOMPARE(w.spot_tip(QPoint(140, 530)), QStringLiteral("Start peer video"));
        QCOMPARE(w.spot_tip(QPoint(325, 530)), QStringLiteral("Start my video"));

        // What the core reports while a switch acts opens over the window.
        qt_message_boxes boxes;
        set_message_box_handler(&boxes);
        w.click_client(QPoint(325, 530));
        set_message_box_handler(nullptr);
        QCOMPARE(open_notices().size(), 1);
        QCOMPARE(open_notices().first()->parentWidget(), &w);
        close_notices();

        // Close ends the call: every switch off, also after reopening.
        act.set_my_video = [&](int, bool on) { return my_video.push_back(on), true; };
        for (QPoint spot : {QPoint(385, 445), QPoint(325, 530), QPoint(140, 530)})
            w.click_client(spot);
        QCOMPARE(w.spot_tip(QPoint(140, 530)), QStringLiteral("Stop peer video"));
        CDlgVideoZoom* zoom = w.zoom(false);
        w.close_button()->click();
        QVERIFY(!w.isVisible() && !zoom->isVisible());
        chat_media_state st;
        QVERIFY(chat_session_get(7, &st));
        QVERIFY(!st.my_audio && !st.peer_audio && !st.peer_video);
        QCOMPARE(my_video, std::vector<bool>({true, false}));
        w.show_with_panel(true);
        QVERIFY(!w.my_audio_on() && !w.my_video_on() && !w.peer_audio_on() && !w.peer_video_on());
        act.video_settings = nullptr, act.set_video_quality = nullptr;
        act.set_video_size = nullptr, act.set_my_video = nullptr;
        remove_chat_dlg(&w);
    }

    void looksOfButtonsListsZoomAndSlider() {
        CDlgPrivateChat w(5, QStringLiteral("bob"));
        w.show();
        CMyButton* bold = w.style_button(0);
        QImage off = bold->grab().toImage();
        bold->click();
        QVERIFY(bold->isChecked() && off != bold->grab().toImage());
        // 45 font sizes drop down as a scrolling list, not the screen's height.
        w.size_list()->showPopup();
        QWidget* popup = w.size_list()->view()->window();
        QVERIFY(QTest::qWaitFor([&] { return popup->isVisible(); }, 10000));
        QVERIFY(popup->height() <= 14 * w.size_list()->view()->sizeHintForRow(0));
        w.size_list()->hidePopup();

        // The zoom window carries the peer's name; its picture lies inside the frame.
        QCOMPARE(w.zoom(false)->windowTitle(), QStringLiteral("bob"));
        auto red = std::make_shared<peer_picture>();
        red->width = 4, red->height = 3;
        for (int i = 0; i < 12; i++) red->rgb.insert(red->rgb.end(), {255, 0, 0});
        CDlgVideoZoom z([red] { return red; });
        QImage shot = z.grab().toImage();
        QRect at = z.picture_rect();
        QVERIFY(QRect(1, Cgood_dlg::kTitleHeight, z.width() - 2, z.height() - 40).contains(at));
        QCOMPARE(QColor(shot.pixel(at.topLeft())), QColor(Qt::red));
        QCOMPARE(QColor(shot.pixel(at.bottomRight())), QColor(Qt::red));
        QVERIFY(QColor(shot.pixel(at.topLeft() - QPoint(1, 1))) != QColor(Qt::red));

        CWndMySlider s;  // the thumb counts from the range's minimum
        s.resize(108, 16);
        s.set_range(100, 200);
        s.set_position(150);
        QCOMPARE(s.thumb_x(), 54);
    }
};

QTEST_MAIN(ChatDlgTest)
#include "chat_dlg_test.moc"
