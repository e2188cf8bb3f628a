// The desktop application's asker: the session's questions (a contact added or removed you,
// offline messages wait, a contact offers a file) as non-modal dialogs of the main window's
// session_questions, and its reports as notices, in the user's language.
//
// Threads: the controller calls it on the session thread. Nothing here waits for the user: every
// question is handed to the GUI thread and answered ANSWER_CANCEL (the offline question
// ANSWER_NO) at once; the user's answer comes back later through the controller's entry points.
#pragma once
#include "ui/common/questions.h"

class ui_question_asker : public qt_question_asker {
public:
    // Reports go through the dialogs' message-box hook (a notice when off the GUI thread).
    void show_text(const user_text& text) override;
};
