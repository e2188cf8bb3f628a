#include "ui/skin/good_dlg.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QSizeGrip>
#include <QWindow>

#include "ui/skin/palette.h"

namespace {
constexpr int kCloseWidth = 41;
constexpr int kMainButtonWidth = 21;

void draw_bitmap(QPainter& p, int entry, const QRect& r) {
    QPixmap pm = skin_bitmap(entry);
    if (pm.isNull()) {
        p.fillRect(r, skin_colour(SKIN_EDIT_DARK));
        return;
    }
    p.drawPixmap(r, pm);
}
}  // namespace

Cgood_dlg::Cgood_dlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setMouseTracking(true);
    setContentsMargins(8, kTitleHeight + kStripHeight + 6, 8, 8);
}

int Cgood_dlg::background_entry(int height) { return height <= 300 ? SKIN_BG_SMALL : SKIN_BG_MIDDLE; }

QRect Cgood_dlg::close_rect() const { return QRect(width() - kCloseWidth, 0, kCloseWidth, kTitleHeight); }

bool Cgood_dlg::in_title_band(QPoint p) const { return p.y() >= 0 && p.y() < kTitleHeight; }

int Cgood_dlg::button_at(QPoint p) const { return close_rect().contains(p) ? 1 : 0; }

int Cgood_dlg::button_state(int b) const { return b == 1 ? m_close_state : TB_NORMAL; }

void Cgood_dlg::set_button_state(int b, int state) {
    int s = b == 1 ? state : TB_NORMAL;
    if (s != m_close_state) {
        m_close_state = s;
        update(QRect(0, 0, width(), kTitleHeight));
    }
}

void Cgood_dlg::button_clicked(int b) {
    if (b == 1) reject();
}

void Cgood_dlg::paint_title_bar(QPainter& p, int buttons_width, int piece_x) {
    draw_bitmap(p, SKIN_TITLE_LEFT, QRect(0, 0, 8, kTitleHeight));
    draw_bitmap(p, SKIN_TITLE_MIDDLE, QRect(8, 0, std::max(0, piece_x - 8), kTitleHeight));
    draw_bitmap(p, SKIN_TITLE_PIECE, QRect(piece_x, 0, 18, kTitleHeight));
    (void)buttons_width;
    p.setPen(Qt::white);
    QRect caption(3, 2, width() - 41 - 3, 21);
    p.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, windowTitle());
}

void Cgood_dlg::paint_frame_and_background(QPainter& p) {
    int w = width(), h = height();
    QRect body(0, kTitleHeight, w, h - kTitleHeight);
    QPixmap bg = skin_bitmap(background_for_height(h));
    if (bg.isNull()) {
        p.fillRect(body, Qt::white);
    } else {
        // The first column, stretched across; rows one to one, the last row repeated below.
        int rows = std::min(bg.height(), h);
        p.drawPixmap(QRect(0, 0, w, rows), bg, QRect(0, 0, 1, rows));
        if (rows < h) p.fillRect(QRect(0, rows, w, h - rows), bg.toImage().pixelColor(0, bg.height() - 1));
    }
    p.fillRect(QRect(2, kTitleHeight - 1, w - 4, kStripHeight + 1), skin_colour(SKIN_TITLE_STRIP));
    p.setPen(skin_colour(SKIN_FRAME_LEFT));
    p.drawLine(0, kTitleHeight, 0, h - 1);
    p.setPen(skin_colour(SKIN_FRAME_BOTTOM));
    p.drawLine(0, h - 1, w - 1, h - 1);
    p.setPen(skin_colour(SKIN_FRAME_RIGHT));
    p.drawLine(w - 1, kTitleHeight, w - 1, h - 1);
}

void Cgood_dlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint_frame_and_background(p);
    paint_title_bar(p, kCloseWidth, width() - 59);
    static const int pictures[3] = {SKIN_CLOSE_NORMAL, SKIN_CLOSE_HOVER, SKIN_CLOSE_PRESSED};
    draw_bitmap(p, pictures[m_close_state], close_rect());
}

void Cgood_dlg::update_mask() {
    if (!m_rounded) {
        clearMask();
        return;
    }
    int w = width(), h = height();
    QRegion r(QRect(4, 0, w - 8, 4));
    r += QRegion(QRect(0, 4, w, h - 4));
    r += QRegion(QRect(0, 0, 8, 8), QRegion::Ellipse);
    r += QRegion(QRect(w - 8, 0, 8, 8), QRegion::Ellipse);
    setMask(r);
}

void Cgood_dlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    update_mask();
}

void Cgood_dlg::mousePressEvent(QMouseEvent* e) {
    QPoint p = e->position().toPoint();
    if (e->button() != Qt::LeftButton) return QDialog::mousePressEvent(e);
    int b = button_at(p);
    if (b != 0) {
        set_button_state(b, TB_PRESSED);
        return;
    }
    set_button_state(0, TB_NORMAL);
    if (in_title_band(p) && windowHandle()) windowHandle()->startSystemMove();
}

