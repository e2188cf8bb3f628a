// Sound for a client, in one call each way: the queue and its master thread, the 220/221
// handlers, the chosen backend, the ten players and the capture thread. Both front ends use it.
//
// Threads: start_audio and stop_audio are called by the front end's thread.
#pragma once
#include <string>
#include <vector>

#include "media/audio/wave_device.h"

// Starts everything; a backend whose devices fail to open still leaves a working client (each
// failure is logged, the first of each kind shown). The capture device opens only while a chat
// session has my-audio on. Returns 0, or -1 when a thread could not be started.
int start_audio(const audio_config& cfg);
// Stops capture and players, ends every sound thread and the master thread.
void stop_audio();
// Plays a sound file (the knock) through an output device of the configured backend, after the
// files already queued; returns at once (any thread). -1 when the sound is not started.
int play_sound_file(const std::string& path);
// The device lines of the configured backend (--list-devices).
std::vector<std::string> list_audio_devices(const audio_config& cfg);
