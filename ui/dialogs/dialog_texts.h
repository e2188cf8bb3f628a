// Texts of the contact, group, offline-message, registration and file-transfer windows (ids
// 2101 up of the text table; the string table's own ids are used where a window shows one), and
// the message boxes that show texts by id through the core's hook.
#pragma once
#include <QString>
#include <QStringList>

#include "ui/common/texts.h"

enum contact_text_id {
    T_REG_EMAIL = 2101,
    T_REG_PASSWORD,
    T_REG_FIRST,
    T_REG_LAST,
    T_REG_NICK,
    T_REG_PHONE,
    T_REG_COUNTRY,
    T_RESET,
    T_SEARCH_CAPTION,
    T_SEARCH_PROMPT,
    T_SEARCH,
    T_ADD_CONFIRM_PROMPT,
    T_FIRST_LABEL,
    T_LAST_LABEL,
    T_NICK_LABEL,
    T_ADD,
    T_GROUP_PROMPT,
    T_OFFLINE_TO,
    T_SEND_ON_RETURN,
    T_SEND,
    T_CLEAR,
    T_CLOSE,
    T_OFFLINE_FROM,
    T_DISCARD,
    T_SAVE,
    T_TEXT_FILES,
    T_ALL_FILES,
    T_FIRST_NAME,
    T_LAST_NAME,
    T_EMAIL,
    T_NICK_NAME,
    T_DEFAULT_GROUP,
    T_SENDING_TO,
    T_RECEIVING_FROM,
    T_BYTES_OF,
    T_PER_SECOND,
    T_TIME_LEFT,
    T_SENT_BYTES,
    T_SAVED_BYTES,
    T_STOPPED_AFTER,
    T_WHY_CLOSED,
    T_WHY_SILENT,
    T_WHY_WRITE,
    T_WHY_REPLACED,
    T_WHY_STOPPED,
    T_WHY_UNKNOWN,
    T_WHY_OPEN,
    T_WHY_CONNECT,
    T_WHY_READ,
    T_WHY_REFUSED,
};

// Message boxes with the text of an id (arguments fill %s and %d in order).
void ui_show(int id, const QStringList& args = {});
void ui_show_text(const QString& text);
int ui_ask_yes_no(int id, const QStringList& args = {});
int ui_ask_yes_no_cancel(const QString& text);
