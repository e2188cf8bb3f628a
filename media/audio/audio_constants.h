// Fixed numbers of the sound layer: the buffer format, the thread messages of the capture and
// playback threads, the sound queue and its pacing limits.
#pragma once
#include <cstdint>

#include "protocol/commands.h"

namespace audio {
// 8000 samples per second, 8 bits, one channel: one buffer holds 960 samples, 120 ms.
constexpr int kSampleRate = 8000;
constexpr int kBufferBytes = 960;
constexpr int kBufferMs = 120;
constexpr int kCaptureBuffers = 25;  // buffers queued on the capture device
constexpr int kPlayers = 10;         // g_play_sound_threads
constexpr int kQueueEntries = 80;    // the sound queue
constexpr uint32_t kMutexWaitMs = 3000;
constexpr uint32_t kSlotIdleMs = 3000;     // a play slot silent this long may be taken over
constexpr uint32_t kReadyAfterMs = 3000;   // a buffered speaker plays after this silence
constexpr uint32_t kRestartAfterMs = 500;  // an emptied player buffers afresh after this
constexpr uint32_t kStuckDeviceMs = 125;   // a busy device is fed anyway after this
constexpr int kRetryLimit = 25000;
constexpr int kDepthStart = 2;
constexpr int kDepthMax = 6;
constexpr int kLevelStep = 100;  // level samples at 0, 100, ..., 900
constexpr int kInflateCapacity = 10230;
constexpr int kDeflateCapacity = 8000;
constexpr int kQualityFieldLen = 5;

// Thread messages.
constexpr int kMsgStartRecording = 1524;
constexpr int kMsgStopRecording = 1525;
constexpr int kMsgQuitRecording = 1527;
constexpr int kMsgFollowListeners = 1528;  // open or close capture as the listeners want
constexpr int kMsgStartPlayback = 1624;
constexpr int kMsgStopPlayback = 1625;
constexpr int kMsgWriteSoundData = 1626;
constexpr int kMsgQuitPlayback = 1627;
constexpr int kMsgWimData = 0x3C0;  // a capture buffer came back filled
constexpr int kMsgWomDone = 0x3BD;  // a played buffer came back

// Notifications posted to the main window or a chat window (numbers and parameters in the command
// table). The level notifications carry a buffer's level samples, one byte each (0-255, 128
// silence): lparam points at the std::string the notification owns.
constexpr int kNotifyMicLevel = NM_MIC_LEVEL;
constexpr int kNotifyPeerLevel = NM_PEER_LEVEL;
constexpr int kNotifyPlayerStarted = NM_PLAYER_STARTED;
constexpr int kNotifyPlayerStopped = NM_PLAYER_STOPPED;
}  // namespace audio
