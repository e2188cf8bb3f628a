// The session's questions never hold the asking thread: the asker answers at once and a
// non-modal dialog opens on the GUI thread, one per subject; the dialog's answer reaches the
// controller's entry point on the session side, and only while the question still stands.
#include <QTest>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/message_box.h"
#include "protocol/commands.h"
#include "protocol/file_dispatch.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "tests/ui/ui_test_support.h"
#include "ui/common/questions.h"
#include "ui/skin/controls.h"

namespace {
// The file side as the controller reaches it: the waiting offer and the answers it got.
struct fake_files : file_dispatch {
    std::string waiting = "report.pdf";
    std::vector<std::string> answers;
    int offer_question(int, user_text*, std::string* name) override {
        if (waiting.empty()) return -1;
        if (name) *name = waiting;
        return 0;
    }
    int answer_offer(int peer_id, bool accept, const char*) override {
        answers.push_back(std::to_string(peer_id) + (accept ? " accept" : " refuse"));
        return 0;
    }
    int accept_offer_as(int peer_id, const char* path) override {
        answers.push_back(std::to_string(peer_id) + " save " + path);
        return 0;
    }
};

contact_record contact(int id, const char* nick) {
    contact_record c{};
    c.contact_id = id;
    std::strcpy(c.display_name, nick);
    return c;
}

class questions_test : public QObject {
    Q_OBJECT
    session_controller m_controller;
    std::vector<session_task> m_tasks;  // what the dialogs handed to the session

    // Runs what the dialogs handed to the session, as the session thread would.
    void run_tasks() {
        for (auto& t : m_tasks) t(m_controller);
        m_tasks.clear();
    }

private slots:
    void asker_returns_at_once_and_dialogs_open_one_per_subject() {
        session_questions q([this](session_task t) { m_tasks.push_back(std::move(t)); }, nullptr);
        qt_question_asker asker;
        asker.set_questions(&q);
        int added = 0, offline = 0, file = 0;
        // No event loop runs while the session thread asks: a waiting asker would hang here.
        std::thread session([&] {
            user_text t = make_text(TXT_ADDED_ME_QUESTION, {"bob", "Bob", "Baker", "b@x"});
            added = asker.ask_added_me(contact(7, "bob"), t);
            asker.ask_added_me(contact(7, "bob"), t);  // the same subject again
            asker.ask_removed_me(contact(8, "carol"), t);
            offline = asker.ask_read_offline(make_text(TXT_OFFLINE_WAITING));
            std::string folder, save_as;
            file = asker.ask_file_offer(contact(7, "bob"), t, "report.pdf", &folder, &save_as);
        });
        session.join();
        QCOMPARE(added, int(ANSWER_CANCEL));
        QCOMPARE(offline, int(ANSWER_NO));
        QCOMPARE(file, int(ANSWER_CANCEL));
        QVERIFY(QTest::qWaitFor([&] { return q.open_count() == 4; }, 5000));
        CDlgQuestion* d = q.dialog(QUESTION_ADDED_ME, 7);
        QVERIFY(d->isVisible() && !d->isModal());
        QCOMPARE(d->windowTitle(), QStringLiteral("Message from bob"));
        // Cancel leaves the request open: nothing reaches the session.
        d->cancel_button()->click();
        QVERIFY(m_tasks.empty());
        q.close_all();
    }

    void file_answers_reach_the_controller_while_the_offer_stands() {
        fake_files files;
        set_file_dispatch(&files);
        session_questions q([this](session_task t) { m_tasks.push_back(std::move(t)); }, nullptr);
        q.choose_save_path = [](const QString& p) { return "/tmp/in/" + p; };
        q.ask_file_offer(7, "bob", "bob offers report.pdf", "report.pdf");
        q.dialog(QUESTION_FILE_OFFER, 7)->yes_button()->click();
        q.ask_file_offer(7, "bob", "again", "report.pdf");
        q.dialog(QUESTION_FILE_OFFER, 7)->no_button()->click();
        q.choose_save_path = [](const QString&) { return QString(); };  // save dialog cancelled
        q.ask_file_offer(7, "bob", "again", "report.pdf");
        q.dialog(QUESTION_FILE_OFFER, 7)->yes_button()->click();
        run_tasks();
        // Answered, then replaced by a newer offer before the session got the answer: dropped.
        q.ask_file_offer(7, "bob", "old", "report.pdf");
        q.dialog(QUESTION_FILE_OFFER, 7)->no_button()->click();
        files.waiting = "other.zip";
        run_tasks();
        QCOMPARE(files.answers,
                 std::vector<std::string>({"7 save /tmp/in/report.pdf", "7 refuse", "7 refuse"}));

        // The sender went offline: the dialog says the offer was withdrawn and only closes.
        q.ask_file_offer(7, "bob", "bob offers a.bin", "a.bin");
        CDlgQuestion* d = q.dialog(QUESTION_FILE_OFFER, 7);
        q.peer_status(7, PS_OFFLINE);
        QVERIFY(d->withdrawn() && !d->yes_button()->isEnabled());
        QCOMPARE(d->note(), QStringLiteral("bob went offline: the file offer was withdrawn."));
        d->no_button()->click();
        QVERIFY(m_tasks.empty());
        set_file_dispatch(nullptr);
    }
};
}  // namespace

QObject* make_questions_test() {
    return new questions_test;
}

#include "questions_test.moc"
