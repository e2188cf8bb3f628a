// Draws the program's own images with QPainter: the skin bitmaps (title bar pieces, title-bar
// buttons, dialog and button backgrounds), the application icon, the tray icons of the presence
// states and the tree's image strip. Run by the build: draw_images OUTDIR writes OUTDIR/skin/N.png
// and OUTDIR/icons/N.png, N being the bitmap's resource number.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

namespace {
// The skin's colours are 0x00BBGGRR.
QColor bgr(unsigned v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

const QColor kTitleTop = bgr(0xFF8040);
const QColor kTitleBottom = bgr(0xF0914D);
const QColor kPale = bgr(0xFFE0C0);

bool save(const QImage& img, const QString& dir, int id) {
    QString path = QStringLiteral("%1/%2.png").arg(dir).arg(id);
    if (!img.save(path)) {
        std::fprintf(stderr, "draw_images: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage title_piece(int w, int h = 22) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, kTitleTop.lighter(125));
    g.setColorAt(0.5, kTitleTop);
    g.setColorAt(1, kTitleBottom);
    p.fillRect(img.rect(), g);
    return img;
}

// state 0 normal, 1 hover, 2 pressed; symbol 0 close, 1 maximise, 2 restore, 3 minimise.
QImage title_button(int w, int state, int symbol) {
    QImage img = title_piece(w);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF box(1.5, 2.5, w - 3, 17);
    if (state > 0) {
        QColor fill = symbol == 0 ? QColor(0xD8, 0x3C, 0x30) : kTitleTop.lighter(140);
        if (state == 2) fill = fill.darker(130);
        p.setPen(QPen(QColor(255, 255, 255, 140), 1));
        p.setBrush(fill);
        p.drawRoundedRect(box, 3, 3);
    }
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    double cx = w / 2.0, cy = 11;
    double off = state == 2 ? 0.8 : 0;
    cx += off;
    cy += off;
    switch (symbol) {
    case 0:
        p.drawLine(QPointF(cx - 4, cy - 4), QPointF(cx + 4, cy + 4));
        p.drawLine(QPointF(cx + 4, cy - 4), QPointF(cx - 4, cy + 4));
        break;
    case 1: p.drawRect(QRectF(cx - 4.5, cy - 4, 9, 8)); break;
    case 2:
        p.drawRect(QRectF(cx - 5, cy - 2, 7, 6));
        p.drawPolyline(QPolygonF({QPointF(cx - 2, cy - 4), QPointF(cx + 5, cy - 4),
                                  QPointF(cx + 5, cy + 1)}));
        break;
    default: p.drawLine(QPointF(cx - 4, cy + 4), QPointF(cx + 4, cy + 4)); break;
    }
    return img;
}

// A one-pixel-wide column, light at the top and white below (rows are used one to one).
QImage background(int h, QColor top) {
    QImage img(4, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, top);
    g.setColorAt(0.35, top.lighter(106));
    g.setColorAt(1, Qt::white);
    p.fillRect(img.rect(), g);
    return img;
}

QImage button_background() {
    QImage img(4, 40, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 40);
    g.setColorAt(0, bgr(0xFFC080));
    g.setColorAt(0.5, bgr(0xFF8040));
    g.setColorAt(1, bgr(0xE06020));
    p.fillRect(img.rect(), g);
    return img;
}

// A round face in the state's colour with a small mark for the state.
void presence_face(QPainter& p, QRectF r, int state) {
    static const QColor colours[8] = {QColor(0x9A, 0x9A, 0x9A), QColor(0x2E, 0xB8, 0x4B),
                                      QColor(0xD9, 0x35, 0x2B), QColor(0xF0, 0xB4, 0x1C),
                                      QColor(0xF0, 0xB4, 0x1C), QColor(0xE0, 0x7A, 0x1F),
                                      QColor(0xB0, 0x72, 0x3A), QColor(0x9A, 0x9A, 0x9A)};
    QColor c = colours[state & 7];
    QRadialGradient g(r.center() - QPointF(r.width() / 6, r.height() / 6), r.width() / 1.6);
    g.setColorAt(0, c.lighter(150));
    g.setColorAt(1, c);
    p.setPen(QPen(c.darker(150), r.width() / 16));
    p.setBrush(g);
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
    p.setPen(QPen(Qt::white, r.width() / 10, Qt::SolidLine, Qt::RoundCap));
    QPointF m = r.center();
    double u = r.width() / 5;
    switch (state) {
    case 2: p.drawLine(m - QPointF(u, 0), m + QPointF(u, 0)); break;  // busy: a bar
    case 3:  // away: clock hands
    case 4:
        p.drawLine(m, m - QPointF(0, u * 1.3));
        p.drawLine(m, m + QPointF(u, 0));
        break;
    case 5: p.drawArc(QRectF(m.x() - u, m.y() - u, 2 * u, 2 * u), 200 * 16, 140 * 16); break;
    case 6: p.drawEllipse(m, u * 0.8, u * 0.8); break;
    case 1: p.drawPolyline(QPolygonF({m + QPointF(-u, 0), m + QPointF(-u / 3, u * 0.7),
                                      m + QPointF(u, -u * 0.8)}));
        break;
    default: break;
    }
}

QImage app_icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    double s = size;
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(s * 0.06, s * 0.08, s * 0.88, s * 0.66), s * 0.2, s * 0.2);
    QPainterPath tail;
    tail.moveTo(s * 0.26, s * 0.68);
    tail.lineTo(s * 0.2, s * 0.94);
    tail.lineTo(s * 0.48, s * 0.7);
    bubble = bubble.united(tail);
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, kTitleTop.lighter(130));
    g.setColorAt(1, kTitleBottom.darker(115));
    p.setPen(QPen(kTitleTop.darker(160), s / 32));
    p.setBrush(g);
    p.drawPath(bubble);
    // A stylised "V" of two strokes.
    p.setPen(QPen(Qt::white, s * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(s * 0.3, s * 0.24), QPointF(s * 0.5, s * 0.58),
                              QPointF(s * 0.7, s * 0.24)}));
    return img;
}

