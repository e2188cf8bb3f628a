#include "server/core.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "peer/slave_header.h"
#include "protocol/commands.h"
#include "server/limits.h"
#include "server/password.h"

namespace srv {

namespace {

std::string fd(int v) {
    return std::to_string(v);
}

std::string f6(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%6d", v);
    return buf;
}

std::string f10(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%10d", v);
    return buf;
}

// Text of a fixed slot: up to the first zero byte or the slot's end.
std::string slot_text(const std::string& body, size_t offset, size_t width) {
    if (offset >= body.size()) return {};
    size_t n = body.size() - offset < width ? body.size() - offset : width;
    const char* p = body.data() + offset;
    return std::string(p, strnlen(p, n));
}

std::string cut(std::string s, size_t n) {
    if (s.size() > n) s.resize(n);
    return s;
}

// Text up to the first zero byte (clients terminate their texts at len, a zero inside ends them).
std::string c_text(const std::string& body) {
    return std::string(body.c_str());
}

// A single blank-free word (clients read these fields with "%s").
std::string first_word(const std::string& s) {
    size_t start = s.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return {};
    size_t end = s.find_first_of(" \t\r\n", start);
    return s.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool has_control(const std::string& s) {
    for (unsigned char ch : s)
        if (ch < 0x20 || ch == 0x7f) return true;
    return false;
}

}  // namespace

bool parse_int(std::string_view text, int* out) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') i++;
    bool neg = false;
    if (i < text.size() && text[i] == '-') {
        neg = true;
        i++;
    }
    long long v = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i] - '0');
        if (++digits > 10) return false;
        i++;
    }
    while (i < text.size() && text[i] == ' ') i++;
    if (digits == 0 || i != text.size()) return false;
    if (neg) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

bool parse_field(std::string_view body, size_t offset, size_t width, int* out) {
    if (offset >= body.size()) return false;
    return parse_int(body.substr(offset, width), out);
}

std::string frame_message(int command, int board_num, std::string_view body) {
    size_t n = body.size() > static_cast<size_t>(kMaxRecvBody) ? kMaxRecvBody : body.size();
    std::string out(kHeaderLen + n, '\0');
    char header[kHeaderLen + 1];
    build_header(header, 0, board_num, command, static_cast<int>(n));
    std::memcpy(out.data(), header, kHeaderLen);
    if (n > 0) {
        std::memcpy(out.data() + kHeaderLen, body.data(), n);
        xor_scramble(out.data() + kHeaderLen, static_cast<long>(n));
    }
    return out;
}

Core::Core(Store& store, Transport& transport, Log& log, CoreOptions options, Offload offload)
    : m_store(store),
      m_transport(transport),
      m_log(log),
      m_options(std::move(options)),
      m_offload(std::move(offload)) {}

void Core::send(ConnId id, int command, std::string_view body, int board_num) {
    m_transport.send(id, frame_message(command, board_num, body));
}

void Core::on_open(ConnId id, const std::string& peer_ip) {
    Conn c;
    c.peer_ip = peer_ip;
    m_conns[id] = std::move(c);
}

void Core::on_close(ConnId id) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return;
    Conn& c = it->second;
    if (c.off_open)
        m_log.line("connection %llu closed inside an offline message from %d to %d; discarded",
                   static_cast<unsigned long long>(id), c.off_from, c.off_to);
    if (c.user_id != 0) end_presence(c.user_id, id, true);
    m_conns.erase(it);
}

void Core::end_presence(int user, ConnId id, bool tell_watchers) {
    auto it = m_online.find(user);
    if (it == m_online.end() || it->second.conn != id) return;
    std::string address = it->second.address;
    m_online.erase(it);
    if (tell_watchers) notify_watchers(user, PS_OFFLINE, address);
}

void Core::on_message(ConnId id, const msg_header& header, std::string body) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return;
    Conn& c = it->second;
    if (c.busy) {
        // Kept in order behind the pending password check; a client never pipelines this much.
        if (c.queued.size() >= static_cast<size_t>(kMaxQueuedBeforeSignIn) ||
            c.queued_bytes + body.size() > static_cast<size_t>(kMaxQueuedBytesBeforeSignIn)) {
            m_log.line("connection %llu: too many requests while signing in; closing",
                       static_cast<unsigned long long>(id));
            c.queued.clear();
            c.queued_bytes = 0;
            m_transport.close(id);
            return;
        }
        c.queued_bytes += body.size();
        c.queued.emplace_back(header, std::move(body));
        return;
    }
    handle(id, c, header, body);
}

void Core::note(const char* fmt, ...) {
    auto it = m_conns.find(m_current);
    LineBudget& budget = it != m_conns.end() ? it->second.budget : m_budget;
    va_list args;
    va_start(args, fmt);
    m_log.vlimited(budget, fmt, args);
    va_end(args);
}

bool Core::claim_ok(int claimed, const std::string& peer_ip, const char* what) {
    auto on = m_online.find(claimed);
    if (on != m_online.end()) {
        auto mc = m_conns.find(on->second.conn);
        if (mc != m_conns.end() && mc->second.peer_ip == peer_ip) return true;
    } else {
        User u;
        if (m_store.find_user(claimed, &u) != 0) return true;  // not one of ours: as it comes
    }
    note("%s claiming to come from user %d refused: sent from %s, where that user is not signed in",
         what, claimed, peer_ip.c_str());
    return false;
}

void Core::queue_check(const std::string& address, CheckJob job) {
    m_checks_by_address[address].waiting.push_back(std::move(job));
    start_checks(address);
}

