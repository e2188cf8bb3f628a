// User texts of the contact, group, registration and file dialogs by string-table id, in the
// user's language (translation context "texts"), and the message boxes that show them.
#pragma once
#include <QString>
#include <QStringList>

// The text of a string-table id; an unknown id gives an empty text.
QString ui_text(int id);
// The same with each "%s" or "%d" filled, in order, from args.
QString ui_text(int id, const QStringList& args);
// Fills "%s" and "%d" of format in order; "%%" stands for a percent sign.
QString fill_text(const QString& format, const QStringList& args);

// The message boxes of the platform layer (the application installs the skinned ones).
void ui_show(int id, const QStringList& args = {});
void ui_show_text(const QString& text);
int ui_ask_yes_no(int id, const QStringList& args = {});
int ui_ask_yes_no_cancel(const QString& text);
