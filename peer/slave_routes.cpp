// Route discovery between clients (480, 481, 482) and the one-shot commands to a peer's home
// server that carry it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <memory>
#include <new>

#include "peer/file_transfer.h"
#include "peer/peer_session.h"
#include "peer/slave_server.h"
#include "platform/debug_log.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/tables.h"

namespace {
constexpr int kIdFieldWidth = 10;
}  // namespace

int do_request_slave_server_addr_from_server(const char* body, int len) {
    char text[64];
    copy_text_n(text, sizeof(text), body, len > 0 ? static_cast<size_t>(len) : 0);
    // The requester's id leads the body, right-aligned in ten characters.
    for (int i = 0; i < kIdFieldWidth; i++) {
        char c = text[i];
        if (!(c >= '0' && c <= '9') && c != ' ') {
            log_line("content in do_request_slave_server_addr_from_server not correct:%s, %d\r\n",
                     text, i);
            return -1;
        }
    }
    int requester = 0;
    std::sscanf(text, "%d", &requester);
    return do_request_slave_server_addr_to_peer(requester);
}

int do_request_slave_server_addr_to_peer(int requester_id) {
    slave_assignment a = get_slave_assignment();
    int me = peer_my_user_id();
    char text[256];
    std::snprintf(text, sizeof(text), "%10d:%6d:%6d:%6d:%s", me, a.ports[0][0], a.ports[0][1],
                  a.ports[0][2], a.address[0]);
    general_str_command_to_peer_server(CMD_PEER_SLAVE1, 0, requester_id, text);
    std::snprintf(text, sizeof(text), "%10d:%6d:%6d:%6d:%s", me, a.ports[1][0], a.ports[1][1],
                  a.ports[1][2], a.address[1]);
    general_str_command_to_peer_server(CMD_PEER_SLAVE2, 0, requester_id, text);
    return 0;
}

int do_peer_slave_server_info_from_server(const char* body, int len) {
    char text[512];
    copy_text_n(text, sizeof(text), body, len > 0 ? static_cast<size_t>(len) : 0);
    int peer_id = 0;
    int ports[3] = {0, 0, 0};
    char address[kSlaveAddressKept + 1] = "";
    std::sscanf(text, "%10d:%6d:%6d:%6d:%127s", &peer_id, &ports[0], &ports[1], &ports[2], address);
    if (address[0] != '\0') {
        for (int port : ports)
            if (port > 0) {
                connect_slave_server_in_background(address, port);
                break;
            }
    }
    // The route is kept whether or not the connection comes about; the keep-alive drops it if
    // the slave server stays out of reach.
    int r = add_peer_slave_server(peer_id, address);
    if (r == 0) {
        file_paths_changed();
        post_main(NM_RELAY_ROUTE, peer_id, 0);
    }
    return r;
}

int request_peer_slave_route(int contact_id) {
    return general_str_command_to_peer_server(CMD_SLAVE_ADDR_REQUEST, 0, contact_id, "");
}

void request_missing_slave_route(int contact_id) {
    struct asking {
        uint32_t last = 0;  // tick of the last ask
        uint32_t gap = 0;   // before the next one
    };
    static std::mutex asked_mutex;
    static std::map<int, asking> asked;
    {
        tables_guard g(tables_mutex());
        int index = get_contact_index(contact_id);
        if (index < 0 || g_contact[index].presence != PS_ONLINE) return;
    }
    {
        std::lock_guard<std::mutex> lk(asked_mutex);
        const uint32_t now = get_tick_count();
        auto [it, fresh] = asked.try_emplace(contact_id);
        asking& a = it->second;
        // A contact not asked about for a while starts over at the shortest gap.
        if (!fresh && now - a.last < 30000) {
            if (now - a.last < a.gap) return;
            a.gap = std::min<uint32_t>(a.gap * 2, 8000);
        } else {
            a.gap = 250;
        }
        a.last = now;
    }
    request_peer_slave_route(contact_id);
}

void request_missing_slave_routes() {
    for (const contact_record& c : contacts_snapshot())
        if (c.presence == PS_ONLINE && find_peer_slave_sock(c.contact_id) == -1)
            request_peer_slave_route(c.contact_id);
}

int general_command_to_peer_server(int command, int board_num, int peer_id) {
    return general_str_command_to_peer_server(command, board_num, peer_id, "");
}

int general_str_command_to_peer_server(int command, int board_num, int peer_id, const char* text) {
    int index;
    {
        tables_guard lk(tables_mutex());
        index = get_contact_index(peer_id);
    }
    if (index < 0) {
        log_line("peer_index:%d < 0 in general_str_command_to_peer_server\r\n", -1);
        return -1;
    }
    auto* info = new (std::nothrow) msg_info;
    if (!info) {
        log_line("could not new msg_info in general_str_command_to_peer_server\r\n");
        return -1;
    }
    info->peer_id = peer_id;
    info->command = command;
    info->session = 0;
    info->board_num = board_num;
    info->contact_index = index;
    copy_text(info->text, text);
    info->len = static_cast<int>(std::strlen(info->text));
    if (slave_job_group().start([info] { sending_msg_to_peer_server_thread(info); }) != 0) {
        log_line("could not start sending_msg_to_peer_server_thread\r\n");
        delete info;
        return -1;
    }
    return 0;
}

int sending_msg_to_peer_server_thread(msg_info* info) {
    if (!info) {
        log_line("msg_info is NULL in sending_msg_to_peer_server_thread.\r\n");
        return -1;
    }
    std::unique_ptr<msg_info> owned(info);
    if (info->contact_index < 0 || info->contact_index > kMaxContacts - 1) {
        log_line("index:%d out of range 0-%d in sending_msg_to_peer_server_thread\r\n",
                 info->contact_index, kMaxContacts - 1);
        return -1;
    }
    contact_record c;
    if (!contact_by_id(info->peer_id, &c) || c.home_server[0] == '\0') {
        log_line("no home server for contact %d in sending_msg_to_peer_server_thread\r\n",
                 info->peer_id);
        return -1;
    }
    Clink_socket link;
    if (!connect_home_server(link, c.home_server, "peer_server")) {
        log_line("could not connect to home server %s in sending_msg_to_peer_server_thread\r\n",
                 c.home_server);
        return -1;
    }
    char body[22 + kPeerServerTextLimit + 1];
    std::snprintf(body, sizeof(body), "%10d:%10d:", info->peer_id, peer_my_user_id());
    std::memcpy(body + 22, info->text, static_cast<size_t>(info->len));
    char msg[kHeaderLen + sizeof(body)];
    int total = build_message(msg, sizeof(msg), info->session, info->board_num, info->command, body,
                              22 + info->len);
    link.my_send_fixed_len(msg, total);
    link.my_close();
    return 0;
}
