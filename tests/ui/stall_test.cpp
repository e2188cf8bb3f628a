// Watchdogs on the GUI event loop and on the session thread's queue while a flood arrives (1000
// chat lines from a peer reader, a call's level samples, a steady stream of session work) and a
// question stays open.
// Neither may stall: the longest gap between the GUI's 5 ms timer ticks and the longest wait of a
// task queued to the session thread are measured and bounded.
#include <QElapsedTimer>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "protocol/commands.h"
#include "protocol/notify.h"
#include "protocol/tables.h"
#include "tests/ui/ui_test_support.h"
#include "ui/chat/chat_dlg.h"
#include "ui/chat/chat_windows.h"
#include "ui/common/questions.h"
#include "ui/main/main_dlg.h"

namespace {
constexpr int kPeer = 4343;
constexpr int kLines = 1000;
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kStallLimitMs = 150;  // everything runs several times slower
#else
constexpr qint64 kStallLimitMs = 50;
#endif

std::string line_body(int i) {
    std::string b = "bob:line " + std::to_string(i) + " of a flood, of ordinary length\r\n";
    b.push_back('\0');
    b.append("\x10\x20\x30\x0a\x00", 5);
    return b;
}
}  // namespace

class stall_test : public QObject {
    Q_OBJECT
private slots:
    void a_flood_stalls_neither_the_gui_nor_the_session_queue() {
        clear_all_tables();
        add_one_contact(kPeer, 0, "bob");
        CParloDlg d;
        d.set_show_messages(false);
        install_chat_windows(d.controller());
        g_main_dlg = d.notifications();
        // The window is opened first: making a window is the one hand-over that waits.
        std::atomic<CDlgPrivateChat*> w{nullptr};
        d.run_in_session([&] { w = static_cast<CDlgPrivateChat*>(d.controller().open_chat(kPeer)); });
        QVERIFY(QTest::qWaitFor([&] { return w.load() != nullptr; }, 20000));
        w.load()->show();
        // A question left open all along: someone added me.
        d.questions().ask_added_me(kPeer, QStringLiteral("bob"), QStringLiteral("bob added you."));
        QVERIFY(d.questions().open_count() == 1);

        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.elapsed(), gui_worst = 0;
        QTimer tick;
        tick.setInterval(5);
        connect(&tick, &QTimer::timeout, [&] {
            qint64 now = clock.elapsed();
            gui_worst = std::max(gui_worst, now - last);
            last = now;
        });
        tick.start();

        std::atomic<qint64> session_worst{0};
        std::atomic<bool> done{false};
        // Session work queued every 2 ms: how long each waits before it runs.
        std::thread probe([&] {
            while (!done.load()) {
                qint64 queued = clock.elapsed();
                d.run_in_session([&, queued] {
                    qint64 waited = clock.elapsed() - queued;
                    qint64 seen = session_worst.load();
                    while (waited > seen && !session_worst.compare_exchange_weak(seen, waited)) {
                    }
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the probe's pace
            }
        });
        // A peer reader's lines and a call's meters, as fast as they can be posted.
        std::thread reader([&] {
            for (int i = 0; i < kLines; i++) {
                std::string b = line_body(i);
                post_chat_delivery(kPeer, 0, PEER_CHAT_TEXT, b.data(), static_cast<int>(b.size()));
                auto levels = std::make_shared<std::string>(10, static_cast<char>(128 + i % 100));
                auto at = reinterpret_cast<intptr_t>(levels.get());
                w.load()->post(NM_PEER_LEVEL, kPeer, at, std::move(levels));
            }
        });
        QVERIFY(QTest::qWaitFor(
            [&] {
                QTextDocument* doc = w.load()->transcript()->document();
                return doc->blockCount() >= kLines && doc->lastBlock().previous().text().contains("line 999 of");
            },
            60000));
        reader.join();
        done = true;
        probe.join();
        tick.stop();
        g_main_dlg = nullptr;
        qInfo("longest GUI stall %lld ms, longest session-queue wait %lld ms", gui_worst,
              session_worst.load());
        QVERIFY2(gui_worst < kStallLimitMs, "the GUI event loop stalled");
        QVERIFY2(session_worst.load() < kStallLimitMs, "the session queue stalled");
        QCOMPARE(d.questions().open_count(), 1);  // still waiting for the user
        d.stop_windows();
        d.stop_session();
        destroy_chat_windows();
    }
};

QObject* make_stall_test() {
    return new stall_test;
}

#include "stall_test.moc"
