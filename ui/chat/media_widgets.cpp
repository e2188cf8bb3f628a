#include "ui/chat/media_widgets.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QPainter>
#include <QPolygon>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "platform/thread.h"
#include "protocol/chat_session.h"

void draw_peer_picture(QPainter& p, const QRect& at, const peer_picture* pic) {
    if (!pic || pic->width <= 0 || pic->height <= 0 ||
        pic->rgb.size() < static_cast<size_t>(pic->width) * pic->height * 3) {
        p.fillRect(at, Qt::black);
        return;
    }
    QImage img(pic->rgb.data(), pic->width, pic->height, pic->width * 3, QImage::Format_RGB888);
    p.drawImage(at, img);
}

volume_hooks& media_volume_hooks() {
    static volume_hooks hooks;
    return hooks;
}

// ---- slider ----

CWndMySlider::CWndMySlider(QWidget* parent) : QWidget(parent) {
    setMinimumSize(40, 16);
}

void CWndMySlider::set_range(int min, int max) {
    m_min = min;
    m_max = max;
    set_position(m_pos);
}

void CWndMySlider::set_position(int pos) {
    m_pos = std::clamp(pos, m_min, std::max(m_min, m_max));
    update();
}

int CWndMySlider::thumb_x() const {
    if (m_max <= m_min) return 0;
    long long track = width() - kRightMargin - kLeftMargin;
    return kLeftMargin + static_cast<int>(track * (m_pos - m_min) / (m_max - m_min));
}

int CWndMySlider::position_at(int x) const {
    int track = width() - kRightMargin - kLeftMargin;
    if (track <= 0) return m_min;
    return m_min +
           static_cast<int>(static_cast<long long>(x - kLeftMargin) * (m_max - m_min) / track);
}

void CWndMySlider::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    QPoint p = e->position().toPoint();
    int m = middle_line();
    if (p.y() < m - 5 || p.y() > m + 3) return;
    if (std::abs(p.x() - thumb_x()) <= 2) {
        m_dragging = true;
        grabMouse();
    } else if (p.x() >= kLeftMargin && p.x() <= width() - kRightMargin) {
        set_position(position_at(p.x()));
    }
}

void CWndMySlider::mouseMoveEvent(QMouseEvent* e) {
    if (!m_dragging) return;
    QPoint p = e->position().toPoint();
    int m = middle_line();
    if (p.y() >= m - 7 && p.y() <= m + 3 && p.x() >= kLeftMargin && p.x() <= width() - kRightMargin)
        set_position(position_at(p.x()));
}

void CWndMySlider::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (m_dragging) releaseMouse();
    m_dragging = false;
    emit released(m_pos);
}

void CWndMySlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    int m = middle_line();
    int left = kLeftMargin, right = width() - kRightMargin;
    // A wedge rising from the left end to the right end.
    QPolygon wedge({QPoint(left, m), QPoint(right, m), QPoint(right, m - kTrackHeight)});
    p.setPen(QColor(0x80, 0x80, 0x90));
    p.setBrush(QColor(0xa0, 0xb0, 0xd0));
    p.drawPolygon(wedge);
    int x = thumb_x();
    p.fillRect(QRect(x - 2, m - 6, 4, 8), QColor(0x40, 0x50, 0x80));
    p.setPen(QColor(0x20, 0x20, 0x30));
    p.drawLine(x + 2, m - 5, x + 2, m + 2);
}

CWndMySliderMic::CWndMySliderMic(QWidget* parent) : CWndMySlider(parent) {
    // The mixer is asked on a job (enumerating it can take a while); the answer comes back to
    // the GUI thread, where a slider still there takes it.
    QPointer<CWndMySliderMic> self(this);
    start_job([self] {
        volume_hooks& h = media_volume_hooks();
        int min = 0, max = 100, volume = 0;
        bool ok = h.mic_query && h.mic_query(&min, &max, &volume);
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(
            app,
            [self, ok, min, max, volume] {
                if (!self) return;
                if (ok) {
                    self->set_range(min, max);
                    self->set_position(volume);
                } else if (media_volume_hooks().mic_unavailable) {
                    media_volume_hooks().mic_unavailable(self->window());
                }
            },
            Qt::QueuedConnection);
    });
}

CWndMySliderSpeaker::CWndMySliderSpeaker(QWidget* parent) : CWndMySlider(parent) {
    set_range(0, 65535);
    volume_hooks& h = media_volume_hooks();
    int v = h.speaker_query ? h.speaker_query() : 0;
    set_position(v > 0 ? v : 8191);
}

// ---- level meter ----

CWndVolumeShow::CWndVolumeShow(QWidget* parent) : QWidget(parent) {
    refill();
}

void CWndVolumeShow::refill() {
    m_length = std::min(300, std::max(1, width()));
    std::fill(m_ring.begin(), m_ring.end(), 2);
    m_ring[0] = 0;
}

void CWndVolumeShow::resizeEvent(QResizeEvent*) {
    refill();
}

void CWndVolumeShow::add_sample(int value) {
    m_write++;
    if (m_write >= m_length) m_write = 0;
    m_ring[static_cast<size_t>(m_write)] = static_cast<uint16_t>(value);
    update();
}

int CWndVolumeShow::line_height(int value, int client_height) {
    return client_height * std::min(3 * std::abs(value - 128), 128) / 128;
}

void CWndVolumeShow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(240, 240, 255));
    p.setPen(QColor(64, 240, 64));
    int x = width() - 1;
    int h = height();
    for (int i = m_write; i >= 0 && x >= 0; i--, x--) {
        int lh = line_height(m_ring[static_cast<size_t>(i)], h);
        if (lh > 0) p.drawLine(x, h - 1, x, h - lh);
    }
}

// ---- zoom window ----

CDlgVideoZoom::CDlgVideoZoom(picture_source source, QWidget* parent)
    : Cgood_dlg(parent), m_source(std::move(source)) {
    setModal(false);
    set_large(false);
}

void CDlgVideoZoom::set_large(bool large) {
    m_large = large;
    QSize s = large ? QSize(645, 540) : QSize(325, 300);
    setFixedSize(s);
    update();
}

QRect CDlgVideoZoom::picture_rect() const {
    // The client area starts below the title bar and its strip (the content margins keep the
    // controls of other dialogs further in; a picture sized to the window must not).
    return QRect(QPoint(2, kTitleHeight + kStripHeight + 2),
                 m_large ? QSize(640, 480) : QSize(320, 240));
}

bool CDlgVideoZoom::in_toggle_band(QPoint p) const {
    int from_right = width() - p.x();
    int from_bottom = height() - p.y();
    return from_right > 2 && from_right < 16 && from_bottom > 2 && from_bottom < 16;
}

void CDlgVideoZoom::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && in_toggle_band(e->position().toPoint())) {
        set_large(!m_large);
        return;
    }
    Cgood_dlg::mousePressEvent(e);
}

void CDlgVideoZoom::paintEvent(QPaintEvent* e) {
    Cgood_dlg::paintEvent(e);
    QPainter p(this);
    std::shared_ptr<const peer_picture> pic = m_source ? m_source() : nullptr;
    draw_peer_picture(p, picture_rect(), pic.get());
    // The size toggle, 14 x 14 at 16 pixels from the bottom-right corner.
    QRect toggle(width() - 16, height() - 16, 14, 14);
    p.setPen(Qt::white);
    p.fillRect(toggle, QColor(0x50, 0x60, 0x90));
    p.drawRect(toggle.adjusted(2, 2, -3, -3));
    if (!m_large) p.drawRect(toggle.adjusted(5, 5, -6, -6));
}
