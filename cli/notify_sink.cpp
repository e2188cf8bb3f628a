#include "cli/notify_sink.h"

#include <algorithm>
#include <array>

#include "cli/cli_app.h"
#include "cli/cli_audio.h"
#include "cli/cli_chat.h"
#include "cli/cli_video.h"
#include "cli/json_out.h"
#include "protocol/commands.h"
#include "protocol/file_dispatch.h"
#include "protocol/session.h"
#include "protocol/tables.h"

namespace {
const char* incomplete_reason(intptr_t r) {
    switch (r) {
    case 1: return "connection closed";
    case 2: return "no data for 15 seconds";
    case 3: return "write failed";
    case 4: return "replaced by a new file";
    case 5: return "stopped";
    default: return "unknown";
    }
}

const char* send_failure(intptr_t r) {
    switch (r) {
    case 1: return "file could not be opened";
    case 2: return "connection failed";
    case 3: return "read failed";
    case 4: return "refused by the receiver";
    case 5: return "stopped";
    default: return "unknown";
    }
}

// The event name of notification n: its name in the command table.
const char* event_name(int n) {
    const char* name = notification_name(n);
    return name ? name : "notification";
}

const char* action_name(int action) {
    switch (action) {
    case ACTION_SIGN_IN: return "sign_in";
    case ACTION_SIGN_OUT: return "sign_out";
    case ACTION_CHAT_LINE: return "chat";
    case ACTION_KNOCK: return "knock";
    case ACTION_OFFLINE_MESSAGE: return "offline";
    case ACTION_FILE_OFFER: return "send_file";
    default: return "unknown";
    }
}

void add_contact_fields(json_line& j, int id) {
    contact_record c;
    if (!contact_by_id(id, &c)) return;
    j.add("nick", c.display_name).add("first", c.first_name).add("last", c.last_name)
        .add("email", c.email).add("presence", c.presence).add("presence_text", presence_word(c.presence));
}

void add_group_fields(json_line& j, int id) {
    group_record g;
    if (group_by_id(id, &g)) j.add("group_name", g.name);
}

// Steps of a chat window (posting thread).
void show_chat_text(cli_app& app, int, int n, intptr_t wparam, intptr_t lparam,
                    note_payload owned) {
    if (!owned) {
        app.dispatcher.post(n, wparam, lparam);
        return;
    }
    // The payload of a chat text is its chat_delivery (wparam points at its body).
    const auto* d = static_cast<const chat_delivery*>(owned.get());
    app.dispatcher.post(NM_CLI_CHAT_SHOW, reinterpret_cast<intptr_t>(d), 0, std::move(owned));
}
void skip_preview(cli_app&, int, int, intptr_t, intptr_t, note_payload) {
    // The preview is read by "snapshot me".
}
void queue_peer_frame(cli_app& app, int peer_id, int, intptr_t, intptr_t, note_payload) {
    cli_video_frame_decoded(app, peer_id);
}

// Steps that replace the common line (main thread).
void print_frames(cli_app&, const cli_note&) { cli_video_print_pending(); }
void print_chat_line(cli_app&, const cli_note& e) {
    print_chat_event(*reinterpret_cast<const chat_delivery*>(e.wparam));
}
void print_stats(cli_app&, const cli_note&) { cli_audio_stats_moved(); }
void print_levels(cli_app&, const cli_note& e) { cli_print_levels(e.n, e.wparam, e.lparam); }
void print_player(cli_app&, const cli_note& e) { cli_print_player(e.n, e.wparam, e.lparam); }
void hand_on_chat_line(cli_app& app, const cli_note& e) {
    // On its way to the chat window, which prints it.
    app.controller.handle(e.n, e.wparam, e.lparam);
}

// Fields read before the controller changes or drops the record.
void contact_before(json_line& j, const cli_note& e) { add_contact_fields(j, e.id); }
void previous_presence(json_line& j, const cli_note& e) {
    contact_record c;
    if (contact_by_id(e.id, &c)) j.add("previous_presence", c.presence);
}

// Fields read after the controller handled the notification.
bool presence_after(cli_app&, json_line& j, const cli_note& e, user_text&) {
    j.add("state_text", presence_word(static_cast<int>(e.lparam)));
    add_contact_fields(j, e.id);
    return true;
}
bool title_after(cli_app&, json_line& j, const cli_note&, user_text& text) {
    // The window title; not a text to show in a box.
    j.add("title", english(text)).add("title_id", text.id).add("user_id", g_user_id.load());
    text = {};
    return true;
}
bool found_after(cli_app& app, json_line& j, const cli_note&, user_text&) {
    found_contact f = get_found_contact();
    j.add("id", f.id).add("first", f.first_name).add("last", f.last_name)
        .add("nick", f.nick_name).add("email", f.email);
    if (app.add_when_found) {
        app.add_when_found = false;
        app.controller.add_found_contact();
        j.add_bool("adding", true);
    }
    return true;
}
bool added_after(cli_app&, json_line& j, const cli_note&, user_text&) {
    found_contact f = get_found_contact();
    j.add("id", f.id);
    add_contact_fields(j, f.id);
    return true;
}
bool groups_after(cli_app&, json_line& j, const cli_note&, user_text&) {
    std::string arr = "[";
    for (auto& g : groups_snapshot()) {
        if (arr.size() > 1) arr += ",";
        arr += json_line().add("id", g.group_id).add("name", g.name).str();
    }
    j.add_raw("groups", arr + "]");
    return true;
}
bool contacts_after(cli_app&, json_line& j, const cli_note&, user_text&) {
    j.add("contacts", static_cast<long long>(contacts_snapshot().size()));
    return true;
}
bool group_after(cli_app&, json_line& j, const cli_note& e, user_text&) {
    add_group_fields(j, e.id);
    return true;
}
bool chunk_after(cli_app&, json_line& j, const cli_note& e, user_text&) {
    j.add("chunk_length", static_cast<long long>(e.lparam));
    return true;
}
bool offline_message_after(cli_app& app, json_line& j, const cli_note& e, user_text&) {
    // The message just completed is the last one waiting from this sender.
    auto pending = app.controller.pending_offline();
    for (auto it = pending.rbegin(); it != pending.rend(); ++it)
        if (it->sender_id == e.id) {
            j.add("sender", it->label).add("message", it->text);
            break;
        }
    return true;
}
bool my_status_after(cli_app&, json_line& j, const cli_note& e, user_text&) {
    j.add("state_text", presence_label(e.id));
    return true;
}
bool knock_after(cli_app&, json_line& j, const cli_note& e, user_text& text) {
    // A knock from a blocked contact is not shown (and makes no sound).
    j.add_bool("shown", !text.empty());
    add_contact_fields(j, e.id);
    return true;
}
bool peer_after(cli_app&, json_line& j, const cli_note& e, user_text&) {
    j.add("peer", e.id);
    return true;
}
bool offer_after(cli_app&, json_line& j, const cli_note& e, user_text&) {
    contact_record c;
    if (contact_by_id(e.id, &c)) j.add("name", c.recv_file_name);
    return true;
}
// The transfer's name and path; false (nothing added) when the controller knows no such transfer.
bool add_transfer(cli_app& app, json_line& j, const cli_note& e, bool sending,
                  file_progress* out) {
    if (!app.controller.file_transfer_progress(e.id, sending, out)) return false;
    j.add("name", out->name).add("path", out->path);
    return true;
}
bool sent_after(cli_app& app, json_line& j, const cli_note& e, user_text&) {
    file_progress p;
    add_transfer(app, j, e, true, &p);
    return true;
}
bool send_progress_after(cli_app& app, json_line& j, const cli_note& e, user_text&) {
    file_progress p;
    if (!add_transfer(app, j, e, true, &p)) return true;
    j.add("bytes", static_cast<long long>(e.lparam)).add("total", static_cast<long long>(p.total));
    j.add_bool("finished", p.finished && !p.active && p.bytes == e.lparam);
    return true;
}
bool recv_progress_after(cli_app& app, json_line& j, const cli_note& e, user_text&) {
    file_progress p;
    if (add_transfer(app, j, e, false, &p)) j.add("bytes", static_cast<long long>(e.lparam));
    return true;
}
bool saved_after(cli_app& app, json_line& j, const cli_note& e, user_text&) {
    file_progress p;
    if (add_transfer(app, j, e, false, &p)) j.add("bytes", static_cast<long long>(p.bytes));
    return true;
}
bool incomplete_after(cli_app& app, json_line& j, const cli_note& e, user_text&) {
    file_progress p;
    if (add_transfer(app, j, e, false, &p))
        j.add("bytes", static_cast<long long>(p.bytes)).add("reason", incomplete_reason(e.lparam));
    return true;
}
bool send_failed_after(cli_app& app, json_line& j, const cli_note& e, user_text&) {
    file_progress p;
    if (add_transfer(app, j, e, true, &p))
        j.add("bytes", static_cast<long long>(p.bytes)).add("reason", send_failure(e.lparam));
    return true;
}
bool action_after(cli_app& app, json_line& j, const cli_note&, user_text&) {
    const action_result& r = app.controller.last_action();
    j.add("action", action_name(r.action)).add("peer", r.peer_id).add_bool("ok", r.code == 0);
    return true;
}
bool notice_after(cli_app&, json_line& j, const cli_note& e, user_text&) {
    j.add("notice", note_text(e.wparam, e.lparam));
    return true;
}
bool resume_after(cli_app& app, json_line& j, const cli_note&, user_text&) {
    // A report that came after the session was back or over says nothing new.
    if (!app.controller.resuming()) return false;
    j.add("attempt", app.controller.resume_attempt())
        .add("delay_ms", static_cast<long long>(app.controller.resume_delay()));
    return true;
}

// clang-format off
constexpr auto kRoutes = std::to_array<cli_route>({
    // n                                   window            own                w, l -> 0     before             after
    {NM_LOGIN_SUCCESS,                     nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_LOGIN_FAILED,                      nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_LOGIN_CLOSED,                      nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_GROUP_LIST,                        nullptr,          nullptr,           false, false, nullptr,           groups_after},
    {NM_CONTACT_LIST,                      nullptr,          nullptr,           false, false, nullptr,           contacts_after},
    {NM_CONTACT_STATUS,                    nullptr,          nullptr,           false, false, nullptr,           presence_after},
    {NM_CHAT_TEXT,                         show_chat_text,   nullptr,           false, false, nullptr,           nullptr},
    {NM_OPEN_CHAT,                         nullptr,          nullptr,           false, false, nullptr,           peer_after},
    {NM_WELCOME,                           nullptr,          nullptr,           false, false, nullptr,           title_after},
    {NM_OWN_VIDEO,                         skip_preview,     nullptr,           false, false, nullptr,           nullptr},
    {NM_PEER_VIDEO,                        queue_peer_frame, nullptr,           false, false, nullptr,           nullptr},
    {NM_REGISTER_SUCCESS,                  nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_REGISTER_ERROR,                    nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_REGISTER_EMAIL_EXISTS,             nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_CONTACT_FOUND,                     nullptr,          nullptr,           false, false, nullptr,           found_after},
    {NM_CONTACT_SEARCH_FAILED,             nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_CONTACT_NOT_FOUND,                 nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_CONTACT_ADD_SUCCESS,               nullptr,          nullptr,           false, false, nullptr,           added_after},
    {NM_CONTACT_ADD_FAILED,                nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_CONTACT_ALREADY_EXISTS,            nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_CONTACT_REMOVE_SUCCESS,            nullptr,          nullptr,           false, false, contact_before,    nullptr},
    {NM_CONTACT_REMOVE_FAILED,             nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_CONTACT_ADD_CONFIRM_SUCCESS,       nullptr,          nullptr,           false, false, nullptr,           presence_after},
    {NM_CONTACT_NOT_ADDED,                 nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_CONTACT_REMOVE_CONFIRM_SUCCESS,    nullptr,          nullptr,           false, false, contact_before,    nullptr},
    {NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS, nullptr,          nullptr,           false, false, nullptr,           presence_after},
    {NM_GROUP_REMOVE_SUCCESS,              nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_GROUP_ADD_SUCCESS,                 nullptr,          nullptr,           false, false, nullptr,           group_after},
    {NM_GROUP_ADD_FAILED,                  nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_GROUP_REMOVE_FAILED,               nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_GROUP_UPDATE_SUCCESS,              nullptr,          nullptr,           false, true,  nullptr,           group_after},
    {NM_GROUP_UPDATE_FAILED,               nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_OFFLINE_WAITING,                   nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_OFFLINE_BEGIN,                     nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_OFFLINE_TEXT,                      nullptr,          nullptr,           true,  false, nullptr,           chunk_after},
    {NM_OFFLINE_END,                       nullptr,          nullptr,           false, false, nullptr,           offline_message_after},
    {NM_TRAY_ICON,                         nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_SET_MY_STATUS,                     nullptr,          nullptr,           false, false, nullptr,           my_status_after},
    {NM_FILE_ASK,                          nullptr,          nullptr,           false, false, nullptr,           offer_after},
    {NM_FILE_ACCEPTED,                     nullptr,          nullptr,           false, false, nullptr,           sent_after},
    {NM_FILE_REFUSED,                      nullptr,          nullptr,           false, false, nullptr,           sent_after},
    {NM_FILE_DONE,                         nullptr,          nullptr,           false, false, nullptr,           saved_after},
    {NM_LOGGED_IN_ELSEWHERE,               nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_PEER_STATUS,                       nullptr,          nullptr,           false, false, previous_presence, presence_after},
    {NM_SERVER_NOTICE,                     nullptr,          nullptr,           true,  false, nullptr,           notice_after},
    {NM_SERVER_NOTICE2,                    nullptr,          nullptr,           true,  false, nullptr,           notice_after},
    {NM_KNOCK,                             nullptr,          nullptr,           false, false, nullptr,           knock_after},
    {NM_FILE_SEND_PROGRESS,                nullptr,          nullptr,           false, false, nullptr,           send_progress_after},
    {NM_FILE_RECV_PROGRESS,                nullptr,          nullptr,           false, false, nullptr,           recv_progress_after},
    {NM_FILE_RECV_INCOMPLETE,              nullptr,          nullptr,           false, false, nullptr,           incomplete_after},
    {NM_FILE_SEND_FAILED,                  nullptr,          nullptr,           false, false, nullptr,           send_failed_after},
    {NM_ACTION_DONE,                       nullptr,          nullptr,           false, false, nullptr,           action_after},
    {NM_CONNECTING,                        nullptr,          nullptr,           false, false, nullptr,           resume_after},
    {NM_CLI_CHAT_SHOW,                     nullptr,          print_chat_line,   false, false, nullptr,           nullptr},
    {NM_CLI_VIDEO_FRAME,                   nullptr,          print_frames,      false, false, nullptr,           nullptr},
    {NM_CLI_AUDIO_STATS,                   nullptr,          print_stats,       false, false, nullptr,           nullptr},
    {NM_MIC_LEVEL,                         nullptr,          print_levels,      false, false, nullptr,           nullptr},
    {NM_PEER_LEVEL,                        nullptr,          print_levels,      false, false, nullptr,           nullptr},
    {NM_PLAYER_STARTED,                    nullptr,          print_player,      false, false, nullptr,           nullptr},
    {NM_PLAYER_STOPPED,                    nullptr,          print_player,      false, false, nullptr,           nullptr},
    {NM_RELAY_CONNECTED,                   nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_RELAY_ROUTE,                       nullptr,          nullptr,           false, false, nullptr,           nullptr},
    {NM_PEER_CHAT_LINE,                    nullptr,          hand_on_chat_line, false, false, nullptr,           nullptr},
});
// clang-format on
// Strictly ascending: one row per number, found by binary search.
static_assert(std::adjacent_find(kRoutes.begin(), kRoutes.end(),
                                 [](const cli_route& a, const cli_route& b) {
                                     return a.n >= b.n;
                                 }) == kRoutes.end());
}  // namespace

