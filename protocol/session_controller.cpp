#include "protocol/session_controller.h"

#include <cstdio>
#include <cstring>

#include "platform/message_box.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/debug_log.h"
#include "protocol/file_dispatch.h"
#include "protocol/housekeeping.h"
#include "protocol/offline.h"
#include "protocol/peer_dispatch.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"

namespace {
const char kGeneralSection[] = "messenger_general";

bool blank(const char* s) {
    for (; s && *s; s++)
        if (*s != ' ' && *s != '\t') return false;
    return true;
}

std::string trim(const char* s) {
    std::string t = s ? s : "";
    size_t a = t.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = t.find_last_not_of(" \t\r\n");
    return t.substr(a, b - a + 1);
}

std::string relation_question(const char* format, const contact_record& c) {
    char text[700];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof(text), format, c.display_name, c.first_name, c.last_name, c.email);
#pragma GCC diagnostic pop
    return text;
}

const char kAddedMeText[] =
    "%s(%s %s)(%s) added you as contact, do you want to add her(him) to your contact list?";
const char kRemovedMeText[] =
    "%s(%s %s)(%s) removed you from his(her) contact list, do you want to remove him(her) from "
    "your contact list?";
const char kOfflineWaitingText[] = "You have offline message, do you want to read now?";
}  // namespace

int question_asker::ask_added_me(const contact_record&, const char* text) {
    return ask_yes_no_cancel("%s", text);
}
int question_asker::ask_removed_me(const contact_record&, const char* text) {
    return ask_yes_no_cancel("%s", text);
}
int question_asker::ask_read_offline(const char* text) { return ask_yes_no("%s", text); }
int question_asker::ask_file_offer(const contact_record&, const char* text, const char*,
                                   std::string*, std::string*) {
    return ask_yes_no("%s", text) == ANSWER_YES ? ANSWER_CANCEL : ANSWER_NO;
}

std::string notification_text(int n) {
    switch (n) {
    case NM_LOGIN_FAILED: return "Login failed.";
    case NM_REGISTER_SUCCESS: return "Register Success.";
    case NM_REGISTER_ERROR: return "General error when register, please try again later.";
    case NM_REGISTER_EMAIL_EXISTS:
        return "Email already exist when register, please change your email and try again.";
    case NM_CONTACT_SEARCH_FAILED: return "Contact Search Failed.";
    case NM_CONTACT_NOT_FOUND: {
        char text[300];
        std::snprintf(text, sizeof(text), "Contact with email %s not found, please try again.",
                      get_searched_email().c_str());
        return text;
    }
    case NM_CONTACT_ADD_FAILED: return "Failed to add contact, please try again later.";
    case NM_CONTACT_ALREADY_EXISTS: return "The contact already exist in your contact list.";
    case NM_CONTACT_REMOVE_FAILED: return "Failed to remove contact.";
    case NM_CONTACT_NOT_ADDED: return "Contact not added to your list.";
    case NM_GROUP_ADD_FAILED: return "Group add failed, please try again later.";
    case NM_GROUP_REMOVE_FAILED: return "Group remove failed, please try again later.";
    case NM_GROUP_UPDATE_FAILED: return "Group name update failed, please try again later.";
    case NM_LOGGED_IN_ELSEWHERE:
        return "You logged in at another location, this connection is disconnected.";
    default: return "";
    }
}

session_controller::session_controller(question_asker* asker)
    : m_asker(asker ? asker : &m_default_asker) {}

