// The protocol side of the main window's notification handlers and of the user's actions: the
// requests they send, the tables they change and the threads they start. The GUI and the headless
// client both call it and add only what is seen, so the two front ends cannot drift apart.
//
// Threads: a controller belongs to one thread, the front end's (the GUI thread, the headless
// client's main thread). handle() runs there (the dispatcher delivers notifications on it), and so
// do every entry point below and the housekeeping tick; debug builds assert it. No entry point
// waits on a socket: what may (a connect before a chat line, an offline message, a file offer,
// signing in or out) runs on a worker of the controller's lanes, and its end comes back as
// notification NM_ACTION_DONE, which handle() turns into last_action() and the text to show.
// The questions of question_asker are asked on the owner thread with no table lock held.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/file_dispatch.h"
#include "protocol/notify.h"
#include "protocol/requests.h"
#include "protocol/tables.h"
#include "protocol/texts.h"
#include "protocol/work_lanes.h"

class housekeeping;

// The questions a front end answers. The defaults ask through the message boxes; a front end that
// must not wait (the headless client, the desktop application) answers ANSWER_CANCEL and lets the
// user answer later with answer_added_me / answer_removed_me / read_offline / answer_file_offer /
// accept_file_as.
struct question_asker {
    virtual ~question_asker() = default;
    // A refusal or report of a user action (an empty e-mail, a full contact list). The default
    // shows a message box.
    virtual void show_text(const user_text& text);
    // ANSWER_YES, ANSWER_NO or ANSWER_CANCEL.
    virtual int ask_added_me(const contact_record& c, const user_text& text);
    virtual int ask_removed_me(const contact_record& c, const user_text& text);
    // ANSWER_YES or ANSWER_NO.
    virtual int ask_read_offline(const user_text& text);
    // 40: the contact offers a file named offered_name. ANSWER_YES with *save_as set to a full
    // path (a save dialog, overwrite confirmed) or *folder set to a folder that takes the file
    // under the offered name; ANSWER_NO refuses; ANSWER_CANCEL leaves the offer waiting for
    // answer_file_offer. The default asks Yes/No; having no save dialog, it leaves a Yes waiting.
    virtual int ask_file_offer(const contact_record& c, const user_text& text, const char* offered_name,
                               std::string* folder, std::string* save_as);
};

// The actions that run on a worker and report through NM_ACTION_DONE.
enum controller_action : int {
    ACTION_SIGN_IN = 1,
    ACTION_SIGN_OUT = 2,
    ACTION_CHAT_LINE = 3,
    ACTION_KNOCK = 4,
    ACTION_OFFLINE_MESSAGE = 5,
    ACTION_FILE_OFFER = 6,
};

struct action_result {
    int action = 0;
    int peer_id = 0;   // 0 for sign-in and sign-out
    int code = 0;      // 0 done, -1 failed
    user_text text;    // what to tell the user (often empty on success)
    uint64_t line = 0;  // a chat line's number (ACTION_CHAT_LINE)
};

// How long a chat line that went out may wait for the peer's echo before the user is told it was
// not delivered (a datagram lost, a relay gone before it passed the line on).
constexpr uint32_t kChatEchoWaitMs = 20000;

// Attributes of a chat line: colour as 0xRRGGBB, point size, style bits (1 bold, 2 italic,
// 4 underline, 8 strike-out).
struct chat_style {
    uint32_t colour = 0;
    int size = 10;
    int style = 0;
};
// A chat body ends in five attribute bytes: red, green, blue, the size and the style bits.
void chat_style_bytes(const chat_style& s, unsigned char out[5]);
chat_style chat_style_from_bytes(const unsigned char a[5]);
// A received body ("name:text", a zero byte, the five bytes) split into the bytes before the zero
// (at most len - 5) and its style. False when it is too short to hold the five bytes.
bool split_chat_body(const char* body, int len, std::string* text, chat_style* style);

struct offline_message {
    int sender_id;
    std::string label;  // "Unknown" when the sender is not in the contact table
    std::string text;
    bool sender_known = true;  // false: a front end shows its own word for "Unknown"
};

class session_controller {
public:
    explicit session_controller(question_asker* asker = nullptr);
    // Stops the workers (shutdown() if the front end did not).
    ~session_controller();
    session_controller(const session_controller&) = delete;
    session_controller& operator=(const session_controller&) = delete;

