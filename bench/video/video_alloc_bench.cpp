// Heap allocations of a running video call, in one process that is both ends: each camera frame
// (a moving pattern of our own) is encoded and announced; the announcement is answered with a
// request, the request with the frame record in pieces, and the pieces are reassembled, decoded
// and published as the peer's picture. Commands go through a loopback transport with storage of
// its own. Every operator new of the process is counted over a steady stretch, after a warm-up.
// Usage: video_alloc_bench [seconds, default 5] [size index 0-2, default 2 (640x480)]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/audio/counting_new.h"
#include "media/codec/frame_codec.h"
#include "media/codec/frame_record.h"
#include "media/video/my_video.h"
#include "media/video/video_exchange.h"
#include "platform/debug_log.h"
#include "protocol/commands.h"
#include "protocol/tables.h"

namespace {
constexpr int kPeer = 6160;
constexpr int kFramesPerSecond = 20;

struct counting_window : chat_window {
    std::atomic<int> pictures{0}, previews{0};
    void post(int n, intptr_t, intptr_t, note_payload) override {
        if (n == NM_PEER_VIDEO) pictures++;
        if (n == NM_OWN_VIDEO) previews++;
    }
    int peer_id() const override { return kPeer; }
};

// Commands sent, kept in storage made before the count starts.
struct loopback {
    struct command {
        int id = 0;
        int len = 0;
        char body[1024];
    };
    std::vector<command> queue = std::vector<command>(1024);
    size_t head = 0, tail = 0;
    int put(int command_id, const void* body, int len) {
        if (len < 0 || len >= static_cast<int>(sizeof(command::body)) ||
            head - tail >= queue.size())
            return -1;
        command& c = queue[head++ % queue.size()];
        c.id = command_id;
        c.len = len;
        std::memcpy(c.body, body, static_cast<size_t>(len));
        c.body[len] = '\0';
        return len;
    }
    // Hands every command to the handler of the other end, as the peer dispatch would.
    void deliver() {
        while (tail != head) {
            command& c = queue[tail++ % queue.size()];
            switch (c.id) {
                case PEER_VIDEO_CHANGE:
                    do_video_change_notify_from_peer(c.body, c.len, kPeer);
                    break;
                case PEER_VIDEO_REQUEST:
                    do_video_request_from_peer(c.body, c.len, kPeer);
                    break;
                case PEER_VIDEO_BEGIN:
                    do_video_reply_begin_from_peer(c.body, c.len, kPeer);
                    break;
                case PEER_VIDEO_CONT:
                    do_video_reply_cont_from_peer(c.body, c.len, kPeer);
                    break;
                case PEER_VIDEO_END:
                    do_video_reply_end_from_peer(c.body, c.len, kPeer);
                    break;
                default:
                    break;
            }
        }
    }
};
loopback g_loop;
int send_any(int, int command, const void* body, int len) {
    return g_loop.put(command, body, len);
}
const video_transport kLoopback{send_any, send_any};

// A frame of the moving pattern: diagonal bands and a bright square that walks across.
void draw(std::vector<uint8_t>* rgb, int width, int height, int t) {
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint8_t* p = rgb->data() + (static_cast<size_t>(y) * width + x) * 3;
            bool square = std::abs(x - (t * 7) % width) < 24 && std::abs(y - height / 2) < 24;
            p[0] = square ? 250 : static_cast<uint8_t>((x + y + t * 3) & 0xFF);
            p[1] = square ? 250 : static_cast<uint8_t>((x * 2 - y) & 0xFF);
            p[2] = static_cast<uint8_t>(y & 0xFF);
        }
}
}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
    const int size_index = argc > 2 ? std::atoi(argv[2]) : 2;
    char tmpl[] = "/tmp/parlo-video-alloc-XXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    open_debug_log_in(dir + "/");
    counting_window window;
    add_chat_dlg(&window);
    set_video_transport(&kLoopback);
    video_set_size_index(size_index);
    video_set_rate(kPeer, kFramesPerSecond);
    video_set_my_video(kPeer, true, false);
    video_set_peer_video(kPeer, true);
    int width = 0, height = 0;
    video_size_of_index(size_index, &width, &height);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);

    const auto period = std::chrono::microseconds(1000000 / kFramesPerSecond);
    auto next = std::chrono::steady_clock::now();
    int t = 0;
    auto run_for = [&](double s) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(s);
        int frames = 0;
        while (std::chrono::steady_clock::now() < end) {
            draw(&rgb, width, height, t++);
            handle_video_data(rgb.data(), static_cast<int>(rgb.size()));
            g_loop.deliver();
            frames++;
            next += period;
            std::this_thread::sleep_until(next);
        }
        return frames;
    };
    run_for(2);  // the first frames, the receiver and every buffer are made
    const int pictures0 = window.pictures.load();
    const auto t0 = std::chrono::steady_clock::now();
    alloc_count::start();
    const int frames = run_for(seconds);
    const alloc_count::totals got = alloc_count::stop();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const int pictures = window.pictures.load() - pictures0;

    std::printf(
        "video path (%dx%d): %llu allocations, %llu bytes in %.2f s: %.1f allocations/s, "
        "%.2f per frame; %d frames encoded, %d pictures decoded\n",
        width, height, static_cast<unsigned long long>(got.count),
        static_cast<unsigned long long>(got.bytes), s, static_cast<double>(got.count) / s,
        frames > 0 ? static_cast<double>(got.count) / frames : 0.0, frames, pictures);
    video_set_my_video(kPeer, false, false);
    set_video_transport(nullptr);
    remove_chat_dlg(&window);
    close_debug_log();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return pictures > 0 ? 0 : 1;
}
