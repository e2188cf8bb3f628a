// The headless client's flags, JSON lines and command parsing.
#include <gtest/gtest.h>

#include "cli/args.h"
#include "cli/cli_app.h"
#include "cli/commands.h"
#include "cli/json_out.h"

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
