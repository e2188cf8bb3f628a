// Message framing shared by every connection: a 20-character ASCII command header
// "%4d:%4d:%4d:%4d:" (session, board_num, command, len) in front of a body that travels
// XOR-scrambled with a repeating 23-character key. The header itself is never scrambled.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int kHeaderLen = 20;
constexpr int kRecvBufSize = 8192;                         // one received message, header and body
constexpr int kMaxRecvBody = kRecvBufSize - kHeaderLen - 1;  // 8171: room for a terminating zero
constexpr int kMaxAnnouncedLen = 9999;                      // largest len a 4-digit field can hold
constexpr int kMaxSendLen = 20000;                          // a send is cut to this many bytes
constexpr int kTextBuilderSize = 512;                       // buffer of the text builders
constexpr int kBufBuilderMaxBody = 1000;                    // body limit of the binary builders
constexpr int kPeerBufBuilderSize = 10240;                  // buffer of general_buf_command_to_peer
constexpr uint16_t kServerPort = 9015;

extern const char kScrambleKey[24];  // "rvmqzkbltpe81726wcxj905"

struct msg_header {
    int session = 0;
    int board_num = 0;
    int command = 0;
    int len = 0;
};

// Writes the 20 header characters (and a terminating zero) into out[21]. Values outside
// -999..9999 would widen the header; callers never pass them, and they are clamped here.
void build_header(char* out, int session, int board_num, int command, int len);

// Parses 20 header characters. Returns 0, or the position (4, 9, 14 or 19) of the first separator
// that is not ':'. A field that holds no number reads as 0.
int parse_header(const char* text, msg_header* out);

// XORs length bytes with the repeating key, starting at key byte 0. Applying it twice restores the
// bytes; a length of 0 or less changes nothing. Returns 0.
int xor_scramble(void* buffer, long length);

// Builds header + body into out (capacity bytes). Returns the message length, or -1 when it does
// not fit.
int build_message(char* out, int capacity, int session, int board_num, int command,
                  const void* body, int body_len);
