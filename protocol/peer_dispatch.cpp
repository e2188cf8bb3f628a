#include "protocol/peer_dispatch.h"

#include <atomic>

#include "platform/debug_log.h"
#include "protocol/commands.h"

namespace {
peer_dispatch g_default_dispatch;
std::atomic<peer_dispatch*> g_dispatch{nullptr};

// Each command is logged once, so that a server repeating it does not flood the log.
std::atomic<bool> g_logged[SRV_RELAYED_DATAGRAM + 1];

int not_handled(int command) {
    if (command >= 0 && command <= SRV_RELAYED_DATAGRAM && !g_logged[command].exchange(true))
        log_line("command %d not handled yet (peer networking)\r\n", command);
    return -1;
}
}  // namespace

void set_peer_dispatch(peer_dispatch* impl) { g_dispatch.store(impl); }

peer_dispatch& peer() {
    peer_dispatch* p = g_dispatch.load();
    return p ? *p : g_default_dispatch;
}

int peer_dispatch::connect_to_peer(int, const char*) { return not_handled(SRV_PEER_ADDRESS); }
int peer_dispatch::send_chat_line(int, const char*, const char*, const unsigned char*) {
    return not_handled(PEER_CHAT_TEXT);
}
int peer_dispatch::knock(int) { return not_handled(PEER_KNOCK); }
int peer_dispatch::set_slave_server_address(int which, const char*) {
    return not_handled(which == 0 ? SRV_SLAVE1_ADDRESS : SRV_SLAVE2_ADDRESS);
}
int peer_dispatch::set_slave_server_port(int which, int slot, int) {
    return not_handled((which == 0 ? SRV_SLAVE1_PORT1 : SRV_SLAVE2_PORT1) + slot);
}
int peer_dispatch::connect_to_slave_servers() { return not_handled(SRV_SLAVE_CONNECT); }
int peer_dispatch::do_request_slave_server_addr_from_server(const char*, int) {
    return not_handled(SRV_SLAVE_ADDR_REQUEST);
}
int peer_dispatch::do_peer_slave_server(int command, const char*, int) {
    return not_handled(command);
}
int peer_dispatch::do_relay_peer_udp_from_server(const char*, int) { return not_handled(SRV_RELAYED_DATAGRAM); }
void peer_dispatch::start_contact_text_chat(int contact_id) {
    log_line("direct connection to contact %d not handled yet (peer networking)\r\n", contact_id);
}
void peer_dispatch::request_peer_slave_route(int contact_id) {
    log_line("slave-server route of contact %d not handled yet (peer networking)\r\n", contact_id);
}
bool peer_dispatch::relay_port_listening(int) { return false; }
int peer_dispatch::relay_port(int) { return 0; }
int peer_dispatch::relay_traffic_sum() { return 0; }
int peer_dispatch::relay_connection_count() { return 0; }
// Without the peer layer no slave server can be known, so 460 keeps being asked, as it would be
// before the first answer.
bool peer_dispatch::slave_server_known() { return false; }
void peer_dispatch::fifth_tick_duty() {}
void peer_dispatch::close_connections() {}
void peer_dispatch::contact_address_changed(int) {}
