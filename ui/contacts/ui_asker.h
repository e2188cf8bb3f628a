// The questions the session asks the user in the desktop application (a contact added or removed
// you, offline messages wait, a contact offers a file) and its reports, in the user's language.
// GUI thread only.
#pragma once
#include "protocol/session_controller.h"

class file_transfer_ui;

class ui_question_asker : public question_asker {
public:
    void set_transfers(file_transfer_ui* transfers) { m_transfers = transfers; }
    void show_text(const user_text& text) override;
    int ask_added_me(const contact_record& c, const user_text& text) override;
    int ask_removed_me(const contact_record& c, const user_text& text) override;
    int ask_read_offline(const user_text& text) override;
    int ask_file_offer(const contact_record& c, const user_text& text, const char* offered_name,
                       std::string* folder, std::string* save_as) override;

private:
    file_transfer_ui* m_transfers = nullptr;
};
