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
#include "server/core_text.h"
#include "server/limits.h"
#include "server/password.h"

namespace srv {
using namespace core_text;

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
        if (oc != m_conns.end()) set_user(oc->second, 0);
        send(old_id, SRV_LOGGED_IN_ELSEWHERE);
        m_transport.close(old_id);
        m_online.erase(old);
    }
    set_user(c, user.id);
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
    set_user(c, 0);
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

}  // namespace srv
