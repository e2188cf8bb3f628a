// Drives the parser of server-relayed datagrams (server command 2000) with a run of datagrams:
// raw bytes, or a chat text or echo behind headers built from the input (a tick, a sender, a
// command and an announced length that may disagree with the body), or a repeat of the previous
// datagram. Each is handed over as the receive loop does, zero-terminated at its length; the
// duplicate ring starts empty for every input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "peer/slave_header.h"
#include "peer/udp_packets.h"
#include "peer_fuzz_support.h"
#include "protocol/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    peerfuzz::reset();
    clear_udp_duplicate_ring();
    std::vector<char> previous;
    size_t pos = 0;
    while (pos < size) {
        uint8_t op = data[pos++];
        std::vector<char> body;
        switch (op % 3) {
            case 0: {  // raw: two length bytes, then the datagram
                if (size - pos < 2) return 0;
                size_t n = static_cast<size_t>(data[pos]) << 8 | data[pos + 1];
                pos += 2;
                if (n > size - pos) n = size - pos;
                body.assign(data + pos, data + pos + n);
                pos += n;
                break;
            }
            case 1: {  // built: tick, sender, command, board, length skew, text length, text
                if (size - pos < 6) return 0;
                int tick = data[pos] % 4;  // a small range, so that ticks repeat
                int sender = peerfuzz::sender_id(data[pos + 1]);
                if (sender < 0) sender = -sender;  // the header has no room for a sign
                int command = data[pos + 2] & 1 ? PEER_CHAT_ECHO : PEER_CHAT_TEXT;
                if (data[pos + 2] & 2) command = data[pos + 2];
                int board = data[pos + 3] % 10;
                int skew = static_cast<int8_t>(data[pos + 4]) % 8;
                size_t n = data[pos + 5] * 4u;
                pos += 6;
                if (n > size - pos) n = size - pos;
                char outer[kOuterHeaderLen + 1];
                build_outer_header(outer, tick, 0, sender, kHeaderLen + static_cast<int>(n));
                body.assign(outer, outer + kOuterHeaderLen);
                char inner[kHeaderLen + 1];
                build_header(inner, 0, board, command, static_cast<int>(n) + skew);
                body.insert(body.end(), inner, inner + kHeaderLen);
                body.insert(body.end(), data + pos, data + pos + n);
                pos += n;
                break;
            }
            default: body = previous; break;  // the sender repeats a datagram
        }
        previous = body;
        int len = static_cast<int>(body.size());
        body.push_back('\0');
        int r = do_relay_peer_udp_from_server(body.data(), len, 0);
        if (r != 0 && r != -1) std::abort();
    }
    return 0;
}
