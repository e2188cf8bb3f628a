#include "protocol/tables.h"

#include <chrono>
#include <condition_variable>

#include <cstring>

#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "protocol/chat_session.h"
#include "protocol/texts.h"

contact_record g_contact[kMaxContacts];
group_record g_group_table[kMaxGroups];
int g_num_contact_group = 0;
int g_contact_count = 0;
chat_dlg_entry g_chat_dlgs[kMaxChatDlgs];

std::recursive_mutex& tables_mutex() {
    static std::recursive_mutex m;
    return m;
}

namespace {
std::condition_variable_any g_address_written;
}  // namespace

void contact_address_written() { g_address_written.notify_all(); }

bool wait_contact_address(int contact_id, uint32_t ms, char* out, size_t size) {
    std::unique_lock<std::recursive_mutex> lk(tables_mutex());
    auto known = [&] {
        int i = get_contact_index(contact_id);
        if (i < 0 || g_contact[i].address[0] == '\0') return false;
        std::snprintf(out, size, "%s", g_contact[i].address);
        return true;
    };
    return g_address_written.wait_for(lk, std::chrono::milliseconds(ms), known);
}

namespace {
const char* const kLabels[8] = {"Offline", "OnLine", "Busy",    "Away",
                                "Right Back", "On Phone", "Lunch", "Appear Offline"};
const char* const kWords[8] = {"Offline", "Online", "Busy",    "Away",
                               "Right Back", "On Phone", "Lunch", "Appear Offline"};
}  // namespace

const char* presence_label(int state) { return state >= 0 && state < 8 ? kLabels[state] : "Unknown"; }
const char* presence_word(int state) { return state >= 0 && state < 8 ? kWords[state] : "Unknown"; }

int add_one_contact(int contact_id, int group_id, const char* display_name) {
    tables_guard lk(tables_mutex());
    for (auto& c : g_contact) {
        if (c.in_use != 0) continue;
        c.in_use = 1;
        c.contact_id = contact_id;
        c.group_id = group_id;
        copy_text(c.display_name, display_name);
        c.first_name[0] = '\0';
        g_contact_count++;
        return 0;
    }
    log_line("contacts full in add_one_contact.\r\n");
    return 0;
}

int reset_one_contact(int index) {
    if (index < 0 || index >= kMaxContacts) {
        show_user_text(make_text(TXT_CONTACT_INDEX_OUT_OF_RANGE));
        return -1;
    }
    tables_guard lk(tables_mutex());
    contact_record& c = g_contact[index];
    c.in_use = 0;
    c.contact_id = 0;
    c.group_id = 0;
    c.relation_state = 0;
    c.presence = 0;
    c.status_marker = 0;
    c.knock_blocked = 0;
    c.tree_item = nullptr;
    c.recv_fd = nullptr;
    c.display_name[0] = c.first_name[0] = c.last_name[0] = c.email[0] = '\0';
    c.home_server[0] = c.extra_text[0] = '\0';
    c.send_file_path[0] = c.send_file_name[0] = c.recv_file_path[0] = c.recv_file_name[0] = '\0';
    // A freed slot must not keep the flags of its former contact, or the relation question
    // would never be asked for the next contact that lands in it.
    c.asked = 0;
    c.in_tree = 0;
    c.address[0] = '\0';
    c.retrieve_marker = 0;
    return 0;
}

int add_one_contact_group(int group_id, const char* name) {
    tables_guard lk(tables_mutex());
    if (g_num_contact_group < 0) {
        log_line("g_num_contact_group=%d <0 in add_one_contact_group.\r\n", g_num_contact_group);
        g_num_contact_group = 0;
    }
    if (g_num_contact_group >= kMaxGroups) {
        log_line("g_num_contact_group=%d >=%d in add_one_contact_group.\r\n", g_num_contact_group,
                 kMaxGroups);
        g_num_contact_group = kMaxGroups - 1;
    }
    group_record& g = g_group_table[g_num_contact_group];
    g.in_use = 1;
    g.group_id = group_id;
    copy_text(g.name, name);
    g_num_contact_group++;
    return 0;
}

int reset_one_contact_group(int index) {
    if (index < 0 || index >= kMaxGroups) {
        show_user_text(make_text(TXT_GROUP_INDEX_OUT_OF_RANGE));
        log_line("index %d out of range 0-%d in reset_one_contact_group", index, kMaxGroups);
        return -1;
    }
    tables_guard lk(tables_mutex());
    group_record& g = g_group_table[index];
    g.in_use = 0;
    g.group_id = 0;
    g.name[0] = '\0';
    g.tree_item = nullptr;
    return 0;
}

void clear_all_groups() {
    tables_guard lk(tables_mutex());
    g_num_contact_group = 0;
    for (int i = 0; i < kMaxGroups; i++) reset_one_contact_group(i);
}

void clear_all_contacts() {
    tables_guard lk(tables_mutex());
    g_contact_count = 0;
    for (int i = 0; i < kMaxContacts; i++) reset_one_contact(i);
}