void Core::start_checks(const std::string& address) {
    for (;;) {
        // Looked up again each round: a check that completes at once (no hashing threads) comes
        // back here before this returns.
        auto it = m_checks_by_address.find(address);
        if (it == m_checks_by_address.end()) return;
        AddressChecks& a = it->second;
        if (a.waiting.empty()) {
            if (a.running == 0) m_checks_by_address.erase(it);
            return;
        }
        if (a.running >= kMaxChecksPerAddress) return;
        CheckJob job = std::move(a.waiting.front());
        a.waiting.pop_front();
        if (m_conns.find(job.id) == m_conns.end()) continue;  // gone while it waited
        if (job.account != 0) {
            auto acc = m_checks_by_account.find(job.account);
            if (acc != m_checks_by_account.end() && acc->second >= kMaxChecksPerAccount) {
                job.refused();
                continue;
            }
            m_checks_by_account[job.account]++;
        }
        a.running++;
        auto done = [this, address, account = job.account, next = std::move(job.done)] {
            auto ai = m_checks_by_address.find(address);
            if (ai != m_checks_by_address.end()) ai->second.running--;
            auto acc = m_checks_by_account.find(account);
            if (acc != m_checks_by_account.end() && --acc->second <= 0)
                m_checks_by_account.erase(acc);
            next();
            start_checks(address);
        };
        if (m_offload) {
            m_offload(std::move(job.work), std::move(done));
        } else {
            job.work();
            done();
        }
    }
}

void Core::drain(ConnId id) {
    for (;;) {
        auto it = m_conns.find(id);
        if (it == m_conns.end()) return;
        Conn& c = it->second;
        if (c.busy || c.queued.empty()) return;
        auto [h, body] = std::move(c.queued.front());
        c.queued.pop_front();
        c.queued_bytes -= body.size();
        handle(id, c, h, body);
    }
}

void Core::handle(ConnId id, Conn& c, const msg_header& h, const std::string& body) {
    const int user = c.user_id;
    const ConnId outer = m_current;  // a synchronous sign-in handles queued messages inside
    m_current = id;
    auto need_login = [&](int refusal) {
        if (user != 0) return true;
        note("connection %llu: command %d before sign-in refused",
             static_cast<unsigned long long>(id), h.command);
        if (refusal) send(id, refusal);
        return false;
    };
    switch (h.command) {
        case CMD_LOGIN:
            do_login(id, c, body);
            break;
        case CMD_SIGN_OUT:
            do_sign_out(id, c);
            break;
        case CMD_GET_GROUPS:
            if (need_login(0)) send_groups(id, user);
            break;
        case CMD_GET_CONTACTS:
            if (need_login(0)) send_contacts(id, user);
            break;
        case CMD_LOCAL_ADDRESS:
            if (need_login(0)) do_local_address(c, body);
            break;
        case CMD_REGISTER:
            do_register(id, c, body);
            break;
        case CMD_SEARCH_CONTACT:
            if (need_login(SRV_SEARCH_FAILED)) do_search(id, body);
            break;
        case CMD_ADD_CONTACT:
            if (need_login(SRV_ADD_FAILED)) do_add_contact(id, user, body);
            break;
        case CMD_ACCEPT_ADDED:
        case CMD_DECLINE_ADDED:
            if (need_login(0)) do_add_confirm(id, user, body, h.command == CMD_ACCEPT_ADDED);
            break;
        case CMD_REMOVE_CONTACT:
            if (need_login(SRV_REMOVE_FAILED)) do_remove_contact(id, user, body);
            break;
        case CMD_ACCEPT_REMOVED:
        case CMD_KEEP_REMOVED:
            if (need_login(0)) do_remove_confirm(id, user, body, h.command == CMD_ACCEPT_REMOVED);
            break;
        case CMD_MOVE_CONTACT:
            if (need_login(0)) do_move_contact(user, body);
            break;
        case CMD_ADD_GROUP:
            if (need_login(SRV_GROUP_ADD_FAILED)) do_add_group(id, user, body);
            break;
        case CMD_RENAME_GROUP:
            if (need_login(SRV_GROUP_RENAME_FAILED)) do_rename_group(id, user, body);
            break;
        case CMD_REMOVE_GROUP:
            if (need_login(SRV_GROUP_REMOVE_FAILED)) do_remove_group(id, user, body);
            break;
        case CMD_OFFLINE_CHECK:
            if (need_login(0) && m_store.has_offline(user)) send(id, SRV_OFFLINE_WAITING);
            break;
        case CMD_OFFLINE_READ:
            if (need_login(0)) do_offline_fetch(id, user);
            break;
        case CMD_OFFLINE_DONE:
            if (need_login(0)) do_offline_delete(user, body);
            break;
        case CMD_SET_STATUS:
            if (need_login(0)) do_presence(id, user, body);
            break;
        case CMD_SPEED_START:
        case CMD_SPEED_DATA:
            break;
        case CMD_SPEED_END:
            send(id, SRV_SPEED_BEGIN);
            send(id, SRV_SPEED_END);
            break;
        case CMD_SPEED_RESULT:
            if (need_login(0)) do_stat(user, "speed", body);
            break;
        case CMD_RELAY_TRAFFIC:
            if (need_login(0)) do_stat(user, "relay_traffic", body);
            break;
        case CMD_RELAY_CONNECTIONS:
            if (need_login(0)) do_stat(user, "relay_connections", body);
            break;
        case CMD_KEEP_ALIVE:
            break;
        case CMD_RELAY_PORT_80:
        case CMD_RELAY_PORT_443:
        case CMD_RELAY_PORT_8199:
            if (need_login(0)) do_relay_port(id, c, h.command - CMD_RELAY_PORT_80, h.board_num);
            break;
        case CMD_SLAVE_SERVER_REQUEST:
            if (need_login(0)) do_slave_request(id, user);
            break;
        case CMD_SLAVE_ADDR_REQUEST:
            do_route_request(c, body);
            break;
        case CMD_PEER_SLAVE1:
        case CMD_PEER_SLAVE2:
            do_route_info(h.command, body);
            break;
        case CMD_QUERY_ONLINE:
            do_query_online(id, c, body);
            break;
        case CMD_STATUS_TO_HOME:
            do_status_to_contact(c, body);
            break;
        case CMD_PEER_ADDRESS_REQUEST:
            do_connect_back(c, body);
            break;
        case CMD_OFFLINE_BEGIN:
            do_offline_begin(c, body);
            break;
        case CMD_OFFLINE_TEXT:
            do_offline_part(c, body);
            break;
        case CMD_OFFLINE_END:
            do_offline_end(c, body);
            break;
        default:
            note("connection %llu: unknown command %d (len %d) ignored",
                 static_cast<unsigned long long>(id), h.command, h.len);
            break;
    }
    m_current = outer;
}

