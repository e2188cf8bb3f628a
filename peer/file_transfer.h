// File transfer between two clients: the offer (370), the answer (371 accepted / 372 refused) and
// the stream (373 name, 374 blocks of at most 1000 bytes, 375 end). Every command goes over the
// direct connection when there is one and through the slave server otherwise; a sending thread
// chooses its path once, when it starts, and keeps it for the whole file.
//
// Per contact there is room for one outgoing and one incoming transfer. The contact record keeps
// the paths and names (send_file_path, send_file_name, recv_file_path, recv_file_name) and the file
// being written (recv_fd); this module keeps the rest (progress, the accepted-offer flag, the
// watchdog's last-data tick) in tables of its own, indexed like g_contact.
//
// Threads: the four receive handlers run on the reader thread of the path that carries them; the
// sending thread runs alone per transfer; a watchdog thread runs while an incoming file is open
// and closes transfers that stopped. The user-side functions (offer_file, the answers, the
// notification handler) run on the front end's thread. Each incoming transfer has its own lock;
// no lock is held while sending on a socket or while a notification is posted.
//
// Notifications to the main window, each with the peer id as wparam:
//   40 an offer arrived (ask the user: file_offer_question, then file_offer_answer or
//      file_offer_accept_as), 41 the peer accepted (the handler starts the sending thread),
//   42 the peer refused, 43 the file was saved;
//   and those below (numbers the main window does not use otherwise):
//   60 NM_FILE_SEND_PROGRESS    lparam: bytes sent so far (file_send_progress gives the size)
//   61 NM_FILE_RECV_PROGRESS    lparam: bytes written so far (the protocol carries no size)
//   62 NM_FILE_RECV_INCOMPLETE  lparam: a file_incomplete_reason; the part received was kept
//                                under the name file_recv_progress reports (".incomplete" added)
//   63 NM_FILE_SEND_FAILED      lparam: a file_send_failure; the transfer ended without 375
// Progress goes out when a transfer starts, at most every 250 ms while bytes move, and at its end.
#pragma once
#include <cstdint>
#include <string>

#include "protocol/commands.h"
#include "protocol/file_dispatch.h"

enum file_incomplete_reason : int {
    FILE_INCOMPLETE_PATH_FAILED = 1,   // the direct connection that carried it was closed
    FILE_INCOMPLETE_NO_DATA = 2,       // nothing arrived for kFileIdleLimitMs
    FILE_INCOMPLETE_WRITE_FAILED = 3,  // the disk refused the data (full, removed, ...)
    FILE_INCOMPLETE_REPLACED = 4,      // a new file began before this one ended
    FILE_INCOMPLETE_STOPPED = 5,       // the program stopped the transfer (shutdown)
};

enum file_send_failure : int {
    FILE_SEND_OPEN_FAILED = 1,  // the offered file could not be opened; nothing was sent
    FILE_SEND_PATH_FAILED = 2,  // a send on the chosen path failed
    FILE_SEND_READ_FAILED = 3,  // reading the file failed part-way
    FILE_SEND_REFUSED = 4,      // the receiver refused (372) while the file was streaming
    FILE_SEND_STOPPED = 5,      // the program stopped the transfer (shutdown)
};

constexpr int kFileBlockBytes = 1000;         // body of one 374
constexpr int kFilePathMax = 255;             // send_file_path and recv_file_path
constexpr int kSendFileNameMax = 128;         // send_file_name
constexpr int kRecvFileNameMax = 127;         // recv_file_name
constexpr uint32_t kFileIdleLimitMs = 15000;  // an incoming file without data this long is closed
// An offer made before the contact's address arrived waits this long for it.
constexpr int kFileAddressWaitMs = 10000;
constexpr uint32_t kFileProgressMs = 250;     // least time between two progress notifications
constexpr uint32_t kFileWatchdogMs = 1000;    // period of the watchdog thread
constexpr const char* kIncompleteSuffix = ".incomplete";

// Paths a received command came on (the values of peer_path in peer_commands.h).
constexpr int kFilePathUnknown = -1;

// Handlers of 370, 373, 374 and 375 (reader threads). body is zero-terminated at len. path and
// index name the path the command came on (index: the direct connection's slot); with them a
// transfer on a direct connection is closed as soon as that connection ends, without them only
// after kFileIdleLimitMs without data. Return 0, or -1 after a log line.
int do_file_transfer_ask_permission_from_peer(const char* body, int len, int peer_id,
                                              int path = kFilePathUnknown, int index = -1);
