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
    // Only a user signed in from the datagram's own address may send one: an id nobody signed
    // in under could otherwise fill the receiver's chat windows. Refused ones get no ack either.
    if (m_online.find(sender) == m_online.end()) {
        note("datagram from %s for user %d refused: sender %d is not signed in", from_ip.c_str(),
             receiver, sender);
        return -2;
    }
    if (!claim_ok(sender, from_ip, "datagram")) return -2;
    auto it = m_online.find(receiver);
    ack->assign(d.substr(0, kOuterHeaderLen));
    if (it == m_online.end()) return 0;
    std::string body(d.substr(0, inner + static_cast<size_t>(h.len)));
    xor_scramble(body.data() + inner, h.len);
    send(it->second.conn, SRV_RELAYED_DATAGRAM, body);
    return 0;
}

}  // namespace srv
