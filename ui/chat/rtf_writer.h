// Writes a rich-text document as RTF 1.x: one font, a colour table of the colours used, the size
// in half points and bold, italic, underline and strike-out per run; characters outside ASCII as
// Unicode escapes with a '?' fallback, so word processors open it with its looks intact.
#pragma once
#include <QByteArray>

class QTextDocument;

QByteArray document_to_rtf(const QTextDocument& doc);
