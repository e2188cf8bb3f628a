#include "media/audio/sound_queue.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "media/audio/audio_constants.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/tick.h"
#include "protocol/notify.h"
#include "protocol/texts.h"

Ctimed_mutex g_mutex_sound;

namespace {
using namespace audio;

struct queue_entry {
    int used = 0;
    int player = -1;
    wave_buffer* buffer = nullptr;
    uint32_t arrival = 0;
};

struct play_slot {
    int peer_id = -1;
    int in_use = 0;
    uint32_t last_use = 0;
    int contact = 0;  // the speaker is in the contact list (a contact may take a stranger's player)
};

// All guarded by g_mutex_sound.
queue_entry g_queue[kQueueEntries];
play_slot g_slots[kPlayers];
play_pacing g_pacing[kPlayers];
player_sink* g_players[kPlayers] = {};
int g_overflows = 0;
int g_time_outs = 0;

// Wakes the master thread: a buffer was queued, a device came back, or the thread must stop.
Cevent g_master_wake;
std::atomic<bool> g_master_stop{false};
std::thread g_sound_master_thread;

// Notices raised during a pass, posted once the mutex is released.
struct player_notice {
    int n, index, peer;
};

bool lock_sound(const char* where) {
    if (lock_for(g_mutex_sound, kMutexWaitMs)) return true;
    log_line("wait failed in %s.\n", where);
    return false;
}

void jitter_update(play_pacing& p, uint32_t now) {
    if (!p.arrival_seen) return;
    uint32_t d = now - p.last_arrival_time;
    if (d < 300) {
        if (p.fast_count < 0) p.fast_count = 0;
        p.fast_count++;
    }
    if (d > 350) p.fast_count = 0;
    if (d > 450) {
        p.fast_count = 0;
        if (p.depth < kDepthMax) p.depth++;
    }
    if (p.fast_count > 10) {
        if (p.depth > kDepthStart) p.depth--;
        p.fast_count = 0;
    }
}

void check_ready(play_pacing& p, uint32_t now) {
    if (p.queued > p.depth || (p.queued > 0 && now - p.last_arrival_time > kReadyAfterMs))
        p.playing = 1;
}

void remove_entry(queue_entry& e) {
    play_pacing& p = g_pacing[e.player];
    if (--p.queued < 0) p.queued = 0;
    e.used = 0;
    e.player = -1;
    e.buffer = nullptr;
}

// Hands the entry's buffer to its player and notes a start notice when the player was silent.
void hand_over(queue_entry& e, uint32_t now, player_notice* notices, int* count) {
    play_pacing& p = g_pacing[e.player];
    p.last_post_time = now;
    p.waiting = 0;
    p.retry_time = 0;
    p.device_ready = 0;
    if (!p.announced) {
        p.announced = 1;
        notices[(*count)++] = {kNotifyPlayerStarted, e.player, g_slots[e.player].peer_id};
    }
    g_players[e.player]->post_write(e.buffer);
}

int pass_locked(uint32_t now, player_notice* notices, int* count) {
    bool served[kPlayers] = {};
    for (int pos = 0; pos < kQueueEntries; pos++) {
        queue_entry& e = g_queue[pos];
        if (!e.used) continue;
        if (e.player < 0 || e.player >= kPlayers) {
            log_line("we should not go here in g_sound_master_thread.\r\n");
            continue;
        }
        if (served[e.player]) continue;
        served[e.player] = true;
        if (!g_players[e.player]) continue;  // the players are being replaced
        play_pacing& p = g_pacing[e.player];
        if (p.device_ready == 1) {
            check_ready(p, now);
            if (p.playing != 1) continue;
            hand_over(e, now, notices, count);
            remove_entry(e);
            continue;
        }
        p.waiting = 1;
        if (p.retry_time < 0) {
            log_line("g_play_sound_threads[%d]->m_retry_time=%d < 0\n", e.player, p.retry_time);
            p.retry_time = 0;
        }
        p.retry_time++;
        if (p.retry_time < kRetryLimit && now - p.last_post_time <= kStuckDeviceMs) continue;
        check_ready(p, now);
        if (p.playing != 1) continue;
        int player = e.player;
        hand_over(e, now, notices, count);
        g_time_outs++;
        if (g_time_outs % 50 == 0)
            log_line("removing from queue time_out, index:%d, pos:%d, count:%d\r\n", player, pos,
                     g_time_outs);
        remove_entry(e);
    }
    // Compact: used entries to the front, in order.
    int to = 0;
    for (int pos = 0; pos < kQueueEntries; pos++) {
        if (!g_queue[pos].used) continue;
        if (pos != to) {
            g_queue[to] = g_queue[pos];
            g_queue[pos] = queue_entry{};
        }
        to++;
    }
    // A speaker whose player got nothing for 500 ms and has nothing waiting has stopped.
    for (int k = 0; k < kPlayers; k++) {
        play_pacing& p = g_pacing[k];
        if (p.announced && p.queued <= 0 && now - p.last_post_time > kRestartAfterMs) {
            p.announced = 0;
            notices[(*count)++] = {kNotifyPlayerStopped, k, g_slots[k].peer_id};
        }
    }
    return to;
}

void master_main() {
    if (sched_get_priority_max(SCHED_FIFO) < 0) {
        log_line("set sound master thread priority failed.\n");
    } else {
        sched_param sp{};
        sp.sched_priority = sched_get_priority_max(SCHED_FIFO);
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) != 0)
            log_line("set sound master thread priority failed.\n");
    }
    while (!g_master_stop.load()) {
        if (!lock_for(g_mutex_sound, kMutexWaitMs)) {
            // Nothing is touched without the lock: the pass is skipped and tried again.
            show_user_text(make_text(TXT_SOUND_QUEUE_WAIT_FAILED));
            continue;
        }
        uint32_t now = get_tick_count();
        player_notice notices[2 * kPlayers];
        int count = 0;
        pass_locked(now, notices, &count);
        // Until the next thing that no event announces; arrivals, devices that report back and
        // silence notices wake the thread at once.
        uint32_t wait_ms = 0;
        bool pending = sound_master_deadline(now, &wait_ms);
        g_mutex_sound.unlock();
        for (int i = 0; i < count; i++) post_main(notices[i].n, notices[i].index, notices[i].peer);
        // With nothing pending the thread sleeps until an event: an idle client does not wake it.
        g_master_wake.wait(pending ? std::clamp<uint32_t>(wait_ms, 1, 1000) : UINT32_MAX);
    }
}
}  // namespace