// ---- sign-in, registration, sign-out ----

void Core::do_login(ConnId id, Conn& c, const std::string& body) {
    std::string text = c_text(body);
    size_t colon = text.find(':');
    if (colon == std::string::npos) {
        note("connection %llu: login without ':' refused", static_cast<unsigned long long>(id));
        send(id, SRV_LOGIN_FAILED);
        return;
    }
    std::string email = cut(text.substr(0, colon), kEmailMax);
    std::string password = cut(text.substr(colon + 1), kLoginPasswordMax);
    User user;
    if (email.empty() || m_store.find_user_by_email(email, &user) != 0) {
        note("connection %llu: login for unknown e-mail '%s'", static_cast<unsigned long long>(id),
             email.c_str());
        send(id, SRV_LOGIN_FAILED);
        return;
    }
    c.busy = true;
    auto ok = std::make_shared<bool>(false);
    CheckJob job;
    job.id = id;
    job.account = user.id;
    job.work = [ok, hash = user.pw_hash, password] { *ok = password_verify(hash, password); };
    job.done = [this, id, ok, user] { finish_login(id, user, *ok); };
    job.refused = [this, id, email] {
        note("connection %llu: sign-in for %s refused: too many password checks for it at once",
             static_cast<unsigned long long>(id), email.c_str());
        auto it = m_conns.find(id);
        if (it != m_conns.end()) it->second.busy = false;
        send(id, SRV_LOGIN_FAILED);
        drain(id);
    };
    queue_check(c.peer_ip, std::move(job));
}

void Core::finish_login(ConnId id, const User& user, bool ok) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return;  // the connection went away meanwhile
    Conn& c = it->second;
    c.busy = false;
    if (!ok) {
        m_log.limited(c.budget, "connection %llu: wrong password for %s",
                      static_cast<unsigned long long>(id), user.email.c_str());
        send(id, SRV_LOGIN_FAILED);
        drain(id);
        return;
    }
    // A different user signing in on the same connection ends the first one's presence.
    if (c.user_id != 0 && c.user_id != user.id) end_presence(c.user_id, id, true);
    auto old = m_online.find(user.id);
    if (old != m_online.end() && old->second.conn != id) {
        ConnId old_id = old->second.conn;
        m_log.line("user %d signed in again on connection %llu; closing connection %llu", user.id,
                   static_cast<unsigned long long>(id), static_cast<unsigned long long>(old_id));
        auto oc = m_conns.find(old_id);
        if (oc != m_conns.end()) oc->second.user_id = 0;
        send(old_id, SRV_LOGGED_IN_ELSEWHERE);
        m_transport.close(old_id);
        m_online.erase(old);
    }
    c.user_id = user.id;
    c.session_id = static_cast<int>(randombytes_uniform(999999999U)) + 1;
    m_online_index = m_online_index % 9999 + 1;
    Presence& p = m_online[user.id];
    p.conn = id;
    p.state = PS_OFFLINE;
    p.address = c.peer_ip;

    send(id, SRV_SESSION_ID, fd(c.session_id));
    send(id, SRV_USER_ID, fd(user.id));
    send(id, SRV_ONLINE_INDEX, fd(m_online_index));
    send(id, SRV_NAME1, cut(user.first_name, 31));
    send(id, SRV_NAME2, cut(user.last_name, 31));
    send(id, SRV_NAME3, cut(user.nick_name, 31));
    send(id, SRV_LOGIN_OK);
    m_log.line("connection %llu: user %d (%s) signed in", static_cast<unsigned long long>(id),
               user.id, user.email.c_str());
    drain(id);
}

void Core::do_register(ConnId id, Conn& c, const std::string& body) {
    if (body.size() != static_cast<size_t>(kRegisterRecordLen)) {
        note("connection %llu: registration record of %zu bytes refused",
             static_cast<unsigned long long>(id), body.size());
        send(id, SRV_REGISTER_ERROR);
        return;
    }
    User u;
    u.email = slot_text(body, 0, 127);
    // The sign-in dialog sends at most 31 password characters, so only those can ever match.
    std::string password = cut(slot_text(body, 128, 63), kLoginPasswordMax);
    u.first_name = slot_text(body, 192, 31);
    u.last_name = slot_text(body, 224, 31);
    u.nick_name = slot_text(body, 256, 127);
    u.phone = slot_text(body, 384, 63);
    u.country = slot_text(body, 448, 63);
    bool email_ok = !u.email.empty() && u.email.size() <= static_cast<size_t>(kEmailMax) &&
                    u.email.find_first_of(": \t") == std::string::npos && !has_control(u.email);
    if (!email_ok || password.empty() || has_control(u.first_name) || has_control(u.last_name) ||
        has_control(u.nick_name)) {
        note("connection %llu: registration with invalid fields refused",
             static_cast<unsigned long long>(id));
        send(id, SRV_REGISTER_ERROR);
        return;
    }
    User existing;
    if (m_store.find_user_by_email(u.email, &existing) == 0) {
        send(id, SRV_REGISTER_EMAIL_EXISTS);
        return;
    }
    c.busy = true;
    auto hash = std::make_shared<std::string>();
    auto rc = std::make_shared<int>(-1);
    bool fast = m_options.fast_hash;
    CheckJob job;
    job.id = id;
    job.work = [hash, rc, password, fast] { *rc = password_hash(password, fast, hash.get()); };
    job.done = [this, id, hash, rc, u]() mutable {
        auto it = m_conns.find(id);
        if (it == m_conns.end()) return;
        it->second.busy = false;
        int result = -1;
        if (*rc == 0) {
            u.pw_hash = *hash;
            result = m_store.create_user(u);
        }
        if (result > 0) {
            m_log.line("connection %llu: registered user %d (%s)",
                       static_cast<unsigned long long>(id), result, u.email.c_str());
            send(id, SRV_REGISTER_OK);
        } else if (result == Store::kEmailExists) {
            send(id, SRV_REGISTER_EMAIL_EXISTS);
        } else {
            m_log.line("registration of %s failed: %s", u.email.c_str(),
                       m_store.last_error().c_str());
            send(id, SRV_REGISTER_ERROR);
        }
        drain(id);
    };
    queue_check(c.peer_ip, std::move(job));
}

