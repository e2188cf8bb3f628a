#include "protocol/message_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/debug_log.h"
#include "platform/text.h"

int read_server_message(Clink_socket& link, char* buffer, msg_header* header) {
    std::memset(buffer, 0, kRecvBufSize);
    int r = link.my_recv_fixed_len(buffer, kHeaderLen);
    if (r < 0) {
        log_line("g_recv_thread receive first 20 byte failed.\n");
        return READ_BROKEN;
    }
    if (r == 0) return READ_NOTHING;
    int pos = parse_header(buffer, header);
    if (pos != 0) {
        buffer[kHeaderLen] = '\0';
        log_line("g_recv_thread command format error at:%d.\n", pos);
        log_line("content is:%s.\n", buffer);
        char discard[2048];
        link.my_recv(discard, sizeof(discard));
        return READ_BAD_HEADER;
    }
    if (header->len < 0 || header->len > kMaxRecvBody) {
        // The buffer cannot hold this body: skip its bytes so the stream stays in step, and drop it.
        log_line("g_recv_thread bad body length:%d for command:%d, skipped.\n", header->len,
                 header->command);
        if (link.skip_fixed_len(header->len > 0 ? header->len : 0) < 0) return READ_BROKEN;
        return READ_BAD_LEN;
    }
    if (link.my_recv_fixed_len(buffer + kHeaderLen, header->len) < 0) {
        log_line("g_recv_thread receive body of %d bytes failed.\n", header->len);
        return READ_BROKEN;
    }
    xor_scramble(buffer + kHeaderLen, header->len);
    buffer[kHeaderLen + header->len] = '\0';
    return READ_OK;
}

void copy_body_text(char* dst, size_t dst_size, const char* body, int len, int offset, int width) {
    if (offset < 0 || offset >= len) {
        if (dst_size > 0) dst[0] = '\0';
        return;
    }
    size_t limit = std::min(dst_size, static_cast<size_t>(width) + 1);
    copy_text_n(dst, limit, body + offset, static_cast<size_t>(len - offset));
}
