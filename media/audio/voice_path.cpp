#include "media/audio/voice_path.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "media/audio/audio_constants.h"
#include "platform/reuse_pool.h"
#include "media/audio/sound_queue.h"
#include "media/audio/sound_threads.h"
#include "media/codec/deflate_stream.h"
#include "media/codec/voice_codec.h"
#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "peer/slave_server.h"
#include "platform/debug_log.h"
#include "platform/tick.h"
#include "protocol/chat_session.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/tables.h"

using namespace audio;

voice_counters g_voice_counters;

namespace {
std::atomic<voice_counters_observer> g_counters_observer{nullptr};
}  // namespace

void set_voice_counters_observer(voice_counters_observer fn) { g_counters_observer.store(fn); }

void count_voice(std::atomic<int>& c) {
    c++;
    if (voice_counters_observer fn = g_counters_observer.load()) fn();
}

namespace {
std::mutex g_trace_mutex;  // guards g_trace (lines are short buffered writes)
FILE* g_trace = nullptr;

void trace(char kind, uint32_t tick, uint32_t crc) {
    std::lock_guard<std::mutex> lk(g_trace_mutex);
    if (!g_trace) return;
    std::fprintf(g_trace, "%c %u %08x\n", kind, tick, crc);
    std::fflush(g_trace);
}

uint32_t body_crc(const void* p, int n) {
    return static_cast<uint32_t>(crc32(0L, static_cast<const Bytef*>(p), static_cast<uInt>(n)));
}

// Through the slave-server relay; counts what the relay refuses or cannot carry.
void send_relayed(int peer_id, const char* msg, int len) {
    if (general_buf_to_peer_through_slave_server(peer_id, msg, len) >= 0) {
        count_voice(g_voice_counters.relayed);
        return;
    }
    if (len > kSlaveBufLimit)
        count_voice(g_voice_counters.relay_refused);
    else
        count_voice(g_voice_counters.relay_failed);
}

// The peers that receive my sound, read once per captured buffer.
struct listeners {
    static constexpr int kMax = 32;  // more than the chat-window table holds
    int ids[kMax];
    int count = 0;
    const int* begin() const { return ids; }
    const int* end() const { return ids + count; }
    bool empty() const { return count == 0; }
};

listeners listening_peers() {
    listeners peers;
    peers.count = chat_session_peers_with(kMySwitchAudio, peers.ids, listeners::kMax);
    return peers;
}

int send_to_peers(const listeners& peers, const uint8_t* planes, int length, int active);

void on_talk_silence(int, const char*, int, int, int peer_id) {
    do_talk_silence_from_peer(peer_id);
}
void on_talk_data(int, const char* body, int len, int, int peer_id) {
    do_talk_data_dct_z_from_sever(body, len, peer_id);
}

void on_play(uint32_t tick, const wave_buffer& b) {
    if (b.tag != 0) trace('P', tick, b.tag);
}

// The level samples of the notifications in flight (a few per meter while the front end keeps
// up), reused; never destroyed, as sound threads may post after the static destructors ran.
reuse_pool<std::string, 32>& level_pool() {
    static auto* pool =
        new std::shared_ptr<reuse_pool<std::string, 32>>(reuse_pool<std::string, 32>::make());
    return **pool;
}

// The trace tag of a queued buffer: the crc of the message body it came from (never 0).
uint32_t tag_of(const char* body, int len) {
    uint32_t c = body_crc(body, len);
    return c ? c : 1;
}
}  // namespace

bool any_listening_peer() {
    int peer;
    return chat_session_peers_with(kMySwitchAudio, &peer, 1) > 0;
}

void set_voice_trace_file(const char* path) {
    std::lock_guard<std::mutex> lk(g_trace_mutex);
    if (g_trace) std::fclose(g_trace);
    g_trace = path && *path ? std::fopen(path, "w") : nullptr;
    set_play_observer(g_trace ? on_play : nullptr);
}

void post_levels(int notification, int peer_id, const uint8_t* samples, int n) {
    // One notification per buffer (about eight a second a meter) with every kLevelStep-th sample,
    // straight to the peer's chat window; the headless client without one gets them on its main
    // queue.
    std::shared_ptr<std::string> levels = level_pool().take();
    levels->clear();
    for (int i = 0; i < n; i += kLevelStep) levels->push_back(static_cast<char>(samples[i]));
    auto at = reinterpret_cast<intptr_t>(levels.get());
    if (chat_window* w = get_chat_dlg_from_peer_id(peer_id))
        w->post(notification, peer_id, at, std::move(levels));
    else
        post_main(notification, peer_id, at, std::move(levels));
}

void post_mic_levels(const uint8_t* samples, int n) {
    for (int peer : listening_peers()) post_levels(kNotifyMicLevel, peer, samples, n);
}

int do_talk_send_data_dct_z_to_peers(const uint8_t* planes, int length, int active) {
    return send_to_peers(listening_peers(), planes, length, active);
}

