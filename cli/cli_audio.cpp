#include "cli/cli_audio.h"

#include <atomic>
#include <cstdlib>
#include <memory>

#include "cli/cli_app.h"
#include "cli/json_out.h"
#include "media/audio/audio_constants.h"
#include "media/audio/audio_service.h"
#include "media/audio/device_watch.h"
#include "media/audio/sound_queue.h"
#include "media/audio/sound_threads.h"
#include "media/audio/voice_path.h"
#include "media/audio/volume.h"
#include "media/video/video_source.h"
#include "peer/peer_socket.h"
#include "platform/paths.h"
#include "protocol/chat_session.h"

namespace {
// Main thread only.
bool g_levels = false;
// With "audio-stats watch on", the counters are printed again whenever they moved: the observer
// (on the counting threads) posts once to the main thread until that print ran.
std::atomic<queued_dispatcher*> g_stats_watch{nullptr};
std::atomic<bool> g_stats_posted{false};

void stats_moved() {
    queued_dispatcher* d = g_stats_watch.load();
    if (d && !g_stats_posted.exchange(true)) d->post(NM_CLI_AUDIO_STATS, 0, 0);
}
bool g_started = false;
std::unique_ptr<IVolume> g_mic_volume;

audio_config config_from(const cli_audio_options& o) {
    audio_config cfg;
    load_audio_settings(&cfg);
    if (!o.backend.empty()) cfg.backend = o.backend;
    if (!o.input_device.empty()) cfg.input_device = o.input_device;
    if (!o.output_device.empty()) cfg.output_device = o.output_device;
    if (!o.input_file.empty()) cfg.input_file = absolute_path(o.input_file);
    if (!o.output_dir.empty()) cfg.output_dir = absolute_path(o.output_dir);
    cfg.input_loop = !o.input_once;
    // Files given without a backend mean the wav one.
    if (o.backend.empty() && (!o.input_file.empty() || !o.output_dir.empty())) cfg.backend = "wav";
    if (!o.room.empty()) parse_room(o.room, &cfg.room_delay_ms, &cfg.room_gain);
    voice_processing& p = cfg.processing;
    if (o.echo_cancel >= 0) p.echo_cancel = o.echo_cancel == 1;
    if (o.noise_suppression >= 0) p.noise_suppression = o.noise_suppression == 1;
    if (o.auto_gain >= 0) p.auto_gain = o.auto_gain == 1;
    if (o.send_silence_for_noise >= 0) p.send_silence_for_noise = o.send_silence_for_noise == 1;
    return cfg;
}

bool parse_switch(const std::vector<std::string>& args, const char* usage, int* id, int* on) {
    char* end = nullptr;
    if (args.size() == 2) {
        *id = static_cast<int>(std::strtol(args[0].c_str(), &end, 10));
        if (*end == '\0' && *id > 0 && (args[1] == "on" || args[1] == "off")) {
            *on = args[1] == "on";
            return true;
        }
    }
    fail(std::string("usage: ") + usage);
    return false;
}

// Opens the chat session with the peer (as a chat window does) when none is open.
bool ensure_session(cli_app& app, int id) {
    chat_media_state s;
    if (chat_session_get(id, &s)) return true;
    app.controller.open_chat(id);
    return chat_session_get(id, &s);
}

int cmd_talk(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id, on;
    if (!parse_switch(args, "talk ID on|off", &id, &on)) return -1;
    if (!ensure_session(app, id)) return fail("no chat session for " + std::to_string(id));
    if (on) OnContactTextChat(id);
    chat_session_update(id, [on](chat_media_state& s) { s.my_audio = on; });
    json_line().add("ok", "talk").add("peer", id).add_bool("my_audio", on).print();
    return 0;
}

int cmd_listen(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id, on;
    if (!parse_switch(args, "listen ID on|off", &id, &on)) return -1;
    if (!ensure_session(app, id)) return fail("no chat session for " + std::to_string(id));
    chat_session_update(id, [on](chat_media_state& s) { s.peer_audio = on; });
    json_line().add("ok", "listen").add("peer", id).add_bool("peer_audio", on).print();
    return 0;
}

int cmd_mic_volume(cli_app&, const std::vector<std::string>& args, const std::string&) {
    if (!g_mic_volume) g_mic_volume = create_microphone_volume();
    json_line j;
    if (!g_mic_volume->is_available()) return fail("no microphone volume control");
    if (!args.empty()) {
        char* end = nullptr;
        long v = std::strtol(args[0].c_str(), &end, 10);
        if (*end != '\0') return fail("usage: mic-volume [N]");
        g_mic_volume->enable_line();
        g_mic_volume->set_volume(v);
    }
    j.add("mic_volume", g_mic_volume->get_volume())
        .add("min", g_mic_volume->get_minimum())
        .add("max", g_mic_volume->get_maximum())
        .print();
    return 0;
}

int cmd_speaker_volume(cli_app&, const std::vector<std::string>& args, const std::string&) {
    if (!args.empty()) {
        char* end = nullptr;
        long v = std::strtol(args[0].c_str(), &end, 10);
        if (*end != '\0' || v < 0 || v > 65535) return fail("usage: speaker-volume [0-65535]");
        int n = set_speaker_volume(static_cast<uint32_t>(v));
        json_line().add("speaker_volume", v).add("players", n).print();
        return 0;
    }
    json_line().add("speaker_volume", static_cast<long long>(speaker_volume_start())).print();
    return 0;
}

int cmd_levels(cli_app&, const std::vector<std::string>& args, const std::string&) {
    if (args.size() != 1 || (args[0] != "on" && args[0] != "off"))
        return fail("usage: levels on|off");
    g_levels = args[0] == "on";
    json_line().add("ok", "levels").add_bool("levels", g_levels).print();
    return 0;
}

// The counters of the voice path and the players; kind tells an answer ("voice") from a
// report of moved counters ("watch").
void print_audio_stats(const char* kind) {
    const voice_counters& c = g_voice_counters;
    CRecordSound* rec = capture_thread();
    json_line j;
    j.add("audio_stats", kind)
        .add("sent_data", c.sent_data.load())
        .add("sent_silence", c.sent_silence.load())
        .add("relayed", c.relayed.load())
        .add("relay_refused", c.relay_refused.load())
        .add("relay_failed", c.relay_failed.load())
        .add("received_data", c.received_data.load())
        .add("received_silence", c.received_silence.load())
        .add("queued", c.queued.load())
        .add("dropped", c.dropped.load())
        .add("captured", rec ? rec->buffers_done() : 0)
        .add_bool("recording", rec && rec->recording());
    int open = 0, written = 0, finished = 0;
    for (auto& slot : g_play_sound_threads)
        if (CPlaySound* p = slot.load()) {
            open += p->device_open();
            written += p->m_written.load();
            finished += p->m_finished.load();
        }
    j.add("players_open", open).add("played", written).add("finished", finished).print();
}

int cmd_audio_stats(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    if (!args.empty()) {
        if (args.size() != 2 || args[0] != "watch" || (args[1] != "on" && args[1] != "off"))
            return fail("usage: audio-stats [watch on|off]");
        bool on = args[1] == "on";
        g_stats_watch = on ? &app.dispatcher : nullptr;
        set_voice_counters_observer(on ? stats_moved : nullptr);
        json_line().add("ok", "audio-stats").add_bool("watch", on).print();
        if (on) print_audio_stats("watch");
        return 0;
    }
    print_audio_stats("voice");
    return 0;
}

const std::vector<cli_command> kAudioCommands = {
    {"talk", "talk ID on|off", "send my voice to the contact (opens the chat session)", cmd_talk},
    {"listen", "listen ID on|off", "play the contact's voice (on when a session opens)",
     cmd_listen},
    {"mic-volume", "mic-volume [N]", "show or set the microphone's recording volume",
     cmd_mic_volume},
    {"speaker-volume", "speaker-volume [0-65535]", "show or set the volume of every player",
     cmd_speaker_volume},
    {"levels", "levels on|off", "print the sound level samples (ten per 120 ms buffer)",
     cmd_levels},
    {"audio-stats", "audio-stats [watch on|off]",
     "counts of the voice path and the players (watch: print them again whenever they move)",
     cmd_audio_stats},
};
}  // namespace

