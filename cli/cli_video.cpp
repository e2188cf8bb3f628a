#include "cli/cli_video.h"

#include <cstdlib>
#include <deque>
#include <mutex>

#include "cli/args.h"
#include "cli/cli_app.h"
#include "cli/json_out.h"
#include "media/video/my_video.h"
#include "media/video/video_exchange.h"
#include "peer/peer_socket.h"
#include "platform/thread.h"
#include "protocol/chat_session.h"
#include "protocol/commands.h"

namespace {

struct video_event {
    int peer_id;
    std::shared_ptr<const peer_picture> picture;
};
std::mutex g_events_mutex;
std::deque<video_event> g_events;

// A session closed with my video on, or a switch changed elsewhere: the camera follows the
// switches on a job (it may wait on the device).
void on_my_switches(int which) {
    if (which & kMySwitchVideo) start_job([] { video_follow_my_switches(); });
}

// "CMD ID on|off": the id and the switch.
int id_and_switch(const std::vector<std::string>& args, const char* usage, int* id, bool* on) {
    if (args.size() != 2 || !to_int(args[0], id) || *id <= 0 ||
        (args[1] != "on" && args[1] != "off"))
        return fail(std::string("usage: ") + usage);
    *on = args[1] == "on";
    return 0;
}

// Opens the chat session (as a chat window does) and a direct connection to the peer.
void open_session(cli_app& app, int id) {
    app.controller.open_chat(id);
    OnContactTextChat(id);
}

int cmd_video(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    bool on;
    if (id_and_switch(args, "video ID on|off", &id, &on) != 0) return -1;
    if (on) open_session(app, id);
    int r = video_set_my_video(id, on);
    if (r == -2) return fail("Maximun videos reached.");
    if (r != 0) return fail("no chat session with " + args[0]);
    json_line()
        .add("ok", "video")
        .add("id", id)
        .add_bool("on", on)
        .add_bool("capturing", video_capture_running())
        .print();
    return 0;
}

int cmd_watch(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    bool on;
    if (id_and_switch(args, "watch ID on|off", &id, &on) != 0) return -1;
    if (on) open_session(app, id);
    if (video_set_peer_video(id, on) != 0) return fail("no chat session with " + args[0]);
    json_line().add("ok", "watch").add("id", id).add_bool("on", on).print();
    return 0;
}

int cmd_video_size(cli_app&, const std::vector<std::string>& args, const std::string&) {
    int index;
    if (args.size() != 1 || !to_int(args[0], &index) || index < 0 || index > 2)
        return fail("usage: video-size 0|1|2");
    if (video_set_size_index(index) != 0) return fail("no video device found.");
    int w, h;
    video_size_of_index(index, &w, &h);
    json_line().add("ok", "video-size").add("width", w).add("height", h).print();
    return 0;
}

int cmd_video_quality(cli_app&, const std::vector<std::string>& args, const std::string&) {
    int q;
    if (args.size() != 1 || !to_int(args[0], &q) || q < 50 || q > 100 || q % 10 != 0)
        return fail("usage: video-quality 50|60|70|80|90|100");
    video_set_quality(q);
    json_line().add("ok", "video-quality").add("quality", q).print();
    return 0;
}

int cmd_video_rate(cli_app&, const std::vector<std::string>& args, const std::string&) {
    static const int kRates[] = {1, 2, 3, 4, 5, 7, 10, 12, 15, 20, 25, 30, 35, 40, 50};
    int id, rate;
    if (args.size() != 2 || !to_int(args[0], &id) || !to_int(args[1], &rate))
        return fail("usage: video-rate ID N");
    bool known = false;
    for (int r : kRates) known = known || r == rate;
    if (!known) return fail("rate must be one of 1 2 3 4 5 7 10 12 15 20 25 30 35 40 50");
    if (video_set_rate(id, rate) != 0) return fail("no chat session with " + args[0]);
    json_line().add("ok", "video-rate").add("id", id).add("rate", rate).print();
    return 0;
}

int cmd_snapshot(cli_app&, const std::vector<std::string>& args, const std::string&) {
    if (args.size() != 2) return fail("usage: snapshot ID|me FILE.png");
    std::shared_ptr<const peer_picture> pic;
    int id = 0;
    if (args[0] == "me") {
        pic = my_video_picture();
    } else {
        chat_media_state s;
        if (!to_int(args[0], &id) || !chat_session_get(id, &s))
            return fail("no chat session with " + args[0]);
        pic = s.picture;
    }
    if (!pic || pic->width <= 0) return fail("no picture yet");
    std::string path = absolute_path(args[1]);
    if (write_png(path, pic->rgb.data(), pic->width, pic->height) != 0)
        return fail("could not write " + path);
    json_line j;
    j.add("ok", "snapshot").add("file", path).add("width", pic->width).add("height", pic->height);
    if (id)
        j.add("key_version", pic->key_version)
            .add("partial_version", pic->partial_version)
            .add("type", pic->frame_type == 1 ? "key" : "difference");
    j.print();
    return 0;
}

const std::vector<cli_command> kVideoCommands = {
    {"video", "video ID on|off", "let the contact receive my video (at most two at a time)",
     cmd_video},
    {"watch", "watch ID on|off",
     "ask for and show the contact's video; each decoded picture prints as video_frame", cmd_watch},
    {"video-size", "video-size 0|1|2", "capture size: 160x120, 320x240 or 640x480", cmd_video_size},
    {"video-quality", "video-quality N", "picture quality 50-100 in steps of 10 (default 70)",
     cmd_video_quality},
    {"video-rate", "video-rate ID N", "frame notices a second to the contact (default 10)",
     cmd_video_rate},
    {"snapshot", "snapshot ID|me FILE.png",
     "write the contact's last picture (or my own frame) as PNG", cmd_snapshot},
};

}  // namespace

const std::vector<cli_command>& video_command_table() {
    return kVideoCommands;
}

void cli_video_start(const cli_options& options) {
    if (options.video_input.empty())
        video_load_input_setting();
    else
        video_set_input(options.video_input);
    if (!options.video_dump_dir.empty())
        video_set_record_dump_dir(absolute_path(options.video_dump_dir));
    video_exchange_start();
    add_my_switch_observer(on_my_switches);
}

void cli_video_stop() {
    remove_my_switch_observer(on_my_switches);
    video_exchange_stop();
    video_stop_capture();
}

void cli_video_frame_decoded(cli_app& app, int peer_id) {
    chat_media_state s;
    if (!chat_session_get(peer_id, &s) || !s.picture) return;
    {
        std::lock_guard<std::mutex> lk(g_events_mutex);
        g_events.push_back({peer_id, s.picture});
    }
    app.dispatcher.post(NM_CLI_VIDEO_FRAME, 0, 0);
}

void cli_video_print_pending() {
    std::deque<video_event> events;
    {
        std::lock_guard<std::mutex> lk(g_events_mutex);
        events.swap(g_events);
    }
    for (const auto& e : events) {
        const peer_picture& p = *e.picture;
        json_line()
            .add("n", NM_PEER_VIDEO)
            .add("event", "video_frame")
            .add("peer", e.peer_id)
            .add("key_version", p.key_version)
            .add("partial_version", p.partial_version)
            .add("type", p.frame_type == 1 ? "key" : "difference")
            .add("width", p.width)
            .add("height", p.height)
            .add("bytes", p.record_bytes)
            .print();
    }
}
