#include "protocol/chat_session.h"

#include <atomic>
#include <mutex>

#include "protocol/commands.h"

namespace {

struct session_slot {
    bool in_use = false;
    chat_media_state state;
};

std::mutex g_sessions_mutex;
session_slot g_sessions[kMaxChatDlgs];

std::atomic<my_switch_observer> g_observers[4];

int switches_of(const chat_media_state& s) {
    return (s.my_audio ? kMySwitchAudio : 0) | (s.my_video ? kMySwitchVideo : 0);
}

void tell_observers(int which) {
    if (which == 0) return;
    for (auto& o : g_observers)
        if (my_switch_observer fn = o.load()) fn(which);
}

session_slot* find_locked(int peer_id) {
    for (auto& s : g_sessions)
        if (s.in_use && s.state.peer_id == peer_id) return &s;
    return nullptr;
}

}  // namespace

void chat_session_open(int peer_id) {
    std::lock_guard<std::mutex> lk(g_sessions_mutex);
    if (find_locked(peer_id)) return;
    for (auto& s : g_sessions) {
        if (s.in_use) continue;
        s.in_use = true;
        s.state = chat_media_state{};
        s.state.peer_id = peer_id;
        return;
    }
}

void chat_session_close(int peer_id) {
    std::shared_ptr<const peer_picture> dropped;  // released after the lock
    int which = 0;
    {
        std::lock_guard<std::mutex> lk(g_sessions_mutex);
        if (session_slot* s = find_locked(peer_id)) {
            which = switches_of(s->state);
            dropped = std::move(s->state.picture);
            s->in_use = false;
            s->state = chat_media_state{};
        }
    }
    tell_observers(which);
}

void chat_session_close_all() {
    int which = 0;
    {
        std::lock_guard<std::mutex> lk(g_sessions_mutex);
        for (auto& s : g_sessions) {
            if (s.in_use) which |= switches_of(s.state);
            s.in_use = false;
            s.state = chat_media_state{};
        }
    }
    tell_observers(which);
}

bool chat_session_get(int peer_id, chat_media_state* out) {
    std::lock_guard<std::mutex> lk(g_sessions_mutex);
    session_slot* s = find_locked(peer_id);
    if (!s) return false;
    *out = s->state;
    return true;
}

bool chat_session_update(int peer_id, const std::function<void(chat_media_state&)>& fn) {
    int which = 0;
    {
        std::lock_guard<std::mutex> lk(g_sessions_mutex);
        session_slot* s = find_locked(peer_id);
        if (!s) return false;
        int before = switches_of(s->state);
        fn(s->state);
        s->state.peer_id = peer_id;  // the key stays what it was
        which = before ^ switches_of(s->state);
    }
    tell_observers(which);
    return true;
}

void add_my_switch_observer(my_switch_observer fn) {
    for (auto& o : g_observers)
        if (o.load() == fn) return;
    for (auto& o : g_observers) {
        my_switch_observer none = nullptr;
        if (o.compare_exchange_strong(none, fn)) return;
    }
}

void remove_my_switch_observer(my_switch_observer fn) {
    for (auto& o : g_observers) {
        my_switch_observer mine = fn;
        o.compare_exchange_strong(mine, nullptr);
    }
}

std::vector<chat_media_state> chat_session_all() {
    std::vector<chat_media_state> out;
    std::lock_guard<std::mutex> lk(g_sessions_mutex);
    for (auto& s : g_sessions)
        if (s.in_use) out.push_back(s.state);
    return out;
}

int chat_session_peers_with(int which, int* ids, int max) {
    int n = 0;
    std::lock_guard<std::mutex> lk(g_sessions_mutex);
    for (auto& s : g_sessions)
        if (s.in_use && (switches_of(s.state) & which) && n < max) ids[n++] = s.state.peer_id;
    return n;
}

bool chat_session_publish_picture(int peer_id, std::shared_ptr<peer_picture> picture) {
    std::shared_ptr<const peer_picture> old;  // released after the lock
    std::lock_guard<std::mutex> lk(g_sessions_mutex);
    session_slot* s = find_locked(peer_id);
    if (!s) return false;
    picture->serial = s->state.picture ? s->state.picture->serial + 1 : 1;
    old = std::move(s->state.picture);
    s->state.picture = std::move(picture);
    return true;
}
