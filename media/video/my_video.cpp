#include "media/video/my_video.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "media/codec/colour_convert.h"
#include "media/video/picture_pool.h"
#include "media/video/video_exchange.h"
#include "media/video/video_source.h"
#include "peer/peer_commands.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"
#include "protocol/texts.h"

namespace {

std::atomic<int> g_size_index{codec::kSizeIndexSmall};
std::atomic<int> g_quality{codec::kDefaultVideoQuality};

// The capture side: g_my_rgbs and the conversion run with this lock, so two callers of
// handle_video_data never mix their frames (the camera has one thread; tests add their own).
std::mutex g_capture_mutex;
uint8_t g_my_rgbs[kMyRgbsBytes];

// The published preview, swapped whole.
std::mutex g_preview_mutex;
std::shared_ptr<const peer_picture> g_preview;
uint32_t g_preview_serial = 0;

// Capture control: the source and whether it runs. Held while a source starts or stops (which
// joins its thread); the source's thread never takes it.
std::mutex g_control_mutex;
std::unique_ptr<video_source> g_source;
std::string g_input = "v4l2";
std::atomic<bool> g_running{false};

void post_to_chat(int peer_id, int n, intptr_t w, intptr_t l) {
    tables_guard g(tables_mutex());
    if (chat_window* win = get_chat_dlg_from_peer_id(peer_id)) win->post(n, w, l);
}

// The preview shown and the next one; never destroyed, as the camera thread may outlive statics.
picture_pool& preview_pool() {
    static auto* pool = new std::shared_ptr<picture_pool>(picture_pool::make());
    return **pool;
}

void publish_preview(int width, int height) {
    std::shared_ptr<peer_picture> pic = preview_pool().take();
    pic->width = width;
    pic->height = height;
    pic->rgb.assign(g_my_rgbs, g_my_rgbs + static_cast<size_t>(width) * height * 3);
    std::lock_guard<std::mutex> lk(g_preview_mutex);
    pic->serial = ++g_preview_serial;
    g_preview = std::move(pic);
}

// Step after each stored frame: the preview notice to every session showing my video, and the
// change notice to each peer whose rate allows one now.
void announce_frame(int version, int partial) {
    char body[32];
    int len = format_versions(body, version, partial);
    int peers[kMaxChatDlgs];
    const int count = chat_session_peers_with(kMySwitchVideo, peers, kMaxChatDlgs);
    for (int i = 0; i < count; i++) {
        const int peer_id = peers[i];
        post_to_chat(peer_id, NM_OWN_VIDEO, 0, 0);
        bool due = false;
        uint32_t now = get_tick_count();
        chat_session_update(peer_id, [&](chat_media_state& m) {
            if (!m.my_video) return;
            const int rate = m.video_rate > 0 ? m.video_rate : 1;
            const uint32_t period = static_cast<uint32_t>(1000 / rate);
            // The camera's frames come on their own clock, so a frame a little early for the
            // peer's rate goes: waiting for the next would show fewer frames than asked.
            const uint32_t slack = std::min<uint32_t>(500 / kCaptureFramesPerSecond, period / 2);
            const uint32_t since = now - m.last_change_notice;  // since the notice was due
            if (since + slack < period) return;
            // The schedule goes on from when this notice was due, unless frames stopped coming
            // for a while.
            m.last_change_notice = since >= 2 * period ? now : m.last_change_notice + period;
            due = true;
        });
        if (due) video_send_direct_or_relay(peer_id, PEER_VIDEO_CHANGE, body, len);
    }
}

}  // namespace

my_video_store& my_video() {
    static my_video_store store;
    return store;
}

int format_versions(char* out, int key_version, int partial_version) {
    return std::snprintf(out, 18, "%8d:%8d", key_version, partial_version);
}

int parse_versions(const char* body, int len, int* key_version, int* partial_version) {
    if (!body || len <= 0) return -1;
    char text[40];
    int n = len < 39 ? len : 39;
    std::memcpy(text, body, static_cast<size_t>(n));
    text[n] = '\0';
    return std::sscanf(text, "%8d:%8d", key_version, partial_version) == 2 ? 0 : -1;
}

