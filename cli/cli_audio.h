// Sound in the headless client: starting and ending the sound threads with the client, the
// talk/listen/volume/levels commands, and the JSON lines of the sound notifications.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/audio_flags.h"
#include "cli/commands.h"

class cli_app;

// Starts the sound threads with the chosen backend (flags over settings). Returns 0 or -1.
int cli_audio_start(const cli_audio_options& options);
void cli_audio_stop();
// Prints the devices of the chosen backend; returns the exit code.
int cli_list_devices(const cli_audio_options& options);
// --list-cameras: one JSON line {"cameras":[{"device":"/dev/video0","card":"..."}, ...]}.
int cli_list_cameras();
// The sound notifications (main thread): the counters moved (printed while watched), the level
// samples of a buffer (one line each while "levels" is on), a speaker's player started or stopped.
void cli_audio_stats_moved();
void cli_print_levels(int n, intptr_t peer_id, intptr_t samples);
void cli_print_player(int n, intptr_t player, intptr_t peer_id);
// talk, listen, mic-volume, speaker-volume, levels, audio-stats.
const std::vector<cli_command>& audio_commands();
