// The text table and the placeholder filling that every front end relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "protocol/texts.h"

namespace {
int placeholders(const char* pattern) {
    int n = 0;
    for (const char* p = pattern; *p; p++)
        if (*p == '%') {
            if (p[1] == 's' || p[1] == 'd') n++;
            if (p[1] != '\0') p++;
        }
    return n;
}
}  // namespace

TEST(TextTable, IdsAndEnglishAsStored) {
    const std::vector<int>& ids = all_text_ids();
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(ids.front(), 101);
    // 101, 103 and 148-231 from the table, then ours.
    EXPECT_EQ(std::count_if(ids.begin(), ids.end(), [](int i) { return i < 1000; }), 2 + 84);
    EXPECT_GT(ids.back(), 1000);
    for (int id : ids) {
        if (id == 101 || id == 103)
            EXPECT_STREQ(text_english(id), "");
        else
            EXPECT_STRNE(text_english(id), "") << id;
    }
    EXPECT_STREQ(text_english(TXT_OPEN_MESSENGER), "Open Messenger");
    EXPECT_STREQ(text_english(187),
                 ":, <, >, ', \", \\ and space is not allowed in email, please correct.");
    EXPECT_STREQ(text_english(231), "Start Web Conference");
    EXPECT_STREQ(text_english(102), "");
    EXPECT_STREQ(text_english(0), "");
    EXPECT_STREQ(text_english(-5), "");
}

TEST(TextTable, FormatNeverReadsPastItsArguments) {
    EXPECT_EQ(format_text("Contact with email %s not found, please try again.", {"a@b.c"}),
              "Contact with email a@b.c not found, please try again.");
    // Missing arguments become empty, extra ones are ignored; %d takes the next argument too.
    EXPECT_EQ(format_text("%s(%s) become online.", {"ann"}), "ann() become online.");
    EXPECT_EQ(format_text("%d items", {"3", "x"}), "3 items");
    // %% is one percent sign; unknown or trailing % stay as written; args are not re-expanded.
    EXPECT_EQ(format_text("100%% %x %", {}), "100% %x %");
    EXPECT_EQ(format_text("%s!", {"%s%s%n"}), "%s%s%n!");
    EXPECT_EQ(format_text(nullptr, {"a"}), "");
    EXPECT_EQ(english(user_text{}), "");
    EXPECT_EQ(english(make_text(TXT_KNOCK_FROM, {"Ann", "Lee", "ann@x.org"})),
              "Knock from Ann Lee(ann@x.org)");
}

// Each text the controller produces carries exactly the arguments its pattern asks for.
TEST(TextTable, ControllerTextsCarryTheirArguments) {
    clear_all_tables();
    add_one_contact(41, 0, "ann");
    session_controller controller;
    std::vector<user_text> made = {
        controller.handle(NM_CONTACT_NOT_FOUND, 0, 0), controller.handle(NM_LOGIN_FAILED, 0, 0),
        controller.handle(NM_WELCOME, 0, 0),          controller.knock_text(41),
        controller.handle(NM_REGISTER_SUCCESS, 0, 0)};
    for (const user_text& t : made) {
        ASSERT_FALSE(t.empty());
        EXPECT_EQ(placeholders(text_english(t.id)), static_cast<int>(t.args.size())) << t.id;
    }
    EXPECT_EQ(made[1].id, TXT_LOGIN_FAILED);
    EXPECT_EQ(made[3].id, TXT_KNOCK_FROM);
    // A contact coming online is announced once, not on every repeated 401.
    user_text online = controller.handle(NM_PEER_STATUS, 41, PS_ONLINE);
    EXPECT_EQ(online.id, TXT_BECOME_ONLINE);
    EXPECT_EQ(online.args.size(), 2u);
    EXPECT_EQ(online.args[0], "ann");
    EXPECT_TRUE(controller.handle(NM_PEER_STATUS, 41, PS_ONLINE).empty());
    controller.set_knock_blocked(41, true);
    EXPECT_TRUE(controller.knock_text(41).empty());
    EXPECT_TRUE(controller.knock_text(42).empty());
    clear_all_tables();
}
