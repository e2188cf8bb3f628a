// Helpers for the desktop application's end-to-end tests: the real windows in this process,
// parlo-server and parlo-cli as child processes.
#pragma once
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "protocol/tables.h"
#include "tests/e2e/child_process.h"

// Waits for a line of the child without holding the GUI thread's event loop. Returns the line,
// or an empty text when none came within ms.
inline std::string child_line(child_process& c, const std::vector<std::string>& parts, int ms = 90000) {
    std::string got;
    bool seen = QTest::qWaitFor(
        [&] {
            got = c.wait_line(parts, 0);
            return !got.empty();
        },
        ms);
    return seen ? got : std::string();
}

// True once the server said it takes connections.
inline bool server_listening(child_process& server, int ms = 20000) {
    return !child_line(server, {"parlo-server listening on"}, ms).empty();
}

// The id of the contact with this e-mail once the tables show it Online, or -1 after ms.
inline int wait_contact_online(const char* email, int ms) {
    int id = -1;
    (void)QTest::qWaitFor(
        [&] {
            for (const auto& c : contacts_snapshot())
                if (std::string(c.email) == email && c.presence == PS_ONLINE) id = c.contact_id;
            return id > 0;
        },
        ms);
    return id;
}

// The test program's main: the offscreen platform unless one is chosen, one test object.
template <typename Test>
int run_ui_e2e(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    Test t;
    int r = QTest::qExec(&t, argc, argv);
    close_debug_log();
    return r;
}

// Measures the longest time the GUI thread's event loop did not run a 5 ms timer.
class loop_watchdog {
public:
    loop_watchdog() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            qint64 gap = m_clock.restart();
            if (gap > m_longest) m_longest = gap;
        });
    }
    void start() {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    // The time since the last turn counts too.
    void stop() {
        qint64 gap = m_clock.elapsed();
        if (gap > m_longest) m_longest = gap;
        m_timer.stop();
    }
    qint64 longest() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// At exit the GUI thread is not to wait more than half a second in all (more under the
// address sanitizer, which slows the windows' destruction several times).
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kShutdownStallLimitMs = 1500;
#else
constexpr qint64 kShutdownStallLimitMs = 500;
#endif