std::string session_controller::handle(int n, intptr_t wparam, intptr_t lparam) {
    int id = static_cast<int>(wparam);
    switch (n) {
    case NM_LOGIN_SUCCESS:
        send_local_address();
        request_groups();
        request_contacts();
        g_my_status = PS_OFFLINE;
        m_away_by_user = false;
        request_my_status(PS_ONLINE, false);
        return "";
    case NM_CONTACT_LIST:
        ask_pending_relations();
        start_retrieving_pass();
        request_offline_check();
        return "";
    case NM_CONTACT_STATUS: {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.contact_id == id) c.presence = static_cast<int>(lparam);
        return "";
    }
    case NM_CONTACT_ADD_SUCCESS: return contact_added();
    case NM_CONTACT_REMOVE_SUCCESS: {
        tables_guard lk(tables_mutex());
        for (int i = 0; i < kMaxContacts; i++)
            if (g_contact[i].in_use != 0 && g_contact[i].contact_id == id) reset_one_contact(i);
        return "";
    }
    case NM_CONTACT_ADD_CONFIRM_SUCCESS: {
        bool found = false;
        {
            tables_guard lk(tables_mutex());
            for (auto& c : g_contact)
                if (c.in_use != 0 && c.contact_id == id && c.relation_state == REL_ADDED_ME) {
                    g_contact_count++;
                    c.group_id = 0;
                    c.relation_state = REL_ADDED;
                    c.presence = PS_OFFLINE;
                    found = true;
                    break;
                }
        }
        if (!found) {
            log_line("something goes wrong in OnMyMsgContactAddConfirmSuccess\r\n");
            return "";
        }
        return "Contact is added to your list.";
    }
    case NM_CONTACT_REMOVE_CONFIRM_SUCCESS: {
        int found = 0;
        {
            tables_guard lk(tables_mutex());
            for (int i = 0; i < kMaxContacts; i++)
                if (g_contact[i].in_use != 0 && g_contact[i].contact_id == id &&
                    g_contact[i].relation_state == REL_REMOVED_ME) {
                    reset_one_contact(i);
                    found++;
                }
        }
        if (found == 0) {
            log_line("something goes wrong in OnMyMsgContactRemoveConfirmSuccess\r\n");
            return "";
        }
        return "Contact removed.";
    }
    case NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS: {
        bool found = false;
        {
            tables_guard lk(tables_mutex());
            for (auto& c : g_contact)
                if (c.in_use != 0 && c.contact_id == id && c.relation_state == REL_REMOVED_ME) {
                    c.relation_state = REL_REMOVAL_DECLINED;
                    c.presence = PS_OFFLINE;
                    g_contact_count++;
                    found = true;
                    break;
                }
        }
        if (!found) log_line("something goes wrong in OnMyMsgContactRemoveConfirmNoSuccess\r\n");
        return "";
    }
    case NM_GROUP_REMOVE_SUCCESS: {
        if (id <= 0) {
            log_line("group_id:%d error in OnMyMsgGroupRemoveSuccess\r\n", id);
            return "";
        }
        tables_guard lk(tables_mutex());
        for (int i = 0; i < kMaxGroups; i++)
            if (g_group_table[i].in_use != 0 && g_group_table[i].group_id == id)
                reset_one_contact_group(i);
        return "";
    }
    case NM_GROUP_ADD_SUCCESS: {
        if (id < 1) {
            log_line("group_id:%d error in OnMyMsgGroupAddSuccess\r\n", id);
            return "";
        }
        tables_guard lk(tables_mutex());
        for (int i = 0; i < kMaxGroups; i++) {
            if (g_group_table[i].in_use != 0) continue;
            reset_one_contact_group(i);
            g_group_table[i].group_id = id;
            g_group_table[i].in_use = 1;
            copy_text(g_group_table[i].name, m_last_group_name.c_str());
            break;
        }
        return "";
    }
    case NM_GROUP_UPDATE_SUCCESS: {
        if (id < 1) {
            log_line("group_id:%d error in OnMyMsgGroupUpdateSuccess\r\n", id);
            return "";
        }
        std::string name = get_group_update_name();
        tables_guard lk(tables_mutex());
        for (auto& g : g_group_table)
            if (g.in_use != 0 && g.group_id == id) copy_text(g.name, name.c_str());
        return "";
    }
    case NM_OFFLINE_WAITING:
        if (m_asker->ask_read_offline(kOfflineWaitingText) == ANSWER_YES) read_offline();
        return "";
    case NM_OFFLINE_BEGIN: m_offline_text.clear(); return "";
    case NM_OFFLINE_TEXT: m_offline_text += get_offline_chunk(); return "";
    case NM_OFFLINE_END:
        m_pending.push_back(offline_message{id, offline_sender_label(id), m_offline_text});
        m_offline_text.clear();
        return "";
    case NM_SET_MY_STATUS:
        if (id < 0 || id > 7) {
            log_line("status:%d out of range 0-7 in set_my_status\r\n", id);
            return "";
        }
        g_my_status = id;
        return "";
    case NM_LOGGED_IN_ELSEWHERE:
        sign_out();
        g_main_link.my_close();
        return notification_text(n);
    case NM_PEER_STATUS: peer_status(id, static_cast<int>(lparam)); return "";
    case NM_OPEN_CHAT: open_chat(id); return "";
    case NM_KNOCK: return knock_text(id);
    case NM_FILE_ASK: return file_offered(id);
    default:
        if (is_file_notification(n)) return file_transfers().handle_notification(n, wparam, lparam);
        return notification_text(n);
    }
}

