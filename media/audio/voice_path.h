// The voice path between chat partners: each encoded capture buffer goes to every peer whose chat
// session has my-audio on (talk data 221, or the silence notice 220 for a quiet buffer), directly
// or through the peer's slave-server relay; received talk data is inflated, decoded and queued for
// the player bound to the speaker, when the session's peer-audio switch is on.
//
// Threads: sending runs on the capture thread, receiving on the peer receive threads. Sending
// only puts each message on its connection's send queue (peer/send_queue.h), so a listener that
// stops reading never holds up the capture or the other listeners. The switches
// are read from the chat sessions (their own lock); level samples reach the front end as posted
// notifications, ten per buffer.
#pragma once
#include <atomic>
#include <cstdint>

// The capture thread's consumer in a client: mic levels, the trace, then the send below.
void voice_capture_consumer(const uint8_t* samples, const uint8_t* planes, int length, int active,
                            uint32_t capture_tick);
// Whether some chat session has my-audio on (someone is to receive my sound).
bool any_listening_peer();
// Called by the capture thread with the planes of one buffer and the codec's activity flag.
int do_talk_send_data_dct_z_to_peers(const uint8_t* planes, int length, int active);
// Handler of 221 (body unscrambled, len bytes). 0, or -1 when the sound was dropped.
int do_talk_data_dct_z_from_sever(const char* body, int len, int peer_id);
// Handler of 220.
int do_talk_silence_from_peer(int peer_id);

// Installs the 220 and 221 handlers in the peer dispatch (direct and relayed paths).
void register_voice_commands();

// Posts one microphone level sample per 100 samples of a captured buffer to the front end, for
// every session with my-audio on.
void post_mic_levels(const uint8_t* samples, int n);

// What went through the voice path since the start.
struct voice_counters {
    std::atomic<int> sent_data{0};      // 221 messages sent (one per listening peer)
    std::atomic<int> sent_silence{0};   // 220 messages sent
    std::atomic<int> relayed{0};        // messages that went through a relay
    std::atomic<int> relay_refused{0};  // talk data longer than the relay's limit (lost)
    std::atomic<int> relay_failed{0};   // no route to the peer either (lost)
    std::atomic<int> received_data{0};  // 221 messages received
    std::atomic<int> received_silence{0};
    std::atomic<int> queued{0};   // decoded buffers queued for a player
    std::atomic<int> dropped{0};  // received and not played (no player, switch off, bad body)
};
extern voice_counters g_voice_counters;

// Called on the counting thread after a counter above, or a player's count of buffers written
// or finished, went up (null: nobody). The headless client reports the counters as they move.
using voice_counters_observer = void (*)();
void set_voice_counters_observer(voice_counters_observer fn);
// Counts one on c and tells the observer.
void count_voice(std::atomic<int>& c);

// When set, every sent talk-data message is noted with the capture tick and every buffer handed
// to a player with the tick it arrived (benchmarks): "S tick crc" and "P tick crc" lines, where
// crc identifies the message body.
void set_voice_trace_file(const char* path);
