// Drives the peer command dispatch with what a contact could send. On a direct connection the
// commands come as the reader takes them off the socket: a header that must parse, then the body
// it announces; the connection's sender is whoever identified with 200 first. Commands relayed by
// a slave server or carried by a datagram name their sender themselves. Echoes, refusals and other
// answers go back over a socket pair standing in for the connection, and each must be a complete
// frame a peer can read.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "peer_fuzz_support.h"
#include "protocol/framing.h"

namespace {

const int kPeerCommands[] = {
#define PARLO_FUZZ_ROW(name, number, text) number,
    PARLO_PEER_COMMANDS(PARLO_FUZZ_ROW)
#undef PARLO_FUZZ_ROW
};
constexpr size_t kPeerCommandCount = sizeof(kPeerCommands) / sizeof(kPeerCommands[0]);

// Dispatches one body the way every path hands it over: zero-terminated at its length, in a
// buffer that holds nothing more.
void dispatch(int path, int command, const uint8_t* bytes, size_t n, int board, int peer_id,
              int index) {
    std::vector<char> body(bytes, bytes + n);
    body.push_back('\0');
    dispatch_peer_command(path, command, body.data(), static_cast<int>(n), board, peer_id, index);
}

// Reads what the client sent back on the connection; every frame must be whole and well formed.
void check_answers(int fd, std::string* pending) {
    char chunk[4096];
    for (;;) {
        ssize_t r = recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (r <= 0) break;
        pending->append(chunk, static_cast<size_t>(r));
    }
    while (pending->size() >= static_cast<size_t>(kHeaderLen)) {
        msg_header h;
        if (parse_header(pending->data(), &h) != 0) std::abort();
        if (h.len < 0 || h.len > kMaxRecvBody) std::abort();
        size_t whole = static_cast<size_t>(kHeaderLen + h.len);
        if (pending->size() < whole) break;
        pending->erase(0, whole);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    peerfuzz::reset();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    // The connection as the listener hands it over: a taken slot that holds the handle.
    uint64_t gen = 0;
    int index = take_peer_slot(&gen);
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        g_peer_socks[index].sock = fds[0];
        g_peer_socks[index].connected = 1;
    }
    std::string answers;
    size_t pos = 0;
    while (pos < size) {
        uint8_t op = data[pos++];
        switch (op & 3) {
            case 0:
            case 1: {  // direct: a header as received, then exactly the body it announces
                if (size - pos < static_cast<size_t>(kHeaderLen)) goto done;
                char header[kHeaderLen + 1];
                std::memcpy(header, data + pos, kHeaderLen);
                header[kHeaderLen] = '\0';
                pos += kHeaderLen;
                msg_header h;
                if (parse_header(header, &h) != 0) break;  // the reader drops it
                if (h.len < 0) goto done;  // the reader closes the connection
                if (h.len > kMaxRecvBody) {  // read and dropped
                    size_t skip = static_cast<size_t>(h.len);
                    pos += skip < size - pos ? skip : size - pos;
                    break;
                }
                if (size - pos < static_cast<size_t>(h.len)) goto done;  // the peer hung up
                int peer_id;
                {
                    std::lock_guard<std::mutex> lk(g_peer_mutex);
                    peer_id = g_peer_socks[index].peer_id;
                }
                dispatch(PEER_PATH_DIRECT, h.command, data + pos, static_cast<size_t>(h.len),
                         h.board_num, peer_id, index);
                pos += static_cast<size_t>(h.len);
                break;
            }
            case 2:
            case 3: {  // relayed or a datagram: command, board, sender, body length, body
                if (size - pos < 4) goto done;
                int path = (op & 3) == 2 ? PEER_PATH_SLAVE : PEER_PATH_UDP;
                uint8_t ci = data[pos];
                int command = ci < kPeerCommandCount ? kPeerCommands[ci] : ci * 5;
                int board = static_cast<int8_t>(data[pos + 1]);
                int peer_id = peerfuzz::sender_id(data[pos + 2]);
                size_t n = data[pos + 3] * 9u;
                pos += 4;
                if (n > size - pos) n = size - pos;
                dispatch(path, command, data + pos, n, board, peer_id, -1);
                pos += n;
                break;
            }
        }
        check_answers(fds[1], &answers);
    }
done:
    close_peer_slot(index, gen);
    check_answers(fds[1], &answers);
    if (!answers.empty()) std::abort();  // a frame was cut short
    close(fds[1]);
    return 0;
}