void Core::do_sign_out(ConnId id, Conn& c) {
    if (c.user_id == 0) return;
    m_log.line("connection %llu: user %d signed out", static_cast<unsigned long long>(id),
               c.user_id);
    // The client's own announcement of its offline state comes from a user no longer signed
    // in, which is not taken; the server tells the contacts itself.
    end_presence(c.user_id, id, true);
    c.user_id = 0;
}

// ---- lists ----

void Core::send_groups(ConnId id, int user) {
    std::vector<Group> groups;
    m_store.list_groups(user, &groups);
    send(id, SRV_GROUPS_BEGIN);
    for (const Group& g : groups) send(id, SRV_GROUP, f10(g.id) + ":" + cut(g.name, 63));
    send(id, SRV_GROUPS_END);
}

void Core::send_contacts(ConnId id, int user) {
    std::vector<ContactEntry> contacts;
    m_store.list_contacts(user, &contacts);
    send(id, SRV_CONTACTS_BEGIN);
    for (const ContactEntry& e : contacts) {
        std::string name = e.contact.nick_name.empty() ? e.contact.email : e.contact.nick_name;
        send(id, SRV_CONTACT, f10(e.contact_id) + ":" + f10(e.group_id) + ":" + cut(name, 63));
    }
    // The details come before the end of the list, so that a client acting on the complete list
    // (asking about relation states 4 and 6, querying home servers) already has them.
    for (const ContactEntry& e : contacts) {
        std::string key = f10(e.contact_id) + ":";
        send(id, SRV_CONTACT_HOME_SERVER, key + cut(m_options.advertise, 31));
        send(id, SRV_CONTACT_EXTRA, key + cut(first_word(e.contact.country), 31));
        send(id, SRV_CONTACT_FIRST_NAME, key + cut(e.contact.first_name, 63));
        send(id, SRV_CONTACT_LAST_NAME, key + cut(e.contact.last_name, 63));
        send(id, SRV_CONTACT_EMAIL, key + cut(e.contact.email, 127));
        send(id, SRV_CONTACT_RELATION, key + fd(e.state));
    }
    send(id, SRV_CONTACTS_END);
}

void Core::refresh_contacts_if_online(int user) {
    auto it = m_online.find(user);
    if (it != m_online.end()) send_contacts(it->second.conn, user);
}

void Core::do_local_address(Conn& c, const std::string& body) {
    std::string addr = cut(first_word(c_text(body)), kAddressMax);
    for (char ch : addr)
        if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == ':' || ch == '-'))
            return;
    if (addr.empty()) return;
    auto it = m_online.find(c.user_id);
    if (it != m_online.end()) it->second.address = addr;
}

// ---- contacts ----

void Core::do_search(ConnId id, const std::string& body) {
    std::string email = cut(c_text(body), 127);
    User u;
    if (email.empty() || has_control(email)) {
        send(id, SRV_SEARCH_FAILED);
        return;
    }
    if (m_store.find_user_by_email(email, &u) != 0) {
        send(id, SRV_SEARCH_NOT_FOUND);
        return;
    }
    send(id, SRV_FOUND_ID, fd(u.id));
    send(id, SRV_FOUND_FIRST_NAME, cut(u.first_name, 31));
    send(id, SRV_FOUND_LAST_NAME, cut(u.last_name, 31));
    send(id, SRV_FOUND_NICK_NAME, cut(u.nick_name, 127));
    send(id, SRV_FOUND_EMAIL, cut(u.email, 127));
}

void Core::do_add_contact(ConnId id, int user, const std::string& body) {
    int contact = 0, group = 0;
    User other;
    if (!parse_field(body, 0, 10, &contact) || body.size() < 21 || body[10] != ':' ||
        !parse_field(body, 11, 10, &group) || contact == user ||
        m_store.find_user(contact, &other) != 0) {
        send(id, SRV_ADD_FAILED);
        return;
    }
    if (m_store.get_relation(user, contact, nullptr, nullptr) == 0) {
        send(id, SRV_ADD_EXISTS);
        return;
    }
    if (group != 0 && !m_store.group_owned(user, group)) group = 0;
    int their_state = 0, their_group = 0;
    bool they_have_me = m_store.get_relation(contact, user, &their_state, &their_group) == 0;
    if (m_store.count_contacts(user) >= kMaxContacts ||
        (!they_have_me && m_store.count_contacts(contact) >= kMaxContacts)) {
        send(id, SRV_ADD_FAILED);
        return;
    }
    bool ok = m_store.begin() == 0;
    ok = ok && m_store.set_relation(user, contact, REL_ADDED, group) == 0;
    if (!they_have_me)
        ok = ok && m_store.set_relation(contact, user, REL_ADDED_ME, 0) == 0;
    else if (their_state == REL_REMOVED_ME)
        ok = ok && m_store.set_relation_state(contact, user, REL_ADDED) == 0;
    ok = ok && m_store.commit() == 0;
    if (!ok) {
        m_store.rollback();
        m_log.line("add contact %d -> %d failed: %s", user, contact, m_store.last_error().c_str());
        send(id, SRV_ADD_FAILED);
        return;
    }
    send(id, SRV_ADD_OK);
    if (!they_have_me || their_state == REL_REMOVED_ME) refresh_contacts_if_online(contact);
}

