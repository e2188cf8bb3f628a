// The application object: starts the session and the networking threads in order, runs the
// main window until "Exit", then stops every thread with bounded waits.
//
// start() and shutdown() run on the GUI thread. shutdown() hides every window at once; the
// status broadcast and the joins run beside the GUI thread, whose event loop keeps turning, and the
// waits in them are bounded.
#pragma once
#include <functional>
#include <memory>

#include "ui/app/app_options.h"
#include "ui/common/message_boxes.h"

class CParloDlg;

class CParloApp {
public:
    explicit CParloApp(const app_options& options);
    ~CParloApp();

    // Session start, listener and relay threads, default server address, the main window and
    // its duties. Returns 0, or -1 when the session could not start.
    int start();
    // start(), the main window until Exit, shutdown(). Returns the exit code.
    int run();
    // Exit: state 0 to the servers on job threads, a bounded wait for them (at most wait_ms),
    // then the networking threads and the session stop. Returns the milliseconds it took.
    uint32_t shutdown(uint32_t wait_ms = 3000);
    CParloDlg* main_dlg() const { return m_dlg.get(); }
    // Adds the windows that plug into the main window (contacts, chat, media) once it exists,
    // before the session and networking start, so nothing is queued to its session thread yet;
    // and takes them down before the session stops.
    void set_window_setup(std::function<void(CParloDlg*)> setup, std::function<void()> teardown) {
        m_setup = std::move(setup);
        m_teardown = std::move(teardown);
    }

private:
    app_options m_options;
    qt_message_boxes m_boxes;
    std::unique_ptr<CParloDlg> m_dlg;
    bool m_started = false;
    bool m_session = false;
    bool m_networking = false;
    std::function<void(CParloDlg*)> m_setup;
    std::function<void()> m_teardown;
};

// Process set-up shared by the program and the tests: home directory, debug log, flags that
// override settings. Call once before CParloApp::start.
void apply_app_options(const app_options& options);