// Ten 16-pixel cells on white (the mask colour): 0 group, 1-7 presence states, 8 waiting for an
// answer, 9 blocked.
QImage tree_strip() {
    QImage img(160, 16, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Folder.
    p.setPen(QPen(QColor(0xB0, 0x80, 0x20), 1));
    p.setBrush(QColor(0xF5, 0xC8, 0x4C));
    p.drawRect(QRectF(1.5, 4.5, 13, 9));
    p.drawRect(QRectF(1.5, 2.5, 5, 2));
    for (int s = 1; s <= 7; s++) presence_face(p, QRectF(s * 16 + 1, 1, 14, 14), s == 7 ? 0 : s);
    presence_face(p, QRectF(8 * 16 + 1, 1, 14, 14), 0);
    p.setPen(QPen(QColor(0xC0, 0x20, 0x20), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(9 * 16 + 2, 2, 12, 12));
    p.drawLine(QPointF(9 * 16 + 4, 12), QPointF(9 * 16 + 12, 4));
    return img;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_images OUTDIR\n");
        return 2;
    }
    QString out = QString::fromLocal8Bit(argv[1]);
    QString skin = out + "/skin", icons = out + "/icons";
    QDir().mkpath(skin);
    QDir().mkpath(icons);
    bool ok = true;
    ok &= save(title_piece(1), skin, 190);
    ok &= save(title_piece(8), skin, 191);
    ok &= save(title_piece(18), skin, 189);
    // Dialog close button 41 wide: normal 186, hover 187, pressed 188.
    ok &= save(title_button(41, 0, 0), skin, 186);
    ok &= save(title_button(41, 1, 0), skin, 187);
    ok &= save(title_button(41, 2, 0), skin, 188);
    // Main window buttons 21 wide; ids are normal, hover, pressed.
    const int sets[4][4] = {{0, 200, 199, 198}, {1, 204, 205, 206}, {2, 207, 208, 209},
                            {3, 203, 202, 201}};
    for (const auto& s : sets)
        for (int state = 0; state < 3; state++) ok &= save(title_button(21, state, s[0]), skin, s[1 + state]);
    ok &= save(button_background(), skin, 194);
    ok &= save(background(300, kPale), skin, 193);
    ok &= save(background(600, kPale), skin, 192);
    ok &= save(background(1200, kPale), skin, 195);

    ok &= save(app_icon(64), icons, 128);
    ok &= save(app_icon(256), icons, 1128);
    // Tray icons: 139 online, 140 away, 141 right back, 142 lunch, 143 busy, 144 phone, 145 offline.
    const int tray[7][2] = {{139, 1}, {140, 3}, {141, 4}, {142, 6}, {143, 2}, {144, 5}, {145, 0}};
    for (const auto& t : tray) {
        QImage img(32, 32, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        presence_face(p, QRectF(0, 0, 32, 32), t[1]);
        p.end();
        ok &= save(img, icons, t[0]);
    }
    ok &= save(tree_strip(), icons, 147);
    return ok ? 0 : 1;
}
