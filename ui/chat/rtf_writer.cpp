#include "ui/chat/rtf_writer.h"

#include <QColor>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <vector>

namespace {

void append_escaped(QByteArray& out, const QString& text) {
    for (qsizetype i = 0; i < text.size(); i++) {
        char16_t c = text.at(i).unicode();
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\t') {
            out += "\\tab ";
        } else if (c == 0x2028 || c == 0x2029 || c == '\n') {
            out += "\\line ";
        } else if (c >= 0x20 && c < 0x80) {
            out += static_cast<char>(c);
        } else if (c >= 0x80) {
            // RTF takes a signed 16-bit number per UTF-16 unit.
            out += "\\u" + QByteArray::number(static_cast<int>(static_cast<int16_t>(c))) + '?';
        }
    }
}

}  // namespace

QByteArray document_to_rtf(const QTextDocument& doc) {
    std::vector<QRgb> colours;
    auto colour_index = [&colours](const QColor& c) {
        QRgb rgb = c.rgb();
        for (size_t i = 0; i < colours.size(); i++)
            if (colours[i] == rgb) return static_cast<int>(i) + 1;
        colours.push_back(rgb);
        return static_cast<int>(colours.size());
    };

    QByteArray body;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextFragment f = it.fragment();
            if (!f.isValid()) continue;
            QTextCharFormat fmt = f.charFormat();
            QColor colour = fmt.foreground().color();
            double points =
                fmt.fontPointSize() > 0 ? fmt.fontPointSize() : doc.defaultFont().pointSizeF();
            if (points <= 0) points = 9;
            body += "{\\cf" + QByteArray::number(colour_index(colour)) + "\\fs" +
                    QByteArray::number(static_cast<int>(points * 2 + 0.5));
            if (fmt.fontWeight() >= QFont::Bold) body += "\\b";
            if (fmt.fontItalic()) body += "\\i";
            if (fmt.fontUnderline()) body += "\\ul";
            if (fmt.fontStrikeOut()) body += "\\strike";
            body += ' ';
            append_escaped(body, f.text());
            body += '}';
        }
        if (block.next().isValid()) body += "\\par\n";
    }

    QByteArray out =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fswiss Arial;}}\n{\\colortbl;";
    for (QRgb c : colours)
        out += "\\red" + QByteArray::number(qRed(c)) + "\\green" + QByteArray::number(qGreen(c)) +
               "\\blue" + QByteArray::number(qBlue(c)) + ';';
    out += "}\n\\f0 ";
    out += body;
    out += "\\par\n}\n";
    return out;
}