void sound_queue_init() {
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    for (auto& e : g_queue) {
        delete e.buffer;
        e = queue_entry{};
    }
    for (auto& s : g_slots) s = play_slot{};
    for (auto& p : g_pacing) p = play_pacing{};
    g_overflows = 0;
    g_time_outs = 0;
}

void set_sound_player(int index, player_sink* sink) {
    if (index < 0 || index >= kPlayers) return;
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    g_players[index] = sink;
    if (!sink) {
        // Entries of a player that goes away are freed with it.
        for (auto& e : g_queue)
            if (e.used && e.player == index) {
                delete e.buffer;
                remove_entry(e);
            }
    }
}

bool sound_player_exists(int index) {
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    return index >= 0 && index < kPlayers && g_players[index] != nullptr;
}

bool all_sound_players_exist() {
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    for (auto* p : g_players)
        if (!p) return false;
    return true;
}

int sound_add_to_queue(int index, wave_buffer* buffer) {
    return sound_add_to_queue_at(index, buffer, get_tick_count());
}

int sound_add_to_queue_at(int index, wave_buffer* buffer, uint32_t now) {
    if (!lock_sound("sound_add_to_queue")) {
        recycle_wave_buffer(buffer);  // skipped this time: nothing is done without the lock
        return 0;
    }
    int counts[kPlayers] = {};
    bool stored = false;
    for (auto& e : g_queue) {
        if (e.used) {
            if (e.player >= 0 && e.player < kPlayers) counts[e.player]++;
            continue;
        }
        e.used = 1;
        e.player = index;
        e.buffer = buffer;
        e.arrival = now;
        if (index >= 0 && index < kPlayers) {
            play_pacing& p = g_pacing[index];
            jitter_update(p, now);
            p.last_arrival_time = now;
            p.arrival_seen = 1;
        }
        stored = true;
        break;
    }
    for (int k = 0; k < kPlayers; k++) {
        if (!g_players[k]) continue;
        play_pacing& p = g_pacing[k];
        p.queued = counts[k];
        if (p.queued <= 0 && now - p.last_post_time > kRestartAfterMs) p.playing = 0;
    }
    if (!stored) {
        log_line("sound queue full in sound_add_to_queue.\n");
        if (g_overflows++ % 10 == 0)
            for (int q = 0; q < kQueueEntries; q++)
                log_line("q:%d, used:%d, index:%d, lpHdr:%d\n", q, g_queue[q].used,
                         g_queue[q].player,
                         static_cast<int>(reinterpret_cast<intptr_t>(g_queue[q].buffer)));
    }
    g_mutex_sound.unlock();
    if (!stored)
        recycle_wave_buffer(buffer);
    else
        g_master_wake.signal();
    return 0;
}

