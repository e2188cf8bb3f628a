// The headless client's flags, JSON lines and command parsing.
#include <gtest/gtest.h>

#include "cli/args.h"
#include "cli/cli_app.h"
#include "cli/commands.h"
#include "cli/json_out.h"
#include "cli/notify_sink.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/tables.h"

#include <nlohmann/json.hpp>
#include <algorithm>
#include <sstream>
#include <vector>

namespace {

TEST(CliArgs, FlagsAndErrors) {
    const char* argv[] = {"parlo-cli", "--server", "127.0.4.1", "--bind", "127.0.4.2", "--home", "/tmp/h",
                          "--email", "a@b.c", "--password", "p", "--auto-accept"};
    cli_options o;
    std::string err;
    ASSERT_EQ(parse_args(12, const_cast<char**>(argv), &o, &err), 0);
    EXPECT_EQ(o.server, "127.0.4.1");
    EXPECT_EQ(o.bind, "127.0.4.2");
    EXPECT_EQ(o.home, "/tmp/h");
    EXPECT_EQ(o.email, "a@b.c");
    EXPECT_TRUE(o.auto_accept);
    const char* bad[] = {"parlo-cli", "--server"};
    EXPECT_EQ(parse_args(2, const_cast<char**>(bad), &o, &err), -1);
    EXPECT_EQ(err, "missing value for --server");
    const char* unknown[] = {"parlo-cli", "--bogus"};
    EXPECT_EQ(parse_args(2, const_cast<char**>(unknown), &o, &err), -1);
}

TEST(CliJson, EscapesControlCharactersAndQuotes) {
    EXPECT_EQ(json_escape("a\"b\\c\r\n\x01"), "\"a\\\"b\\\\c\\r\\n\\u0001\"");
    EXPECT_EQ(json_line().add("n", 5).add("t", "x").add_bool("b", false).str(),
              "{\"n\":5,\"t\":\"x\",\"b\":false}");
}

TEST(CliJson, TextInAnotherEncodingStillGivesValidJson) {
    // Latin-1 "café", a lone continuation byte, a cut multi-byte sequence; then valid UTF-8.
    std::string bad = "caf\xe9 \x80 \xe4\xbd";
    std::string line = json_line().add("text", bad).add("zh", "\xe4\xbd\xa0\xe5\xa5\xbd").str();
    auto j = nlohmann::json::parse(line);  // throws on invalid JSON
    EXPECT_EQ(j["text"], "caf\xef\xbf\xbd \xef\xbf\xbd \xef\xbf\xbd");
    EXPECT_EQ(j["zh"], "\xe4\xbd\xa0\xe5\xa5\xbd");  // valid UTF-8 passes unchanged
    // Nested lists built from lines stay structured.
    std::string nested = json_line().add_raw("list", json_array({json_line().add("a", bad).str()})).str();
    EXPECT_TRUE(nlohmann::json::parse(nested)["list"][0]["a"].is_string());
}

// The client's table has exactly one row for each notification (the core's and its own), sorted
// so that every one is found by number; a number without a row still prints its common line.
TEST(CliEvents, OneRowPerNotification) {
    std::vector<int> known;
#define PARLO_KNOWN_ROW(name, number, text) known.push_back(number);
    PARLO_NOTIFICATIONS(PARLO_KNOWN_ROW)
#undef PARLO_KNOWN_ROW
    std::sort(known.begin(), known.end());
    std::vector<int> rows;
    for (const cli_route& r : cli_routes()) rows.push_back(r.n);
    EXPECT_EQ(rows, known);
    for (int n : known) EXPECT_EQ(cli_route_for(n).n, n);

    clear_all_tables();
    cli_options o;
    cli_app app(o);
    testing::internal::CaptureStdout();
    on_notification(app, 999, 5, 6);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "{\"n\":999,\"w\":5,\"l\":6,\"event\":\"notification\"}\n");
}

// The events a script reads: numbers, event name, readable fields, the text and its id.
TEST(CliEvents, FieldsOfNotifications) {
    clear_all_tables();
    add_one_contact(31, 0, "ann");
    {
        tables_guard lk(tables_mutex());
        contact_record& c = g_contact[get_contact_index(31)];
        copy_text(c.first_name, "Ann");
        copy_text(c.last_name, "Lee");
        copy_text(c.email, "ann@example.org");
    }
    cli_options o;
    cli_app app(o);
    testing::internal::CaptureStdout();
    on_notification(app, NM_LOGIN_FAILED, 0, 0);
    on_notification(app, NM_KNOCK, 31, 0);
    app.controller.set_knock_blocked(31, true);
    on_notification(app, NM_KNOCK, 31, 0);
    on_notification(app, NM_PEER_STATUS, 31, PS_ONLINE);
    std::vector<nlohmann::json> ev;
    std::istringstream out(testing::internal::GetCapturedStdout());
    for (std::string l; std::getline(out, l);) ev.push_back(nlohmann::json::parse(l));
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(ev[0], nlohmann::json::parse(
                         R"({"n":2,"w":0,"l":0,"event":"login_failed","text":"Login failed.","text_id":191})"));
    EXPECT_EQ(ev[1]["event"], "knock");
    EXPECT_EQ(ev[1]["shown"], true);
    EXPECT_EQ(ev[1]["text"], "Knock from Ann Lee(ann@example.org)");
    EXPECT_EQ(ev[1]["text_id"], 1001);
    EXPECT_EQ(ev[1]["email"], "ann@example.org");
    EXPECT_EQ(ev[2]["shown"], false);
    EXPECT_FALSE(ev[2].contains("text"));
    EXPECT_EQ(ev[3]["event"], "peer_status");
    EXPECT_EQ(ev[3]["previous_presence"], PS_OFFLINE);
    EXPECT_EQ(ev[3]["state_text"], "Online");
    EXPECT_EQ(ev[3]["text"], "ann(ann@example.org) become online.");
    EXPECT_EQ(ev[3]["text_id"], 225);
    app.controller.shutdown(1000);
    clear_all_tables();
}

TEST(CliCommands, EveryCommandIsInTheHelpAndUnknownOnesFail) {
    std::string help = usage_text();
    for (const auto& c : command_table()) EXPECT_NE(help.find(c.usage), std::string::npos) << c.name;
    cli_options o;
    cli_app app(o);
    testing::internal::CaptureStdout();
    EXPECT_EQ(app.execute("frobnicate 1"), -1);
    EXPECT_EQ(app.execute("remove-contact x"), -1);
    EXPECT_EQ(app.execute("status sleepy"), -1);
    EXPECT_EQ(app.execute(""), 0);
    EXPECT_EQ(app.execute("quit"), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("{\"error\":\"unknown command frobnicate (try help)\"}"), std::string::npos);
    EXPECT_NE(out.find("usage: remove-contact ID"), std::string::npos);
    EXPECT_TRUE(app.quit);
}

}  // namespace
