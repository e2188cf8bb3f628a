#include "media/video/video_source.h"

std::unique_ptr<video_source> make_video_source(const std::string& input, std::string* error) {
    if (input.empty() || input == "v4l2") return make_v4l2_source("");
    if (input.rfind("v4l2:", 0) == 0) return make_v4l2_source(input.substr(5));
    if (input == "pattern") return make_pattern_source();
    if (input.rfind("y4m:", 0) == 0 && input.size() > 4) return make_y4m_source(input.substr(4));
    if (error)
        *error = "unknown video input \"" + input + "\" (v4l2[:/dev/videoN], pattern, y4m:FILE)";
    return nullptr;
}