int sound_master_pass(uint32_t now) {
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    player_notice notices[2 * kPlayers];
    int count = 0;
    return pass_locked(now, notices, &count);
}

bool sound_master_deadline(uint32_t now, uint32_t* wait_ms) {
    bool any = false;
    uint32_t best = 0;
    // A pass acts once more than limit ms have gone by. A limit already passed is not what
    // holds the pass back (the pass just made would have acted on it): it is left out, so a
    // condition that waits on something else never makes the thread spin.
    auto consider = [&](uint32_t since, uint32_t limit) {
        if (since > limit) return;
        uint32_t left = limit - since + 1;
        if (!any || left < best) best = left;
        any = true;
    };
    for (const auto& p : g_pacing)
        if (p.announced) consider(now - p.last_post_time, kRestartAfterMs);
    bool seen[kPlayers] = {};
    for (const auto& e : g_queue) {
        if (!e.used || e.player < 0 || e.player >= kPlayers || seen[e.player]) continue;
        seen[e.player] = true;
        const play_pacing& p = g_pacing[e.player];
        // A busy device is fed anyway after a while; a speaker that has buffered too little
        // plays once no more comes. A device that reports back, an arrival or a silence notice
        // wakes the thread sooner.
        if (p.device_ready != 1) consider(now - p.last_post_time, kStuckDeviceMs);
        if (p.playing != 1) consider(now - p.last_arrival_time, kReadyAfterMs);
        if (!g_players[e.player]) consider(0, 1);  // players being replaced: look again soon
    }
    *wait_ms = best;
    return any;
}

int start_sound_master_thread() {
    if (g_sound_master_thread.joinable()) return 0;
    g_master_stop = false;
    try {
        g_sound_master_thread = std::thread(master_main);
        pthread_setname_np(g_sound_master_thread.native_handle(), "snd-master");
    } catch (...) {
        log_line("could not start g_sound_master_thread\n");
        return -1;
    }
    return 0;
}

void stop_sound_master_thread() {
    if (!g_sound_master_thread.joinable()) return;
    g_master_stop = true;
    g_master_wake.signal();
    g_sound_master_thread.join();
}

int get_play_sound_slot(int peer_id, bool contact) {
    return get_play_sound_slot_at(peer_id, get_tick_count(), contact);
}