std::string session_controller::file_offered(int peer_id) {
    std::string question;
    std::string offered;
    if (file_transfers().offer_question(peer_id, &question, &offered) != 0) return "";
    contact_record c;
    if (!contact_by_id(peer_id, &c)) return "";
    std::string folder;
    std::string save_as;
    int a = m_asker->ask_file_offer(c, question.c_str(), offered.c_str(), &folder, &save_as);
    if (a == ANSWER_NO) {
        answer_file_offer(peer_id, false, nullptr);
    } else if (a == ANSWER_YES) {
        if (!save_as.empty())
            accept_file_as(peer_id, save_as.c_str());
        else
            answer_file_offer(peer_id, true, folder.c_str());
    }
    return question;
}

int session_controller::offer_file(int peer_id, const char* path) {
    return file_transfers().offer_file(peer_id, path);
}

int session_controller::answer_file_offer(int peer_id, bool accept, const char* folder) {
    return file_transfers().answer_offer(peer_id, accept, folder);
}

int session_controller::accept_file_as(int peer_id, const char* path) {
    return file_transfers().accept_offer_as(peer_id, path);
}

bool session_controller::file_transfer_progress(int peer_id, bool sending,
                                                file_progress* out) const {
    return file_transfers().progress(peer_id, sending, out);
}

void session_controller::ask_pending_relations() {
    for (int i = 0; i < kMaxContacts; i++) {
        contact_record rec;
        {
            tables_guard lk(tables_mutex());
            contact_record& c = g_contact[i];
            if (c.in_use == 0 || c.asked != 0) continue;
            if (c.relation_state != REL_ADDED_ME && c.relation_state != REL_REMOVED_ME) continue;
            c.asked = 1;
            rec = c;
        }
        // The question may wait for the user; the tables stay unlocked meanwhile.
        if (rec.relation_state == REL_ADDED_ME) {
            int a = m_asker->ask_added_me(rec, relation_question(kAddedMeText, rec).c_str());
            if (a == ANSWER_YES || a == ANSWER_NO) answer_added_me(rec.contact_id, a == ANSWER_YES);
        } else {
            int a = m_asker->ask_removed_me(rec, relation_question(kRemovedMeText, rec).c_str());
            if (a == ANSWER_YES || a == ANSWER_NO) answer_removed_me(rec.contact_id, a == ANSWER_YES);
        }
    }
}

int session_controller::answer_added_me(int contact_id, bool accept) {
    ::answer_added_me(contact_id, accept);
    if (!accept) {
        // Declining drops the record at once.
        tables_guard lk(tables_mutex());
        for (int i = 0; i < kMaxContacts; i++)
            if (g_contact[i].in_use != 0 && g_contact[i].contact_id == contact_id &&
                g_contact[i].relation_state == REL_ADDED_ME) {
                reset_one_contact(i);
                break;
            }
    }
    return 0;
}

int session_controller::answer_removed_me(int contact_id, bool accept) {
    return ::answer_removed_me(contact_id, accept);
}

std::string session_controller::contact_added() {
    found_contact f = get_found_contact();
    tables_guard lk(tables_mutex());
    for (auto& c : g_contact) {
        if (c.in_use != 0) continue;
        int slot = static_cast<int>(&c - g_contact);
        reset_one_contact(slot);
        c.contact_id = f.id;
        copy_text(c.first_name, f.first_name);
        copy_text(c.last_name, f.last_name);
        copy_text(c.display_name, f.nick_name);
        copy_text(c.email, f.email);
        c.group_id = m_selected_group_id;
        c.presence = PS_OFFLINE;
        c.relation_state = REL_ADDED;
        c.in_use = 1;
        g_contact_count++;
        return "";
    }
    log_line("contact full in OnMyMsgContactAddSuccess\r\n");
    return "Contact full.";
}

