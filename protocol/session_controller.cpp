#include "protocol/session_controller.h"

#include <cstdio>
#include <cstring>

#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/extensions.h"
#include "protocol/file_dispatch.h"
#include "protocol/housekeeping.h"
#include "protocol/offline.h"
#include "protocol/peer_dispatch.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/settings_store.h"

namespace {
const char kGeneralSection[] = "messenger_general";
// The lane of the actions on the main connection; peers' lanes are their ids (above 0).
constexpr int kServerLane = 0;

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

user_text relation_question(int id, const contact_record& c) {
    return make_text(id, {c.display_name, c.first_name, c.last_name, c.email});
}
}  // namespace

void question_asker::show_text(const user_text& text) { show_user_text(text); }
int question_asker::ask_added_me(const contact_record&, const user_text& text) {
    return ask_user_yes_no_cancel(text);
}
int question_asker::ask_removed_me(const contact_record&, const user_text& text) {
    return ask_user_yes_no_cancel(text);
}
int question_asker::ask_read_offline(const user_text& text) { return ask_user_yes_no(text); }
int question_asker::ask_file_offer(const contact_record&, const user_text& text, const char*,
                                   std::string*, std::string*) {
    return ask_user_yes_no(text) == ANSWER_YES ? ANSWER_CANCEL : ANSWER_NO;
}

user_text notification_text(int n) {
    switch (n) {
    case NM_LOGIN_FAILED: return make_text(TXT_LOGIN_FAILED);
    case NM_REGISTER_SUCCESS: return make_text(TXT_REGISTER_SUCCESS);
    case NM_REGISTER_ERROR: return make_text(TXT_REGISTER_ERROR);
    case NM_REGISTER_EMAIL_EXISTS: return make_text(TXT_REGISTER_EMAIL_EXISTS);
    case NM_CONTACT_SEARCH_FAILED: return make_text(TXT_CONTACT_SEARCH_FAILED);
    case NM_CONTACT_NOT_FOUND: return make_text(TXT_CONTACT_NOT_FOUND, {get_searched_email()});
    case NM_CONTACT_ADD_FAILED: return make_text(TXT_CONTACT_ADD_FAILED);
    case NM_CONTACT_ALREADY_EXISTS: return make_text(TXT_CONTACT_ALREADY_EXISTS);
    case NM_CONTACT_REMOVE_FAILED: return make_text(TXT_CONTACT_REMOVE_FAILED);
    case NM_CONTACT_NOT_ADDED: return make_text(TXT_CONTACT_NOT_ADDED);
    case NM_GROUP_ADD_FAILED: return make_text(TXT_GROUP_ADD_FAILED);
    case NM_GROUP_REMOVE_FAILED: return make_text(TXT_GROUP_REMOVE_FAILED);
    case NM_GROUP_UPDATE_FAILED: return make_text(TXT_GROUP_UPDATE_FAILED);
    case NM_LOGGED_IN_ELSEWHERE: return make_text(TXT_LOGGED_IN_ELSEWHERE);
    default: return {};
    }
}

session_controller::session_controller(question_asker* asker)
    : m_asker(asker ? asker : &m_default_asker), m_owner(std::this_thread::get_id()) {}

