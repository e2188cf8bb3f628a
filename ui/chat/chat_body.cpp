#include "ui/chat/chat_body.h"

#include <cstring>

void chat_attribute_bytes(const chat_attributes& a, unsigned char out[5]) {
    out[0] = static_cast<unsigned char>(a.colour.red());
    out[1] = static_cast<unsigned char>(a.colour.green());
    out[2] = static_cast<unsigned char>(a.colour.blue());
    out[3] = static_cast<unsigned char>(a.size);
    out[4] = static_cast<unsigned char>(a.style);
}

bool parse_chat_body(const char* body, int len, chat_line* out) {
    if (!body || len < 6) return false;
    const auto* a = reinterpret_cast<const unsigned char*>(body + len - 5);
    out->attrs.colour = QColor(a[0], a[1], a[2]);
    out->attrs.size = a[3];
    out->attrs.style = a[4];
    size_t n = strnlen(body, static_cast<size_t>(len - 5));
    QString text = QString::fromUtf8(body, static_cast<qsizetype>(n));
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
