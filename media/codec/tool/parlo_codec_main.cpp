// parlo-codec: the voice and picture codecs on raw files, so that streams can be produced,
// decoded and compared byte by byte with any other implementation.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/codec/tool/codec_commands.h"

namespace {
const char kHelp[] =
    "usage: parlo-codec COMMAND [OPTIONS] FILES...\n"
    "\n"
    "Voice (8-bit mono PCM samples, a multiple of 64 and at most 20480 of them):\n"
    "  voice-encode [-q LEVEL] [--raw] SAMPLES OUT\n"
    "      transform the samples; OUT is the zlib stream of the coefficient planes, or with\n"
    "      --raw the 2*N plane bytes before deflate. Prints \"active 0|1\".\n"
    "  voice-decode [-q LEVEL] [--raw] IN SAMPLES\n"
    "      inflate (unless --raw) and inverse-transform coefficient planes.\n"
    "  LEVEL is the quality level 0, 1 or 2 (default 0).\n"
    "\n"
    "Picture planes (W*H signed bytes, centred samples; streams are raw, before deflate):\n"
    "  key-encode  [-s WxH] [-q Q] [--chroma] PLANE COEF OVERFLOW [REFERENCE]\n"
    "      code every block; REFERENCE receives the 64 zig-zag bytes per block.\n"
    "  diff-encode [-s WxH] [-q Q] [--chroma] [-t T] PLANE REFERENCE COEF OVERFLOW\n"
    "      code the blocks that differ from REFERENCE by more than T (default 3) in some\n"
    "      zig-zag byte. Prints \"changed N%\".\n"
    "  key-decode  [-s WxH] [-q Q] [--chroma] COEF OVERFLOW PLANE\n"
    "  diff-decode [-s WxH] [-q Q] [--chroma] KEY-PLANE COEF OVERFLOW PLANE\n"
    "      decode streams; a difference decode starts from KEY-PLANE.\n"
    "  Q is the video quality (default 70, snapped to 50, 60, ... 100); WxH defaults to\n"
    "  160x120; --chroma selects the chrominance tables (U and V planes).\n"
    "\n"
    "Colour (pixels of 3 bytes: red, green, blue):\n"
    "  rgb-to-yuv RGB Y U V        integer conversion to three centred planes\n"
    "  yuv-to-rgb Y U V RGB        floating-point conversion back\n"
    "\n"
    "Other:\n"
    "  deflate IN OUT              zlib-compress a file (as the codecs do)\n"
    "  inflate IN OUT              zlib-uncompress a file\n"
    "  record-info RECORD          print the header of a video frame record\n"
    "  tables [-q Q]               print the scaled quantisation tables\n"
    "  --help                      this text\n";

struct command {
    const char* name;
    int (*run)(const tool_options&);
};

const command kCommands[] = {
    {"voice-encode", run_voice_encode}, {"voice-decode", run_voice_decode},
    {"key-encode", run_key_encode},     {"diff-encode", run_diff_encode},
    {"key-decode", run_key_decode},     {"diff-decode", run_diff_decode},
    {"rgb-to-yuv", run_rgb_to_yuv},     {"yuv-to-rgb", run_yuv_to_rgb},
    {"deflate", run_deflate},           {"inflate", run_inflate},
    {"record-info", run_record_info},   {"tables", run_tables},
};

bool parse_int(const char* text, int* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < -1000000 || v > 1000000) return false;
    *out = static_cast<int>(v);
    return true;
}

bool parse_size(const char* text, int* width, int* height) {
    const char* x = std::strchr(text, 'x');
    if (x == nullptr) return false;
    const std::string w(text, static_cast<size_t>(x - text));
    return parse_int(w.c_str(), width) && parse_int(x + 1, height);
}

// Parses options after the command name; returns false after a message on a bad option.
bool parse_options(int argc, char** argv, tool_options* o) {
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--raw") {
            o->raw = true;
        } else if (a == "--chroma") {
            o->chroma = 1;
        } else if (a == "-q" && has_value) {
            if (!parse_int(argv[++i], &o->quality)) return false;
            o->quality_given = true;
        } else if (a == "-t" && has_value) {
            if (!parse_int(argv[++i], &o->threshold)) return false;
        } else if (a == "-s" && has_value) {
            if (!parse_size(argv[++i], &o->width, &o->height)) return false;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "parlo-codec: unknown option %s\n", a.c_str());
            return false;
        } else {
            o->files.push_back(a);
        }
    }
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kHelp, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        tool_options o;
        if (!parse_options(argc, argv, &o)) {
            std::fprintf(stderr, "parlo-codec: bad options (see --help)\n");
            return 2;
        }
        return c.run(o);
    }
    std::fprintf(stderr, "parlo-codec: unknown command %s (see --help)\n", argv[1]);
    return 2;
}
