#include "support.h"

#include <cstdio>

#include "platform/text.h"
#include "protocol/tables.h"

recorded_boxes::recorded_boxes() {
    set_message_box_handler(this);
}
recorded_boxes::~recorded_boxes() {
    set_message_box_handler(nullptr);
}

int recorded_boxes::ask_yes_no(const char* text) {
    texts.push_back(text);
    if (answers.empty()) return ANSWER_NO;
    int a = answers.front();
    answers.pop_front();
    return a;
}

int recorded_boxes::ask_yes_no_cancel(const char* text) {
    return ask_yes_no(text);
}

void reset_tables() {
    clear_all_tables();
}

int put_contact(int id, int group, const char* nick, int presence, int relation, const char* first,
                const char* last, const char* email) {
    tables_guard lk(tables_mutex());
    add_one_contact(id, group, nick);
    int slot = get_contact_index(id);
    if (slot < 0) return -1;
    contact_record& c = g_contact[slot];
    c.presence = presence;
    c.relation_state = relation;
    copy_text(c.first_name, first);
    copy_text(c.last_name, last);
    char mail[64];
    std::snprintf(mail, sizeof(mail), "user%d@example.org", id);
    copy_text(c.email, email ? email : mail);
    return slot;
}

void put_group(int id, const char* name) {
    tables_guard lk(tables_mutex());
    add_one_contact_group(id, name);
}

void set_contact_group(int id, int group) {
    tables_guard lk(tables_mutex());
    int i = get_contact_index(id);
    if (i >= 0) g_contact[i].group_id = group;
}

#include "tests.h"

std::vector<test_factory>& all_tests() {
    static std::vector<test_factory> tests;
    return tests;
}