void clear_all_tables() {
    tables_guard lk(tables_mutex());
    clear_all_contacts();
    clear_all_groups();
    for (auto& e : g_chat_dlgs) {
        e.in_use = 0;
        e.dlg_chat = nullptr;
    }
    chat_session_close_all();
}

int get_contact_index(int contact_id) {
    tables_guard lk(tables_mutex());
    for (int i = 0; i < kMaxContacts; i++)
        if (g_contact[i].in_use != 0 && g_contact[i].contact_id == contact_id) return i;
    return -1;
}

int get_chat_dlg_index(int peer_id) {
    tables_guard lk(tables_mutex());
    for (int i = 0; i < kMaxChatDlgs; i++)
        if (g_chat_dlgs[i].in_use != 0 && g_chat_dlgs[i].dlg_chat &&
            g_chat_dlgs[i].dlg_chat->peer_id() == peer_id)
            return i;
    return -1;
}

bool chat_peer_known(int peer_id) {
    tables_guard lk(tables_mutex());
    return get_contact_index(peer_id) >= 0 || get_chat_dlg_index(peer_id) >= 0;
}

chat_window* get_chat_dlg_from_peer_id(int peer_id) {
    if (peer_id <= 0) {
        log_line("peer_id:%d <= 0 in get_chat_dlg_from_peer_id\r\n", peer_id);
        return nullptr;
    }
    {
        tables_guard lk(tables_mutex());
        int i = get_chat_dlg_index(peer_id);
        if (i >= 0) return g_chat_dlgs[i].dlg_chat;
    }
    log_line("could not find chat dlg in get_chat_dlg_from_peer_id peer_id:%d\r\n", peer_id);
    return nullptr;
}

int add_chat_dlg(chat_window* dlg) {
    tables_guard lk(tables_mutex());
    for (int i = 0; i < kMaxChatDlgs; i++) {
        if (g_chat_dlgs[i].in_use != 0) continue;
        g_chat_dlgs[i].in_use = 1;
        g_chat_dlgs[i].dlg_chat = dlg;
        chat_session_open(dlg->peer_id());
        return i;
    }
    log_line("chat dlgs full in add_chat_dlg.\r\n");
    return -1;
}

void remove_chat_dlg(chat_window* dlg) {
    tables_guard lk(tables_mutex());
    for (auto& e : g_chat_dlgs)
        if (e.in_use != 0 && e.dlg_chat == dlg) {
            e.in_use = 0;
            e.dlg_chat = nullptr;
            chat_session_close(dlg->peer_id());
        }
}

std::vector<chat_window*> take_all_chat_dlgs() {
    std::vector<chat_window*> out;
    tables_guard lk(tables_mutex());
    for (auto& e : g_chat_dlgs)
        if (e.in_use != 0) {
            if (e.dlg_chat) out.push_back(e.dlg_chat);
            e.in_use = 0;
            e.dlg_chat = nullptr;
        }
    chat_session_close_all();
    return out;
}

std::vector<int> start_server_pass(pass_marker marker) {
    std::vector<int> firsts;
    tables_guard lk(tables_mutex());
    auto flag = [marker](contact_record& c) -> int& {
        return marker == RETRIEVE_MARKER ? c.retrieve_marker : c.status_marker;
    };
    for (auto& c : g_contact) flag(c) = 0;
    for (int i = 0; i < kMaxContacts; i++) {
        contact_record& c = g_contact[i];
        if (c.in_use == 0 || c.home_server[0] == '\0' || flag(c) != 0) continue;
        for (int j = i; j < kMaxContacts; j++)
            if (g_contact[j].in_use != 0 && std::strcmp(g_contact[j].home_server, c.home_server) == 0)
                flag(g_contact[j]) = 1;
        firsts.push_back(i);
    }
    return firsts;
}

bool contact_at(int index, contact_record* out) {
    if (index < 0 || index >= kMaxContacts) return false;
    tables_guard lk(tables_mutex());
    *out = g_contact[index];
    return out->in_use != 0;
}

bool contact_by_id(int contact_id, contact_record* out) {
    tables_guard lk(tables_mutex());
    int i = get_contact_index(contact_id);
    if (i < 0) return false;
    *out = g_contact[i];
    return true;
}

std::vector<contact_record> contacts_snapshot() {
    std::vector<contact_record> out;
    tables_guard lk(tables_mutex());
    for (auto& c : g_contact)
        if (c.in_use != 0) out.push_back(c);
    return out;
}

std::vector<group_record> groups_snapshot() {
    std::vector<group_record> out;
    tables_guard lk(tables_mutex());
    for (auto& g : g_group_table)
        if (g.in_use != 0) out.push_back(g);
    return out;
}

bool group_by_id(int group_id, group_record* out) {
    tables_guard lk(tables_mutex());
    for (auto& g : g_group_table)
        if (g.in_use != 0 && g.group_id == group_id) {
            *out = g;
            return true;
        }
    return false;
}
