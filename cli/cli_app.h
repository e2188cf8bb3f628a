// The headless client's state: the session controller, the housekeeping, the notification
// dispatcher and the answers to questions. Everything here runs on the client's main thread,
// except the standard-input reader, which only hands lines over.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/args.h"
#include "platform/wakeup.h"
#include "protocol/housekeeping.h"
#include "protocol/commands.h"
#include "protocol/notify.h"
#include "protocol/session_controller.h"

// Questions are printed as JSON; with --auto-accept they are answered Yes at once, otherwise the
// user answers later with a command.
struct cli_asker : question_asker {
    bool auto_accept = false;
    // Refusals of a command print as {"message": TEXT, "text_id": ID}.
    void show_text(const user_text& text) override;
    int ask_added_me(const contact_record& c, const user_text& text) override;
    int ask_removed_me(const contact_record& c, const user_text& text) override;
    int ask_read_offline(const user_text& text) override;
    // Offered files: saved into accept_files_dir when it is set, refused with refuse_files, else
    // printed as a question that accept-file / refuse-file answer.
    std::string accept_files_dir;
    bool refuse_files = false;
    int ask_file_offer(const contact_record& c, const user_text& text, const char* offered_name,
                       std::string* folder, std::string* save_as) override;
};

// The user's commands count as input for the automatic Away.
struct cli_idle : input_idle_source {
    std::atomic<uint32_t> last{0};
    uint32_t last_input_tick() override { return last.load(); }
};

class cli_app {
public:
    explicit cli_app(const cli_options& options);
    ~cli_app();

    // Session start, sign-in from the flags, the command loop; returns the exit code.
    int run();
    // Runs one command line (also used by tests). Returns 0, or -1 for an unknown or bad command.
    int execute(const std::string& line);

    cli_options options;
    cli_asker asker;
    cli_idle idle;
    session_controller controller;
    housekeeping hk;
    queued_dispatcher dispatcher;
    bool quit = false;
    // "add-contact EMAIL [GROUP]": add the found contact as soon as the search answers.
    bool add_when_found = false;

private:
    void reader_main();
    // The headless chat windows, made and destroyed on the main thread.
    std::vector<std::unique_ptr<chat_window>> m_chats;
    void stop_reader();
    std::thread m_reader;
    std::atomic<bool> m_reader_stop{false};
    Cwakeup m_reader_wakeup;  // ends the reader's wait for input
};