user_text session_controller::handle(int n, intptr_t wparam, intptr_t lparam) {
    check_owner("handle");
    int id = static_cast<int>(wparam);
    switch (n) {
    case NM_ACTION_DONE: return action_done(wparam);
    case NM_CONNECTING: return session_lost(id, get_tick_count());
    case NM_LOGIN_FAILED: end_resume(false); return notification_text(n);
    case NM_LOGIN_SUCCESS: {
        // A resumed session gives back the state the user had (busy, away...), a new one is
        // Online.
        bool resumed = m_resume.active && m_resume.status > PS_OFFLINE && m_resume.status <= 7;
        int state = resumed ? m_resume.status : PS_ONLINE;
        bool away_by_user = resumed && m_resume.away_by_user;
        end_resume(true);
        send_local_address();
        request_groups();
        request_contacts();
        g_my_status = PS_OFFLINE;
        m_away_by_user = away_by_user;
        request_my_status(state, false);
        announce_extensions();  // after the base requests, which keep their order
        return {};
    }
    case NM_CONTACT_LIST:
        ask_pending_relations();
        start_retrieving_pass();
        request_offline_check();
        return {};
    case NM_CONTACT_STATUS: {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.contact_id == id) c.presence = static_cast<int>(lparam);
        return {};
    }
    case NM_CONTACT_ADD_SUCCESS: return contact_added();
    case NM_CONTACT_REMOVE_SUCCESS: {
        tables_guard lk(tables_mutex());
        for (int i = 0; i < kMaxContacts; i++)
            if (g_contact[i].in_use != 0 && g_contact[i].contact_id == id) reset_one_contact(i);
        return {};
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
            return {};
        }
        return make_text(TXT_CONTACT_ADDED);
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
            return {};
        }
        return make_text(TXT_CONTACT_REMOVED);
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
        return {};
    }
    case NM_GROUP_REMOVE_SUCCESS: {
        if (id <= 0) {
            log_line("group_id:%d error in OnMyMsgGroupRemoveSuccess\r\n", id);
            return {};
        }
        tables_guard lk(tables_mutex());
        for (int i = 0; i < kMaxGroups; i++)
            if (g_group_table[i].in_use != 0 && g_group_table[i].group_id == id)
                reset_one_contact_group(i);
        return {};
    }
    case NM_GROUP_ADD_SUCCESS: {
        if (id < 1) {
            log_line("group_id:%d error in OnMyMsgGroupAddSuccess\r\n", id);
            return {};
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
        return {};
    }
    case NM_GROUP_UPDATE_SUCCESS: {
        if (id < 1) {
            log_line("group_id:%d error in OnMyMsgGroupUpdateSuccess\r\n", id);
            return {};
        }
        std::string name = lparam ? reinterpret_cast<const char*>(lparam) : "";
        tables_guard lk(tables_mutex());
        for (auto& g : g_group_table)
            if (g.in_use != 0 && g.group_id == id) copy_text(g.name, name.c_str());
        return {};
    }
    case NM_WELCOME: {
        session_texts t = get_session_texts();
        return make_text(TXT_WELCOME_TITLE, {t.my_name1, t.my_name2, t.my_name3});
    }
    case NM_OFFLINE_WAITING:
        if (m_asker->ask_read_offline(make_text(TXT_OFFLINE_WAITING)) == ANSWER_YES) read_offline();
        return {};
    case NM_OFFLINE_BEGIN: m_offline_text.clear(); return {};
    case NM_OFFLINE_TEXT: m_offline_text += note_text(wparam, lparam); return {};
    case NM_OFFLINE_END: {
        contact_record sender;
        m_pending.push_back(offline_message{id, offline_sender_label(id), m_offline_text,
                                            contact_by_id(id, &sender)});
        m_offline_text.clear();
        return {};
    }
    case NM_SET_MY_STATUS:
        if (id < 0 || id > 7) {
            log_line("status:%d out of range 0-7 in set_my_status\r\n", id);
            return {};
        }
        g_my_status = id;
        return {};
    case NM_LOGGED_IN_ELSEWHERE:
        end_resume(false);
        start_action(kServerLane, ACTION_SIGN_OUT, 0, [] {
            ::sign_out();
            main_link_flush(1000);
            g_main_link.my_close();
            return action_result{};
        });
        return notification_text(n);
    case NM_PEER_STATUS: return peer_status(id, static_cast<int>(lparam));
    case NM_OPEN_CHAT: open_chat(id); return {};
    case NM_PEER_CHAT_LINE:
        // Every line of every peer comes through this queue, so each is shown in the order it came.
        if (lparam) {
            const auto& d = *reinterpret_cast<const chat_delivery*>(lparam);
            if (d.command == PEER_CHAT_ECHO) line_echoed(d);
            // Only a contact's line opens a window; anyone else is shown only in a chat the user
            // opened, so senders with made-up ids cannot take the windows the contacts need.
            if (!chat_peer_known(id)) {
                log_line("chat line from peer_id:%d, who is not a contact, dropped\r\n", id);
                return {};
            }
            hand_chat_delivery(open_chat(id), d);
        }
        return {};
    case NM_KNOCK: return knock_text(id);
    case NM_FILE_ASK: return file_offered(id);
    default:
        if (is_file_notification(n)) return file_transfers().handle_notification(n, wparam, lparam);
        return notification_text(n);
    }
}

