// Camera sources: each delivers frames of W x H pixels, 3 bytes each (red, green, blue, top row
// first), at about 20 frames per second to a sink, on a thread of its own.
//
// Threads: start() and stop() are called by one controlling thread (the capture control in
// my_video.cpp serialises them); the sink runs on the source's thread and must not call start()
// or stop(). stop() returns after the last sink call has returned.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr int kCaptureFramesPerSecond = 20;

using frame_sink = std::function<void(const uint8_t* frame, int bytes)>;

class video_source {
public:
    virtual ~video_source() = default;
    // Opens the source for width x height and starts delivering. Returns 0, or -1 when nothing
    // could be opened (no thread runs then).
    virtual int start(int width, int height, frame_sink sink) = 0;
    virtual void stop() = 0;
};

// "v4l2" or "v4l2:/dev/videoN", "pattern", "y4m:FILE". Returns null with a reason in error for a
// text that names no source.
std::unique_ptr<video_source> make_video_source(const std::string& input, std::string* error);

std::unique_ptr<video_source> make_v4l2_source(const std::string& device);
std::unique_ptr<video_source> make_pattern_source();
std::unique_ptr<video_source> make_y4m_source(const std::string& path);

// A camera present on the machine: its device file and the card name its driver reports.
struct camera_info {
    std::string path;  // "/dev/video0"
    std::string card;  // "Integrated Camera"
};
// The capture devices among dir's videoN nodes, in number order (metadata nodes are left out).
// Opens each node for a moment: not on the GUI thread.
std::vector<camera_info> list_cameras(const std::string& dir = "/dev");
// "/dev/video0 - Integrated Camera", as lists show a camera.
std::string camera_label(const camera_info& camera);

// The synthetic scene of the pattern source: frame number n at width x height into rgb.
void draw_pattern_frame(uint32_t n, int width, int height, uint8_t* rgb);
