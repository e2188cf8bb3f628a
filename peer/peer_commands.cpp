#include "peer/peer_commands.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "peer/file_transfer.h"
#include "peer/peer_socket.h"
#include "platform/debug_log.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/tables.h"

namespace {
constexpr int kMaxHandlers = 8;
struct registered_handler {
    std::atomic<int> command{0};
    std::atomic<peer_command_handler> handler{nullptr};
};
registered_handler g_handlers[kMaxHandlers];

void peer_extra_dispatch(int path, int command, const char* body, int len, int board_num, int peer_id) {
    for (auto& h : g_handlers)
        if (h.command.load() == command) {
            if (peer_command_handler fn = h.handler.load()) fn(path, body, len, board_num, peer_id);
            return;
        }
}

// 200: the ten-character id of the peer that opened the connection.
void do_identify(const char* body, int len, int index) {
    if (index < 0 || index >= kPeerSlots || len < 1) return;
    char digits[11];
    int n = len < 10 ? len : 10;
    std::memcpy(digits, body, static_cast<size_t>(n));
    digits[n] = '\0';
    int id = std::atoi(digits);
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        if (g_peer_socks[index].in_use) g_peer_socks[index].peer_id = id;
    }
    file_paths_changed();
}

// Sends 211 with the received body back on the path the 210 came from.
void echo_chat(int path, const char* body, int len, int peer_id, int index) {
    if (path == PEER_PATH_SLAVE) {
        if (general_buf_command_to_peer_through_slave_server(peer_id, PEER_CHAT_ECHO, 0, body, len) >= 0)
            return;
        // Routes are learnt one direction at a time: with none back to the sender yet, the echo
        // goes as a datagram, so the sender still learns that the line arrived.
        index = -1;
    }
    std::vector<char> msg(static_cast<size_t>(kHeaderLen + len));
    build_message(msg.data(), static_cast<int>(msg.size()), 0, 0, PEER_CHAT_ECHO, body, len);
    peer_ticket t = peer_ticket_of_slot(index, peer_id);
    if (t.index >= 0)
        queue_peer_message(t, msg.data(), static_cast<int>(msg.size()), PEER_CHAT_ECHO);
    else
        send_udp_packet_to_peer_server(peer_id, msg.data(), static_cast<int>(msg.size()));
}

void do_chat_echo(int path, const char* body, int len, int peer_id) {
    post_chat_delivery(peer_id, path, PEER_CHAT_ECHO, body, len);
}

// A line from someone who is neither a contact nor in an open chat is not shown, so it is not
// echoed either: the sender learns it was not delivered.
bool chat_line_refused(int peer_id) {
    if (chat_peer_known(peer_id)) return false;
    log_line("chat line from peer_id:%d, who is not a contact, dropped\r\n", peer_id);
    return true;
}
}  // namespace

// A chat line reached this client: the echo goes back at once, and the line goes to the main
// window's queue, which opens the chat window when none is open and shows it there.
int do_private_chat_from_peer(const char* body, int len, int peer_id, int index) {
    if (chat_line_refused(peer_id)) return -1;
    int path = index >= 0 ? PEER_PATH_DIRECT : PEER_PATH_UDP;
    echo_chat(path, body, len, peer_id, index);
    post_chat_delivery(peer_id, path, PEER_CHAT_TEXT, body, len);
    return 0;
}

int do_private_chat_indirect_from_peer(const char* body, int len, int peer_id) {
    if (chat_line_refused(peer_id)) return -1;
    echo_chat(PEER_PATH_SLAVE, body, len, peer_id, -1);
    post_chat_delivery(peer_id, PEER_PATH_SLAVE, PEER_CHAT_TEXT, body, len);
    return 0;
}

