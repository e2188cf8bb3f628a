#include "protocol/texts.h"

#include <algorithm>
#include <cstring>

#include "platform/message_box.h"

namespace {
struct entry {
    int id;
    const char* english;
};

constexpr entry kTable[] = {
#define PARLO_TEXT_ROW(name, id, english) {id, english},
    PARLO_TEXT_TABLE(PARLO_TEXT_ROW)
#undef PARLO_TEXT_ROW
};
}  // namespace

const char* text_english(int id) {
    for (const entry& e : kTable)
        if (e.id == id) return e.english;
    return "";
}

const std::vector<int>& all_text_ids() {
    static const std::vector<int> ids = [] {
        std::vector<int> v;
        for (const entry& e : kTable) v.push_back(e.id);
        std::sort(v.begin(), v.end());
        return v;
    }();
    return ids;
}

std::string format_text(const char* pattern, const std::vector<std::string>& args) {
    std::string out;
    if (!pattern) return out;
    size_t next = 0;
    for (const char* p = pattern; *p; p++) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        char c = p[1];
        if (c == '%') {
            out += '%';
            p++;
        } else if (c == 's' || c == 'd') {
            if (next < args.size()) out += args[next];
            next++;
            p++;
        } else {
            out += '%';  // a lone or unknown % stays as written
        }
    }
    return out;
}

std::string english(const user_text& t) { return format_text(text_english(t.id), t.args); }

void show_user_text(const user_text& t) { show_text_message(t.id, t.args, english(t)); }
int ask_user_yes_no(const user_text& t) { return ask_text_yes_no(t.id, t.args, english(t)); }
int ask_user_yes_no_cancel(const user_text& t) {
    return ask_text_yes_no_cancel(t.id, t.args, english(t));
}