namespace {
int send_to_peers(const listeners& peers, const uint8_t* planes, int length, int active) {
    if (peers.empty()) return 0;
    if (active == 0) {
        for (int p : peers) {
            if (general_command_to_peer(p, PEER_TALK_SILENCE, 0) < 0 &&
                general_str_command_to_peer_through_slave_server(p, PEER_TALK_SILENCE, 0, "") < 0) {
                count_voice(g_voice_counters.relay_failed);
                continue;
            }
            count_voice(g_voice_counters.sent_silence);
        }
        return 0;
    }
    char msg[kHeaderLen + kQualityFieldLen + kDeflateCapacity + 1];
    int deflated = 0;
    if (deflate_stream(planes, length,
                       reinterpret_cast<uint8_t*>(msg + kHeaderLen + kQualityFieldLen),
                       kDeflateCapacity, &deflated) != 0) {
        log_line("compress failed in do_talk_send_data_dct_z_to_peers, len:%d\r\n", length);
        return 0;
    }
    char head[64];  // 25 characters: the header and the quality field
    std::snprintf(head, sizeof(head), "%4d:%4d:%4d:%4d:%4d:", 0, 0, PEER_TALK_DATA,
                  deflated + kQualityFieldLen, 0);
    std::memcpy(msg, head, kHeaderLen + kQualityFieldLen);
    const int total = kHeaderLen + kQualityFieldLen + deflated;
    // Each send only queues the buffer on the listener's connection: a listener that stops
    // reading loses its oldest buffers and holds up nobody else.
    for (int p : peers) {
        peer_ticket t = find_peer_ticket(p);
        if (t.index < 0) {
            log_line(
                "failed to find peer sock in do_talk_send_data_dct_z_to_peers, peer_id:%d.\r\n", p);
            send_relayed(p, msg, total);
        } else if (queue_peer_message(t, msg, total, PEER_TALK_DATA) < 0) {
            send_relayed(p, msg, total);
        }
        count_voice(g_voice_counters.sent_data);
    }
    return 0;
}
}  // namespace

void voice_capture_consumer(const uint8_t* samples, const uint8_t* planes, int length, int active,
                            uint32_t capture_tick) {
    const listeners peers = listening_peers();
    for (int peer : peers) post_levels(kNotifyMicLevel, peer, samples, kBufferBytes);
    if (active && capture_tick && !peers.empty()) {
        std::lock_guard<std::mutex> lk(g_trace_mutex);
        if (g_trace) {
            // The body's crc is known only after deflating; deflate once more for the note (only
            // when tracing).
            uint8_t body[kQualityFieldLen + kDeflateCapacity];
            int deflated = 0;
            std::memcpy(body, "   0:", kQualityFieldLen);
            if (deflate_stream(planes, length, body + kQualityFieldLen, kDeflateCapacity,
                               &deflated) == 0)
                std::fprintf(g_trace, "S %u %08x\n", capture_tick,
                             tag_of(reinterpret_cast<char*>(body), deflated + kQualityFieldLen));
            std::fflush(g_trace);
        }
    }
    send_to_peers(peers, planes, length, active);
}

int do_talk_data_dct_z_from_sever(const char* body, int len, int peer_id) {
    count_voice(g_voice_counters.received_data);
    if (!body || len < kQualityFieldLen) {
        log_line("talk data too short in do_talk_data_dct_z_from_sever, len:%d\n", len);
        count_voice(g_voice_counters.dropped);
        return -1;
    }
    int quality = 0;
    char field[kQualityFieldLen + 1];
    std::memcpy(field, body, kQualityFieldLen);
    field[kQualityFieldLen] = '\0';
    if (std::sscanf(field, "%4d:", &quality) != 1) quality = 0;
    // A player goes only to a speaker the user listens to, so made-up senders cannot take them.
    chat_media_state s;
    if (!chat_session_get(peer_id, &s)) {
        count_voice(g_voice_counters.dropped);
        return -1;
    }
    if (!s.peer_audio) {
        count_voice(g_voice_counters.dropped);
        return 0;
    }
    int player = get_play_sound_slot(peer_id, get_contact_index(peer_id) >= 0);
    if (player < 0) {
        count_voice(g_voice_counters.dropped);
        return -1;
    }
    uint8_t samples[kInflateCapacity / 2];
    int n = voice_inflate_and_decode(reinterpret_cast<const uint8_t*>(body + kQualityFieldLen),
                                     len - kQualityFieldLen, quality, samples,
                                     static_cast<int>(sizeof(samples)));
    if (n < 0) {
        count_voice(g_voice_counters.dropped);
        return -1;
    }
    post_levels(kNotifyPeerLevel, peer_id, samples, n);
    if (!all_sound_players_exist()) {
        count_voice(g_voice_counters.dropped);
        return 0;
    }
    wave_buffer* b = take_wave_buffer();
    if (!b) {
        log_line("lpHdr is NULL in do_talk_data_dct_z_from_sever\n");
        return -1;
    }
    try {
        b->data.assign(samples, samples + n);
    } catch (const std::bad_alloc&) {
        recycle_wave_buffer(b);
        log_line("sound_data is NULL in do_talk_data_dct_z_from_sever\n");
        return -1;
    }
    b->peer_id = peer_id;
    b->tag = tag_of(body, len);
    sound_add_to_queue(player, b);
    count_voice(g_voice_counters.queued);
    return 0;
}

int do_talk_silence_from_peer(int peer_id) {
    count_voice(g_voice_counters.received_silence);
    chat_media_state s;
    if (!chat_session_get(peer_id, &s) || !s.peer_audio) return 0;
    int player = get_play_sound_slot(peer_id, get_contact_index(peer_id) >= 0);
    if (player >= 0) sound_player_silence(player);
    return 0;
}

void register_voice_commands() {
    register_peer_command_handler(PEER_TALK_SILENCE, on_talk_silence);
    register_peer_command_handler(PEER_TALK_DATA, on_talk_data);
}
