#include "cli/notify_sink.h"

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

// The transfer's name, path and counts (read after the controller handled the notification).
void add_file_fields(cli_app& app, json_line& j, int n, int id, intptr_t lparam) {
    bool sending = n == NM_FILE_ACCEPTED || n == NM_FILE_REFUSED || n == NM_FILE_SEND_PROGRESS ||
                   n == NM_FILE_SEND_FAILED;
    file_progress p;
    if (n == NM_FILE_ASK) {
        contact_record c;
        if (contact_by_id(id, &c)) j.add("name", c.recv_file_name);
        return;
    }
    if (!app.controller.file_transfer_progress(id, sending, &p)) return;
    j.add("name", p.name).add("path", p.path);
    switch (n) {
    case NM_FILE_SEND_PROGRESS:
        j.add("bytes", static_cast<long long>(lparam)).add("total", static_cast<long long>(p.total));
        j.add_bool("finished", p.finished && !p.active && p.bytes == lparam);
        break;
    case NM_FILE_RECV_PROGRESS: j.add("bytes", static_cast<long long>(lparam)); break;
    case NM_FILE_DONE: j.add("bytes", static_cast<long long>(p.bytes)); break;
    case NM_FILE_RECV_INCOMPLETE:
        j.add("bytes", static_cast<long long>(p.bytes)).add("reason", incomplete_reason(lparam));
        break;
    case NM_FILE_SEND_FAILED:
        j.add("bytes", static_cast<long long>(p.bytes)).add("reason", send_failure(lparam));
        break;
    default: break;
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

void on_notification(cli_app& app, int n, intptr_t wparam, intptr_t lparam) {
    if (n == NM_CLI_VIDEO_FRAME) {
        cli_video_print_pending();
        return;
    }
    if (n == NM_CLI_CHAT_SHOW) {
        print_chat_event(*reinterpret_cast<const chat_delivery*>(wparam));
        return;
    }
    if (cli_audio_notification(n, wparam, lparam)) return;
    if (n == NM_PEER_CHAT_LINE) {
        // On its way to the chat window, which prints it.
        app.controller.handle(n, wparam, lparam);
        return;
    }
    // Notifications that carry their text point at it: the pointer means nothing to a script.
    bool w_points = n == NM_SERVER_NOTICE || n == NM_SERVER_NOTICE2 || n == NM_OFFLINE_TEXT;
    bool l_points = n == NM_GROUP_UPDATE_SUCCESS;
    json_line j;
    j.add("n", n).add("w", w_points ? 0LL : static_cast<long long>(wparam));
    j.add("l", l_points ? 0LL : static_cast<long long>(lparam));
    j.add("event", event_name(n));
    int id = static_cast<int>(wparam);
    // Fields that must be read before the controller changes or drops the record.
    if (n == NM_CONTACT_REMOVE_SUCCESS || n == NM_CONTACT_REMOVE_CONFIRM_SUCCESS) add_contact_fields(j, id);
    if (n == NM_PEER_STATUS) {
        contact_record c;
        if (contact_by_id(id, &c)) j.add("previous_presence", c.presence);
    }

    user_text text = app.controller.handle(n, wparam, lparam);

    switch (n) {
    case NM_CONTACT_STATUS:
    case NM_PEER_STATUS:
    case NM_CONTACT_ADD_CONFIRM_SUCCESS:
    case NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS:
        j.add("state_text", presence_word(static_cast<int>(lparam)));
        add_contact_fields(j, id);
        break;
    case NM_WELCOME:
        // The window title; not a text to show in a box.
        j.add("title", english(text)).add("title_id", text.id).add("user_id", g_user_id.load());
        text = {};
        break;
    case NM_CONTACT_FOUND: {
        found_contact f = get_found_contact();
        j.add("id", f.id).add("first", f.first_name).add("last", f.last_name)
            .add("nick", f.nick_name).add("email", f.email);
        if (app.add_when_found) {
            app.add_when_found = false;
            app.controller.add_found_contact();
            j.add_bool("adding", true);
        }
        break;
    }
    case NM_CONTACT_ADD_SUCCESS: {
        found_contact f = get_found_contact();
        j.add("id", f.id);
        add_contact_fields(j, f.id);
        break;
    }
    case NM_GROUP_LIST: {
        std::string arr = "[";
        for (auto& g : groups_snapshot()) {
            if (arr.size() > 1) arr += ",";
            arr += json_line().add("id", g.group_id).add("name", g.name).str();
        }
        j.add_raw("groups", arr + "]");
        break;
    }
    case NM_CONTACT_LIST: j.add("contacts", static_cast<long long>(contacts_snapshot().size())); break;
    case NM_GROUP_ADD_SUCCESS:
    case NM_GROUP_UPDATE_SUCCESS: add_group_fields(j, id); break;
    case NM_OFFLINE_TEXT: j.add("chunk_length", static_cast<long long>(lparam)); break;
    case NM_OFFLINE_END:
    {
        // The message just completed is the last one waiting from this sender.
        auto pending = app.controller.pending_offline();
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            if (it->sender_id == id) {
                j.add("sender", it->label).add("message", it->text);
                break;
            }
        break;
    }
    case NM_SET_MY_STATUS: j.add("state_text", presence_label(id)); break;
    case NM_KNOCK:
        // A knock from a blocked contact is not shown (and makes no sound).
        j.add_bool("shown", !text.empty());
        add_contact_fields(j, id);
        break;
    case NM_OPEN_CHAT: j.add("peer", id); break;
    case NM_FILE_ASK:
    case NM_FILE_ACCEPTED:
    case NM_FILE_REFUSED:
    case NM_FILE_DONE:
    case NM_FILE_SEND_PROGRESS:
    case NM_FILE_RECV_PROGRESS:
    case NM_FILE_RECV_INCOMPLETE:
    case NM_FILE_SEND_FAILED: add_file_fields(app, j, n, id, lparam); break;
    case NM_ACTION_DONE: {
        const action_result& r = app.controller.last_action();
        j.add("action", action_name(r.action)).add("peer", r.peer_id).add_bool("ok", r.code == 0);
        break;
    }
    case NM_SERVER_NOTICE:
    case NM_SERVER_NOTICE2: j.add("notice", note_text(wparam, lparam)); break;
    case NM_CONNECTING:
        // A report that came after the session was back or over says nothing new.
        if (!app.controller.resuming()) return;
        j.add("attempt", app.controller.resume_attempt())
            .add("delay_ms", static_cast<long long>(app.controller.resume_delay()));
        break;
    default: break;
    }
    if (!text.empty()) j.add("text", english(text)).add("text_id", text.id);
    j.print();
}
