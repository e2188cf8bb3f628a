// Reads the 46-character outer header of relayed traffic as the slave-server and relay readers
// do: it must be checked without reading past its 46 characters, and a header that passes must
// read as fields that survive being written out again (the relay passes them on).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "peer/slave_header.h"

namespace {
bool same(const outer_header& a, const outer_header& b) {
    return a.send_tick == b.send_tick && a.first_id == b.first_id && a.second_id == b.second_id &&
           a.payload_len == b.payload_len;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < static_cast<size_t>(kOuterHeaderLen)) return 0;
    // The readers hold exactly the header's bytes at this point.
    std::vector<char> head(data, data + kOuterHeaderLen);
    int bad = check_outer_header(head.data());
    if (bad >= kOuterHeaderLen || bad < -1) std::abort();
    if (bad >= 0) {
        char c = head[static_cast<size_t>(bad)];
        bool colon_slot = bad == 12 || bad == 23 || bad == 34 || bad == 45;
        if (colon_slot ? c == ':' : ((c >= '0' && c <= '9') || c == ':' || c == ' ')) std::abort();
        return 0;
    }
    outer_header oh;
    parse_outer_header(head.data(), &oh);
    // Only digits and blanks: no field can read as negative.
    if (oh.send_tick < 0 || oh.first_id < 0 || oh.second_id < 0 || oh.payload_len < 0) std::abort();
    char rebuilt[kOuterHeaderLen + 1];
    build_outer_header(rebuilt, oh.send_tick, oh.first_id, oh.second_id, oh.payload_len);
    if (check_outer_header(rebuilt) != -1) std::abort();
    outer_header again;
    parse_outer_header(rebuilt, &again);
    if (!same(oh, again)) std::abort();
    return 0;
}
