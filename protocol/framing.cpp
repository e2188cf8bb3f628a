#include "protocol/framing.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

const char kScrambleKey[24] = "rvmqzkbltpe81726wcxj905";

namespace {
int clamp_field(int v) { return v < -999 ? -999 : (v > 9999 ? 9999 : v); }

int parse_field(const char* text) {
    char field[5];
    std::memcpy(field, text, 4);
    field[4] = '\0';
    int value = 0;
    if (std::sscanf(field, "%d", &value) != 1) return 0;
    return value;
}
}  // namespace

void build_header(char* out, int session, int board_num, int command, int len) {
    std::snprintf(out, kHeaderLen + 1, "%4d:%4d:%4d:%4d:", clamp_field(session),
                  clamp_field(board_num), clamp_field(command), clamp_field(len));
}

int parse_header(const char* text, msg_header* out) {
    for (int pos : {4, 9, 14, 19})
        if (text[pos] != ':') return pos;
    out->session = parse_field(text);
    out->board_num = parse_field(text + 5);
    out->command = parse_field(text + 10);
    out->len = parse_field(text + 15);
    return 0;
}

int xor_scramble(void* buffer, long length) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    const auto* key = reinterpret_cast<const unsigned char*>(kScrambleKey);
    // Whole key-length runs, so the inner loop has no modulo.
    for (long j = 0; j < length; j += 23) {
        long n = length - j < 23 ? length - j : 23;
        for (long k = 0; k < n; k++) bytes[j + k] ^= key[k];
    }
    return 0;
}

int build_message(char* out, int capacity, int session, int board_num, int command,
                  const void* body, int body_len) {
    if (body_len < 0 || kHeaderLen + body_len > capacity) return -1;
    char header[kHeaderLen + 1];
    build_header(header, session, board_num, command, body_len);
    std::memcpy(out, header, kHeaderLen);
    if (body_len > 0) std::memcpy(out + kHeaderLen, body, static_cast<size_t>(body_len));
    return kHeaderLen + body_len;
}
