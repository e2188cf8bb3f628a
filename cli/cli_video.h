// Video in the headless client: the commands (video, watch, video-size, video-quality,
// video-rate, snapshot), the camera choice at start, and one JSON line per decoded peer frame.
//
// Threads: cli_video_frame_decoded runs on the thread that decoded a frame (inside a chat
// window's post); it queues the frame's facts and wakes the main thread, which prints them in
// cli_video_print_pending. Everything else runs on the client's main thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/commands.h"

class cli_app;
struct cli_options;

const std::vector<cli_command>& video_command_table();
// Picks the camera (--video-in, else the [media] video_input setting), registers the video
// commands with the peer layer and starts the request timer.
void cli_video_start(const cli_options& options);
void cli_video_stop();
// Notice 11 of the chat window of peer_id: the peer's new picture waits to be printed.
void cli_video_frame_decoded(cli_app& app, int peer_id);
void cli_video_print_pending();

// Writes width x height pixels of 3 bytes (R, G, B, top row first) as an 8-bit RGB PNG.
// Returns 0, or -1 with nothing left behind.
int write_png(const std::string& path, const uint8_t* rgb, int width, int height);
