// The file-transfer side of the main window's notifications and of the user's file actions. The
// transfers themselves live in the peer-networking library, which installs its implementation
// with set_file_dispatch(); the session controller reaches them only through this interface, so
// the protocol library does not depend on the peer library. Until one is installed the defaults
// write a log line and report nothing.
#pragma once
#include <cstdint>
#include <string>

#include "protocol/texts.h"

// Notifications of file transfer to the main window, each with the peer id as wparam: 40 an offer
// arrived, 41 the peer accepted, 42 the peer refused, 43 the file was saved, and 60 send progress
// (lparam: bytes sent), 61 receive progress (lparam: bytes written), 62 an incoming file ended
// incomplete (lparam: the reason), 63 a send failed (lparam: the reason).
constexpr int kFileNotifyAsk = 40;
constexpr int kFileNotifySaved = 43;
constexpr int kFileNotifySendProgress = 60;
constexpr int kFileNotifySendFailed = 63;
inline bool is_file_notification(int n) {
    return (n >= kFileNotifyAsk && n <= kFileNotifySaved) ||
           (n >= kFileNotifySendProgress && n <= kFileNotifySendFailed);
}

struct file_progress {
    bool active = false;    // the transfer is running
    bool finished = false;  // the last transfer ended with 375 (sent or saved)
    int64_t bytes = 0;      // bytes sent or written
    int64_t total = -1;     // size of the file being sent; -1 when receiving
    std::string name;       // the file name
    std::string path;       // full path (after a failure: the name the partial file now has)
};

struct file_dispatch {
    virtual ~file_dispatch() = default;
    // The protocol side of notifications 41-43 and 60-63 (the sending thread started on 41, the
    // fields emptied on 43); returns the text to show, or an empty text.
    virtual user_text handle_notification(int n, intptr_t wparam, intptr_t lparam);
    // 40: the question to ask and the offered file name. 0, or -1 for an unknown contact.
    virtual int offer_question(int peer_id, user_text* question, std::string* offered_name);
    // Offers the file at path to the peer (370). 0 when the offer went out.
    virtual int offer_file(int peer_id, const char* path);
    // Answers the waiting offer: refuse (372), or save into folder under the offered name (371).
    virtual int answer_offer(int peer_id, bool accept, const char* folder);
    // Accepts the waiting offer into a full path chosen in a save dialog (371).
    virtual int accept_offer_as(int peer_id, const char* path);
    // Progress of the outgoing (sending true) or incoming transfer with the peer; false when
    // nothing was transferred with it yet.
    virtual bool progress(int peer_id, bool sending, file_progress* out);
};

// The installed implementation (the logging defaults until one is set). nullptr restores them.
void set_file_dispatch(file_dispatch* impl);
file_dispatch& file_transfers();
