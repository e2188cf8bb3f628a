#include "ui/skin/palette.h"

#include <QHash>
#include <QString>

// The first palette; the program's other six palettes are never used and repeat it.
#define PARLO_FIRST_PALETTE                                                                     \
    {0xE00000, 0xE0,     0xFFD0B0, 0xFF8040, 0xFFC080, 0xF0C080, 0xFFF0E0, 0xF4C080, 0xFFE0C0, \
     0xFF5028, 0xFFB040, 0xFFFCFA, 0xFFF8F0, 0xFFE0AC, 0xF0914D, 0x808080, 0xFFFFFF, 0xD0D0D0, \
     0x804040, 0xE0C0C0, 0xE08080, 0xFFF0F0, 0xC04040, 194,      192,      193,      195,      \
     196,      188,      198,      187,      199,      186,      200,      206,      205,      \
     204,      201,      202,      203,      209,      208,      207,      226,      190,      \
     191,      189,      197,      263,      260,      259,      493,      495,      261,      \
     262,      250,      221,      214,      249,      224,      240,      218,      211}

const unsigned g_skin_palettes[7][kPaletteSize] = {PARLO_FIRST_PALETTE, PARLO_FIRST_PALETTE,
                                                   PARLO_FIRST_PALETTE, PARLO_FIRST_PALETTE,
                                                   PARLO_FIRST_PALETTE, PARLO_FIRST_PALETTE,
                                                   PARLO_FIRST_PALETTE};
unsigned g_skin[kPaletteSize] = PARLO_FIRST_PALETTE;
#undef PARLO_FIRST_PALETTE

QColor bgr_colour(unsigned v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

QColor skin_colour(int entry) {
    if (entry < 0 || entry > 22) return QColor();
    return bgr_colour(g_skin[entry]);
}

QPixmap resource_image(int number) {
    static QHash<int, QPixmap> cache;
    auto it = cache.find(number);
    if (it != cache.end()) return *it;
    QPixmap p(QStringLiteral(":/skin/%1.png").arg(number));
    if (p.isNull()) p = QPixmap(QStringLiteral(":/icons/%1.png").arg(number));
    cache.insert(number, p);
    return p;
}

QPixmap skin_bitmap(int entry) {
    if (entry < 23 || entry >= kPaletteSize) return QPixmap();
    return resource_image(static_cast<int>(g_skin[entry]));
}
