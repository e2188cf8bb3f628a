// Every user-visible text of the core has an id: 101-231 from the string table, 1001 and up for
// texts we added. The core hands out ids with their arguments (user_text); a front end turns them
// into words in the user's language. The English set lives here and serves the headless client.
#pragma once
#include <string>
#include <vector>

// The ids by name and the core's English words, generated from resources/i18n/texts.tsv.
#include "protocol/text_ids.h"

// The English text, "" for an unknown id (or 101/103, which have no English).
const char* text_english(int id);
// Every id in the table, ours above 1000 included, in ascending order.
const std::vector<int>& all_text_ids();

struct user_text {
    int id = TXT_NONE;
    std::vector<std::string> args;
    bool empty() const { return id == TXT_NONE; }
};

inline user_text make_text(int id, std::vector<std::string> args = {}) {
    return user_text{id, std::move(args)};
}

// Fills %s / %d (and %%) of pattern in order from args, never reading past args; safe for any
// pattern. A placeholder without an argument becomes empty; any other % sequence stays as it is.
std::string format_text(const char* pattern, const std::vector<std::string>& args);
// format_text(text_english(t.id), t.args)
std::string english(const user_text& t);

// Message boxes with a text by id: a front end shows them in the user's language, headless they
// show the English words.
void show_user_text(const user_text& t);
int ask_user_yes_no(const user_text& t);
int ask_user_yes_no_cancel(const user_text& t);
