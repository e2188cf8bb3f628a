// The user's idle time for the automatic Away: the X11 screen-saver extension's idle counter when
// the display offers it, otherwise the last keyboard or mouse input the application itself saw.
// The GUI thread samples it once a second; the session thread reads the sample.
#pragma once
#include <QObject>
#include <atomic>
#include <cstdint>

#include "protocol/housekeeping.h"

class QTimer;

class gui_idle_source : public QObject, public input_idle_source {
public:
    explicit gui_idle_source(QObject* parent = nullptr);
    // Any thread.
    uint32_t last_input_tick() override { return m_last_input.load(); }
    // True when the idle time comes from the display server.
    bool uses_display_idle() const { return m_xss; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sample();
    std::atomic<uint32_t> m_last_input;
    bool m_xss = false;
    QTimer* m_timer;
};