    // Makes the calling thread the owner (when the controller was made on another thread).
    void bind_to_current_thread() { m_owner = std::this_thread::get_id(); }

    void attach_housekeeping(housekeeping* hk) { m_housekeeping = hk; }

    // Protocol side of main-window notification n. Returns the text the window would show for
    // it (a refusal, a confirmation, a pop-up), or an empty text.
    user_text handle(int n, intptr_t wparam, intptr_t lparam);

    // Sign-in dialog: the checks, the four remembered values, then the login on a worker. Returns
    // 0 when the login was started (its failure comes as NM_LOGIN_FAILED or NM_ACTION_DONE).
    int sign_in(const char* email, const char* password, bool remember_email, bool remember_passwd);
    struct remembered {
        bool remember_email;
        bool remember_passwd;
        std::string email;
        std::string password;
    };
    static remembered load_remembered();
    // 133 on a worker (after any sign-in still running).
    int sign_out();

    // Registration dialog checks, then 250.
    int register_user(const registration_fields& f);
    // Contact search checks, then 260.
    int search_contact(const char* email);
    // Add-contact confirmation "Add": 280 with the found contact and the selected group.
    int add_found_contact();
    int remove_contact(int contact_id);
    int answer_added_me(int contact_id, bool accept);
    int answer_removed_me(int contact_id, bool accept);
    int add_group(const char* name);
    int rename_group(int group_id, const char* name);
    int delete_group(int group_id);
    // Moves a contact at once and tells the server (300).
    int move_contact(int contact_id, int group_id);

    // A status request (360) and the status-broadcast timer. by_user marks a chosen Away, which
    // the automatic return to Online leaves alone.
    int request_my_status(int state, bool by_user);
    bool away_by_user() const { return m_away_by_user; }

    // Offline messages: 343, and the viewer's Discard and Save (348).
    int read_offline();
    std::vector<offline_message> pending_offline() const { return m_pending; }
    int discard_offline(int sender_id);
    int save_offline(int sender_id, const char* path);

    // Chat windows: the front end makes the window object, the core registers it in the 20-entry
    // table and opens the direct connection to the peer. Returns the window, or nullptr when the
    // table is full or no factory is set.
    using chat_factory = std::function<chat_window*(int peer_id)>;
    using chat_disposer = std::function<void(chat_window*)>;
    void set_chat_factory(chat_factory make, chat_disposer dispose) {
        m_make_chat = std::move(make);
        m_dispose_chat = std::move(dispose);
    }
    // A window stays in the table until the front end takes them all at shutdown (after peer
    // networking and media stopped): threads that posted to it never see it go.
    chat_window* open_chat(int peer_id);

    // A chat line to the peer (210 with my name and the line's style): opens the chat window when
    // none is open, connects first when no connection is open, sends on a worker. The lines of
    // one peer go out in order. 0 when queued.
    int send_chat_line(int peer_id, const std::string& text, const chat_style& style = {});
    // A knock (410) on a worker. 0 when queued.
    int knock(int peer_id);
    // The offline-message editor's Send: the checks here (their refusal is shown), the sending
    // on a worker. 0 when queued.
    int send_offline_message(int peer_id, const std::string& text);
    // Chat lines still waiting for their echo (tests and statistics).
    size_t lines_awaiting_echo() const { return m_unacked.size(); }
    // Housekeeping: every line that went out more than kChatEchoWaitMs before now without its
    // echo is reported as not delivered (through NM_ACTION_DONE, as a failed chat line).
    void report_undelivered_lines(uint32_t now);
    // The end of the last action that reported (valid after handle(NM_ACTION_DONE, ...)).
    const action_result& last_action() const { return m_last_action; }
    // Program exit: refuses new actions, state 0 to every home server when signed in, and waits
    // at most ms for the workers. Call it before the session stops.
    void shutdown(uint32_t ms = 2000);
    // Knocks: the text of the knock pop-up for a contact, or empty when knocks from that contact
    // are blocked or the contact is unknown.
    user_text knock_text(int peer_id);
    int set_knock_blocked(int contact_id, bool blocked);