int do_file_transfer_begin_from_peer(const char* body, int len, int peer_id,
                                     int path = kFilePathUnknown, int index = -1);
int do_file_transfer_cont_from_peer(const char* body, int len, int peer_id,
                                    int path = kFilePathUnknown, int index = -1);
int do_file_transfer_end_from_peer(const char* body, int len, int peer_id,
                                   int path = kFilePathUnknown, int index = -1);

// Sends the offered file to the peer: 373, the blocks, 375 (runs on its own thread, started by
// on_file_offer_accepted). Returns 0 when 375 went out, else -1 after a log line and a 63.
int send_file_to_peer_thread(int peer_id);

// ---- The user's side (front end thread) ----

// The offering steps after the user chose the file and confirmed: stores the path and name in the
// contact record, connects to the peer when possible and sends 370 (directly, else through the
// slave server). Returns 0 when 370 went out, kFileOfferBusy while a file to that contact streams
// or its offer still waits for an answer (nothing changes), -1 otherwise (unknown contact, a path
// longer than 255 characters, no path to the peer).
constexpr int kFileOfferBusy = -2;
int offer_file(int peer_id, const char* path);

// Texts of the offering dialog: 221 (no contact selected) and 222 (the confirmation question).
user_text file_select_contact_text();
user_text file_offer_confirm_text(int peer_id, const char* path);

// 40: the question to ask (text 207) and the offered name to propose in a save dialog. Returns 0,
// or -1 for an unknown contact (logged).
int file_offer_question(int peer_id, user_text* question, std::string* offered_name);

// The answer to an offer. Refusing sends 372. Accepting saves into folder under the offered name
// (safe_file_name; a free name "name (1)" ... when it exists, chosen again when the file is
// created), then sends 371; a folder that cannot take the file refuses with 372. Returns 0 when
// the answer went out.
int file_offer_answer(int peer_id, bool accept, const char* folder);
// Accepting with a full path the user chose in a save dialog. Like every incoming file it is
// created new when 373 arrives: a file found under that name then (even one the dialog offered to
// replace) is kept, and the file is saved as "name (1).ext" ... (file_recv_progress tells).
int file_offer_accept_as(int peer_id, const char* path);

// The protocol side of notifications 40-43 and 60-63: the thread started on 41, the fields emptied
// on 43. Returns the text the window shows for it (207, 208, 209, 210, or the incomplete and
// failure texts), or an empty text for progress and unknown numbers.
user_text handle_file_notification(int n, intptr_t wparam, intptr_t lparam);

// Pieces of handle_file_notification, for front ends that want them separately.
user_text on_file_offer_accepted(int peer_id); // 41: starts send_file_to_peer_thread; text 208
user_text on_file_offer_refused(int peer_id); // 42: stops a streaming send; text 209
user_text on_file_saved(int peer_id); // 43: text 210; empties recv_file_path/name

// Progress of the outgoing / incoming transfer with the peer. false for an unknown contact or
// when nothing was transferred with it yet.
bool file_send_progress(int peer_id, file_progress* out);
bool file_recv_progress(int peer_id, file_progress* out);

// One watchdog pass at tick now: closes every incoming file whose direct connection has ended or
// that got no data for kFileIdleLimitMs, keeping the part under its ".incomplete" name. The
// watchdog thread runs one per second; tests call it with their own ticks. Returns the number of
// transfers closed.
int file_transfer_watchdog_pass(uint32_t now);

// Shutdown: stops every sending thread, closes every open incoming file as incomplete, stops the
// watchdog and waits for them (at most ms). Afterwards transfers may start again.
void stop_file_transfers(uint32_t ms = 15000);
// A way to a peer may have appeared (a relay route learnt, a direct connection identified): an
// answer still waiting for one is tried again.
void file_paths_changed();

// Number of sending threads running (tests and shutdown).
int file_send_threads_running();

// The last path component of a name that came from the network (both '/' and '\\' separate),
// made safe to show and to save: escape sequences and bidirectional controls removed, other
// control characters and malformed UTF-8 shown as '_', a character cut at the end dropped,
// leading '-', '.' and spaces removed, then cut to at most max bytes on a character boundary.
// Empty when nothing is left (an empty name, ".", "..", "---"): such an offer is refused.
std::string safe_file_name(const char* name, int max);
// s cut to at most max bytes, never inside a UTF-8 character.
std::string utf8_prefix(const std::string& s, size_t max);
