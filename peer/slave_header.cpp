#include "peer/slave_header.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int outer_tick_field(uint32_t tick) {
    int field = static_cast<int>(tick & 0x7fffffffu);
    return field == 0 ? 1 : field;
}

void build_outer_header(char* out, int tick_field, int first_id, int second_id, int payload_len) {
    char text[64];
    std::snprintf(text, sizeof(text), "%12d:%10d:%10d:%10d:", tick_field, first_id, second_id,
                  payload_len);
    // Every caller passes values that fit their widths; anything wider is cut to keep the layout.
    std::memcpy(out, text, kOuterHeaderLen);
    out[kOuterHeaderLen] = '\0';
}

int check_outer_header(const char* text) {
    static const int kColons[4] = {12, 23, 34, 45};
    for (int pos : kColons)
        if (text[pos] != ':') return pos;
    for (int i = 0; i < kOuterHeaderLen; i++) {
        char c = text[i];
        if (!(c >= '0' && c <= '9') && c != ':' && c != ' ') return i;
    }
    return -1;
}

namespace {
int field_value(const char* text, int from, int width) {
    char digits[16];
    std::memcpy(digits, text + from, static_cast<size_t>(width));
    digits[width] = '\0';
    long long v = std::strtoll(digits, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}
}  // namespace

void parse_outer_header(const char* text, outer_header* out) {
    out->send_tick = field_value(text, 0, 12);
    out->first_id = field_value(text, 13, 10);
    out->second_id = field_value(text, 24, 10);
    out->payload_len = field_value(text, 35, 10);
}
