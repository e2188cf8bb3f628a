// The 46-character outer header "%12d:%10d:%10d:%10d:" that travels in front of a framed peer
// command relayed by a slave server or by the local relay server (tick, sender id, receiver id,
// payload length) and, with the two ids in the other order, in front of a server-relayed datagram.
// A registration frame is the outer header alone with tick 0, the user's id, 0 and 0.
#pragma once
#include <cstdint>

constexpr int kOuterHeaderLen = 46;
constexpr int kOuterPayloadCap = 2000;  // readers take at most this many payload bytes

struct outer_header {
    int send_tick = 0;
    int first_id = 0;   // sender (relay path) or receiver (datagram)
    int second_id = 0;  // receiver (relay path) or sender (datagram)
    int payload_len = 0;
};

// The tick as it is written into the header. A tick above 2^31 would print as a negative number
// whose '-' every receiver rejects, so the top bit is dropped; 0 is reserved for registration
// frames and becomes 1.
int outer_tick_field(uint32_t tick);

// Writes the 46 header characters and a terminating zero into out[47].
void build_outer_header(char* out, int tick_field, int first_id, int second_id, int payload_len);

// Checks ':' at 12, 23, 34 and 45 (in that order), then that every character is a digit, ':' or
// a blank. Returns -1 when the header is well formed, else the position of the first bad character.
int check_outer_header(const char* text);

// Reads the four fields of a checked header. A field without digits reads as 0; values beyond
// the int range are clamped.
void parse_outer_header(const char* text, outer_header* out);
