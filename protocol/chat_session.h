// Per-peer chat sessions: what the voice and video threads read while the front end's thread
// changes it. One session exists for each entry of the chat-window table (20 at most); it is
// created with the entry (add_chat_dlg) with the switches at their opening values and goes
// with it (remove_chat_dlg, take_all_chat_dlgs).
//
// Threads: every function may be called from any thread. The state sits behind its own mutex,
// which is taken after tables_mutex() when both are needed and never held across socket I/O,
// a notification or a call back into the caller (update functions must be short and must not
// block). Windows only display what they read here.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A finished peer picture, handed over whole: the decoder builds a new one and publishes it, a
// window keeps the shared pointer it read, so it never sees a picture being decoded.
struct peer_picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes, top row first, R G B
    int key_version = 0;
    int partial_version = 0;
    uint32_t serial = 0;       // grows with every published picture of the session
    int frame_type = -1;       // 1 key frame, 0 difference frame (-1: not a received frame)
    int record_bytes = 0;      // size of the frame record it was decoded from
};

struct chat_media_state {
    int peer_id = 0;
    // Voice: send my sound to this peer (off when the session opens) and play the peer's sound
    // (on when the session opens).
    int my_audio = 0;
    int peer_audio = 1;
    // Video: this peer may receive my video; request and show the peer's video.
    int my_video = 0;
    int peer_video = 0;
    // Change notices about my video go to this peer at most rate times a second.
    int video_rate = 10;
    uint32_t last_change_notice = 0;  // tick at which the last change notice to this peer was due
    // Versions of the last frame received from the peer (key frame, difference frame).
    int peer_key_version = 0;
    int peer_partial_version = 0;
    std::shared_ptr<const peer_picture> picture;  // last finished peer picture, or null
};

// Called by the chat-window table: a session opens with its entry and closes with it.
void chat_session_open(int peer_id);
void chat_session_close(int peer_id);
void chat_session_close_all();

// A copy of the session with peer_id; false (out untouched) when no session is open with it.
bool chat_session_get(int peer_id, chat_media_state* out);
// Runs fn on the session under the lock. False when no session is open with peer_id.
bool chat_session_update(int peer_id, const std::function<void(chat_media_state&)>& fn);
// Copies of every open session, in table order.
std::vector<chat_media_state> chat_session_all();
// The peers of the open sessions with my_audio (kMySwitchAudio) or my_video (kMySwitchVideo) on,
// in table order: at most max ids go to ids, and the count is returned. Does not allocate, so
// the capture and camera threads can ask once per buffer or frame.
int chat_session_peers_with(int which, int* ids, int max);
// Observers of my switches: called after my_audio or my_video of a session changed, or a session
// with either on closed, with kMySwitchAudio and/or kMySwitchVideo telling which. Called on the
// thread that made the change, with no lock held; an observer must only hand the news over (post
// a message, start a job). At most four; add and remove from one thread at start and end.
constexpr int kMySwitchAudio = 1;
constexpr int kMySwitchVideo = 2;
using my_switch_observer = void (*)(int which);
void add_my_switch_observer(my_switch_observer fn);
void remove_my_switch_observer(my_switch_observer fn);
// Publishes a finished peer picture for the session (serial set here). False without a session.
bool chat_session_publish_picture(int peer_id, std::shared_ptr<peer_picture> picture);
