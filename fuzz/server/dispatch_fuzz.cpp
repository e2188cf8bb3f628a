// Drives the server's command logic with arbitrary traffic on four connections: framed requests
// with arbitrary bodies, raw byte streams, datagrams, sign-ins and disconnections. Every message
// the server sends back must be a well-formed frame that a client can receive.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/framing.h"
#include "server/core.h"
#include "server/frame_reader.h"
#include "server/password.h"
#include "server/store.h"

namespace {

constexpr int kConns = 4;

class CheckingTransport : public srv::Transport {
public:
    void send(srv::ConnId, std::string bytes) override {
        // A reply must parse, carry exactly its announced body and fit a client's buffer.
        if (bytes.size() < static_cast<size_t>(kHeaderLen)) std::abort();
        msg_header h;
        if (parse_header(bytes.data(), &h) != 0) std::abort();
        if (h.len < 0 || h.len > kMaxRecvBody) std::abort();
        if (bytes.size() != static_cast<size_t>(kHeaderLen + h.len)) std::abort();
    }
    void close(srv::ConnId id) override { closed[id % kConns] = true; }
    bool closed[kConns] = {};
};

const int kCommands[] = {130, 133, 160, 170, 180, 185, 250, 260, 280, 284, 285,
                         290, 293, 294, 300, 310, 313, 316, 330, 331, 332, 340,
                         343, 348, 360, 400, 440, 441, 442, 450, 451, 452, 1000};
const char* kLogins[] = {"alice@example.com:demo1234", "bob@example.com:demo1234",
                         "carol@example.com:demo1234"};

std::string frame(int command, int board, const uint8_t* body, size_t n) {
    std::string out(kHeaderLen + n, '\0');
    build_message(out.data(), static_cast<int>(out.size()), 0, board, command, body,
                  static_cast<int>(n));
    xor_scramble(out.data() + kHeaderLen, static_cast<long>(n));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool init = srv::password_init() == 0;
    if (!init) return 0;
    srv::Store store;
    if (store.open(":memory:") != 0) std::abort();
    srv::Log log;
    log.set_quiet(true);
    CheckingTransport transport;
    srv::CoreOptions opts;
    opts.fast_hash = true;
    srv::Core core(store, transport, log, opts);
    if (core.seed_demo() != 0) std::abort();

    srv::FrameReader readers[kConns];
    srv::ConnId ids[kConns];
    srv::ConnId next_id = 1;
    for (int i = 0; i < kConns; i++) {
        ids[i] = next_id++;
        core.on_open(ids[i], "127.0.0.1");
    }
    auto deliver = [&](int k, const std::string& bytes) {
        readers[k].feed(bytes.data(), bytes.size());
        msg_header h;
        std::string body;
        for (;;) {
            auto r = readers[k].next(&h, &body);
            if (r == srv::FrameReader::Result::kNeedMore) break;
            if (r == srv::FrameReader::Result::kFatal) {
                transport.closed[k] = true;
                break;
            }
            if (r == srv::FrameReader::Result::kMessage) core.on_message(ids[k], h, body);
        }
    };

    size_t pos = 0;
    while (pos < size) {
        uint8_t op = data[pos++];
        int k = (op >> 2) & (kConns - 1);
        switch (op & 3) {
            case 0: {  // framed request: command index, board, body length, body
                if (pos + 3 > size) return 0;
                uint8_t ci = data[pos];
                int command = ci < sizeof kCommands / sizeof kCommands[0] ? kCommands[ci] : ci * 7;
                int board = static_cast<int8_t>(data[pos + 1]);
                size_t n = data[pos + 2] * 3u;
                pos += 3;
                if (command == 250 && data[pos - 1] == 0xff) n = 512;  // a full registration record
                if (n > size - pos) n = size - pos;
                deliver(k, frame(command, board, data + pos, n));
                pos += n;
                break;
            }
            case 1: {  // raw bytes
                if (pos >= size) return 0;
                size_t n = data[pos++];
                if (n > size - pos) n = size - pos;
                deliver(k, std::string(reinterpret_cast<const char*>(data + pos), n));
                pos += n;
                break;
            }
            case 2:
                if (op & 0x10) {  // a datagram: length byte, then its bytes
                    if (pos >= size) return 0;
                    size_t n = data[pos++] * 5u;
                    if (n > size - pos) n = size - pos;
                    std::string ack;
                    std::string_view d(reinterpret_cast<const char*>(data + pos), n);
                    if (core.on_datagram(d, "127.0.0.1", &ack) == 0 && ack.size() != 46)
                        std::abort();
                    pos += n;
                } else {  // the connection drops; a new one takes its place
                    transport.closed[k] = true;
                }
                break;
            case 3: {  // a demo user signs in
                const char* text = kLogins[(op >> 4) % 3];
                deliver(k,
                        frame(130, 0, reinterpret_cast<const uint8_t*>(text), std::strlen(text)));
                break;
            }
        }
        for (int i = 0; i < kConns; i++) {
            if (!transport.closed[i]) continue;
            core.on_close(ids[i]);
            readers[i] = srv::FrameReader();
            ids[i] = next_id++;
            transport.closed[i] = false;
            core.on_open(ids[i], "127.0.0.1");
        }
    }
    for (int i = 0; i < kConns; i++) core.on_close(ids[i]);
    return 0;
}
