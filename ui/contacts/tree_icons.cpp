#include "ui/contacts/tree_icons.h"

#include <QPainter>
#include <QPixmap>

namespace {
enum class shape { persons, disc, bar_sign, clock, empty };

void draw(QPainter& p, shape s, QColor colour) {
    p.setRenderHint(QPainter::Antialiasing);
    switch (s) {
        case shape::persons:
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(90, 120, 170));
            p.drawEllipse(QRectF(2, 2, 5, 5));
            p.drawRoundedRect(QRectF(1, 8, 7, 7), 2, 2);
            p.setBrush(QColor(60, 150, 90));
            p.drawEllipse(QRectF(9, 1, 5, 5));
            p.drawRoundedRect(QRectF(8, 7, 7, 8), 2, 2);
            break;
        case shape::disc:
            p.setPen(colour.darker(140));
            p.setBrush(colour);
            p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
            break;
        case shape::bar_sign:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawEllipse(QRectF(2, 2, 12, 12));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4, 7, 8, 2));
            break;
        case shape::clock:
            p.setPen(QPen(colour.darker(150), 1.2));
            p.setBrush(colour);
            p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
            p.setPen(QPen(Qt::black, 1.2));
            p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
            p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
            break;
        case shape::empty:
            break;
    }
}
}  // namespace

QIcon tree_image(int index) {
    static QIcon cache[kTreeImageCount];
    if (index < 0 || index >= kTreeImageCount) index = kTreeImageCount - 1;
    if (!cache[index].isNull()) return cache[index];
    struct cell {
        shape s;
        QColor c;
    };
    const cell cells[kTreeImageCount] = {
        {shape::persons, QColor()},
        {shape::disc, QColor(170, 170, 170)},
        {shape::disc, QColor(40, 190, 60)},
        {shape::bar_sign, QColor(210, 40, 40)},
        {shape::clock, QColor(240, 200, 60)},
        {shape::clock, QColor(120, 200, 240)},
        {shape::bar_sign, QColor(210, 40, 40)},
        {shape::clock, QColor(240, 150, 60)},
        {shape::disc, QColor(170, 170, 170)},
        {shape::empty, QColor()},
    };
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    draw(p, cells[index].s, cells[index].c);
    p.end();
    cache[index] = QIcon(pm);
    return cache[index];
}
