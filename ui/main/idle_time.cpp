#include "ui/main/idle_time.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>

#include "platform/tick.h"

// Milliseconds since the last input on the whole display, or -1 (defined at the end of the file,
// after the X11 headers, whose macros clash with Qt's names).
static long display_idle_ms();

gui_idle_source::gui_idle_source(QObject* parent) : QObject(parent), m_last_input(get_tick_count()) {
    m_xss = display_idle_ms() >= 0;
    if (qGuiApp) qGuiApp->installEventFilter(this);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &gui_idle_source::sample);
    if (m_xss) m_timer->start(1000);
}

void gui_idle_source::sample() {
    long idle = display_idle_ms();
    if (idle >= 0) m_last_input = get_tick_count() - static_cast<uint32_t>(idle);
}

bool gui_idle_source::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel: m_last_input = get_tick_count(); break;
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

#ifdef PARLO_HAVE_XSS
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#endif

#ifdef PARLO_HAVE_XSS
static Display* x11_display() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

static long display_idle_ms() {
    Display* d = x11_display();
    if (!d) return -1;
    int event_base = 0, error_base = 0;
    if (!XScreenSaverQueryExtension(d, &event_base, &error_base)) return -1;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info) return -1;
    long idle = -1;
    if (XScreenSaverQueryInfo(d, DefaultRootWindow(d), info)) idle = static_cast<long>(info->idle);
    XFree(info);
    return idle;
}
#else
static long display_idle_ms() { return -1; }
#endif

