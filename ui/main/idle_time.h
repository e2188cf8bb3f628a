// The user's idle time for the automatic Away: the X11 screen-saver extension's idle counter when
// the display offers it, otherwise the last keyboard or mouse input the application itself saw.
// GUI thread only.
#pragma once
#include <QObject>
#include <cstdint>

#include "protocol/housekeeping.h"

class gui_idle_source : public QObject, public input_idle_source {
public:
    explicit gui_idle_source(QObject* parent = nullptr);
    uint32_t last_input_tick() override;
    // True when the idle time comes from the display server.
    bool uses_display_idle() const { return m_xss; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    uint32_t m_last_input;
    bool m_xss = false;
};
