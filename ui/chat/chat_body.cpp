#include "ui/chat/chat_body.h"

#include <cstring>

#include "protocol/session_controller.h"

void chat_attribute_bytes(const chat_attributes& a, unsigned char out[5]) {
    chat_style s;
    s.colour = a.colour.rgb() & 0xFFFFFF;
    s.size = a.size;
    s.style = a.style;
    chat_style_bytes(s, out);
}

bool parse_chat_body(const char* body, int len, chat_line* out) {
    std::string bytes;
    chat_style style;
    if (!split_chat_body(body, len, &bytes, &style)) return false;
    out->attrs.colour = QColor::fromRgb(style.colour);
    out->attrs.size = style.size;
    out->attrs.style = style.style;
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (text.size() > 4095) text.truncate(text.at(4094).isHighSurrogate() ? 4094 : 4095);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    out->text = text;
    return true;
}

std::string chat_wire_text(const QString& typed, int max_chars) {
    QString t = typed;
    if (t.size() > max_chars)
        t.truncate(t.at(max_chars - 1).isHighSurrogate() ? max_chars - 1 : max_chars);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QChar('\n'), QStringLiteral("\r\n"));
    return t.toStdString();
}
