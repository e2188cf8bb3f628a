#include "ui/common/event_popup.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "ui/common/texts.h"
#include "ui/skin/controls.h"

popup_slots g_event_slots;

namespace {
// The pop-ups show_event_popup opened that have not closed yet.
QList<QPointer<CDlgEvent>> g_open_popups;
}  // namespace

int popup_slots::take() {
    int chosen = -1;
    for (int i = 0; i < kSlots && chosen < 0; i++)
        if (m_counts[i] == 0) chosen = i;
    if (chosen < 0) {
        for (int i = 0; i < kSlots; i++)
            if (m_counts[i] < 100 && (chosen < 0 || m_counts[i] < m_counts[chosen])) chosen = i;
    }
    if (chosen < 0) chosen = 0;
    m_counts[chosen]++;
    return chosen;
}

void popup_slots::release(int slot) {
    if (slot >= 0 && slot < kSlots) m_counts[slot] = 0;
}

int popup_height(int e, int h) {
    constexpr int kMin = 23;
    int v;
    if (e >= 140)
        v = h - (e - 140) * (h - kMin) / 10;
    else if (e >= 40)
        v = h;
    else
        v = h - (40 - e) * (h - kMin) / 40;
    return v < kMin ? kMin : v;
}

CDlgEvent::CDlgEvent(const QString& text, popup_slots* places, bool run_timer)
    : Cgood_dlg(nullptr), m_slots(places) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(ui_text(T_EVENT));
    setContentsMargins(6, kTitleHeight + 2, 6, 4);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    // The pop-up starts 23 pixels tall and grows: the text must not hold it open.
    box->setSizeConstraint(QLayout::SetNoConstraint);
    m_text = new CMyStatic(text.left(512), this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    box->addWidget(m_text);
    setMinimumSize(kWidth, 23);

    m_slot = m_slots->take();
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    m_right = area.right() + 1;
    m_bottom = area.bottom() + 1 - m_slot * kHeight;
    setFixedWidth(kWidth);
    setGeometry(m_right - kWidth, m_bottom - popup_height(m_e, kHeight), kWidth,
                popup_height(m_e, kHeight));
    if (run_timer) {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &CDlgEvent::step);
        m_timer->start(100);
    }
}

CDlgEvent::~CDlgEvent() {
    close_popup();
}

QString CDlgEvent::text() const {
    return m_text->text();
}

void CDlgEvent::step() {
    if (m_closed) return;
    m_e--;
    if (m_e < 0) {
        reject();
        return;
    }
    int h = popup_height(m_e, kHeight);
    if (h != height()) setGeometry(m_right - kWidth, m_bottom - h, kWidth, h);
}

void CDlgEvent::close_popup() {
    if (m_closed) return;
    m_closed = true;
    if (m_timer) m_timer->stop();
    m_slots->release(m_slot);
}

void CDlgEvent::remember_focus(QWidget* window, QWidget* focus) {
    m_focus_window = window;
    m_focus_widget = focus;
}

void CDlgEvent::changeEvent(QEvent* e) {
    Cgood_dlg::changeEvent(e);
    if (e->type() != QEvent::ActivationChange || !isActiveWindow() || !m_focus_window) return;
    // Activated anyway (some platforms do): the focus goes back where the user was typing.
    QPointer<QWidget> window = m_focus_window, widget = m_focus_widget;
    QTimer::singleShot(0, window, [window, widget] {
        if (!window) return;
        window->activateWindow();
        if (widget) widget->setFocus(Qt::OtherFocusReason);
    });
}

void CDlgEvent::reject() {
    if (m_closed) return;
    close_popup();
    hide();
    deleteLater();
}

CDlgEvent* show_event_popup(const QString& text) {
    // The window the user types in keeps the keyboard focus: the pop-up is shown without
    // activation, and where the platform activates it anyway the focus goes back.
    auto* d = new CDlgEvent(text, &g_event_slots);
    d->remember_focus(QApplication::activeWindow(), QApplication::focusWidget());
    d->show();
    g_open_popups.removeAll(nullptr);
    g_open_popups.append(d);
    return d;
}

void close_event_popups() {
    auto open = std::exchange(g_open_popups, {});
    for (const auto& d : open) delete d.data();
}
