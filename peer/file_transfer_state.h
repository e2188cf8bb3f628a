// What the parts of file transfer share: the incoming and outgoing transfer of each contact, their
// locks, the job group of the sending threads and watchdog, and the helpers more than one part
// uses. Internal to peer/file_transfer*.cpp.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "peer/file_transfer.h"
#include "platform/thread.h"
#include "protocol/tables.h"

namespace file_transfer_internal {
// Bytes stdio keeps between the program and the disk, so a 1000-byte block costs no system call.
constexpr size_t kFileBufferBytes = 256 * 1024;
constexpr int kFreeNameTries = 999;

// One incoming transfer; g_in[i] belongs to the contact at g_contact[i]. Every field is guarded
// by m, which is held while the file is written or closed (never while a socket is used or a
// notification goes out). Lock order: m, then tables_mutex(), then g_peer_mutex.
struct incoming {
    std::mutex m;
    int peer_id = 0;
    bool armed = false;       // the user accepted an offer: one 373 may open recv_file_path
    bool no_follow = false;   // the path was built in a folder: a link there is never followed
    bool discarding = false;  // blocks are dropped quietly until 375 (refused or failed transfer)
    bool finished = false;    // the last file was saved completely
    bool ever = false;
    FILE* fp = nullptr;
    char* buffer = nullptr;  // stdio buffer of fp
    std::string path;        // the file being written (the name actually used)
    std::string name;
    std::string accepted;    // the path the user accepted; path differs when that name was taken
    std::string wanted;      // the name numbered "name (1)" ... when the accepted one is taken
    std::string shown_path;  // saved path (text 210) or the incomplete name (notification 62)
    int64_t bytes = 0;
    uint32_t last_data = 0;
    uint32_t last_report = 0;
    int path_kind = kFilePathUnknown;
    int sock_index = -1;  // the direct connection it came on, and that connection's generation
    uint64_t sock_gen = 0;
    uint64_t serial = 0;  // changes with every file opened in this slot
};
extern incoming g_in[kMaxContacts];

// One outgoing transfer; guarded by g_ft_mutex except the cancel flag, which the sending thread
// reads for every block.
struct outgoing {
    int peer_id = 0;
    bool offered = false;  // an offer is waiting for its answer; 371 starts it once
    uint32_t offered_tick = 0;
    bool running = false;
    bool finished = false;
    bool ever = false;
    std::atomic<int> cancel{0};  // a file_send_failure reason, 0 while the send may go on
    int64_t bytes = 0;
    int64_t total = -1;
    std::string name;
    std::string path;
};
extern outgoing g_out[kMaxContacts];

// A leaf lock: nothing is called while it is held.
extern std::mutex g_ft_mutex;
extern std::condition_variable g_ft_cv;
extern bool g_stopping;
extern bool g_watchdog_running;
extern uint64_t g_watch_epoch;
extern Cjob_group g_ft_jobs;
// Counts the ways to a peer that appeared (file_paths_changed); guarded by g_ft_mutex, waited on
// with g_ft_cv.
extern uint64_t g_paths_serial;
// Sends a control message (371) as soon as a way to the peer exists, for at most kFileIdleLimitMs.
void send_control_when_possible(int peer_id, int command);

struct pending_note {
    int n;
    intptr_t w;
    intptr_t l;
};

void post_all(const std::vector<pending_note>& notes);

// Header-only 371, 372 (and 375 on the control path): directly, else through the slave server.
int send_control(int peer_id, int command);

std::string base_name(const std::string& path);

bool is_directory(const char* path);

// Clears the record's recv_fd when it still holds fp.
void unmirror(int idx, FILE* fp);

// Closes the file of rx. Returns false when data could not be written out.
bool close_file(incoming& rx, int idx);

// Closes the open file of rx and keeps what arrived under the name with ".incomplete" added.
// The caller holds rx.m and posts the returned notification after releasing it.
pending_note close_incomplete(incoming& rx, int idx, int reason);

// Makes g_in[idx] belong to peer_id; a transfer left there by another contact (the contact list
// changed under it) is closed as incomplete.
void claim_slot(incoming& rx, int idx, int peer_id, std::vector<pending_note>* notes);

// Finds the contact of a received command; logs the handler's line for an unknown peer.
int find_contact(int peer_id, const char* handler);

// Refuses a file: 372 back to the sender.
void refuse(int peer_id);

// Arms the incoming slot for an accepted offer saved under path, stores the record's fields and
// sends 371. wanted is the name numbered when path turns out to be taken when the file is created.
int accept_into(int peer_id, int idx, const std::string& path, const std::string& name,
                bool no_follow, const std::string& wanted);

// A name in folder that is not taken yet: name, else "stem (1).ext" ... Empty when none is free
// or the path would be longer than a path field holds.
std::string free_path_in(const std::string& folder, const std::string& name, std::string* chosen);

// "stem (k).ext" for name, no longer than a received name may be.
std::string numbered_name(const std::string& name, int k);

// Creates a new file for an incoming transfer: target itself, else target's folder with
// numbered_name(wanted, 1, 2, ...). Never opens a file that exists (O_EXCL): a file this
// transfer did not create is never written over. *used gets the path created. nullptr with
// errno set when no file could be created.
FILE* create_new_file(const std::string& target, const std::string& wanted, std::string* used);

// The send to peer_id in g_out[idx] is over (finished: the whole file went).
void end_send(int idx, int peer_id, bool finished);

// Starts the watchdog of incoming files unless it runs (it ends when none is open).
void ensure_watchdog();
// Closes incoming files whose path failed or that had no data for too long; counts those left open.
int watchdog_pass(uint32_t now, int* still_open);
}  // namespace file_transfer_internal
