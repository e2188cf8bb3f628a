#include "ui/contacts/ui_asker.h"

#include "platform/message_box.h"
#include "ui/dialogs/ui_text.h"
#include "ui/transfer/file_transfer_ui.h"

namespace {
QStringList four_texts(const contact_record& c) {
    return {QString::fromUtf8(c.display_name), QString::fromUtf8(c.first_name),
            QString::fromUtf8(c.last_name), QString::fromUtf8(c.email)};
}
}  // namespace

int ui_question_asker::ask_added_me(const contact_record& c, const char*) {
    return ui_ask_yes_no_cancel(ui_text(212, four_texts(c)));
}

int ui_question_asker::ask_removed_me(const contact_record& c, const char*) {
    return ui_ask_yes_no_cancel(ui_text(213, four_texts(c)));
}

int ui_question_asker::ask_read_offline(const char*) { return ui_ask_yes_no(206); }

int ui_question_asker::ask_file_offer(const contact_record& c, const char* text,
                                      const char* offered_name, std::string*,
                                      std::string* save_as) {
    if (!m_transfers) return question_asker::ask_file_offer(c, text, offered_name, nullptr, save_as);
    return m_transfers->ask_offer(c, offered_name, save_as);
}
