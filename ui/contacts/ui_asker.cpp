#include "ui/contacts/ui_asker.h"

#include "platform/message_box.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/transfer/file_transfer_ui.h"

namespace {
QString words(const user_text& t) {
    QStringList args;
    for (const std::string& a : t.args) args << QString::fromUtf8(a.c_str());
    QString text = ui_text(t.id, args);
    // An id the window texts do not know yet still shows, in English.
    return text.isEmpty() ? QString::fromUtf8(english(t).c_str()) : text;
}
}  // namespace

void ui_question_asker::show_text(const user_text& text) {
    ui_show_text(words(text));
}

int ui_question_asker::ask_added_me(const contact_record&, const user_text& text) {
    return ui_ask_yes_no_cancel(words(text));
}

int ui_question_asker::ask_removed_me(const contact_record&, const user_text& text) {
    return ui_ask_yes_no_cancel(words(text));
}

int ui_question_asker::ask_read_offline(const user_text& text) {
    return ask_yes_no("%s", words(text).toUtf8().constData());
}

int ui_question_asker::ask_file_offer(const contact_record& c, const user_text& text,
                                      const char* offered_name, std::string* folder,
                                      std::string* save_as) {
    if (!m_transfers) return question_asker::ask_file_offer(c, text, offered_name, folder, save_as);
    return m_transfers->ask_offer(c, offered_name, save_as);
}
