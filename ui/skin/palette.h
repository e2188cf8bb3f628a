// The skin palette: 63 values, entries 0-22 colours (0x00BBGGRR), entries 23-62 bitmap numbers.
// The program keeps seven palettes and uses the first; the images are drawn by the build
// (ui/tools/draw_images.cpp) and compiled in under :/skin and :/icons.
#pragma once
#include <QColor>
#include <QPixmap>

constexpr int kPaletteSize = 63;
extern const unsigned g_skin_palettes[7][kPaletteSize];
// The palette in use (a copy of the first at start).
extern unsigned g_skin[kPaletteSize];

// Palette roles used by the dialogs and controls.
enum skin_entry {
    SKIN_TEXT = 0,
    SKIN_EDIT_DARK = 3,
    SKIN_FRAME_LEFT = 4,
    SKIN_FRAME_BOTTOM = 6,
    SKIN_FRAME_RIGHT = 7,
    SKIN_SCROLL_HATCH = 8,
    SKIN_SCROLL_EDGE1 = 10,
    SKIN_SCROLL_EDGE2 = 11,
    SKIN_TITLE_STRIP = 14,
    SKIN_BUTTON_PRESSED = 18,
    SKIN_BUTTON_FRAME = 19,
    SKIN_BUTTON_FOCUS = 20,
    SKIN_BUTTON_BG = 23,
    SKIN_BG_MIDDLE = 24,
    SKIN_BG_SMALL = 25,
    SKIN_BG_LARGE = 26,
    SKIN_CLOSE_PRESSED = 28,
    SKIN_MAIN_CLOSE_PRESSED = 29,
    SKIN_CLOSE_HOVER = 30,
    SKIN_MAIN_CLOSE_HOVER = 31,
    SKIN_CLOSE_NORMAL = 32,
    SKIN_MAIN_CLOSE_NORMAL = 33,
    SKIN_MAX_PRESSED = 34,
    SKIN_MAX_HOVER = 35,
    SKIN_MAX_NORMAL = 36,
    SKIN_MIN_PRESSED = 37,
    SKIN_MIN_HOVER = 38,
    SKIN_MIN_NORMAL = 39,
    SKIN_RESTORE_PRESSED = 40,
    SKIN_RESTORE_HOVER = 41,
    SKIN_RESTORE_NORMAL = 42,
    SKIN_TITLE_MIDDLE = 44,
    SKIN_TITLE_LEFT = 45,
    SKIN_TITLE_PIECE = 46,
};

// 0x00BBGGRR to a QColor.
QColor bgr_colour(unsigned value);
// Colour entry of the palette in use.
QColor skin_colour(int entry);
// The bitmap an entry names (cached; a null pixmap when the image is missing).
QPixmap skin_bitmap(int entry);
// An image of the program by its resource number (:/icons/N.png or :/skin/N.png).
QPixmap resource_image(int number);
