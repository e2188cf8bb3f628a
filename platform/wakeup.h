// A file descriptor that a poll loop can watch next to its sockets, so that another thread can
// wake it at once (a table changed, or the loop must stop) instead of the loop polling on a timer.
#pragma once

class Cwakeup {
public:
    Cwakeup();
    ~Cwakeup();
    Cwakeup(const Cwakeup&) = delete;
    Cwakeup& operator=(const Cwakeup&) = delete;
    int fd() const { return m_fd; }
    void signal();
    // Consumes pending signals (call when poll reports the descriptor readable).
    void drain();

private:
    int m_fd;
};
