// Commands of the parlo-codec tool. Each takes the options and file names of its command line and
// returns the process exit status (0 on success, 1 on failure after a message on stderr).
#pragma once
#include <string>
#include <vector>

struct tool_options {
    int quality = 0;
    bool quality_given = false;  // -q seen; otherwise the command's default
    int width = 160;
    int height = 120;
    int chroma = 0;
    int threshold = 3;
    bool raw = false;
    std::vector<std::string> files;
};

int run_voice_encode(const tool_options& o);
int run_voice_decode(const tool_options& o);
int run_key_encode(const tool_options& o);
int run_diff_encode(const tool_options& o);
int run_key_decode(const tool_options& o);
int run_diff_decode(const tool_options& o);
int run_rgb_to_yuv(const tool_options& o);
int run_yuv_to_rgb(const tool_options& o);
int run_deflate(const tool_options& o);
int run_inflate(const tool_options& o);
int run_record_info(const tool_options& o);
int run_tables(const tool_options& o);