user_text session_controller::file_offered(int peer_id) {
    user_text question;
    std::string offered;
    if (file_transfers().offer_question(peer_id, &question, &offered) != 0) return {};
    contact_record c;
    if (!contact_by_id(peer_id, &c)) return {};
    std::string folder;
    std::string save_as;
    int a = m_asker->ask_file_offer(c, question, offered.c_str(), &folder, &save_as);
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
    check_owner("offer_file");
    std::string p = path ? path : "";
    return start_action(peer_id, ACTION_FILE_OFFER, peer_id, [peer_id, p] {
        action_result r;
        int offered = file_transfers().offer_file(peer_id, p.c_str());
        if (offered == 0) return r;
        r.code = -1;
        contact_record c;
        size_t slash = p.find_last_of('/');
        std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
        // -2: one transfer per contact, and one is still being offered or sent.
        if (contact_by_id(peer_id, &c))
            r.text = make_text(offered == -2 ? TXT_FILE_OFFER_BUSY : TXT_FILE_OFFER_FAILED,
                               {name, c.first_name, c.last_name, c.email});
        return r;
    });
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
            int a = m_asker->ask_added_me(rec, relation_question(TXT_ADDED_ME_QUESTION, rec));
            if (a == ANSWER_YES || a == ANSWER_NO) answer_added_me(rec.contact_id, a == ANSWER_YES);
        } else {
            int a = m_asker->ask_removed_me(rec, relation_question(TXT_REMOVED_ME_QUESTION, rec));
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

user_text session_controller::contact_added() {
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
        return {};
    }
    log_line("contact full in OnMyMsgContactAddSuccess\r\n");
    return make_text(TXT_CONTACT_FULL);
}

user_text session_controller::peer_status(int contact_id, int state) {
    contact_record rec;
    if (!contact_by_id(contact_id, &rec)) return {};
    user_text shown;
    if (state == PS_ONLINE && rec.presence != state) {
        shown = make_text(TXT_BECOME_ONLINE, {rec.display_name, rec.email});
        peer().start_contact_text_chat(contact_id);
        peer().request_peer_slave_route(contact_id);
    }
    tables_guard lk(tables_mutex());
    for (auto& c : g_contact)
        if (c.in_use != 0 && c.contact_id == contact_id) c.presence = state;
    return shown;
}

int session_controller::sign_in(const char* email, const char* password, bool remember_email,
                                bool remember_passwd) {
    check_owner("sign_in");
    // The fields keep their sizes (126 and 31 bytes); a longer text is cut before the UTF-8
    // character that would not fit whole, never inside it.
    auto cut = [](char* dst, size_t size, const char* src) {
        copy_text(dst, size, src);
        size_t n = std::strlen(dst);
        if (src && std::strlen(src) > n)
            while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) dst[--n] = '\0';
    };
    char e[127];
    char p[32];
    cut(e, sizeof(e), email);
    cut(p, sizeof(p), password);
    if (e[0] == '\0') {
        m_asker->show_text(make_text(TXT_LOGIN_EMAIL_BLANK));
        return -1;
    }
    if (std::strchr(e, ':')) {
        m_asker->show_text(make_text(TXT_LOGIN_EMAIL_COLON));
        return -1;
    }
    reg_write_int(kGeneralSection, "remember_email", remember_email ? 1 : 0);
    reg_write(kGeneralSection, "my_email", remember_email ? e : "");
    reg_write_int(kGeneralSection, "remember_passwd", remember_passwd ? 1 : 0);
    reg_write(kGeneralSection, "my_passwd", remember_passwd ? p : "");
    std::string email_s = e, passwd_s = p;
    end_resume(false);
    return start_action(kServerLane, ACTION_SIGN_IN, 0, [email_s, passwd_s] {
        action_result r;
        if (login(email_s.c_str(), passwd_s.c_str()) != 0) {
            // The login request could not go out (no server): the same text as a refusal.
            r.code = -1;
            r.text = make_text(TXT_LOGIN_FAILED);
        }
        return r;
    });
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

