// The exchange of video frames between peers. The owner of a camera tells a watching peer about
// each new frame (230); the watcher asks for what it lacks (231, from a 2000 ms timer and on each
// notice); the owner answers with a begin (232), pieces of at most 900 bytes (233) and an end
// (234), always through the slave-server relay; the watcher reassembles, decodes and publishes
// the picture in its chat session and posts the peer-picture notice to the chat window.
//
// Threads: the handlers run on the peer receive thread that carried the command; the timer runs
// on its own thread. Nothing here holds a lock across socket I/O, nor writes a socket: the
// senders queue on the connection (peer/send_queue.h), where a watcher that stops reading loses
// whole frames, oldest first, past two waiting.
#pragma once
#include <cstdint>
#include <string>

constexpr int kVideoPieceBytes = 900;
constexpr int kPeerVideoTimerMs = 2000;

// Where video commands go. Both return a negative value when the command could not be sent.
struct video_transport {
    int (*direct)(int peer_id, int command, const void* body, int len);
    int (*relay)(int peer_id, int command, const void* body, int len);
};
// Tests route the commands to their own recorder; null restores the peer layer's senders.
void set_video_transport(const video_transport* transport);
int video_send_direct(int peer_id, int command, const void* body, int len);
int video_send_relay(int peer_id, int command, const void* body, int len);
int video_send_direct_or_relay(int peer_id, int command, const void* body, int len);

// Registers the handlers of 230-234 with the peer dispatch and starts the peer-video timer.
void video_exchange_start();
// Stops the timer and the camera (process exit).
void video_exchange_stop();

// The peer-video switch of the session with peer_id. Returns 0, or -1 without a session.
int video_set_peer_video(int peer_id, bool on);
// The notification rate of the session (frames per second, 1..50). 0 or -1.
int video_set_rate(int peer_id, int rate);

// Frees the reassembly state of peers whose chat session has closed (the timer does it).
void prune_video_receivers();

// One pass of the peer-video timer at tick now: 231 to each watched peer whose 2000 ms are up.
void peer_video_timer_pass(uint32_t now);

// The handlers (body zero-terminated at len). Each returns 0 or -1.
int do_video_change_notify_from_peer(const char* body, int len, int peer_id);
int do_video_request_from_peer(const char* body, int len, int peer_id);
int do_video_reply_begin_from_peer(const char* body, int len, int peer_id);
int do_video_reply_cont_from_peer(const char* body, int len, int peer_id);
int do_video_reply_end_from_peer(const char* body, int len, int peer_id);

// A test aid: every frame record this client sends is also written to DIR/sent-K-P-T.rec (the
// versions of the begin message and the frame type). Empty turns it off.
void video_set_record_dump_dir(const std::string& dir);
