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

std::string Core::offline_refusal(int to, int from) {
    char why[160];
    int count = 0;
    int64_t bytes = 0;
    if (m_store.offline_usage(to, &count, &bytes) != 0) return "the store cannot be read";
    if (count >= kOfflineQuotaMessages || bytes >= kOfflineQuotaBytes) {
        std::snprintf(why, sizeof why, "%d messages (%lld bytes) already wait", count,
                      static_cast<long long>(bytes));
        return why;
    }
    if (m_store.offline_usage_from(to, from, &count, &bytes) != 0) return "the store cannot be read";
    if (count >= kOfflineSenderMessages || bytes >= kOfflineSenderBytes) {
        std::snprintf(why, sizeof why, "%d messages (%lld bytes) of this sender already wait",
                      count, static_cast<long long>(bytes));
        return why;
    }
    int state = 0;
    if (m_store.get_relation(to, from, &state, nullptr) == 0 && state == REL_ADDED) return {};
    if (m_store.offline_usage_strangers(to, REL_ADDED, &count, &bytes) != 0)
        return "the store cannot be read";
    if (count >= kOfflineStrangerMessages || bytes >= kOfflineStrangerBytes) {
        std::snprintf(why, sizeof why,
                      "%d messages (%lld bytes) of senders who are not contacts already wait",
                      count, static_cast<long long>(bytes));
        return why;
    }
    return {};
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
    std::string why = offline_refusal(to, from);
    if (!why.empty()) {
        note("offline message from %d to %d refused: %s", from, to, why.c_str());
        // A sender that asked for a receipt learns of the refusal at the message's end; an
        // older one reads nothing on this connection, so its user is told on the main one.
        auto on = m_online.find(from);
        if (!c.off_receipts && on != m_online.end())
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

void Core::do_offline_end(ConnId id, Conn& c, const std::string& body) {
    int to = 0, from = 0;
    const bool matches = parse_field(body, 0, 10, &to) && body.size() >= 21 && body[10] == ':' &&
                         parse_field(body, 11, 10, &from) && to == c.off_to && from == c.off_from;
    bool stored = false;
    if (!c.off_open) {
        // Refused at its start (logged there), or an end without a start.
    } else if (!matches) {
        note("offline message end does not match its start; discarded");
    } else if (m_store.add_offline(to, from, c.off_text) != 0) {
        m_log.line("storing offline message from %d to %d failed: %s", from, to,
                   m_store.last_error().c_str());
    } else {
        note("offline message from %d to %d stored (%zu bytes)", from, to, c.off_text.size());
        stored = true;
    }
    c.off_open = false;
    c.off_text.clear();
    if (c.off_receipts)
        send(id, stored ? SRV_OFFLINE_STORED : SRV_OFFLINE_REFUSED, body.substr(0, 21));
}

}  // namespace srv
