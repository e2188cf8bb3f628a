// Shared pieces of the contact-window tests: filling the tables, and message boxes that record
// their texts and answer from a script.
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "platform/message_box.h"

struct recorded_boxes : message_box_handler {
    std::vector<std::string> texts;
    std::deque<int> answers;  // the next answers to questions; No when empty
    recorded_boxes();
    ~recorded_boxes() override;
    void show_message(const char* text) override { texts.push_back(text); }
    int ask_yes_no(const char* text) override;
    int ask_yes_no_cancel(const char* text) override;
    std::string last() const { return texts.empty() ? std::string() : texts.back(); }
};

void reset_tables();
// Adds an in-use contact record; returns its slot.
int put_contact(int id, int group, const char* nick, int presence = 0, int relation = 3,
                const char* first = "First", const char* last = "Last",
                const char* email = nullptr);
void put_group(int id, const char* name);
void set_contact_group(int id, int group);
