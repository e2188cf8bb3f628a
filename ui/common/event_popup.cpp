#include "ui/common/event_popup.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/common/texts.h"
#include "ui/skin/controls.h"

popup_slots g_event_slots;

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

CDlgEvent::CDlgEvent(const QString& text, popup_slots* slots, bool run_timer)
    : Cgood_dlg(nullptr), m_slots(slots) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(ui_text(T_EVENT));
    setContentsMargins(6, kTitleHeight + 2, 6, 4);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    m_text = new CMyStatic(text.left(512), this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    box->addWidget(m_text);

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

CDlgEvent::~CDlgEvent() { close_popup(); }

QString CDlgEvent::text() const { return m_text->text(); }

void CDlgEvent::step() {
    if (m_closed) return;
    m_e--;
    if (m_e < 0) {
        close_popup();
        close();
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

void CDlgEvent::reject() {
    close_popup();
    close();
}

CDlgEvent* show_event_popup(const QString& text) {
    auto* d = new CDlgEvent(text, &g_event_slots);
    // Shown without activation: the window the user types in keeps the keyboard focus.
    d->show();
    return d;
}