    // File transfer: offers a file (370) on a worker (0 when queued; a failure comes as
    // NM_ACTION_DONE); answers a waiting offer by refusing (372) or by saving
    // into folder under the offered name, or as a full path (371). 0 when the command went out.
    int offer_file(int peer_id, const char* path);
    int answer_file_offer(int peer_id, bool accept, const char* folder);
    int accept_file_as(int peer_id, const char* path);
    // Progress of the outgoing (sending) or incoming transfer with the peer.
    bool file_transfer_progress(int peer_id, bool sending, file_progress* out) const;

    int selected_group() const { return m_selected_group_id; }
    void select_group(int group_id) { m_selected_group_id = group_id; }

    // Resuming a signed-in session whose server was lost (NM_CONNECTING): the sign-in is tried
    // again on a worker after resume_delay_ms(attempt) until the server accepts it (NM_LOGIN_SUCCESS,
    // which requests everything as a first sign-in does) or refuses it (NM_LOGIN_FAILED). Sign-out,
    // a new sign-in and shutdown end it at once. Owner thread.
    bool resuming() const { return m_resume.active; }
    // The attempt that comes next (1 for the first) and how long it was put off, in ms.
    int resume_attempt() const { return m_resume.attempt; }
    uint32_t resume_delay() const { return m_resume.delay; }
    // Housekeeping: starts the attempt whose time has come; ms until it is due (UINT32_MAX: none).
    void resume_tick(uint32_t now);
    uint32_t resume_due_in(uint32_t now) const;

private:
    void check_owner(const char* where) const;
    // Runs fn on lane; its result is reported through NM_ACTION_DONE.
    int start_action(int lane, int action, int peer_id, std::function<action_result()> fn);
    user_text action_done(intptr_t seq);
    // Queues a result as a worker would and tells the owner thread.
    void report(action_result r);
    void line_echoed(const chat_delivery& d);
    void ask_pending_relations();
    user_text peer_status(int contact_id, int state);
    user_text contact_added();
    user_text file_offered(int peer_id);

    chat_factory m_make_chat;
    chat_disposer m_dispose_chat;
    question_asker m_default_asker;
    question_asker* m_asker;

public:
    // Replaces the front end's question asker (before the session starts; null: the default).
    void set_asker(question_asker* asker) { m_asker = asker ? asker : &m_default_asker; }

private:
    housekeeping* m_housekeeping = nullptr;
    bool m_away_by_user = false;
    int m_selected_group_id = 0;
    std::string m_last_group_name;
    std::string m_offline_text;
    std::vector<offline_message> m_pending;
    // Chat lines sent and not yet echoed, oldest first (owner thread).
    struct unacked_line {
        uint64_t line;
        int peer_id;
        std::string text;  // "name:text" as sent (before any cut)
        uint32_t sent;
    };
    std::vector<unacked_line> m_unacked;
    uint64_t m_next_line = 1;
    std::thread::id m_owner;
    action_result m_last_action;
    std::mutex m_results_mutex;
    std::deque<std::pair<intptr_t, action_result>> m_results;
    intptr_t m_next_seq = 1;  // guarded by m_results_mutex
    bool m_shut_down = false;
    // Resuming (owner thread, except the two atomics that the attempt's worker reads or clears).
    struct resume_state {
        bool allowed = false;  // the server accepted this session's sign-in
        bool active = false;
        int attempt = 0;
        uint32_t delay = 0;
        uint32_t due = 0;
        int status = 0;             // the user's state when the session was lost, given back
        bool away_by_user = false;  // once it resumes
    };
    resume_state m_resume;
    std::atomic<uint32_t> m_resume_generation{0};  // changes when resuming ends
    std::atomic<bool> m_resume_busy{false};        // an attempt runs on the worker
    std::atomic<bool> m_resume_sent{false};        // the last attempt's login went out
    uint32_t m_resume_random = 0;
    user_text session_lost(int why, uint32_t now);
    void end_resume(bool allowed);
    work_lanes m_lanes;  // last: stopped before the members its jobs use go
};

// The user text that belongs to a refusal or confirmation notification (empty for others).
user_text notification_text(int n);

// The wait before attempt n (1, 2, ...) to resume a lost session: 1 s doubling up to 60 s, less
// up to a fifth picked by random, so that clients lost together do not come back together.
uint32_t resume_delay_ms(int attempt, uint32_t random);
// How long a resumed login may wait for its answer before the next attempt replaces it.
constexpr uint32_t kResumeAnswerWaitMs = 10000;
