// Prints every notification the core raises as one JSON line, after the session controller did
// its protocol side. Readable fields (names, states, texts) are added to the numbers. What the
// client does with each notification is one row of one table (cli_routes()).
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "protocol/notify.h"
#include "protocol/texts.h"

class cli_app;
class json_line;
struct contact_record;

// A notification as the steps of a row see it; id is wparam as a contact, peer or group id.
struct cli_note {
    int n;
    intptr_t wparam;
    intptr_t lparam;
    int id;
};

// How the headless client handles notification n, all in one row.
// - window: what a peer's chat window does with n when it is posted to it, on the posting thread
//   (null: hands it on to the main thread as it is).
// - own: on the main thread, the whole handling of n in place of the common line (null: the
//   common line below).
// - The common line: {"n", "w", "l", "event"} (w or l printed as 0 when w_points or l_points, as
//   they point at data), the fields of before (read before the controller changes or drops the
//   record), the controller's handle(), the fields of after (false: no line), then the
//   controller's text.
struct cli_route {
    int n;
    void (*window)(cli_app& app, int peer_id, int n, intptr_t wparam, intptr_t lparam,
                   note_payload owned);
    void (*own)(cli_app& app, const cli_note& note);
    bool w_points;
    bool l_points;
    void (*before)(json_line& j, const cli_note& note);
    bool (*after)(cli_app& app, json_line& j, const cli_note& note, user_text& text);
};
// Every notification the client can receive, sorted by number, one row each.
std::span<const cli_route> cli_routes();
// The row of n; a number without one gets the common line with nothing added.
const cli_route& cli_route_for(int n);

// Main thread: the row's steps for notification n.
void on_notification(cli_app& app, int n, intptr_t wparam, intptr_t lparam);

// JSON object describing one contact (also used by the "contacts" command).
std::string contact_json(const contact_record& c);
