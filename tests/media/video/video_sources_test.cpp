// The camera sources: the pattern and y4m sources deliver frames of the capture size at their
// pace and restart with a new size; a real camera streams when one exists.
#include <glob.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "media/video/video_source.h"
#include "tests/media/video/video_test_support.h"

namespace {
using namespace vtest;

struct counter {
    std::mutex m;
    std::condition_variable cv;
    int frames = 0;
    int bytes = 0;
    std::vector<uint8_t> last;
    std::vector<int> firsts;  // the first byte of each frame
    frame_sink sink() {
        return [this](const uint8_t* f, int n) {
            std::lock_guard<std::mutex> lk(m);
            frames++;
            bytes = n;
            last.assign(f, f + n);
            firsts.push_back(f[0]);
            cv.notify_all();
        };
    }
    bool wait_for(int count, int ms = 10000) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, std::chrono::milliseconds(ms), [&] { return frames >= count; });
    }
};

TEST(VideoSources, PatternAndY4mDeliverFramesOfTheCaptureSize) {
    std::string error;
    EXPECT_EQ(make_video_source("webcam", &error), nullptr);
    EXPECT_FALSE(error.empty());

    auto pattern = make_video_source("pattern", &error);
    ASSERT_TRUE(pattern);
    counter c;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0, pattern->start(320, 240, c.sink()));
    ASSERT_TRUE(c.wait_for(10));
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    pattern->stop();
    EXPECT_EQ(c.bytes, 320 * 240 * 3);
    EXPECT_GE(ms, 400) << "ten frames at 20 per second take about half a second";

    // A 4x2 file of two frames in 4:2:0: a grey frame and a white one, scaled to 160x120.
    char path[] = "/tmp/parlo-y4m-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* f = fdopen(fd, "wb");
    std::fputs("YUV4MPEG2 W4 H2 F30:1 Ip A1:1 C420jpeg\n", f);
    for (int v : {128, 255}) {
        std::fputs("FRAME\n", f);
        for (int i = 0; i < 8; i++) std::fputc(v, f);
        for (int i = 0; i < 4; i++) std::fputc(128, f);
    }
    std::fclose(f);
    auto y4m = make_video_source(std::string("y4m:") + path, &error);
    counter d;
    ASSERT_EQ(0, y4m->start(160, 120, d.sink()));
    ASSERT_TRUE(d.wait_for(3));
    y4m->stop();
    unlink(path);
    EXPECT_EQ(d.bytes, 160 * 120 * 3);
    // Grey, white, then the first again (looped).
    ASSERT_GE(d.firsts.size(), 3u);
    EXPECT_EQ(d.firsts[0], 128);
    EXPECT_EQ(d.firsts[1], 255);
    EXPECT_EQ(d.firsts[2], 128);
    auto missing = make_video_source("y4m:/nonexistent.y4m", &error);
    EXPECT_EQ(-1, missing->start(160, 120, d.sink()));
}

bool have_camera() {
    glob_t g{};
    bool found = glob("/dev/video*", 0, nullptr, &g) == 0 && g.gl_pathc > 0;
    globfree(&g);
    return found;
}

TEST(VideoSources, ACameraStreamsOrItsAbsenceIsReported) {
    open_test_log();
    reset_my_video();
    if (!have_camera()) {
        // Without a device the switch-on path logs the fact and a later start tries again.
        video_set_input("v4l2");
        EXPECT_EQ(-1, video_start_capture());
        EXPECT_EQ(-1, video_start_capture());
        EXPECT_FALSE(video_capture_running());
        std::string log = log_text();
        size_t first = log.find("no video device found.\r\n");
        ASSERT_NE(first, std::string::npos);
        EXPECT_NE(log.find("no video device found.\r\n", first + 1), std::string::npos);
        GTEST_SKIP() << "no /dev/video*: the streaming part was not run";
    }
    auto cam = make_video_source("v4l2", nullptr);
    counter c;
    ASSERT_EQ(0, cam->start(320, 240, c.sink()));
    EXPECT_TRUE(c.wait_for(5));
    cam->stop();
    EXPECT_EQ(c.bytes, 320 * 240 * 3);
}

}  // namespace