void Core::do_add_confirm(ConnId id, int user, const std::string& body, bool yes) {
    int contact = 0;
    if (!parse_int(c_text(body), &contact)) {
        send(id, SRV_ADD_CONFIRM_NO, "0");
        return;
    }
    int state = 0;
    bool have = m_store.get_relation(user, contact, &state, nullptr) == 0;
    if (yes) {
        if (have && state != REL_ADDED && m_store.set_relation_state(user, contact, REL_ADDED) != 0)
            have = false;
        send(id, have ? SRV_ADD_CONFIRM_OK : SRV_ADD_CONFIRM_NO, fd(contact));
        // The user who asked learns the new contact's home server (and so can reach it at once)
        // from a fresh list instead of only at the next sign-in.
        if (have) refresh_contacts_if_online(contact);
        return;
    }
    // Declined: the request disappears from this user's list; the other side keeps its entry.
    if (have && state == REL_ADDED_ME) m_store.delete_relation(user, contact);
    send(id, SRV_ADD_CONFIRM_NO, fd(contact));
}

void Core::do_remove_contact(ConnId id, int user, const std::string& body) {
    int contact = 0;
    if (!parse_int(c_text(body), &contact)) {
        send(id, SRV_REMOVE_FAILED);
        return;
    }
    bool ok = m_store.begin() == 0;
    ok = ok && m_store.delete_relation(user, contact) == 0;
    int their_state = 0;
    bool they_have_me = ok && m_store.get_relation(contact, user, &their_state, nullptr) == 0;
    if (they_have_me) ok = m_store.set_relation_state(contact, user, REL_REMOVED_ME) == 0;
    ok = ok && m_store.commit() == 0;
    if (!ok) {
        m_store.rollback();
        send(id, SRV_REMOVE_FAILED);
        return;
    }
    send(id, SRV_REMOVE_OK, fd(contact));
    if (they_have_me) refresh_contacts_if_online(contact);
}

void Core::do_remove_confirm(ConnId id, int user, const std::string& body, bool yes) {
    int contact = 0;
    if (!parse_int(c_text(body), &contact)) return;
    if (yes) {
        m_store.delete_relation(user, contact);
        send(id, SRV_REMOVE_CONFIRM_OK, fd(contact));
    } else {
        m_store.set_relation_state(user, contact, REL_REMOVAL_DECLINED);
        send(id, SRV_REMOVE_CONFIRM_NO, fd(contact));
    }
}

void Core::do_move_contact(int user, const std::string& body) {
    int contact = 0, group = 0;
    if (!parse_field(body, 0, 10, &contact) || body.size() < 21 || body[10] != ':' ||
        !parse_field(body, 11, 10, &group))
        return;
    if (group != 0 && !m_store.group_owned(user, group)) {
        note("user %d: move of contact %d to foreign group %d ignored", user, contact, group);
        return;
    }
    m_store.move_contact(user, contact, group);
}

// ---- groups ----

void Core::do_add_group(ConnId id, int user, const std::string& body) {
    std::string name = cut(c_text(body), kGroupNameMax);
    if (name.empty() || has_control(name) || m_store.count_groups(user) >= kMaxGroups) {
        send(id, SRV_GROUP_ADD_FAILED);
        return;
    }
    int gid = m_store.add_group(user, name);
    if (gid <= 0) {
        send(id, SRV_GROUP_ADD_FAILED);
        return;
    }
    send(id, SRV_GROUP_ADD_OK, fd(gid));
}

void Core::do_rename_group(ConnId id, int user, const std::string& body) {
    int gid = 0;
    std::string text = c_text(body);
    std::string name = text.size() > 11 ? cut(text.substr(11), kGroupNameMax) : std::string();
    if (!parse_field(text, 0, 10, &gid) || text.size() < 11 || text[10] != ':' || gid == 0 ||
        name.empty() || has_control(name) || m_store.rename_group(user, gid, name) != 0) {
        send(id, SRV_GROUP_RENAME_FAILED);
        return;
    }
    send(id, SRV_GROUP_RENAME_OK, f10(gid) + ":" + name);
}

void Core::do_remove_group(ConnId id, int user, const std::string& body) {
    int gid = 0;
    if (!parse_int(c_text(body), &gid) || gid == 0 || m_store.remove_group(user, gid) != 0) {
        send(id, SRV_GROUP_REMOVE_FAILED);
        return;
    }
    send(id, SRV_GROUP_REMOVE_OK, fd(gid));
}

// ---- offline messages ----

void Core::do_offline_fetch(ConnId id, int user) {
    std::vector<OfflineMessage> messages;
    m_store.list_offline(user, &messages);
    auto& delivered = m_delivered[user];
    for (const OfflineMessage& m : messages) {
        send(id, SRV_OFFLINE_BEGIN, fd(static_cast<int>(m.id)));
        for (size_t pos = 0; pos < m.text.size(); pos += kOfflineChunk)
            send(id, SRV_OFFLINE_TEXT, std::string_view(m.text).substr(pos, kOfflineChunk));
        send(id, SRV_OFFLINE_END, f10(m.sender));
        int64_t& top = delivered[m.sender];
        if (m.id > top) top = m.id;
    }
}

void Core::do_offline_delete(int user, const std::string& body) {
    int sender = 0;
    if (!parse_int(c_text(body), &sender)) return;
    // Only what the user has been shown goes: a message that arrived after the last fetch stays.
    auto users = m_delivered.find(user);
    if (users == m_delivered.end()) return;
    auto it = users->second.find(sender);
    if (it == users->second.end()) return;
    if (m_store.delete_offline(user, sender, it->second) != 0)
        m_log.line("deleting offline messages of %d for %d failed: %s", sender, user,
                   m_store.last_error().c_str());
    users->second.erase(it);
}

