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
    AddressConns& a = m_by_address[peer_ip];
    a.total++;
    // Counted before the check, so that on_close balances the counts of a refused one too.
    if (a.total > m_options.max_per_address ||
        a.total - a.signed_in > m_options.max_unsigned_per_address) {
        m_log.limited(m_budget, "connection %llu from %s refused: %d connections (%d signed in) "
                      "from that address",
                      static_cast<unsigned long long>(id), peer_ip.c_str(), a.total - 1,
                      a.signed_in);
        m_transport.close(id);
    }
}

void Core::set_user(Conn& c, int user) {
    if ((c.user_id != 0) != (user != 0)) m_by_address[c.peer_ip].signed_in += user != 0 ? 1 : -1;
    c.user_id = user;
}

void Core::on_close(ConnId id) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return;
    Conn& c = it->second;
    if (c.off_open)
        m_log.line("connection %llu closed inside an offline message from %d to %d; discarded",
                   static_cast<unsigned long long>(id), c.off_from, c.off_to);
    if (c.user_id != 0) end_presence(c.user_id, id, true);
    set_user(c, 0);
    auto a = m_by_address.find(c.peer_ip);
    if (a != m_by_address.end() && --a->second.total <= 0) m_by_address.erase(a);
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
            do_offline_end(id, c, body);
            break;
        case CMD_EXTENSIONS:
            if (m_options.extensions) send(id, SRV_EXTENSIONS, fd(kExtAll));
            else note("connection %llu: extensions are off; 1100 ignored",
                      static_cast<unsigned long long>(id));
            break;
        case CMD_OFFLINE_RECEIPT:
            if (m_options.extensions) c.off_receipts = true;
            break;
        default:
            note("connection %llu: unknown command %d (len %d) ignored",
                 static_cast<unsigned long long>(id), h.command, h.len);
            break;
    }
    m_current = outer;
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