std::string contact_json(const contact_record& c) {
    json_line j;
    j.add("id", c.contact_id).add("group", c.group_id).add("nick", c.display_name)
        .add("first", c.first_name).add("last", c.last_name).add("email", c.email)
        .add("presence", c.presence).add("presence_text", presence_word(c.presence))
        .add("relation", c.relation_state).add("home_server", c.home_server)
        .add("address", c.address);
    return j.str();
}


std::span<const cli_route> cli_routes() {
    return kRoutes;
}

const cli_route& cli_route_for(int n) {
    static constexpr cli_route kPlain{0, nullptr, nullptr, false, false, nullptr, nullptr};
    auto it = std::lower_bound(kRoutes.begin(), kRoutes.end(), n,
                               [](const cli_route& r, int number) { return r.n < number; });
    return it != kRoutes.end() && it->n == n ? *it : kPlain;
}

void on_notification(cli_app& app, int n, intptr_t wparam, intptr_t lparam) {
    const cli_route& r = cli_route_for(n);
    cli_note e{n, wparam, lparam, static_cast<int>(wparam)};
    if (r.own) {
        r.own(app, e);
        return;
    }
    // Notifications that carry their text point at it: the pointer means nothing to a script.
    json_line j;
    j.add("n", n).add("w", r.w_points ? 0LL : static_cast<long long>(wparam));
    j.add("l", r.l_points ? 0LL : static_cast<long long>(lparam));
    j.add("event", event_name(n));
    if (r.before) r.before(j, e);
    user_text text = app.controller.handle(n, wparam, lparam);
    if (r.after && !r.after(app, j, e, text)) return;
    if (!text.empty()) j.add("text", english(text)).add("text_id", text.id);
    j.print();
}
