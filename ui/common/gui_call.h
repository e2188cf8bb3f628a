// Runs a function on the GUI thread and waits for its result, from any thread. On the GUI thread
// itself the function runs directly. A waiting caller is released with the fallback value when
// the application shuts the hand-over down (stop_gui_calls), so a worker that waits for a dialog
// can always be joined.
#pragma once
#include <functional>

int run_on_gui(const std::function<int()>& fn, int fallback);
// True on the GUI thread (the thread of the QCoreApplication).
bool on_gui_thread();
// From now on run_on_gui from other threads returns the fallback at once, and every waiting
// caller is released. GUI thread only, at shutdown.
void stop_gui_calls();
// Allows hand-overs again (tests that make a new window after a shutdown).
void restart_gui_calls();
