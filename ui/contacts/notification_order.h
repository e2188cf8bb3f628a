// Keeps the main window's notifications in order while a handler waits for the user. A question
// (a modal message box) runs a nested event loop; a wake-up that arrives then must not run the
// queued notifications inside the open handler, ahead of the rest of it. They stay queued (a
// sending thread keeps waiting) and run, in order, as soon as the open handler returns.
// GUI thread only.
#pragma once
#include <functional>

class notification_order {
public:
    // Runs drain (which handles every queued notification) unless a handler is running already.
    void pump(const std::function<int()>& drain);
    bool busy() const { return m_depth > 0; }

private:
    int m_depth = 0;
};
