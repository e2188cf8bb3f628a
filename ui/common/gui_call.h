// Hand-overs to the GUI thread from any thread.
//
// post_to_gui queues a function for the GUI thread and returns at once: what a worker, the session
// thread or a sound thread wants shown goes this way, and none of them waits for the user.
//
// run_on_gui runs a function on the GUI thread and waits for its result. It is only for making a
// window whose handle the caller needs at once (a chat window for a peer reader); never for a
// dialog that waits for the user. On the GUI thread itself the function runs directly. A waiting
// caller is released with the fallback value when the application shuts the hand-over down
// (stop_gui_calls), so a thread that waits can always be joined.
#pragma once
#include <functional>

class QObject;

// Runs fn on the GUI thread later, unless context (when given) is gone by then or the hand-overs
// were stopped in between. Any thread; never waits.
void post_to_gui(QObject* context, std::function<void()> fn);
int run_on_gui(const std::function<int()>& fn, int fallback);
// True on the GUI thread (the thread of the QCoreApplication).
bool on_gui_thread();
// From now on run_on_gui from other threads returns the fallback at once, every waiting caller is
// released, and nothing posted earlier runs. GUI thread only, at shutdown.
void stop_gui_calls();
// Allows hand-overs again (tests that make a new window after a shutdown).
void restart_gui_calls();
// Runs fn on a thread of its own while the GUI thread keeps turning its event loop, and returns
// once fn has (joins and bounded waits at exit, so no window stops answering meanwhile). fn must
// not wait for the GUI. GUI thread only; without an application object fn runs directly.
void run_beside_gui(const std::function<void()>& fn);
