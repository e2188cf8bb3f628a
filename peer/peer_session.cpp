#include "peer/peer_session.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/debug_log.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/tables.h"

namespace {
constexpr int kConnectBackBodyMax = 900;
std::atomic<bool> g_closed_on_sign_out{false};
}  // namespace

int peer_my_user_id() { return g_user_id.load(); }

bool peer_signed_out() {
    return g_closed_on_sign_out.load() && g_logged_in.load() == 0;
}

void peer_mark_signed_out() {
    g_closed_on_sign_out = true;
}

int peer_contact_address(int contact_id, char* out, int size) {
    contact_record c;
    if (!contact_by_id(contact_id, &c)) return -1;
    copy_text(out, static_cast<size_t>(size < 21 ? size : 21), c.address);
    return 0;
}

int peer_request_connect_back(int peer_id) {
    contact_record c;
    if (!contact_by_id(peer_id, &c)) return -1;
    char local[64];
    {
        // The main connection's local address is the one the peer can reach us on.
        copy_text(local, g_main_link.local_address_text().c_str());
    }
    char body[kConnectBackBodyMax + 1];
    int len = std::snprintf(body, sizeof(body), "%10d:%10d:%s", c.contact_id, g_user_id.load(), local);
    if (len > kConnectBackBodyMax) len = kConnectBackBodyMax;
    Clink_socket one_shot;
    if (!connect_home_server(one_shot, c.home_server, "connect_back")) {
        log_line("could not reach home server %s for 380 in connect_to_peer\r\n", c.home_server);
        return -1;
    }
    char msg[kHeaderLen + kConnectBackBodyMax];
    int total = build_message(msg, sizeof(msg), 0, 0, CMD_PEER_ADDRESS_REQUEST, body, len);
    one_shot.my_send_fixed_len(msg, total);
    one_shot.my_close();
    return 0;
}
