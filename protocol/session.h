// The session: its values, program start and stop, login and sign-out, and g_recv_thread, the
// only reader of the main server connection, which dispatches every server command.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/commands.h"

// Numbers written by the receive thread and read everywhere.
extern std::atomic<int> g_logged_in;
extern std::atomic<int> g_session_id;
extern std::atomic<int> g_user_id;
extern std::atomic<int> g_online_index;
extern std::atomic<int> g_my_status;  // the user's state as last confirmed by the server

// Texts of the session. They are guarded by one mutex; readers take copies.
struct session_texts {
    char my_email[128];
    char my_passwd[33];
    char my_name1[32];
    char my_name2[32];
    char my_name3[32];
};
struct found_contact {
    int id;
    char first_name[32];
    char last_name[32];
    char nick_name[128];
    char email[128];
};
session_texts get_session_texts();
found_contact get_found_contact();
std::string get_offline_chunk();        // the chunk of the last 346
std::string get_group_update_name();    // the name of the last 314
std::string get_server_notice(int which);  // 0: text of 998, 1: text of 999
// The address the user last searched for (shown with "not found").
void set_searched_email(const char* email);
std::string get_searched_email();

// Program start: reset every session value and table, start g_recv_thread. Returns 0 or -1.
int session_start();
// Shutdown: stops and joins g_recv_thread (closing the main connection wakes it).
void session_stop();
// Resets the session values (no tables, no threads); used by session_start and tests.
void reset_session_values();

// Connects the main connection when it is closed (server host from the deployment settings) and
// wakes the receive thread. Returns 0 when connected.
int ensure_main_connection();

// Sends 130 with "email:password". Returns 0 when sent.
int login(const char* email, const char* password);
// Sends 133 and leaves the logged-in state.
int sign_out();

// A session that the server had accepted and then lost (the server closed the connection or could
// not be reached again) is resumed, not ended: the loss is posted once as NM_CONNECTING (wparam 0)
// and the main connection stops reconnecting on every send until resume_session() made it again.
// A login that never got an answer still ends as NM_LOGIN_FAILED, as does a refusal.
// True from the loss until the session is back, signed out or refused.
bool session_resuming();
// One attempt to resume, on a worker: connects the main connection (dropping one whose earlier
// login went unanswered) and repeats the login with the session's credentials; its answer comes
// as NM_LOGIN_SUCCESS or NM_LOGIN_FAILED. still_wanted is asked before each step. Returns 0 when
// the login went out, -1 when no connection could be made, 1 when there is nothing to resume.
int resume_session(const std::function<bool()>& still_wanted);

// Runs one server command as the receive loop does (body zero-terminated at len).
void dispatch_server_command(int command, char* body, int len, int board_num);

// 401: stores the address text in the contact's records and posts notification 45 (id, state).
int do_status_notify_by_peer(const char* body, int len);

// How long the event wait sleeps at most, with no connection, before looking at the stop flag.
constexpr int kRecvPollMs = 200;
// How long the receive loop waits on an open connection before looking round: closing the
// connection (a stop, a replacement) shuts it down first, which ends the wait at once, so this
// only bounds the wait if that were missed, and an idle client wakes rarely.
constexpr int kRecvIdleWaitMs = 5000;