void dispatch_peer_command(int path, int command, const char* body, int len, int board_num,
                           int peer_id, int index) {
    if (path == PEER_PATH_UDP) {
        // Datagrams carry chat text and its echo only.
        if (command == PEER_CHAT_TEXT)
            do_private_chat_from_peer(body, len, peer_id, -1);
        else if (command == PEER_CHAT_ECHO)
            do_chat_echo(path, body, len, peer_id);
        return;
    }
    switch (command) {
        case PEER_IDENTIFY:
            if (path == PEER_PATH_DIRECT) do_identify(body, len, index);
            break;
        case PEER_CHAT_TEXT:
            if (path == PEER_PATH_DIRECT)
                do_private_chat_from_peer(body, len, peer_id, index);
            else
                do_private_chat_indirect_from_peer(body, len, peer_id);
            break;
        case PEER_CHAT_ECHO: do_chat_echo(path, body, len, peer_id); break;
        case PEER_FILE_OFFER: do_file_transfer_ask_permission_from_peer(body, len, peer_id, path, index); break;
        case PEER_FILE_ACCEPTED: post_main(NM_FILE_ACCEPTED, peer_id, 0); break;
        case PEER_FILE_REFUSED: post_main(NM_FILE_REFUSED, peer_id, 0); break;
        case PEER_FILE_BEGIN: do_file_transfer_begin_from_peer(body, len, peer_id, path, index); break;
        case PEER_FILE_DATA: do_file_transfer_cont_from_peer(body, len, peer_id, path, index); break;
        case PEER_FILE_END: do_file_transfer_end_from_peer(body, len, peer_id, path, index); break;
        case PEER_KNOCK: post_main(NM_KNOCK, peer_id, 0); break;
        case PEER_KEEP_ALIVE: break;  // the reader already reset the idle count
        default:
            // Voice, video, file and route commands are handled by their own layers; anything
            // else was read completely and is ignored.
            peer_extra_dispatch(path, command, body, len, board_num, peer_id);
            break;
    }
}

int utf8_cut(const char* text, int limit) {
    int n = limit;
    // Step back over continuation bytes (10xxxxxx) to the lead byte of the character that would
    // be split, and cut before it unless the character ends exactly at the limit.
    int lead = n;
    while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) lead--;
    return lead;
}

int build_chat_body(char* out, const char* display_name, const char* text, const unsigned char attrs[5]) {
    // "name:text", cut to 2000 bytes.
    int n = std::snprintf(out, kChatTextMax + 1, "%s:%s", display_name, text);
    if (n < 0) n = 0;
    if (n > kChatTextMax) {
        // snprintf wrote only the first 2000 bytes: the byte after them tells whether the last
        // character was split.
        int name_len = static_cast<int>(std::strlen(display_name));
        if (kChatTextMax < name_len)
            out[kChatTextMax] = display_name[kChatTextMax];
        else if (kChatTextMax > name_len)
            out[kChatTextMax] = text[kChatTextMax - name_len - 1];
        n = utf8_cut(out, kChatTextMax);
    }
    out[n] = '\0';
    std::memcpy(out + n + 1, attrs, kChatAttrBytes);
    return n + 1 + kChatAttrBytes;
}

int send_chat_text(int peer_id, const char* display_name, const char* text, const unsigned char attrs[5]) {
    char msg[kHeaderLen + kChatTextMax + 1 + kChatAttrBytes + 1];
    int body_len = build_chat_body(msg + kHeaderLen, display_name, text, attrs);
    char header[kHeaderLen + 1];
    build_header(header, 0, 0, PEER_CHAT_TEXT, body_len);
    std::memcpy(msg, header, kHeaderLen);
    int total = kHeaderLen + body_len;

    // Each path in turn until one takes the line: a failed send falls through to the next.
    peer_ticket t = find_peer_ticket(peer_id);
    if (t.index >= 0 && !g_peer_socks[t.index].peer_gone() &&
        queue_peer_message(t, msg, total, PEER_CHAT_TEXT, true) == 0)
        return 0;
    if (general_buf_command_to_peer_through_slave_server(peer_id, PEER_CHAT_TEXT, 0, msg + kHeaderLen,
                                                         body_len) >= 0)
        return 0;
    if (send_udp_packet_to_peer_server(peer_id, msg, total) == 0) return 0;
    log_line("chat text to peer %d not sent on any path\r\n", peer_id);
    return -1;
}

int OnContactKnockPeer(int contact_id) {
    // As a chat line does: connect first when no direct connection is open (contacts that were
    // online before we signed in have none yet), then the slave server.
    if (!is_peer_connected(contact_id)) OnContactTextChat(contact_id);
    if (general_command_to_peer(contact_id, PEER_KNOCK, 0) >= 0) return 0;
    return general_str_command_to_peer_through_slave_server(contact_id, PEER_KNOCK, 0, "") >= 0 ? 0 : -1;
}

void register_peer_command_handler(int command, peer_command_handler handler) {
    for (auto& h : g_handlers)
        if (h.command.load() == command || h.command.load() == 0) {
            h.handler.store(handler);
            h.command.store(command);
            return;
        }
    log_line("no room to register peer command %d\r\n", command);
}

