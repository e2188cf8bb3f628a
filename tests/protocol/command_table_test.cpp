// The command table: one number and one name per row, and the event names scripts depend on.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "protocol/commands.h"

namespace {
struct row {
    int number;
    std::string name;
};
#define PARLO_TEST_ROW(name, number, text) {number, text},
const std::vector<row> kTables[] = {{PARLO_CLIENT_COMMANDS(PARLO_TEST_ROW)},
                                    {PARLO_SERVER_COMMANDS(PARLO_TEST_ROW)},
                                    {PARLO_PEER_COMMANDS(PARLO_TEST_ROW)},
                                    {PARLO_NOTIFICATIONS(PARLO_TEST_ROW)}};
#undef PARLO_TEST_ROW
}  // namespace

TEST(CommandTable, NumbersAndNamesAreUniqueWithinEachTable) {
    for (const auto& table : kTables) {
        std::set<int> numbers;
        std::set<std::string> names;
        for (const row& r : table) {
            EXPECT_TRUE(numbers.insert(r.number).second) << r.number;
            EXPECT_TRUE(names.insert(r.name).second) << r.name;
        }
    }
    EXPECT_STREQ(client_command_name(CMD_LOGIN), "login");
    EXPECT_STREQ(server_command_name(SRV_RELAYED_DATAGRAM), "relayed_datagram");
    EXPECT_STREQ(peer_command_name(PEER_CHAT_ECHO), "chat_echo");
    EXPECT_EQ(client_command_name(131), nullptr);  // a server command, not a client one
    EXPECT_EQ(notification_name(15), nullptr);
}

TEST(CommandTable, EventNamesOfTheHeadlessClientStayAsTheyWere) {
    const std::pair<int, const char*> kept[] = {
        {NM_LOGIN_SUCCESS, "login_success"},   {NM_SET_MY_STATUS, "my_status"},
        {NM_FILE_ASK, "file_offer"},           {NM_FILE_DONE, "file_saved"},
        {NM_FILE_RECV_INCOMPLETE, "file_incomplete"}, {NM_FILE_SEND_PROGRESS, "file_send_progress"},
        {NM_SERVER_NOTICE2, "server_notice2"}, {NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS, "contact_remove_confirm_no_success"},
        {NM_KNOCK, "knock"},                   {NM_ACTION_DONE, "action_done"}};
    for (const auto& k : kept) EXPECT_STREQ(notification_name(k.first), k.second) << k.first;
}
