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

// Ids of the window texts.
enum ui_text_id {
    T_ABOUT_MENU = 101,
    T_SOCKETS_FAILED = 103,
    T_OPEN_MESSENGER = 148,
    T_SIGN_OUT = 149,
    T_SIGN_IN = 150,
    T_EXIT = 151,
    T_ONLINE = 152,
    T_OFFLINE = 153,
    T_MY_STATUS = 160,
    T_ADD_GROUP = 161,
    T_ADD_CONTACT = 164,
    T_EMAIL_BLANK = 176,
    T_EMAIL_COLON = 177,
    T_LOGIN_FAILED = 191,
    T_ADD_NEEDS_LOGIN = 214,
    T_LOGGED_IN_ELSEWHERE = 224,
    T_BECOME_ONLINE = 225,
    T_ABOUT = 229,
    T_SEND_FEEDBACK = 230,
    T_WEB_CONFERENCE = 231,
    T_CAPTION = 2001,
    T_WELCOME = 1002,
    T_REGISTER = 2003,
    T_STATUS = 2004,
    T_MENU = 2005,
    T_FORGET_PASSWD = 2006,
    T_STATUS_ONLINE = 2007,
    T_TRAY_TIP = 2008,
    T_TRAY_TIP_STATE = 2009,
    T_MESSAGE = 2010,
    T_OK = 2011,
    T_CANCEL = 2012,
    T_YES_CAPS = 2013,
    T_NO = 2014,
    T_YES = 2015,
    T_EVENT = 2016,
    T_ABOUT_CAPTION = 2017,
    T_VERSION = 2018,
    T_ABOUT_LINE2 = 2019,
    T_EMAIL_LABEL = 2020,
    T_PASSWORD_LABEL = 2021,
    T_REMEMBER_EMAIL = 2022,
    T_REMEMBER_PASSWD = 2023,
    T_KNOCK_FROM = 1001,
    T_CONNECTING = 1009,
    T_UNKNOWN = 2025,
    T_QUESTION_FROM = 2026,
    T_OFFER_WAITED = 2027,
    T_OFFER_WITHDRAWN = 2028,
    T_NO_CAMERA = 2029,
};

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
// Loads and installs the translation of "en" or "zh" from the compiled-in .qm files. Returns
// false when none could be loaded (the English words remain).
bool install_language(QCoreApplication* app, const QString& language);
