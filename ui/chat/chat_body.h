// The chat-text body as a window builds and reads it: "name:text" cut to 2000 bytes at a whole
// UTF-8 character, a zero byte, then red, green, blue, the size in points and the style bits
// (1 bold, 2 italic, 4 underline, 8 strike-out).
#pragma once
#include <QColor>
#include <QString>
#include <string>

struct chat_attributes {
    QColor colour{64, 64, 224};
    int size = 8;
    int style = 0;
};

enum chat_style_bit { STYLE_BOLD = 1, STYLE_ITALIC = 2, STYLE_UNDERLINE = 4, STYLE_STRIKE = 8 };

// The five attribute bytes of a window's current choices.
void chat_attribute_bytes(const chat_attributes& a, unsigned char out[5]);

// A received body split into its text (at most 4095 characters, line ends as "\n") and its
// attributes. False when the body is too short to hold the five attribute bytes.
struct chat_line {
    QString text;
    chat_attributes attrs;
};
bool parse_chat_body(const char* body, int len, chat_line* out);

// The text typed into the input as it leaves the window: at most max_chars characters (never
// half a surrogate pair), line ends sent as "\r\n".
std::string chat_wire_text(const QString& typed, int max_chars);
