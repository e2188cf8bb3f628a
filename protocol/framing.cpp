#include "protocol/framing.h"

#include <cstdint>
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

namespace {
constexpr long kKeyLen = 23;
constexpr long kPeriod = kKeyLen * 8;  // 184 bytes: whole keys in whole 64-bit words

// The key repeated over one period, as 23 machine words.
struct key_words {
    uint64_t w[kKeyLen];
    key_words() {
        unsigned char bytes[kPeriod];
        for (long i = 0; i < kPeriod; i++)
            bytes[i] = static_cast<unsigned char>(kScrambleKey[i % kKeyLen]);
        std::memcpy(w, bytes, sizeof(w));
    }
};
}  // namespace

int xor_scramble(void* buffer, long length) {
    static const key_words key_period;
    auto* bytes = static_cast<unsigned char*>(buffer);
    // Whole periods a word at a time (the byte order of the words does not matter: each byte
    // meets the key byte at its own offset), then the tail byte by byte.
    long j = 0;
    for (; j + kPeriod <= length; j += kPeriod) {
        uint64_t words[kKeyLen];
        std::memcpy(words, bytes + j, sizeof(words));
        for (long k = 0; k < kKeyLen; k++) words[k] ^= key_period.w[k];
        std::memcpy(bytes + j, words, sizeof(words));
    }
    const auto* key = reinterpret_cast<const unsigned char*>(kScrambleKey);
    for (long k = 0; j < length; j++, k++) bytes[j] ^= key[k % kKeyLen];
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
