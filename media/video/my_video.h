// My own video: the camera, the frame encoder and what each chat session is told about new
// frames. One set of settings serves the whole client (size index, quality); the my-video switch
// is per session (chat_media_state::my_video).
//
// Threads: handle_video_data runs on the camera source's thread (tests call it directly); the
// switches, size, quality and capture control may be called from any thread (a front end's
// thread in practice). The video mutex guards the stored frames and the two versions between the
// encoder and the request handler (video_exchange.cpp); it is never held across socket I/O.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "media/codec/frame_codec.h"
#include "platform/sync.h"
#include "protocol/chat_session.h"

constexpr int kMyRgbsBytes = 640 * 480 * 3;  // 921600, the largest frame kept
constexpr int kVideoMutexWaitMs = 3000;
constexpr int kMaxMyVideoSessions = 2;  // sessions that may show my video at the same time

// The encoder state and its stored frames. version/partial_version are the key-frame count and
// the difference frames since the last key frame; both 0 before the first frame.
struct my_video_store {
    Ctimed_mutex mutex;  // the video mutex
    std::unique_ptr<frame_encoder> encoder = std::make_unique<frame_encoder>();
    int version = 0;
    int partial_version = 0;
};
my_video_store& my_video();

// A captured frame of `bytes` bytes. Returns 0, or -1 for a null frame, a video-mutex wait that
// failed (the frame is dropped) or a frame that could not be stored (the previous one stays).
int handle_video_data(const uint8_t* frame, int bytes);

// Client-wide settings. The size applies to the next capture (a running capture restarts).
int video_size_index();
int video_quality();
void video_set_quality(int quality);
// 0, 1 or 2; anything else is refused with -1.
int video_set_size_index(int size_index);

// Which source the next capture start opens ("v4l2[:DEV]", "pattern", "y4m:FILE").
void video_set_input(const std::string& input);
std::string video_input();
// Takes the source from the [media] video_input setting when one is set.
void video_load_input_setting();
// Starts capture unless it runs. Returns 0, or -1 when no device opened ("no video device
// found." in the log; the next call tries again).
int video_start_capture();
bool video_capture_running();
// Stops the camera (process exit, or no session shows my video).
void video_stop_capture();
// Starts capture when some session has my-video on and stops it when none has; of two calls
// the later decides. Waits on the device: never on a GUI thread. Returns 0, or -1 when a
// wanted capture did not start.
int video_follow_my_switches();

// The my-video switch of the session with peer_id. Switching on a third session shows "Maximun
// videos reached." and leaves it off (returns -2); without a session -1. Switching on starts
// capture, switching the last one off stops it, unless start_now is false (the caller opens and
// closes the camera itself, off its GUI thread); a failure to start leaves the switch on, as no
// frames are made.
int video_set_my_video(int peer_id, bool on, bool start_now = true);

// My last captured frame at capture size, handed over whole (null before the first).
std::shared_ptr<const peer_picture> my_video_picture();

// "%8d:%8d" of two versions into out (at least 18 bytes); returns 17.
int format_versions(char* out, int key_version, int partial_version);
// Reads "%8d:%8d"; 0, or -1 when the body does not hold two numbers.
int parse_versions(const char* body, int len, int* key_version, int* partial_version);