const std::vector<cli_command>& audio_commands() {
    return kAudioCommands;
}

int cli_audio_start(const cli_audio_options& options) {
    if (options.no_audio) return 0;
    g_started = true;
    int rc = start_audio(config_from(options));
    start_device_watch();  // a sound card plugged in again is taken up without a restart
    return rc;
}

void cli_audio_stop() {
    set_voice_counters_observer(nullptr);
    g_stats_watch = nullptr;
    g_mic_volume.reset();
    stop_device_watch();
    if (g_started) stop_audio();
    g_started = false;
}

int cli_list_devices(const cli_audio_options& options) {
    audio_config cfg = config_from(options);
    json_line j;
    std::string items;
    for (const std::string& line : list_audio_devices(cfg))
        items += (items.empty() ? "" : ",") + json_escape(line);
    j.add("backend", cfg.backend).add_raw("devices", "[" + items + "]").print();
    return 0;
}

int cli_list_cameras() {
    std::string items;
    for (const camera_info& c : list_cameras())
        items += (items.empty() ? "" : ",") +
                 json_line().add("device", c.path).add("card", c.card).str();
    json_line().add_raw("cameras", "[" + items + "]").print();
    return 0;
}

void cli_audio_stats_moved() {
    g_stats_posted = false;
    if (g_stats_watch.load()) print_audio_stats("watch");
}

void cli_print_levels(int n, intptr_t peer_id, intptr_t samples) {
    if (!g_levels || !samples) return;
    for (char sample : *reinterpret_cast<const std::string*>(samples))
        json_line()
            .add("n", n)
            .add("event", notification_name(n))
            .add("peer", static_cast<long long>(peer_id))
            .add("level", static_cast<long long>(static_cast<uint8_t>(sample)))
            .print();
}

void cli_print_player(int n, intptr_t player, intptr_t peer_id) {
    json_line()
        .add("n", n)
        .add("event", notification_name(n))
        .add("player", static_cast<long long>(player))
        .add("peer", static_cast<long long>(peer_id))
        .print();
}
