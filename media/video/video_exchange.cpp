#include "media/video/video_exchange.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "media/codec/frame_codec.h"
#include "media/video/my_video.h"
#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "platform/debug_log.h"
#include "platform/tick.h"
#include "protocol/chat_session.h"
#include "protocol/tables.h"

namespace {

int peer_direct(int peer_id, int command, const void* body, int len) {
    return general_buf_command_to_peer(peer_id, command, body, len);
}
int peer_relay(int peer_id, int command, const void* body, int len) {
    return general_buf_command_to_peer_through_slave_server(peer_id, command, 0, body, len);
}
const video_transport kPeerTransport{peer_direct, peer_relay};
std::atomic<const video_transport*> g_transport{&kPeerTransport};

std::mutex g_dump_mutex;
std::string g_dump_dir;

// The peer-video timer: when each watched session last asked (tick of the switch-on or the last
// request), guarded by g_timer_mutex like the thread's stop flag.
std::mutex g_timer_mutex;
std::condition_variable g_timer_wake;
std::map<int, uint32_t> g_last_request;
bool g_timer_stop = false;
std::thread g_timer;

void on_230(int p, const char* b, int l, int n, int id) {
    (void)p, (void)n, do_video_change_notify_from_peer(b, l, id);
}
void on_231(int p, const char* b, int l, int n, int id) {
    (void)p, (void)n, do_video_request_from_peer(b, l, id);
}
void on_232(int p, const char* b, int l, int n, int id) {
    (void)p, (void)n, do_video_reply_begin_from_peer(b, l, id);
}
void on_233(int p, const char* b, int l, int n, int id) {
    (void)p, (void)n, do_video_reply_cont_from_peer(b, l, id);
}
void on_234(int p, const char* b, int l, int n, int id) {
    (void)p, (void)n, do_video_reply_end_from_peer(b, l, id);
}

// Sleeps until the next request is due, and without a time limit while nobody is watched.
void timer_main() {
    std::unique_lock<std::mutex> lk(g_timer_mutex);
    while (!g_timer_stop) {
        if (g_last_request.empty()) {
            g_timer_wake.wait(lk);
        } else {
            const uint32_t period = kPeerVideoTimerMs;
            uint32_t now = get_tick_count();
            uint32_t wait = period;
            for (const auto& [peer, last] : g_last_request) {
                uint32_t since = now - last;
                wait = std::min(wait, since >= period ? 0 : period - since);
            }
            if (wait > 0) g_timer_wake.wait_for(lk, std::chrono::milliseconds(wait));
        }
        if (g_timer_stop) break;
        lk.unlock();
        peer_video_timer_pass(get_tick_count());
        lk.lock();
    }
}

void dump_record(const uint8_t* record, int length, int key, int partial, int type) {
    std::string dir;
    {
        std::lock_guard<std::mutex> lk(g_dump_mutex);
        dir = g_dump_dir;
    }
    if (dir.empty()) return;
    char name[64];
    std::snprintf(name, sizeof(name), "/sent-%d-%d-%d.rec", key, partial, type);
    std::string path = dir + name, part = path + ".part";
    if (FILE* f = std::fopen(part.c_str(), "wb")) {
        std::fwrite(record, 1, static_cast<size_t>(length), f);
        std::fclose(f);
        std::rename(part.c_str(), path.c_str());
    }
}

// The chat entry of the peer: 0 with a window, -1 without an entry (logged as "could not find
// peer_dlg in who"), -2 with an entry but no window (logged with its index).
int check_chat_entry(int peer_id, const char* who, bool log_missing_entry = true) {
    tables_guard g(tables_mutex());
    int index = get_chat_dlg_index(peer_id);
    if (index < 0) {
        if (log_missing_entry) log_line("could not find peer_dlg in %s\r\n", who);
        return -1;
    }
    if (!g_chat_dlgs[index].dlg_chat) {
        log_line("g_chat_dlgs[%d].dlg_chat is NULL in %s\r\n", index, who);
        return -2;
    }
    return 0;
}

}  // namespace

void set_video_transport(const video_transport* transport) {
    g_transport = transport ? transport : &kPeerTransport;
}
int video_send_direct(int peer_id, int command, const void* body, int len) {
    return g_transport.load()->direct(peer_id, command, body, len);
}
int video_send_relay(int peer_id, int command, const void* body, int len) {
    return g_transport.load()->relay(peer_id, command, body, len);
}
int video_send_direct_or_relay(int peer_id, int command, const void* body, int len) {
    if (video_send_direct(peer_id, command, body, len) >= 0) return 0;
    return video_send_relay(peer_id, command, body, len) >= 0 ? 0 : -1;
}

void video_set_record_dump_dir(const std::string& dir) {
    std::lock_guard<std::mutex> lk(g_dump_mutex);
    g_dump_dir = dir;
}

void video_exchange_start() {
    register_peer_command_handler(PEER_VIDEO_CHANGE, on_230);
    register_peer_command_handler(PEER_VIDEO_REQUEST, on_231);
    register_peer_command_handler(PEER_VIDEO_BEGIN, on_232);
    register_peer_command_handler(PEER_VIDEO_CONT, on_233);
    register_peer_command_handler(PEER_VIDEO_END, on_234);
    std::lock_guard<std::mutex> lk(g_timer_mutex);
    if (g_timer.joinable()) return;
    g_timer_stop = false;
    g_timer = std::thread(timer_main);
}

void video_exchange_stop() {
    {
        std::lock_guard<std::mutex> lk(g_timer_mutex);
        g_timer_stop = true;
    }
    g_timer_wake.notify_all();
    if (g_timer.joinable()) g_timer.join();
    video_stop_capture();
}

