#include "protocol/commands.h"

#include <cstddef>

namespace {
struct row {
    int number;
    const char* name;
};
#define PARLO_NAME_ROW(name, number, text) {number, text},
constexpr row kClient[] = {PARLO_CLIENT_COMMANDS(PARLO_NAME_ROW)};
constexpr row kServer[] = {PARLO_SERVER_COMMANDS(PARLO_NAME_ROW)};
constexpr row kPeer[] = {PARLO_PEER_COMMANDS(PARLO_NAME_ROW)};
constexpr row kNotifications[] = {PARLO_NOTIFICATIONS(PARLO_NAME_ROW)};
#undef PARLO_NAME_ROW

template <std::size_t N>
const char* find(const row (&table)[N], int number) {
    for (const row& r : table)
        if (r.number == number) return r.name;
    return nullptr;
}
}  // namespace

const char* client_command_name(int command) { return find(kClient, command); }
const char* server_command_name(int command) { return find(kServer, command); }
const char* peer_command_name(int command) { return find(kPeer, command); }
const char* notification_name(int n) { return find(kNotifications, n); }
