#include "protocol/server_link.h"

#include <cstring>

#include "platform/debug_log.h"
#include "protocol/framing.h"

Clink_socket g_main_link;
Cevent g_recv_event;

namespace {
// Builds a message of at most capacity bytes and sends it on socket. Returns 0 or -1.
int send_built(Clink_socket* socket, int board_num, int command, const void* body, int len,
               int capacity, const char* who) {
    char buf[kPeerBufBuilderSize];
    int total = build_message(buf, capacity, 0, board_num, command, body, len);
    if (total < 0) {
        log_line("body of %d bytes too long in %s, command:%d\r\n", len, who, command);
        return -1;
    }
    socket->send_with_reconnect(buf, total);
    return 0;
}

bool buf_len_ok(int count, const char* who) {
    if (static_cast<unsigned>(count) > static_cast<unsigned>(kBufBuilderMaxBody)) {
        log_line("buf_len not good in %s, buf_len:%d\r\n", who, count);
        return false;
    }
    return true;
}
}  // namespace

int general_command_to_server(int command) {
    int r = send_built(&g_main_link, 0, command, nullptr, 0, kTextBuilderSize,
                       "general_command_to_server");
    g_recv_event.signal();
    return r;
}

int general_str_command_to_server(int command, const char* text) {
    int r = send_built(&g_main_link, 0, command, text, static_cast<int>(std::strlen(text)),
                       kTextBuilderSize, "general_str_command_to_server");
    g_recv_event.signal();
    return r;
}

int general_buf_command_to_server(int command, const void* bytes, int count) {
    if (!buf_len_ok(count, "general_buf_command_to_server")) return -1;
    int r = send_built(&g_main_link, 0, command, bytes, count, kHeaderLen + kBufBuilderMaxBody + 4,
                       "general_buf_command_to_server");
    g_recv_event.signal();
    return r;
}

int general_str_command_to_socket(int command, const char* text, Clink_socket* socket) {
    return send_built(socket, 0, command, text, static_cast<int>(std::strlen(text)),
                      kTextBuilderSize, "general_str_command_to_socket");
}

int general_str_command_with_board_to_socket(int command, int board_num, const char* text,
                                             Clink_socket* socket) {
    return send_built(socket, board_num, command, text, static_cast<int>(std::strlen(text)),
                      kTextBuilderSize, "general_str_command_to_socket");
}

int general_buf_command_to_socket(int command, const void* bytes, int count, Clink_socket* socket) {
    if (!buf_len_ok(count, "general_buf_command_to_socket")) return -1;
    return send_built(socket, 0, command, bytes, count, kHeaderLen + kBufBuilderMaxBody + 4,
                      "general_buf_command_to_socket");
}
