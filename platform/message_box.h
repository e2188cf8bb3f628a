// Message boxes as the core sees them. A user interface registers real dialogs with
// set_message_box_handler; without one (headless), the text goes to the log sink and stderr and
// questions take the default answer (No unless set_default_answer says otherwise).
#pragma once
#include <string>
#include <vector>

enum message_box_answer { ANSWER_CANCEL = 2, ANSWER_YES = 6, ANSWER_NO = 7 };

struct message_box_handler {
    virtual ~message_box_handler() = default;
    virtual void show_message(const char* text) = 0;
    virtual int ask_yes_no(const char* text) = 0;         // ANSWER_YES or ANSWER_NO
    virtual int ask_yes_no_cancel(const char* text) = 0;  // ANSWER_YES, ANSWER_NO or ANSWER_CANCEL
    // A text of the text table by id with its arguments, and the same text in English. A front
    // end that speaks other languages shows the id's words; by default the English goes to the
    // plain calls above.
    virtual void show_text(int id, const std::vector<std::string>& args, const char* english) {
        (void)id, (void)args;
        show_message(english);
    }
    virtual int ask_text_yes_no(int id, const std::vector<std::string>& args, const char* english) {
        (void)id, (void)args;
        return ask_yes_no(english);
    }
    virtual int ask_text_yes_no_cancel(int id, const std::vector<std::string>& args,
                                       const char* english) {
        (void)id, (void)args;
        return ask_yes_no_cancel(english);
    }
};

// Installs the UI's dialogs (nullptr returns to headless behaviour). The handler must outlive its use.
void set_message_box_handler(message_box_handler* handler);

// Headless: where message texts are logged (the debug log installs itself here).
using message_log_sink = void (*)(const char* text);
void set_message_log_sink(message_log_sink sink);

// Headless answer to questions (ANSWER_YES or ANSWER_NO).
void set_default_answer(int answer);

void show_message(const char* format, ...) __attribute__((format(printf, 1, 2)));
int ask_yes_no(const char* format, ...) __attribute__((format(printf, 1, 2)));
int ask_yes_no_cancel(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same by id (protocol/texts.h wraps them for a user_text): the English words go to the log
// sink and stderr when headless.
void show_text_message(int id, const std::vector<std::string>& args, const std::string& english);
int ask_text_yes_no(int id, const std::vector<std::string>& args, const std::string& english);
int ask_text_yes_no_cancel(int id, const std::vector<std::string>& args,
                           const std::string& english);
