// The watching side: one receiver per peer reassembles the pieces of a frame record and decodes
// it at the end message. The receiver's lock serialises the pieces and the decoding (no I/O is
// done under it); the finished picture is published whole in the chat session.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "media/codec/frame_codec.h"
#include "media/video/my_video.h"
#include "media/video/picture_pool.h"
#include "media/video/video_exchange.h"
#include "platform/debug_log.h"
#include "protocol/chat_session.h"
#include "protocol/commands.h"
#include "protocol/tables.h"

namespace {

struct peer_receiver {
    std::mutex mutex;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(codec::kPeerVideoBufferBytes);
    int pos = 0;
    bool broken = false;  // the buffer restarted inside this frame: it is dropped at its end
    int begin_key = 0;    // versions named by the begin message of the frame in progress
    int begin_partial = 0;
    std::unique_ptr<frame_decoder> decoder = std::make_unique<frame_decoder>();
    // The published picture and the next one (a window may still hold an older one).
    std::shared_ptr<picture_pool> pictures = picture_pool::make();
};

std::mutex g_receivers_mutex;
std::map<int, std::shared_ptr<peer_receiver>> g_receivers;

// The receiver of a peer that has a chat session (made on first use); null without a session.
std::shared_ptr<peer_receiver> receiver_of(int peer_id) {
    chat_media_state s;
    std::lock_guard<std::mutex> lk(g_receivers_mutex);
    if (!chat_session_get(peer_id, &s)) {
        g_receivers.erase(peer_id);
        return nullptr;
    }
    auto& r = g_receivers[peer_id];
    if (!r) r = std::make_shared<peer_receiver>();
    return r;
}

int chat_index(int peer_id, const char* who, bool need_window) {
    tables_guard g(tables_mutex());
    int index = get_chat_dlg_index(peer_id);
    if (index < 0) {
        log_line("could not find peer_dlg in %s\r\n", who);
        return -1;
    }
    if (need_window && !g_chat_dlgs[index].dlg_chat) {
        log_line("g_chat_dlgs[%d].dlg_chat is NULL in %s\r\n", index, who);
        return -1;
    }
    return index;
}

}  // namespace

void prune_video_receivers() {
    std::lock_guard<std::mutex> lk(g_receivers_mutex);
    for (auto it = g_receivers.begin(); it != g_receivers.end();) {
        chat_media_state s;
        if (chat_session_get(it->first, &s))
            ++it;
        else
            it = g_receivers.erase(it);
    }
}

int do_video_reply_begin_from_peer(const char* body, int len, int peer_id) {
    if (chat_index(peer_id, "do_video_reply_begin_from_peer", true) < 0) return -1;
    auto r = receiver_of(peer_id);
    if (!r) return -1;
    std::lock_guard<std::mutex> lk(r->mutex);
    r->pos = 0;
    r->broken = false;
    if (parse_versions(body, len, &r->begin_key, &r->begin_partial) != 0) r->broken = true;
    return 0;
}

int do_video_reply_cont_from_peer(const char* body, int len, int peer_id) {
    int index = chat_index(peer_id, "do_video_reply_cont_from_peer", false);
    if (index < 0 || len < 0) return -1;
    auto r = receiver_of(peer_id);
    if (!r) return -1;
    std::lock_guard<std::mutex> lk(r->mutex);
    if (r->pos + len > codec::kPeerVideoBufferBytes) {
        log_line("g_chat_dlgs[%d].dlg_chat->m_peer_video_buf_pos + len:%d too big.\n", index,
                 r->pos + len);
        log_line("m_peer_video_buf_pos:%d, len:%d\n", r->pos, len);
        r->pos = 0;
        r->broken = true;
        if (len > codec::kPeerVideoBufferBytes) return -1;
    }
    std::memcpy(r->buffer.data() + r->pos, body, static_cast<size_t>(len));
    r->pos += len;
    return 0;
}

int do_video_reply_end_from_peer(const char* body, int len, int peer_id) {
    if (chat_index(peer_id, "do_video_reply_end_from_peer", true) < 0) return -1;
    auto r = receiver_of(peer_id);
    if (!r) return -1;
    int end_key = 0, end_partial = 0;
    parse_versions(body, len, &end_key, &end_partial);
    std::lock_guard<std::mutex> lk(r->mutex);
    const int received = r->pos;
    r->pos = 0;
    if (r->broken) {
        log_line("video frame from peer %d dropped: the receive buffer restarted inside it\r\n",
                 peer_id);
        r->broken = false;
        return -1;
    }
    frame_record_view view;
    if (parse_frame_record(r->buffer.data(), received, &view) != 0) {
        log_line(
            "video frame from peer %d dropped: header does not match the %d bytes received\r\n",
            peer_id, received);
        return -1;
    }
    frame_decoder& dec = *r->decoder;
    int type = decode_video_frame(&dec, r->buffer.data(), received);
    if (type < 0) {
        log_line("video frame from peer %d dropped: it does not decode (type %d, %dx%d)\r\n",
                 peer_id, view.type, view.width, view.height);
        return -1;
    }
    // The versions recorded are those of the frame received (its begin message), not the newer
    // ones the end message may carry: a difference frame must never be applied to another key.
    std::shared_ptr<peer_picture> pic = r->pictures->take();
    pic->width = dec.width;
    pic->height = dec.height;
    pic->rgb.assign(dec.rgb, dec.rgb + static_cast<size_t>(dec.width) * dec.height * 3);
    pic->key_version = r->begin_key;
    pic->partial_version = r->begin_partial;
    pic->frame_type = type;
    pic->record_bytes = received;
    const int key = r->begin_key, partial = r->begin_partial;
    chat_session_update(peer_id, [&](chat_media_state& m) {
        m.peer_key_version = key;
        m.peer_partial_version = partial;
    });
    chat_session_publish_picture(peer_id, std::move(pic));
    // Posted while the receiver is held, so a front end reading the session in its post() sees
    // this very picture.
    tables_guard g(tables_mutex());
    if (chat_window* w = get_chat_dlg_from_peer_id(peer_id)) w->post(NM_PEER_VIDEO, type, received);
    return 0;
}
