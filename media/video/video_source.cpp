#include "media/video/video_source.h"

std::unique_ptr<video_source> make_video_source(const std::string& spec, std::string* error) {
    if (spec.empty() || spec == "v4l2") return make_v4l2_source("");
    if (spec.rfind("v4l2:", 0) == 0) return make_v4l2_source(spec.substr(5));
    if (spec == "pattern") return make_pattern_source();
    if (spec.rfind("y4m:", 0) == 0 && spec.size() > 4) return make_y4m_source(spec.substr(4));
    if (error) *error = "unknown video input \"" + spec + "\" (v4l2[:/dev/videoN], pattern, y4m:FILE)";
    return nullptr;
}