void Core::do_offline_begin(Conn& c, const std::string& body) {
    int to = 0, from = 0;
    User recipient, sender;
    if (c.off_open)
        note("offline message from %d to %d replaced by a new one before its end", c.off_from,
             c.off_to);
    c.off_open = false;
    c.off_text.clear();
    if (!parse_field(body, 0, 10, &to) || body.size() < 21 || body[10] != ':' ||
        !parse_field(body, 11, 10, &from) || m_store.find_user(to, &recipient) != 0) {
        note("offline message start with bad or unknown ids ignored");
        return;
    }
    // Stored only from registered users, signed in where the message comes from.
    if (m_store.find_user(from, &sender) != 0) {
        note("offline message to %d from %d refused: the sender is not a registered user", to,
             from);
        return;
    }
    if (!claim_ok(from, c.peer_ip, "offline message")) return;
    int count = 0;
    int64_t bytes = 0;
    if (m_store.offline_usage(to, &count, &bytes) != 0 || count >= kOfflineQuotaMessages ||
        bytes >= kOfflineQuotaBytes) {
        note("offline message from %d to %d refused: %d messages (%lld bytes) already wait", from,
             to, count, static_cast<long long>(bytes));
        // The sending client reads nothing on this connection; its user learns of the refusal
        // on the main connection.
        auto on = m_online.find(from);
        if (on != m_online.end())
            send(on->second.conn, SRV_NOTICE2,
                 "Your offline message to " +
                     cut(recipient.nick_name.empty() ? recipient.email : recipient.nick_name, 127) +
                     " was not delivered: too many messages are waiting for this user.");
        return;
    }
    c.off_open = true;
    c.off_to = to;
    c.off_from = from;
}

void Core::do_offline_part(Conn& c, const std::string& body) {
    if (!c.off_open) return;
    size_t room = kOfflineMaxText - c.off_text.size();
    if (body.size() > room) {
        note("offline message from %d to %d longer than %d bytes; cut", c.off_from, c.off_to,
             kOfflineMaxText);
        c.off_text.append(body, 0, room);
        return;
    }
    c.off_text += body;
}

void Core::do_offline_end(Conn& c, const std::string& body) {
    int to = 0, from = 0;
    if (!c.off_open) return;
    c.off_open = false;
    if (!parse_field(body, 0, 10, &to) || body.size() < 21 || body[10] != ':' ||
        !parse_field(body, 11, 10, &from) || to != c.off_to || from != c.off_from) {
        note("offline message end does not match its start; discarded");
        c.off_text.clear();
        return;
    }
    if (m_store.add_offline(to, from, c.off_text) != 0)
        m_log.line("storing offline message from %d to %d failed: %s", from, to,
                   m_store.last_error().c_str());
    else
        note("offline message from %d to %d stored (%zu bytes)", from, to, c.off_text.size());
    c.off_text.clear();
}

// ---- presence ----

int Core::visible_state(int user) const {
    auto it = m_online.find(user);
    if (it == m_online.end() || it->second.state == PS_APPEAR_OFFLINE) return PS_OFFLINE;
    return it->second.state;
}

void Core::do_presence(ConnId id, int user, const std::string& body) {
    int state = 0;
    auto it = m_online.find(user);
    if (it == m_online.end()) return;
    if (parse_int(c_text(body), &state) && state >= 0 && state <= kPresenceMax)
        it->second.state = state;
    send(id, SRV_STATUS_SET, fd(it->second.state));
}

void Core::do_stat(int user, const char* column, const std::string& body) {
    int value = 0;
    if (parse_int(c_text(body), &value)) m_store.set_stat(user, column, value);
}

void Core::notify_watchers(int user, int state, const std::string& address) {
    std::vector<int> watchers;
    m_store.list_watchers(user, &watchers);
    std::string body = f10(user) + ":" + f6(state) + ":" + address;
    for (int w : watchers) {
        auto it = m_online.find(w);
        if (it != m_online.end()) send(it->second.conn, SRV_PEER_STATUS, body);
    }
}

void Core::do_query_online(ConnId id, const Conn& c, const std::string& body) {
    int contact = 0;
    if (!parse_int(c_text(body), &contact)) {
        send(id, SRV_ONLINE_DONE);
        return;
    }
    // Presence and address go only to a user signed in from the asking address who keeps the
    // contact in the list; anyone else learns what an offline user shows.
    bool entitled = false;
    for (const auto& [uid, p] : m_online) {
        auto mc = m_conns.find(p.conn);
        if (mc == m_conns.end() || mc->second.peer_ip != c.peer_ip) continue;
        if (m_store.get_relation(uid, contact, nullptr, nullptr) == 0) {
            entitled = true;
            break;
        }
    }
    int state = entitled ? visible_state(contact) : PS_OFFLINE;
    send(id, SRV_ONLINE_STATE, f10(contact), state);
    auto it = m_online.find(contact);
    if (state != PS_OFFLINE && it != m_online.end())
        send(id, SRV_ONLINE_ADDRESS, f10(contact) + ":" + it->second.address);
    else
        send(id, SRV_ONLINE_DONE);
}

void Core::do_status_to_contact(const Conn& c, const std::string& body) {
    int contact = 0, sender = 0, state = 0;
    std::string text = c_text(body);
    if (!parse_field(text, 0, 10, &contact) || text.size() < 29 || text[10] != ':' ||
        !parse_field(text, 11, 10, &sender) || text[21] != ':' ||
        !parse_field(text, 22, 6, &state) || text[28] != ':' || state < 0 || state > kPresenceMax) {
        note("status notice with a malformed body ignored");
        return;
    }
    auto it = m_online.find(contact);
    if (it == m_online.end()) return;
    if (!claim_ok(sender, c.peer_ip, "status notice")) return;
    // Only to someone who keeps the sender in the list.
    if (m_store.get_relation(contact, sender, nullptr, nullptr) != 0) return;
    if (state == PS_APPEAR_OFFLINE) state = PS_OFFLINE;
    std::string address = cut(first_word(text.substr(29)), kAddressMax);
    send(it->second.conn, SRV_PEER_STATUS, f10(sender) + ":" + f6(state) + ":" + address);
}

constexpr std::chrono::seconds kConnectBackQuiet{10};