void session_controller::peer_status(int contact_id, int state) {
    int before = -1;
    {
        tables_guard lk(tables_mutex());
        int i = get_contact_index(contact_id);
        if (i >= 0) before = g_contact[i].presence;
    }
    if (before < 0) return;
    if (state == PS_ONLINE && before != state) {
        peer().start_contact_text_chat(contact_id);
        peer().request_peer_slave_route(contact_id);
    }
    tables_guard lk(tables_mutex());
    for (auto& c : g_contact)
        if (c.in_use != 0 && c.contact_id == contact_id) c.presence = state;
}

int session_controller::sign_in(const char* email, const char* password, bool remember_email,
                                bool remember_passwd) {
    char e[127];
    char p[32];
    copy_text(e, email);
    copy_text(p, password);
    if (e[0] == '\0') {
        show_message("Email could not be blank.");
        return -1;
    }
    if (std::strchr(e, ':')) {
        show_message("Email could not contain ':' charactor");
        return -1;
    }
    int r = login(e, p);
    reg_write_int(kGeneralSection, "remember_email", remember_email ? 1 : 0);
    reg_write(kGeneralSection, "my_email", remember_email ? e : "");
    reg_write_int(kGeneralSection, "remember_passwd", remember_passwd ? 1 : 0);
    reg_write(kGeneralSection, "my_passwd", remember_passwd ? p : "");
    return r;
}

session_controller::remembered session_controller::load_remembered() {
    remembered r;
    int re = 0, rp = 0;
    reg_read_int(kGeneralSection, "remember_email", &re);
    reg_read_int(kGeneralSection, "remember_passwd", &rp);
    char email[128], passwd[65];
    reg_read(kGeneralSection, "my_email", email, sizeof(email));
    reg_read(kGeneralSection, "my_passwd", passwd, sizeof(passwd));
    r.remember_email = re == 1;
    r.remember_passwd = rp == 1;
    r.email = r.remember_email ? email : "";
    r.password = r.remember_passwd ? passwd : "";
    return r;
}

int session_controller::sign_out() { return ::sign_out(); }

int session_controller::register_user(const registration_fields& f) {
    struct check {
        const char* text;
        const char* message;
    };
    const check checks[] = {{f.email, "Email could not be empty."},
                            {f.password, "Password could not be empty."},
                            {f.first_name, "FirstName could not be empty."},
                            {f.last_name, "LastName could not be empty."},
                            {f.nick_name, "NickName could not be empty."}};
    for (const check& c : checks)
        if (blank(c.text)) {
            show_message("%s", c.message);
            return -1;
        }
    if (!std::strchr(f.email, '@') || !std::strchr(f.email, '.')) {
        show_message("Your Email seems not correct, please correct.");
        return -1;
    }
    if (std::strpbrk(f.email, ":<> '\"\\")) {
        show_message(":, <, >, ', \", \\ and space is not allowed in email, please correct.");
        return -1;
    }
    return send_registration(f);
}

int session_controller::search_contact(const char* email) {
    std::string e = trim(email);
    if (e.empty()) {
        show_message("Email should not be empty.");
        return -1;
    }
    if (e.find('.') == std::string::npos || e[0] == '.' || e.find('@') == std::string::npos ||
        e[0] == '@') {
        show_message("Email seems not correct.");
        return -1;
    }
    {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && e == c.email) {
                show_message("The email address already exist in your contact list.");
                return -1;
            }
    }
    return request_contact_search(e.c_str());
}

int session_controller::add_found_contact() {
    found_contact f = get_found_contact();
    {
        tables_guard lk(tables_mutex());
        // The first N records are checked, N being the contact count, as the dialog does; a
        // record past that count is found by the full search below.
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.contact_id == f.id) {
                show_message("This contact already exists in your contact list.");
                return -1;
            }
    }
    return request_add_contact(f.id, m_selected_group_id);
}

