// Texts of the contact, group, offline-message, registration and file-transfer windows (ids
// 2101 up of the text table; the string table's own ids are used where a window shows one), and
// the message boxes that show texts by id through the core's hook.
#pragma once
#include <QString>
#include <QStringList>

#include "ui/common/texts.h"

// Message boxes with the text of an id (arguments fill %s and %d in order).
void ui_show(int id, const QStringList& args = {});
void ui_show_text(const QString& text);
int ui_ask_yes_no(int id, const QStringList& args = {});
int ui_ask_yes_no_cancel(const QString& text);
