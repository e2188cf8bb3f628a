// Drives the client's receive-loop dispatch with what a hostile server could send: a header text
// that must parse or be refused, then the command it names (or any server command) with an
// arbitrary body and board number. Tables, texts and notifications must stay within bounds.
#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/session.h"
#include "protocol/tables.h"

namespace {
const int kServerCommands[] = {
#define PARLO_FUZZ_ROW(name, number, text) number,
    PARLO_SERVER_COMMANDS(PARLO_FUZZ_ROW)
#undef PARLO_FUZZ_ROW
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool cleared = [] {
        clear_all_tables();
        return true;
    }();
    (void)cleared;
    if (size < static_cast<size_t>(kHeaderLen) + 1) return 0;
    // The header as received: parsing must refuse or give sane fields.
    char header[kHeaderLen + 1];
    std::memcpy(header, data, kHeaderLen);
    header[kHeaderLen] = '\0';
    msg_header h;
    int command;
    int board;
    if (parse_header(header, &h) == 0) {
        command = h.command;
        board = h.board_num;
    } else {
        command = kServerCommands[data[kHeaderLen] % (sizeof(kServerCommands) / sizeof(int))];
        board = data[kHeaderLen];
    }
    // The receive loop hands a body zero-terminated at its length.
    size_t n = size - kHeaderLen - 1;
    if (n > static_cast<size_t>(kMaxRecvBody)) n = kMaxRecvBody;  // longer bodies are refused
    std::vector<char> body(data + kHeaderLen + 1, data + kHeaderLen + 1 + n);
    int len = static_cast<int>(body.size());
    body.push_back('\0');
    dispatch_server_command(command, body.data(), len, board);
    return 0;
}
