// Prints every notification the core raises as one JSON line, after the session controller did
// its protocol side. Readable fields (names, states, texts) are added to the numbers.
#pragma once
#include <cstdint>
#include <string>

class cli_app;
struct contact_record;

void on_notification(cli_app& app, int n, intptr_t wparam, intptr_t lparam);

// JSON object describing one contact (also used by the "contacts" command).
std::string contact_json(const contact_record& c);
