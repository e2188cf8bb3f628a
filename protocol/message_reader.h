// Reading one framed message from a server connection: the 20-character header, its check, the
// body and its unscrambling. Shared by the main receive loop and the online-query connection.
#pragma once
#include "protocol/framing.h"
#include "protocol/link_socket.h"

enum read_result {
    READ_OK = 1,          // header and body are in the buffer, body unscrambled and terminated
    READ_NOTHING = 0,     // no message this time
    READ_BROKEN = -1,     // the connection failed; the caller closes it
    READ_BAD_HEADER = -2, // a malformed header was logged and up to 2048 bytes thrown away
    READ_BAD_LEN = -3,    // a length the buffer cannot hold was logged and its bytes skipped
};

// buffer holds kRecvBufSize bytes; it is cleared first. On READ_OK the body starts at
// buffer + kHeaderLen and a zero byte follows it.
int read_server_message(Clink_socket& link, char* buffer, msg_header* header);

// Text from a received body: at most width characters from offset, stopping at the body's end.
// dst_size bounds the copy as well, so a text can never overflow its field.
void copy_body_text(char* dst, size_t dst_size, const char* body, int len, int offset, int width);