int session_controller::remove_contact(int contact_id) {
    if (get_contact_index(contact_id) < 0) {
        log_line("could not find selected contact index in OnContactRemoveContact.");
        return -1;
    }
    return request_remove_contact(contact_id);
}

int session_controller::add_group(const char* name) {
    std::string n = name ? name : "";
    if (n.size() > 31) n.resize(31);
    m_last_group_name = n;
    return request_add_group(n.c_str());
}

int session_controller::rename_group(int group_id, const char* name) {
    if (group_id == 0) {
        show_message("Could not edit dfault group.");
        return -1;
    }
    group_record g;
    if (!group_by_id(group_id, &g)) {
        log_line("group_id:%d not found in OnGroupEditGroup\r\n", group_id);
        return -1;
    }
    return request_rename_group(group_id, name);
}

int session_controller::delete_group(int group_id) {
    if (group_id == 0) {
        show_message("could not delete default group.");
        return -1;
    }
    {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.group_id == group_id) {
                show_message("Could not delete a none-empty group.");
                return -1;
            }
    }
    return request_remove_group(group_id);
}

int session_controller::move_contact(int contact_id, int group_id) {
    int from = -1;
    {
        tables_guard lk(tables_mutex());
        int i = get_contact_index(contact_id);
        if (i >= 0) from = g_contact[i].group_id;
    }
    if (from < 0) {
        log_line("did not find contact_id:%d in move_contact\r\n", contact_id);
        return -1;
    }
    if (from == group_id) return 0;
    request_move_contact(contact_id, group_id);
    tables_guard lk(tables_mutex());
    int i = get_contact_index(contact_id);
    if (i >= 0) g_contact[i].group_id = group_id;
    return 0;
}

int session_controller::request_my_status(int state, bool by_user) {
    if (state < 0 || state > 7) return -1;
    if (by_user) m_away_by_user = state == PS_AWAY;
    int r = request_status(state);
    if (m_housekeeping) m_housekeeping->arm_status_timer(get_tick_count());
    return r;
}

int session_controller::read_offline() { return request_offline_read(); }

int session_controller::discard_offline(int sender_id) {
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
        if (it->sender_id == sender_id) {
            m_pending.erase(it);
            return send_offline_done(sender_id);
        }
    return -1;
}

int session_controller::save_offline(int sender_id, const char* path) {
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->sender_id != sender_id) continue;
        FILE* f = std::fopen(path, "w");
        if (!f) {
            show_message("failed to open file to write, make sure you have privilege to do so.");
            return -1;
        }
        size_t written = std::fwrite(it->text.data(), 1, it->text.size(), f);
        bool ok = std::fclose(f) == 0 && written == it->text.size();
        if (!ok) {
            // A full disk must not pass for a saved message: it stays waiting on the server.
            show_message("failed to open file to write, make sure you have privilege to do so.");
            return -1;
        }
        m_pending.erase(it);
        return send_offline_done(sender_id);
    }
    return -1;
}

chat_window* session_controller::open_chat(int peer_id) {
    if (chat_window* w = get_chat_dlg_from_peer_id(peer_id)) return w;
    if (!m_make_chat) return nullptr;
    chat_window* w = m_make_chat(peer_id);
    if (!w) return nullptr;
    if (add_chat_dlg(w) < 0) {
        log_line("chat windows full, no window for peer_id:%d\r\n", peer_id);
        if (m_dispose_chat) m_dispose_chat(w);
        return nullptr;
    }
    // A shown chat window opens the direct connection to its peer.
    peer().start_contact_text_chat(peer_id);
    return w;
}

std::string session_controller::knock_text(int peer_id) {
    contact_record c;
    if (!contact_by_id(peer_id, &c)) {
        log_line("find peer index failed in OnMyMsgKnockFromPeer:%d\r\n", peer_id);
        return "";
    }
    if (c.knock_blocked == 1) return "";
    char text[512];
    std::snprintf(text, sizeof(text), "Knock from %s %s(%s)", c.first_name, c.last_name, c.email);
    return text;
}

int session_controller::set_knock_blocked(int contact_id, bool blocked) {
    tables_guard lk(tables_mutex());
    int i = get_contact_index(contact_id);
    if (i < 0) return -1;
    g_contact[i].knock_blocked = blocked ? 1 : 0;
    return 0;
}
