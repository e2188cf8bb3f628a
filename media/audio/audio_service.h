// Sound for a client, in one call each way: the queue and its master thread, the 220/221
// handlers, the chosen backend, the ten players and the capture thread. Both front ends use it.
//
// Threads: start_audio and stop_audio are called by the front end's thread. A keeper thread of
// the service applies a change of devices and watches the open ones a few times a second: a
// device that fails is told once and replaced by the default one (or by silence), and the call
// goes on.
#pragma once
#include <functional>
#include <memory>
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
// Starts the service on a backend made by the caller (tests).
int start_audio_on(std::shared_ptr<audio_backend> backend);

// The devices a user can choose, capture (input true) or playback ones, of the running backend
// or, without one, of the backend cfg names. Not on the GUI thread (it probes sound systems).
std::vector<std::string> audio_device_names(const audio_config& cfg, bool input);
// Uses these devices from now on ("" = the default one): a running service switches its open
// devices on the keeper thread (a call goes on with the next buffers there). Returns at once;
// any thread. Saving the choice in the settings is the caller's.
void choose_audio_devices(const std::string& input, const std::string& output);
// Sound cards or cameras came or went: a running service looks for its devices anew (at once
// when it fell back from the chosen ones, else once no call is under way) and then tells the
// observer; without a service the observer hears of it at once. Any thread.
void audio_devices_changed();
// Called on the thread that saw the change whenever devices come or go; null removes it. The
// observer must only hand over (post), never wait.
void set_devices_changed_observer(std::function<void()> observer);

// The [media] echo_cancel, noise_suppression and auto_gain settings changed: the capture path
// takes them up. Any thread.
void voice_processing_settings_changed();

// A level meter on a capture device of the running backend, opened on a thread of its own for
// as long as it runs: on_level gets the loudest sample of each captured buffer (0-128) on that
// thread. 0, or -1 when the service is not started. stop_mic_meter returns after the last call.
int start_mic_meter(std::function<void(int level)> on_level);
void stop_mic_meter();
// Plays a short synthesised tone (half a second at 440 Hz) through the output, like a sound
// file. 0, or -1 when the service is not started.
int play_test_tone();