int get_play_sound_slot_at(int peer_id, uint32_t now, bool contact) {
    if (!lock_sound("get_play_sound_slot")) return -1;
    auto usable = [](int i) { return g_players[i] && g_players[i]->device_open(); };
    int found = -1;
    for (int i = 0; i < kPlayers && found < 0; i++)
        if (usable(i) && g_slots[i].in_use && g_slots[i].peer_id == peer_id) found = i;
    for (int i = 0; i < kPlayers && found < 0; i++)
        if (usable(i) && !g_slots[i].in_use) found = i;
    for (int i = 0; i < kPlayers && found < 0; i++)
        if (usable(i) && now - g_slots[i].last_use > kSlotIdleMs) found = i;
    if (found < 0 && contact) {
        // Every player is busy: a contact takes the player a stranger used least recently, and
        // what was queued for the stranger is dropped rather than played as the contact.
        for (int i = 0; i < kPlayers; i++)
            if (usable(i) && !g_slots[i].contact &&
                (found < 0 || now - g_slots[i].last_use > now - g_slots[found].last_use))
                found = i;
        if (found >= 0)
            for (auto& e : g_queue)
                if (e.used && e.player == found) {
                    recycle_wave_buffer(e.buffer);
                    remove_entry(e);
                }
    }
    if (found >= 0) {
        g_slots[found].peer_id = peer_id;
        g_slots[found].in_use = 1;
        g_slots[found].last_use = now;
        g_slots[found].contact = contact ? 1 : 0;
    }
    g_mutex_sound.unlock();
    return found;
}

void rest_one_play_sound(int index) {
    if (index < 0 || index >= kPlayers) {
        log_line("rest_one_play_sound index:%d out of range 0-%d.\n", index, kPlayers - 1);
        return;
    }
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    g_slots[index] = play_slot{};
}

void reset_play_sound_slots() {
    for (int i = 0; i < kPlayers; i++) rest_one_play_sound(i);
}

int play_slot_peer(int index) {
    if (index < 0 || index >= kPlayers) return -1;
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    return g_slots[index].in_use ? g_slots[index].peer_id : -1;
}

namespace {
// The players' own threads set their ready flag: losing that would stall the player, so a slow
// wait goes on waiting (after a log line) rather than give up.
void lock_sound_patiently(const char* where) {
    if (lock_sound(where)) return;
    g_mutex_sound.lock();
}
}  // namespace

void sound_player_opened(int index) {
    if (index < 0 || index >= kPlayers) return;
    lock_sound_patiently("CPlaySound::OnStartPlaying");
    g_pacing[index].device_ready = 1;
    g_mutex_sound.unlock();
    g_master_wake.signal();  // buffers may be waiting for it
}

void sound_player_buffer_done(int index) {
    if (index < 0 || index >= kPlayers) return;
    lock_sound_patiently("CPlaySound::OnWaveOutDone");
    g_pacing[index].device_ready = 1;
    bool waiting = false;
    for (const auto& e : g_queue)
        if (e.used && e.player == index) waiting = true;
    g_mutex_sound.unlock();
    if (waiting) g_master_wake.signal();
}

void sound_player_closed(int index) {
    if (index < 0 || index >= kPlayers) return;
    lock_sound_patiently("CPlaySound::OnStopPlaying");
    g_pacing[index].device_ready = 0;
    g_mutex_sound.unlock();
}

void sound_player_silence(int index) {
    if (index < 0 || index >= kPlayers) return;
    if (!lock_sound("do_talk_silence_from_peer")) return;
    g_pacing[index].playing = 1;
    g_pacing[index].arrival_seen = 0;
    g_mutex_sound.unlock();
    g_master_wake.signal();
}

play_pacing sound_pacing(int index) {
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    return g_pacing[index];
}

void set_sound_pacing(int index, const play_pacing& p) {
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    g_pacing[index] = p;
}

int sound_queue_used() {
    std::lock_guard<Ctimed_mutex> lk(g_mutex_sound);
    int n = 0;
    for (const auto& e : g_queue) n += e.used;
    return n;
}