// 380 "%10d:%10d:%s" (target, requester, requester's address): the requester could not reach the
// target directly, so the target is asked to connect to the requester (381 "%10d:%s").
void Core::do_connect_back(const Conn& c, const std::string& body) {
    int target = 0, requester = 0;
    std::string text = c_text(body);
    if (!parse_field(text, 0, 10, &target) || text.size() < 23 || text[10] != ':' ||
        !parse_field(text, 11, 10, &requester) || text[21] != ':') {
        note("connect-back request with a malformed body ignored");
        return;
    }
    std::string address = cut(first_word(text.substr(22)), kAddressMax);
    auto it = m_online.find(target);
    if (it == m_online.end() || address.empty()) return;
    if (!claim_ok(requester, c.peer_ip, "connect-back request")) return;
    // Only between users who keep each other in their lists.
    if (m_store.get_relation(target, requester, nullptr, nullptr) != 0) return;
    // A client that fails to connect back asks the other side to connect back in turn; when
    // neither accepts connections the two would bounce requests through the server without end.
    // A request that answers one sent moments ago is therefore not passed on.
    const auto now = std::chrono::steady_clock::now();
    auto answered = m_connect_back_sent.find({requester, target});
    if (answered != m_connect_back_sent.end() && now - answered->second < kConnectBackQuiet) {
        note("connect-back: user %d cannot reach user %d either; not passed on", requester, target);
        return;
    }
    if (m_connect_back_sent.size() >= 4096) {
        for (auto e = m_connect_back_sent.begin(); e != m_connect_back_sent.end();)
            e = now - e->second >= kConnectBackQuiet ? m_connect_back_sent.erase(e) : std::next(e);
    }
    m_connect_back_sent[{target, requester}] = now;
    note("connect-back: user %d asked to connect to user %d at %s", target, requester,
         address.c_str());
    send(it->second.conn, SRV_PEER_ADDRESS, f10(requester) + ":" + address);
}

// ---- relays ----

// 420-422: the client's relay server listens on the slot's port (board_num names the port when
// it is not the default). Confirmed with 430-432 only once the server has connected to it at the
// client's address, so that nobody is handed a relay that cannot be reached.
void Core::do_relay_port(ConnId id, Conn& c, int slot, int board_num) {
    int port = board_num == 0 ? kRelayPorts[slot] : board_num;
    if (port <= 0 || port > kMaxBoardPort) {
        note("user %d: relay port %d refused", c.user_id, board_num);
        return;
    }
    if (c.relay_port[slot] == port) {
        send(id, SRV_RELAY_ACK_80 + slot);
        return;
    }
    if (c.relay_probing[slot]) return;  // the announcement repeats every 5 s; one check at a time
    c.relay_probing[slot] = true;
    const int user = c.user_id;
    const std::string address = c.peer_ip;
    m_transport.probe(address, port, [this, id, slot, port, user, address](bool ok) {
        auto it = m_conns.find(id);
        if (it == m_conns.end() || it->second.user_id != user) return;
        it->second.relay_probing[slot] = false;
        if (!ok) {
            m_log.line("user %d: relay port %s:%d not reachable", user, address.c_str(), port);
            return;
        }
        it->second.relay_port[slot] = port;
        m_log.line("user %d: relay port %s:%d confirmed", user, address.c_str(), port);
        send(id, SRV_RELAY_ACK_80 + slot);
    });
}

// 460: two relays for the requester, A and B. Relays of other signed-in users come first (lowest
// id first), then the server's own relay, then the requester's own relay. Nothing is answered
// while no relay is known; the client asks again every 5 s.
void Core::do_slave_request(ConnId id, int user) {
    struct Choice {
        int user;
        std::string address;
        int ports[3];
    };
    std::vector<Choice> others;
    std::vector<Choice> self;
    for (const auto& [uid, p] : m_online) {
        auto ci = m_conns.find(p.conn);
        if (ci == m_conns.end()) continue;
        const Conn& rc = ci->second;
        if (rc.relay_port[0] == 0 && rc.relay_port[1] == 0 && rc.relay_port[2] == 0) continue;
        Choice ch{uid, cut(rc.peer_ip, kSlaveAddressMax), {rc.relay_port[0], rc.relay_port[1],
                                                          rc.relay_port[2]}};
        (uid == user ? self : others).push_back(ch);
    }
    std::sort(others.begin(), others.end(),
              [](const Choice& a, const Choice& b) { return a.user < b.user; });
    std::vector<Choice> chosen = others;
    if (m_options.relay_port > 0 && m_options.relay_port <= kMaxBoardPort)
        chosen.push_back({0, cut(m_options.advertise, kSlaveAddressMax), {m_options.relay_port, 0, 0}});
    chosen.insert(chosen.end(), self.begin(), self.end());
    if (chosen.empty()) {
        note("user %d asked for relays; none is known", user);
        return;
    }
    if (chosen.size() > 2) chosen.resize(2);
    for (size_t which = 0; which < 2; which++) {
        const int address_cmd = which == 0 ? SRV_SLAVE1_ADDRESS : SRV_SLAVE2_ADDRESS;
        const int port_cmd = which == 0 ? SRV_SLAVE1_PORT1 : SRV_SLAVE2_PORT1;
        if (which < chosen.size()) {
            send(id, address_cmd, chosen[which].address);
            for (int k = 0; k < 3; k++) send(id, port_cmd + k, {}, chosen[which].ports[k]);
        } else {
            send(id, address_cmd);
            for (int k = 0; k < 3; k++) send(id, port_cmd + k, {}, 0);
        }
    }
    send(id, SRV_SLAVE_CONNECT);
    m_log.line("user %d given relay %s:%d%s%s", user, chosen[0].address.c_str(),
               chosen[0].ports[0] ? chosen[0].ports[0]
                                  : (chosen[0].ports[1] ? chosen[0].ports[1] : chosen[0].ports[2]),
               chosen.size() > 1 ? " and " : "", chosen.size() > 1 ? chosen[1].address.c_str() : "");
}

namespace {
// "%10d:%10d:" at the start of a home-server request: the target, then the sender.
bool two_ids(const std::string& text, int* target, int* sender) {
    return parse_field(text, 0, 10, target) && text.size() >= 22 && text[10] == ':' &&
           parse_field(text, 11, 10, sender) && text[21] == ':';
}
}  // namespace