void Cgood_dlg::mouseMoveEvent(QMouseEvent* e) {
    int b = button_at(e->position().toPoint());
    if (b == 0) {
        set_button_state(0, TB_NORMAL);
    } else if (e->buttons() & Qt::LeftButton) {
        // Only a button that was pressed stays pressed while the mouse is down over it.
        if (button_state(b) != TB_PRESSED) set_button_state(b, TB_HOVER);
    } else {
        set_button_state(b, TB_HOVER);
    }
    QDialog::mouseMoveEvent(e);
}

void Cgood_dlg::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QDialog::mouseReleaseEvent(e);
    int b = button_at(e->position().toPoint());
    if (b != 0 && button_state(b) == TB_PRESSED) {
        // A complete click: pressed and released on the same button.
        set_button_state(b, TB_NORMAL);
        button_clicked(b);
        return;
    }
    set_button_state(b, b != 0 ? TB_HOVER : TB_NORMAL);
}

void Cgood_dlg::leaveEvent(QEvent* e) {
    set_button_state(0, TB_NORMAL);
    QDialog::leaveEvent(e);
}

void Cgood_dlg::changeEvent(QEvent* e) {
    if (e->type() == QEvent::ActivationChange || e->type() == QEvent::WindowTitleChange)
        update(QRect(0, 0, width(), kTitleHeight));
    QDialog::changeEvent(e);
}

Cgood_dlg_resize_main::Cgood_dlg_resize_main(QWidget* parent) : Cgood_dlg(parent) {
    m_rounded = false;
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    m_grip = new QSizeGrip(this);
    m_grip->resize(12, 12);
}

int Cgood_dlg_resize_main::background_entry(int height) {
    if (height <= 300) return SKIN_BG_SMALL;
    if (height <= 600) return SKIN_BG_MIDDLE;
    return SKIN_BG_LARGE;
}

QRect Cgood_dlg_resize_main::close_rect() const {
    return QRect(width() - kMainButtonWidth, 0, kMainButtonWidth, kTitleHeight);
}
QRect Cgood_dlg_resize_main::maximise_rect() const {
    return QRect(width() - 2 * kMainButtonWidth, 0, kMainButtonWidth, kTitleHeight);
}
QRect Cgood_dlg_resize_main::minimise_rect() const {
    return QRect(width() - 3 * kMainButtonWidth, 0, kMainButtonWidth, kTitleHeight);
}

int Cgood_dlg_resize_main::button_at(QPoint p) const {
    if (p.y() < 1 || p.y() > 21) return 0;
    if (close_rect().contains(p)) return 1;
    if (maximise_rect().contains(p)) return 2;
    if (minimise_rect().contains(p)) return 3;
    return 0;
}

int Cgood_dlg_resize_main::button_state(int b) const { return b >= 1 && b <= 3 ? m_states[b] : 0; }

void Cgood_dlg_resize_main::set_button_state(int b, int state) {
    bool changed = false;
    for (int i = 1; i <= 3; i++) {
        int s = i == b ? state : TB_NORMAL;
        if (m_states[i] != s) {
            m_states[i] = s;
            changed = true;
        }
    }
    if (changed) update(QRect(0, 0, width(), kTitleHeight));
}

void Cgood_dlg_resize_main::button_clicked(int b) {
    switch (b) {
    case 1: reject(); break;
    case 2: isMaximized() ? showNormal() : showMaximized(); break;
    case 3: showMinimized(); break;
    default: break;
    }
}

void Cgood_dlg_resize_main::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint_frame_and_background(p);
    paint_title_bar(p, 3 * kMainButtonWidth, width() - 81);
    static const int close[3] = {SKIN_MAIN_CLOSE_NORMAL, SKIN_MAIN_CLOSE_HOVER, SKIN_MAIN_CLOSE_PRESSED};
    static const int max[3] = {SKIN_MAX_NORMAL, SKIN_MAX_HOVER, SKIN_MAX_PRESSED};
    static const int restore[3] = {SKIN_RESTORE_NORMAL, SKIN_RESTORE_HOVER, SKIN_RESTORE_PRESSED};
    static const int min[3] = {SKIN_MIN_NORMAL, SKIN_MIN_HOVER, SKIN_MIN_PRESSED};
    draw_bitmap(p, close[m_states[1]], close_rect());
    draw_bitmap(p, isMaximized() ? restore[m_states[2]] : max[m_states[2]], maximise_rect());
    draw_bitmap(p, min[m_states[3]], minimise_rect());
}

void Cgood_dlg_resize_main::resizeEvent(QResizeEvent* e) {
    Cgood_dlg::resizeEvent(e);
    m_grip->move(width() - m_grip->width() - 1, height() - m_grip->height() - 1);
}