int video_set_peer_video(int peer_id, bool on) {
    if (!chat_session_update(peer_id, [on](chat_media_state& m) { m.peer_video = on ? 1 : 0; }))
        return -1;
    {
        // Switched on, the first request goes at once (from the timer's thread), not after a
        // whole timer period.
        std::lock_guard<std::mutex> lk(g_timer_mutex);
        if (on)
            g_last_request[peer_id] = get_tick_count() - kPeerVideoTimerMs;
        else
            g_last_request.erase(peer_id);
    }
    g_timer_wake.notify_all();
    if (!on) prune_video_receivers();
    return 0;
}

int video_set_rate(int peer_id, int rate) {
    if (rate < 1 || rate > 50) return -1;
    return chat_session_update(peer_id, [rate](chat_media_state& m) { m.video_rate = rate; }) ? 0
                                                                                              : -1;
}

void peer_video_timer_pass(uint32_t now) {
    prune_video_receivers();
    std::vector<int> due;
    {
        std::lock_guard<std::mutex> lk(g_timer_mutex);
        for (auto it = g_last_request.begin(); it != g_last_request.end();) {
            chat_media_state s;
            if (!chat_session_get(it->first, &s) || !s.peer_video) {
                it = g_last_request.erase(it);
                continue;
            }
            if (now - it->second >= static_cast<uint32_t>(kPeerVideoTimerMs)) {
                it->second = now;
                due.push_back(it->first);
            }
            ++it;
        }
    }
    for (int peer_id : due) {
        chat_media_state s;
        if (!chat_session_get(peer_id, &s)) continue;
        char body[32];
        int len = format_versions(body, s.peer_key_version, s.peer_partial_version);
        video_send_direct_or_relay(peer_id, PEER_VIDEO_REQUEST, body, len);
    }
}

int do_video_change_notify_from_peer(const char* body, int len, int peer_id) {
    if (check_chat_entry(peer_id, "do_video_change_notify_from_peer", false) != 0) return -1;
    int key, partial;
    if (parse_versions(body, len, &key, &partial) != 0) return -1;
    chat_media_state s;
    if (!chat_session_get(peer_id, &s) || !s.peer_video) return 0;
    if (key == s.peer_key_version && partial == s.peer_partial_version) return 0;
    char request[32];
    int n = format_versions(request, s.peer_key_version, s.peer_partial_version);
    // Without a direct connection the request goes through the relay the notice came by:
    // otherwise only the timer would ask, once every two seconds.
    video_send_direct_or_relay(peer_id, PEER_VIDEO_REQUEST, request, n);
    return 0;
}

int do_video_request_from_peer(const char* body, int len, int peer_id) {
    if (check_chat_entry(peer_id, "do_video_request_from_peer") != 0) return -1;
    chat_media_state s;
    if (!chat_session_get(peer_id, &s) || !s.my_video) return 0;
    int k, p;
    if (parse_versions(body, len, &k, &p) != 0) return -1;

    static thread_local std::vector<uint8_t> record(codec::kFrameRecordMaxBytes);
    my_video_store& store = my_video();
    if (!store.mutex.try_lock_for(std::chrono::milliseconds(kVideoMutexWaitMs))) {
        log_line("wait failed in do_video_request_from_peer.\n");
        return -1;
    }
    const int K = store.version, P = store.partial_version;
    if (K == 0 && P == 0) {
        store.mutex.unlock();
        return 0;
    }
    if (k == K && p == P) {
        store.mutex.unlock();
        log_line(
            "minor_version_from_peer==g_my_video_partial_version in do_video_request_from_peer, "
            "but "
            "probably fine.\r\n");
        return -1;
    }
    const deflated_frame& frame =
        k == K ? *store.encoder->difference_frame : *store.encoder->key_frame;
    const int total = frame.record_length();
    if (total > codec::kFrameRecordMaxBytes) {
        const bool key = frame.type == codec::kFrameTypeKey;
        log_line(key ? "video size:%d too big in do_video_request_from_peer, g_my_y_len_c:%d, "
                       "g_my_u_len_c:%d, "
                       "g_my_v_len_c:%d, header:%d\n"
                     : "video size:%d too big2 in do_video_request_from_peer, g_my_y_p_len_c:%d, "
                       "g_my_u_p_len_c:%d, g_my_v_p_len_c:%d, header:%d\n",
                 total, frame.length[kStreamYCoefficients], frame.length[kStreamUCoefficients],
                 frame.length[kStreamVCoefficients], codec::kFrameHeaderBytes);
        store.mutex.unlock();
        return -1;
    }
    const int type = frame.type;
    const int length =
        build_frame_record_from(frame, record.data(), static_cast<int>(record.size()));
    store.mutex.unlock();
    if (length < 0) return -1;
    dump_record(record.data(), length, K, P, type);

    char versions[32];
    int n = format_versions(versions, K, P);
    if (video_send_relay(peer_id, PEER_VIDEO_BEGIN, versions, n) < 0) return -1;
    for (int at = 0; at < length; at += kVideoPieceBytes) {
        int piece = length - at < kVideoPieceBytes ? length - at : kVideoPieceBytes;
        if (video_send_relay(peer_id, PEER_VIDEO_CONT, record.data() + at, piece) < 0) return -1;
    }
    int endK, endP;
    if (!store.mutex.try_lock_for(std::chrono::milliseconds(kVideoMutexWaitMs))) {
        endK = K, endP = P;  // the versions of the frame sent are the best we know
    } else {
        endK = store.version, endP = store.partial_version;
        store.mutex.unlock();
    }
    n = format_versions(versions, endK, endP);
    return video_send_relay(peer_id, PEER_VIDEO_END, versions, n) < 0 ? -1 : 0;
}
