#include "ui/skin/controls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include "ui/skin/palette.h"

CMyButton::CMyButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setMouseTracking(true);
    setMinimumHeight(22);
}

QColor CMyButton::text_colour() const {
    if (!isEnabled()) return QColor(0x80, 0x80, 0x80);
    if (m_hover) return Qt::white;
    return QColor(0xD0, 0xD0, 0xD0);
}

void CMyButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    if (m_plain) {
        p.fillRect(r, bgr_colour(0xE0E0C0));
    } else {
        QPixmap bg = skin_bitmap(SKIN_BUTTON_BG);
        if (bg.isNull())
            p.fillRect(r, skin_colour(SKIN_EDIT_DARK));
        else
            p.drawPixmap(r, bg, QRect(0, 0, 1, bg.height()));
    }
    // Pressed, or a checkable button that is on: sunk in, the text a pixel down and right.
    const bool pressed = isDown() || isChecked();
    if (pressed) p.fillRect(r.adjusted(1, 1, -1, -1), QColor(0, 0, 0, 70));
    p.setPen(text_colour());
    p.setFont(QApplication::font());
    p.drawText(pressed ? r.translated(1, 1) : r,
               Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, text());
    p.setBrush(Qt::NoBrush);
    if (pressed) {
        p.setPen(skin_colour(SKIN_BUTTON_PRESSED));
        p.drawRect(r.adjusted(1, 1, -2, -2));
    }
    p.setPen(skin_colour(hasFocus() ? SKIN_BUTTON_FOCUS : SKIN_BUTTON_FRAME));
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

void CMyButton::enterEvent(QEnterEvent* e) {
    m_hover = true;
    update();
    QPushButton::enterEvent(e);
}

void CMyButton::leaveEvent(QEvent* e) {
    m_hover = false;
    update();
    QPushButton::leaveEvent(e);
}

void CMyButton::focusInEvent(QFocusEvent* e) {
    update();
    QPushButton::focusInEvent(e);
}

void CMyButton::focusOutEvent(QFocusEvent* e) {
    update();
    QPushButton::focusOutEvent(e);
}

namespace {
skin_text_colours default_colours() {
    skin_text_colours c;
    c.background = QApplication::palette().color(QPalette::Window);
    c.text = QApplication::palette().color(QPalette::WindowText);
    return c;
}

// Key presses and left clicks that a read-only check box or combo box ignores.
bool is_blocked_input(QEvent* e) {
    switch (e->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton;
        default:
            return false;
    }
}
}  // namespace

CMyStatic::CMyStatic(const QString& text, QWidget* parent) : QLabel(text, parent) {
    m_colours = default_colours();
    setTextFormat(Qt::PlainText);
    apply();
}

void CMyStatic::set_transparent(bool t) {
    m_colours.transparent = t;
    apply();
}

void CMyStatic::set_background(const QColor& c) {
    m_colours.background = c;
    apply();
}

void CMyStatic::set_link(bool link) {
    m_link = link;
    setCursor(link ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void CMyStatic::apply() {
    // Text in palette entry 0 (the program sets it before every paint of the text).
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, skin_colour(SKIN_TEXT));
    pal.setColor(QPalette::Window, m_colours.background);
    setPalette(pal);
    setAutoFillBackground(!m_colours.transparent);
}

void CMyStatic::mouseReleaseEvent(QMouseEvent* e) {
    if (m_link && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) {
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(e);
}

void CMyStatic::enterEvent(QEnterEvent* e) {
    if (m_link) {
        QFont f = font();
        f.setUnderline(true);
        setFont(f);
    }
    QLabel::enterEvent(e);
}

void CMyStatic::leaveEvent(QEvent* e) {
    if (m_link) {
        QFont f = font();
        f.setUnderline(false);
        setFont(f);
    }
    QLabel::leaveEvent(e);
}

CMyCheckBox::CMyCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, skin_colour(SKIN_TEXT));
    setPalette(pal);
}

bool CMyCheckBox::event(QEvent* e) {
    if (!m_input_enabled && is_blocked_input(e)) {
        e->accept();
        return true;
    }
    return QCheckBox::event(e);
}

CMyComboBox::CMyComboBox(QWidget* parent) : QComboBox(parent) {
    QColor frame = skin_colour(SKIN_EDIT_DARK);
    // The list drops below the field and honours maxVisibleItems (scrolling beyond it) instead of
    // a menu as tall as the items.
    setStyleSheet(QStringLiteral("QComboBox { background: white; color: %1; border: 1px solid %2;"
                                 " padding: 1px 4px; combobox-popup: 0; }")
                      .arg(skin_colour(SKIN_TEXT).name(), frame.name()));
}

bool CMyComboBox::event(QEvent* e) {
    if (!m_input_enabled && is_blocked_input(e)) {
        e->accept();
        return true;
    }
    return QComboBox::event(e);
}

void CMyComboBox::wheelEvent(QWheelEvent* e) {
    if (!m_input_enabled) return;
    QComboBox::wheelEvent(e);
}

QString skin_edit_style(const char* cls) {
    QString dark = skin_colour(SKIN_EDIT_DARK).name();
    QString hatch = skin_colour(SKIN_SCROLL_HATCH).name();
    QString edge1 = skin_colour(SKIN_SCROLL_EDGE1).name();
    QString edge2 = skin_colour(SKIN_SCROLL_EDGE2).name();
    QString left = skin_colour(SKIN_FRAME_LEFT).name();
    return QStringLiteral(
               "%1 { background: white; border-style: solid; border-width: 2px;"
               " border-top-color: %2; border-left-color: %2; border-bottom-color: %4;"
               " border-right-color: %4; }"
               "QScrollBar { background: %3; border: 1px solid %4; }"
               "QScrollBar::handle { background: %2; border: 1px solid %5; min-height: 12px;"
               " min-width: 12px; }"
               "QScrollBar::add-line, QScrollBar::sub-line { background: %6; border: 1px solid %5; "
               "}"
               "QAbstractScrollArea::corner { background: white; }")
        .arg(QLatin1String(cls), dark, hatch, edge1, left, edge2);
}

CMyEdit::CMyEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setStyleSheet(skin_edit_style("QPlainTextEdit"));
}

CMyEdit_no_scroll::CMyEdit_no_scroll(QWidget* parent) : QLineEdit(parent) {
    setStyleSheet(skin_edit_style("QLineEdit"));
}

CMyRichEdit::CMyRichEdit(QWidget* parent) : QTextEdit(parent) {
    setStyleSheet(skin_edit_style("QTextEdit"));
}
