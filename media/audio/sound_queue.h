// The sound queue between the threads that decode received voice and the ten players: 80 entries,
// a play-slot table binding each remote speaker to a player, the pacing and jitter state of every
// player, and the master thread that hands each player its next buffer when its device is free.
//
// Threads: sound_add_to_queue and get_play_sound_slot run on the peer receive threads, the master
// pass on g_sound_master_thread, the done and open calls on the players' threads. Everything here
// is guarded by g_mutex_sound; nothing blocks while it is held (a hand-over is a posted message).
#pragma once
#include <cstdint>

#include "media/audio/wave_device.h"
#include "platform/sync.h"

extern Ctimed_mutex g_mutex_sound;

// What the queue needs of a player: whether its device is open, and the hand-over of a buffer
// (a posted write message; the player then owns the buffer). Called with g_mutex_sound held.
struct player_sink {
    virtual ~player_sink() = default;
    virtual bool device_open() const = 0;
    virtual void post_write(wave_buffer* buffer) = 0;
};

// The pacing and jitter fields of one player (times are ticks).
struct play_pacing {
    int device_ready = 0;
    int retry_time = 0;
    int waiting = 0;
    int queued = 0;
    int playing = 0;
    uint32_t last_post_time = 0;
    uint32_t last_arrival_time = 0;
    int arrival_seen = 0;
    int depth = 2;
    int fast_count = 0;
    int announced = 0;  // a "player started" notice went out and no "stopped" yet
};

// Program start: every entry free, every play slot free, pacing at its opening values.
void sound_queue_init();
// Installs player index's sink (nullptr: no player). The sink must outlive its installation.
void set_sound_player(int index, player_sink* sink);
bool sound_player_exists(int index);
bool all_sound_players_exist();

// Queues one decoded buffer for a player and takes ownership (frees it when the queue is full).
int sound_add_to_queue(int index, wave_buffer* buffer);
int sound_add_to_queue_at(int index, wave_buffer* buffer, uint32_t now);

// One pass of the master thread at tick now. Returns the number of entries still waiting.
int sound_master_pass(uint32_t now);
// How long until a pass has something to do that no event announces (a playing speaker falls
// silent, a busy device is fed anyway, a speaker that buffered too little starts), or false when
// nothing is pending. The master thread sleeps that long unless woken.
bool sound_master_deadline(uint32_t now, uint32_t* wait_ms);

// The master thread at the highest priority granted. start returns 0 or -1; stop joins it.
int start_sound_master_thread();
void stop_sound_master_thread();

// Play slots: the player of a speaker (found, assigned, or taken over after 3 s of silence).
// With every player busy, a contact also takes over a player bound to a speaker who is not one;
// a stranger never takes a contact's player while the contact keeps talking.
int get_play_sound_slot(int peer_id, bool contact = true);
int get_play_sound_slot_at(int peer_id, uint32_t now, bool contact = true);
void rest_one_play_sound(int index);
void reset_play_sound_slots();
// The peer a player is bound to, or -1.
int play_slot_peer(int index);

// A player's device opened (ready), came back with a played buffer (ready), or closed.
void sound_player_opened(int index);
void sound_player_buffer_done(int index);
void sound_player_closed(int index);
// A silence notice from the peer bound to player index: play what is queued at once.
void sound_player_silence(int index);

// Copies for tests and statistics.
play_pacing sound_pacing(int index);
void set_sound_pacing(int index, const play_pacing& p);
int sound_queue_used();
