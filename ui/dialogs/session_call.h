// How the windows reach the session controller. The controller belongs to one thread (in the
// application the session thread, where nothing the user sees waits for it); a window hands it a
// task and never waits for the result, which comes back as a notification or a change of the
// tables.
#pragma once
#include <functional>

class session_controller;

using session_task = std::function<void(session_controller&)>;
using session_runner = std::function<void(session_task)>;

// Runs each task at once on the calling thread: for a controller that belongs to that thread.
inline session_runner direct_runner(session_controller& controller) {
    return [&controller](session_task task) { task(controller); };
}