int session_controller::sign_out() {
    check_owner("sign_out");
    end_resume(false);
    return start_action(kServerLane, ACTION_SIGN_OUT, 0, [] {
        action_result r;
        r.code = ::sign_out() >= 0 ? 0 : -1;
        return r;
    });
}

int session_controller::register_user(const registration_fields& f) {
    struct check {
        const char* text;
        int message;
    };
    const check checks[] = {{f.email, TXT_REGISTER_EMAIL_EMPTY},
                            {f.password, TXT_REGISTER_PASSWORD_EMPTY},
                            {f.first_name, TXT_REGISTER_FIRST_NAME_EMPTY},
                            {f.last_name, TXT_REGISTER_LAST_NAME_EMPTY},
                            {f.nick_name, TXT_REGISTER_NICK_NAME_EMPTY}};
    for (const check& c : checks)
        if (blank(c.text)) {
            m_asker->show_text(make_text(c.message));
            return -1;
        }
    if (!std::strchr(f.email, '@') || !std::strchr(f.email, '.')) {
        m_asker->show_text(make_text(TXT_REGISTER_EMAIL_WRONG));
        return -1;
    }
    if (std::strpbrk(f.email, ":<> '\"\\")) {
        m_asker->show_text(make_text(TXT_REGISTER_EMAIL_CHARS));
        return -1;
    }
    return send_registration(f);
}

int session_controller::search_contact(const char* email) {
    std::string e = trim(email);
    if (e.empty()) {
        m_asker->show_text(make_text(TXT_SEARCH_EMAIL_EMPTY));
        return -1;
    }
    if (e.find('.') == std::string::npos || e[0] == '.' || e.find('@') == std::string::npos ||
        e[0] == '@') {
        m_asker->show_text(make_text(TXT_SEARCH_EMAIL_WRONG));
        return -1;
    }
    {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && e == c.email) {
                m_asker->show_text(make_text(TXT_SEARCH_EMAIL_IN_LIST));
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
                m_asker->show_text(make_text(TXT_FOUND_CONTACT_IN_LIST));
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
        m_asker->show_text(make_text(TXT_EDIT_DEFAULT_GROUP));
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
        m_asker->show_text(make_text(TXT_DELETE_DEFAULT_GROUP));
        return -1;
    }
    {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.group_id == group_id) {
                m_asker->show_text(make_text(TXT_DELETE_NON_EMPTY_GROUP));
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
            m_asker->show_text(make_text(TXT_WRITE_FILE_FAILED));
            return -1;
        }
        size_t written = std::fwrite(it->text.data(), 1, it->text.size(), f);
        bool ok = std::fclose(f) == 0 && written == it->text.size();
        if (!ok) {
            // A full disk must not pass for a saved message: it stays waiting on the server.
            m_asker->show_text(make_text(TXT_WRITE_FILE_FAILED));
            return -1;
        }
        m_pending.erase(it);
        return send_offline_done(sender_id);
    }
    return -1;
}

chat_window* session_controller::open_chat(int peer_id) {
    check_owner("open_chat");
    if (chat_window* w = get_chat_dlg_from_peer_id(peer_id)) return w;
    chat_window* w = m_make_chat ? m_make_chat(peer_id) : nullptr;
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

user_text session_controller::knock_text(int peer_id) {
    contact_record c;
    if (!contact_by_id(peer_id, &c)) {
        log_line("find peer index failed in OnMyMsgKnockFromPeer:%d\r\n", peer_id);
        return {};
    }
    if (c.knock_blocked == 1) return {};
    return make_text(TXT_KNOCK_FROM, {c.first_name, c.last_name, c.email});
}

int session_controller::set_knock_blocked(int contact_id, bool blocked) {
    tables_guard lk(tables_mutex());
    int i = get_contact_index(contact_id);
    if (i < 0) return -1;
    g_contact[i].knock_blocked = blocked ? 1 : 0;
    return 0;
}
