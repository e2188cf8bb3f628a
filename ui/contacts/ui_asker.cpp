#include "ui/contacts/ui_asker.h"

#include "ui/dialogs/dialog_texts.h"

void ui_question_asker::show_text(const user_text& text) {
    ui_show_text(words(text));
}