// 480 "%10d:%10d:" (target, requester): the requester wants the target's relays; the target
// answers with 481 and 482 through the requester's home server. A signed-in client may also name
// only the target ("%d"); it is then the requester.
void Core::do_route_request(const Conn& c, const std::string& body) {
    int target = 0, requester = 0;
    std::string text = c_text(body);
    if (!two_ids(text, &target, &requester)) {
        if (c.user_id == 0 || !parse_int(text, &target)) {
            note("relay route request with a malformed body ignored");
            return;
        }
        requester = c.user_id;
    }
    auto it = m_online.find(target);
    if (it == m_online.end() || target == requester) return;
    // Only between users who keep each other in their lists: the answer discloses addresses.
    if (m_store.get_relation(target, requester, nullptr, nullptr) != 0) return;
    send(it->second.conn, SRV_SLAVE_ADDR_REQUEST, f10(requester));
}

// 481/482 "%10d:%10d:" (target, sender), then "%10d:%6d:%6d:%6d:%s" (sender, three ports, relay
// address): the sender's relay, forwarded to the target as the text alone.
void Core::do_route_info(int command, const std::string& body) {
    int target = 0, sender = 0;
    std::string text = c_text(body);
    if (!two_ids(text, &target, &sender)) {
        note("relay route %d with a malformed body ignored", command);
        return;
    }
    std::string route = cut(text.substr(22), kRouteTextMax);
    int named = 0, port = 0;
    bool ok = route.size() >= 32 && parse_field(route, 0, 10, &named) && route[10] == ':' &&
              route[17] == ':' && route[24] == ':' && route[31] == ':' && named == sender;
    for (size_t off = 11; ok && off < 32; off += 7)
        ok = parse_field(route, off, 6, &port) && port >= 0 && port <= 65535;
    if (!ok || has_control(route)) {
        note("relay route %d from %d with a malformed text ignored", command, sender);
        return;
    }
    // A route without an address would become the peer's first route and hide the usable ones
    // that follow; it tells the target nothing, so it is not passed on.
    if (first_word(route.substr(32)).empty()) return;
    auto it = m_online.find(target);
    if (it == m_online.end()) return;
    if (m_store.get_relation(target, sender, nullptr, nullptr) != 0) return;
    send(it->second.conn, command == CMD_PEER_SLAVE1 ? SRV_PEER_SLAVE1 : SRV_PEER_SLAVE2, route);
}

// ---- datagrams ----

int Core::on_datagram(std::string_view d, const std::string& from_ip, std::string* ack) {
    const size_t inner = kOuterHeaderLen + kHeaderLen;  // 66
    if (d.size() < inner || d.size() > static_cast<size_t>(kDatagramMax)) return -1;
    // The same checks the receiving client applies, so nothing is relayed that it would reject.
    if (check_outer_header(d.data()) >= 0) return -1;
    for (size_t i = kOuterHeaderLen; i < inner; i++)
        if (!((d[i] >= '0' && d[i] <= '9') || d[i] == ' ' || d[i] == ':')) return -1;
    int receiver = 0, sender = 0;
    msg_header h;
    if (!parse_field(d, 13, 10, &receiver) || !parse_field(d, 24, 10, &sender) ||
        parse_header(d.data() + kOuterHeaderLen, &h) != 0 || h.len < 0 ||
        inner + static_cast<size_t>(h.len) > d.size())
        return -1;
    auto it = m_online.find(receiver);
    if (it != m_online.end() && !claim_ok(sender, from_ip, "datagram")) return -2;
    ack->assign(d.substr(0, kOuterHeaderLen));
    if (it == m_online.end()) return 0;
    std::string body(d.substr(0, inner + static_cast<size_t>(h.len)));
    xor_scramble(body.data() + inner, h.len);
    send(it->second.conn, SRV_RELAYED_DATAGRAM, body);
    return 0;
}

// ---- notices and demo data ----

int Core::broadcast_notice(int command, const std::string& text) {
    std::string body = cut(text, kNoticeMax);
    int n = 0;
    for (auto& [user, p] : m_online) {
        send(p.conn, command, body);
        n++;
    }
    m_log.line("notice %d sent to %d users", command, n);
    return n;
}

int Core::seed_demo() {
    struct Demo {
        const char* email;
        const char* first;
        const char* last;
        const char* nick;
        const char* country;
    };
    const Demo demos[] = {
        {"alice@example.com", "Alice", "Archer", "alice", "World"},
        {"bob@example.com", "Bob", "Baker", "bob", "World"},
        {"carol@example.com", "Carol", "Carter", "carol", "World"},
    };
    User existing;
    if (m_store.find_user_by_email(demos[0].email, &existing) == 0) return 0;
    int ids[3] = {0, 0, 0};
    if (m_store.begin() != 0) return -1;
    for (int i = 0; i < 3; i++) {
        User u;
        u.email = demos[i].email;
        u.first_name = demos[i].first;
        u.last_name = demos[i].last;
        u.nick_name = demos[i].nick;
        u.country = demos[i].country;
        if (password_hash(kDemoPassword, m_options.fast_hash, &u.pw_hash) != 0) {
            m_store.rollback();
            return -1;
        }
        ids[i] = m_store.create_user(u);
        if (ids[i] <= 0) {
            m_store.rollback();
            return -1;
        }
    }
    int friends = m_store.add_group(ids[0], "Friends");
    bool ok = friends > 0 && m_store.set_relation(ids[0], ids[1], REL_ADDED, friends) == 0 &&
              m_store.set_relation(ids[1], ids[0], REL_ADDED, 0) == 0 &&
              m_store.set_relation(ids[1], ids[2], REL_ADDED, 0) == 0 &&
              m_store.set_relation(ids[2], ids[1], REL_ADDED, 0) == 0;
    if (!ok || m_store.commit() != 0) {
        m_store.rollback();
        return -1;
    }
    m_log.line("demo accounts created: %s, %s, %s (password %s)", demos[0].email, demos[1].email,
               demos[2].email, kDemoPassword);
    return 0;
}

}  // namespace srv
