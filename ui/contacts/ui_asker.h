// The questions the session asks the user in the desktop application: a contact added or removed
// you, offline messages wait, a contact offers a file. GUI thread only.
#pragma once
#include "protocol/session_controller.h"

class file_transfer_ui;

class ui_question_asker : public question_asker {
public:
    void set_transfers(file_transfer_ui* transfers) { m_transfers = transfers; }
    int ask_added_me(const contact_record& c, const char* text) override;
    int ask_removed_me(const contact_record& c, const char* text) override;
    int ask_read_offline(const char* text) override;
    int ask_file_offer(const contact_record& c, const char* text, const char* offered_name,
                       std::string* folder, std::string* save_as) override;

private:
    file_transfer_ui* m_transfers = nullptr;
};
