// The session controller's file-transfer side: an offer (40) is asked once and answered the way
// the front end chose, and the other file notifications reach the installed file layer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/message_box.h"
#include "protocol/commands.h"
#include "protocol/file_dispatch.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"

namespace {

struct fake_files : file_dispatch {
    std::vector<std::string> calls;
    user_text handle_notification(int n, intptr_t w, intptr_t l) override {
        calls.push_back("note " + std::to_string(n) + " " + std::to_string(w) + " " + std::to_string(l));
        return make_text(TXT_FILE_SAVED, {std::to_string(n)});
    }
    int offer_question(int peer_id, user_text* question, std::string* offered_name) override {
        if (peer_id != 71) return -1;
        *question = make_text(TXT_FILE_OFFER_QUESTION, {"a", "b", "c", "a.txt"});
        *offered_name = "a.txt";
        return 0;
    }
    int answer_offer(int peer_id, bool accept, const char* folder) override {
        calls.push_back("answer " + std::to_string(peer_id) + (accept ? " yes " : " no ") +
                        (folder ? folder : "-"));
        return 0;
    }
    int accept_offer_as(int peer_id, const char* path) override {
        calls.push_back("as " + std::to_string(peer_id) + " " + path);
        return 0;
    }
};

struct file_asker : question_asker {
    int answer = ANSWER_CANCEL;
    std::string folder;
    std::string save_as;
    int asked = 0;
    std::string offered;
    int ask_file_offer(const contact_record&, const user_text&, const char* offered_name, std::string* f,
                       std::string* s) override {
        asked++;
        offered = offered_name;
        *f = folder;
        *s = save_as;
        return answer;
    }
};

class FileControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        clear_all_tables();
        add_one_contact(71, 0, "ann");
        set_file_dispatch(&files);
    }
    void TearDown() override {
        set_file_dispatch(nullptr);
        clear_all_tables();
    }
    fake_files files;
};

TEST_F(FileControllerTest, OfferIsAnsweredAsTheFrontEndChose) {
    file_asker asker;
    session_controller controller(&asker);

    asker.answer = ANSWER_YES;
    asker.folder = "/in";
    EXPECT_EQ(english(controller.handle(NM_FILE_ASK, 71, 0)),
              "a b(c) want to send you a file named a.txt, do you want accept?");
    EXPECT_EQ(asker.offered, "a.txt");
    asker.folder.clear();
    asker.save_as = "/in/chosen.txt";
    controller.handle(NM_FILE_ASK, 71, 0);
    asker.answer = ANSWER_NO;
    controller.handle(NM_FILE_ASK, 71, 0);
    asker.answer = ANSWER_CANCEL;  // answered later by a command
    controller.handle(NM_FILE_ASK, 71, 0);
    EXPECT_EQ(asker.asked, 4);
    EXPECT_EQ(files.calls,
              (std::vector<std::string>{"answer 71 yes /in", "as 71 /in/chosen.txt", "answer 71 no -"}));

    // An offer from a peer the file layer does not know is not asked.
    EXPECT_TRUE(controller.handle(NM_FILE_ASK, 99, 0).empty());
    EXPECT_EQ(asker.asked, 4);
}

TEST_F(FileControllerTest, OtherFileNotificationsGoToTheFileLayer) {
    session_controller controller;
    for (int n : {41, 42, 43, 60, 61, 62, 63}) {
        user_text t = controller.handle(n, 71, 5);
        EXPECT_EQ(t.id, TXT_FILE_SAVED);
        EXPECT_EQ(t.args, std::vector<std::string>{std::to_string(n)});
    }
    EXPECT_EQ(files.calls.size(), 7u);
    EXPECT_EQ(files.calls.front(), "note 41 71 5");
    EXPECT_TRUE(controller.handle(59, 71, 5).empty());
    EXPECT_TRUE(controller.handle(64, 71, 5).empty());
    EXPECT_EQ(files.calls.size(), 7u);
}

}  // namespace
