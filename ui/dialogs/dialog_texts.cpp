#include "ui/dialogs/dialog_texts.h"

#include "platform/message_box.h"

void ui_show_text(const QString& text) {
    show_message("%s", text.toUtf8().constData());
}

void ui_show(int id, const QStringList& args) {
    ui_show_text(ui_text(id, args));
}

int ui_ask_yes_no(int id, const QStringList& args) {
    return ask_yes_no("%s", ui_text(id, args).toUtf8().constData());
}

int ui_ask_yes_no_cancel(const QString& text) {
    return ask_yes_no_cancel("%s", text.toUtf8().constData());
}