int handle_video_data(const uint8_t* frame, int bytes) {
    if (!frame || bytes < 0) return -1;
    if (bytes > kMyRgbsBytes) {
        log_line("size:%d > sizeof(g_my_rgbs):%d in handle_video_data.\r\n", bytes, kMyRgbsBytes);
        bytes = kMyRgbsBytes;
    }
    my_video_store& store = my_video();
    const int size_index = g_size_index.load();
    int width, height;
    video_size_of_index(size_index, &width, &height);
    int version, partial;
    {
        std::lock_guard<std::mutex> capture(g_capture_mutex);
        std::memcpy(g_my_rgbs, frame, static_cast<size_t>(bytes));
        // The planes belong to the capture side; the request handler reads only stored frames.
        convert_rgb_to_yuv(g_my_rgbs, width * height, store.encoder->planes[0],
                           store.encoder->planes[1], store.encoder->planes[2]);
        publish_preview(width, height);
        if (!store.mutex.try_lock_for(std::chrono::milliseconds(kVideoMutexWaitMs))) {
            log_line("wait failed in handle_video_data.\n");
            return -1;
        }
        int type = encode_video_planes(store.encoder.get(), size_index, g_quality.load());
        if (type == codec::kFrameTypeKey) {
            store.version++;
            store.partial_version = 0;
        } else if (type == codec::kFrameTypeDifference) {
            store.partial_version++;
        }
        version = store.version;
        partial = store.partial_version;
        store.mutex.unlock();
        if (type < 0) {
            log_line(
                "a stream of the frame did not fit its buffer in handle_video_data; frame "
                "dropped\r\n");
            return -1;
        }
    }
    announce_frame(version, partial);
    return 0;
}

int video_size_index() {
    return g_size_index.load();
}
int video_quality() {
    return g_quality.load();
}

void video_set_quality(int quality) {
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;
    g_quality = quality;
}

int video_set_size_index(int size_index) {
    if (size_index < 0 || size_index > 2) return -1;
    std::lock_guard<std::mutex> lk(g_control_mutex);
    if (g_size_index.exchange(size_index) == size_index || !g_running.load()) return 0;
    // Restart the running capture with the new size.
    g_source->stop();
    int width, height;
    video_size_of_index(size_index, &width, &height);
    if (g_source->start(width, height, [](const uint8_t* f, int n) { handle_video_data(f, n); }) !=
        0) {
        log_line("no video device found.\r\n");
        g_source.reset();
        g_running = false;
        return -1;
    }
    return 0;
}

void video_set_input(const std::string& input) {
    std::lock_guard<std::mutex> lk(g_control_mutex);
    g_input = input.empty() ? "v4l2" : input;
}

std::string video_input() {
    std::lock_guard<std::mutex> lk(g_control_mutex);
    return g_input;
}

void video_load_input_setting() {
    char text[512] = "";
    if (reg_read("media", "video_input", text, sizeof(text)) == 0 && text[0] != '\0')
        video_set_input(text);
}

namespace {
// With g_control_mutex held.
int start_capture_locked() {
    if (g_running.load()) return 0;
    std::string error;
    g_source = make_video_source(g_input, &error);
    int width, height;
    video_size_of_index(g_size_index.load(), &width, &height);
    if (!g_source || g_source->start(width, height, [](const uint8_t* f, int n) {
            handle_video_data(f, n);
        }) != 0) {
        if (!error.empty()) log_line("%s\r\n", error.c_str());
        log_line("no video device found.\r\n");
        g_source.reset();
        return -1;
    }
    g_running = true;
    return 0;
}

void stop_capture_locked() {
    if (g_source) g_source->stop();
    g_source.reset();
    g_running = false;
}

bool my_video_wanted() {
    int peer;
    return chat_session_peers_with(kMySwitchVideo, &peer, 1) > 0;
}
}  // namespace

int video_start_capture() {
    std::lock_guard<std::mutex> lk(g_control_mutex);
    return start_capture_locked();
}

bool video_capture_running() {
    return g_running.load();
}

void video_stop_capture() {
    std::lock_guard<std::mutex> lk(g_control_mutex);
    stop_capture_locked();
}

int video_follow_my_switches() {
    // The switches are read under the control lock, so of two calls the later decides.
    std::lock_guard<std::mutex> lk(g_control_mutex);
    if (my_video_wanted()) return start_capture_locked();
    if (g_running.load()) log_line("no session shows my video: camera stopped\n");
    stop_capture_locked();
    return 0;
}

int video_set_my_video(int peer_id, bool on, bool start_now) {
    if (!on) {
        if (!chat_session_update(peer_id, [](chat_media_state& m) { m.my_video = 0; })) return -1;
        if (start_now) video_follow_my_switches();
        return 0;
    }
    chat_media_state mine;
    if (!chat_session_get(peer_id, &mine)) return -1;
    if (mine.my_video) return 0;
    int others = 0;
    for (const chat_media_state& s : chat_session_all())
        if (s.peer_id != peer_id && s.my_video) others++;
    if (others >= kMaxMyVideoSessions) {
        show_user_text(make_text(TXT_MAX_VIDEOS));
        return -2;
    }
    if (!chat_session_update(peer_id, [](chat_media_state& m) { m.my_video = 1; })) return -1;
    if (start_now) video_start_capture();
    return 0;
}

std::shared_ptr<const peer_picture> my_video_picture() {
    std::lock_guard<std::mutex> lk(g_preview_mutex);
    return g_preview;
}
