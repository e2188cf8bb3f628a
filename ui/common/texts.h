// User texts of the desktop application. Every text has an id: 101-231 the string table, 1001 up
// the core's own texts (protocol/texts.h), 2001 up the captions and labels of the windows. The
// English words are the core's where it has them, else those of text_table.inc; the translations
// are in resources/i18n/*.ts (both generated from resources/i18n/texts.tsv). The language is
// chosen once at start-up by install_language().
#pragma once
#include <QString>
#include <QStringList>
#include <vector>

#include "protocol/texts.h"

class QCoreApplication;

// The ids by name (T_ for the windows' texts) are those of protocol/text_ids.h, generated from
// resources/i18n/texts.tsv.

// The English words of an id, or nullptr for an unknown id.
const char* ui_english(int id);
// Every id: the core's and the windows'.
std::vector<int> ui_text_ids();
// The text of id in the chosen language (the English words when no translation is installed).
QString ui_text(int id);
// The text of id with each %s or %d replaced by the next argument, in order; "%%" is "%". The
// arguments are inserted as they are: a '%' inside an argument is never read as a format.
QString ui_text(int id, const QStringList& args);
// A text the core handed out (its arguments are UTF-8).
QString ui_text(const user_text& text);
// A tool tip that shows text exactly as it is: Qt reads a tip that looks like markup as rich
// text, so text that came from the network (names, e-mail addresses) is escaped and marked as
// rich text, never interpreted.
QString plain_tool_tip(const QString& text);
// A name proposed in a save dialog: the dialog reads "a" "b" as two names, so double quotes are
// shown as single ones.
QString save_dialog_name(const QString& name);
// The English words of an id in the window table (text_table.inc) only.
const char* ui_table_english(int id);
QString fill_placeholders(const QString& pattern, const QStringList& args);

// Language code for the locale or --lang value: "zh" for zh*, else "en".
QString pick_language(const QString& lang_flag, const QString& locale_name);
// Loads and installs the translation of "en" or "zh" from the compiled-in .qm files, with Qt's
// own (qtbase, from Qt's translations folder) for Chinese, and makes the language the default
// locale. Returns false when ours could not be loaded (the English words remain).
bool install_language(QCoreApplication* app, const QString& language);
// Whether Qt's own translation (qtbase) is installed now.
bool qt_translation_installed();
