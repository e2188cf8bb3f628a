// My own video: which frames the encoder stores for a scripted camera, the versions they get,
// the colour conversion of captured pixels, oversized frames, a video-mutex wait that times out,
// the two-session limit and the change notices at each session's rate.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include <thread>

#include "media/video/video_source.h"
#include "platform/message_box.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "tests/media/video/video_test_support.h"

namespace {
using namespace vtest;

uint32_t g_fake_now = 0;
uint32_t fake_tick() {
    return g_fake_now;
}

std::vector<uint8_t> pattern(uint32_t n, int w = 160, int h = 120) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    draw_pattern_frame(n, w, h, rgb.data());
    return rgb;
}

std::pair<int, int> versions() {
    my_video_store& s = my_video();
    s.mutex.lock();
    std::pair<int, int> v{s.version, s.partial_version};
    s.mutex.unlock();
    return v;
}

// Inflated size of the stored difference frame's Y coefficient stream.
int inflated_y_difference() {
    my_video_store& s = my_video();
    std::vector<uint8_t> out(codec::kMaxCoefficientStream);
    uLongf n = out.size();
    s.mutex.lock();
    const deflated_frame& f = *s.encoder->difference_frame;
    int r = uncompress(out.data(), &n, f.stream(kStreamYCoefficients),
                       static_cast<uLong>(f.length[kStreamYCoefficients]));
    s.mutex.unlock();
    return r == Z_OK ? static_cast<int>(n) : -1;
}

class VideoFrames : public ::testing::Test {
protected:
    void SetUp() override {
        open_test_log();
        reset_my_video();
        install_recorder();
    }
    void TearDown() override { remove_recorder(); }
};

TEST_F(VideoFrames, StaticSceneGivesEmptyDifferencesUntilTheTwentyFirstAndASceneCutAKeyFrame) {
    auto still = pattern(0);
    ASSERT_EQ(0, handle_video_data(still.data(), static_cast<int>(still.size())));
    EXPECT_EQ(versions(), std::make_pair(1, 0));  // the first frame is a key frame
    for (int i = 1; i <= 21; i++) {
        ASSERT_EQ(0, handle_video_data(still.data(), static_cast<int>(still.size())));
        ASSERT_EQ(versions(), std::make_pair(1, i));
        EXPECT_EQ(0, inflated_y_difference()) << "difference frame " << i << " changed blocks";
    }
    ASSERT_EQ(0, handle_video_data(still.data(), static_cast<int>(still.size())));
    EXPECT_EQ(versions(), std::make_pair(2, 0));

    // Small motion: a difference frame with changed blocks; a scene cut: a key frame at once.
    auto moved = pattern(3);
    ASSERT_EQ(0, handle_video_data(moved.data(), static_cast<int>(moved.size())));
    EXPECT_EQ(versions(), std::make_pair(2, 1));
    EXPECT_GT(inflated_y_difference(), 0);
    auto cut = pattern(150);
    ASSERT_EQ(0, handle_video_data(cut.data(), static_cast<int>(cut.size())));
    EXPECT_EQ(versions(), std::make_pair(3, 0));
}

TEST_F(VideoFrames, CapturedPixelsConvertAsTheWireRequiresAndOversizedFramesAreCut) {
    // Pixels (0,0,0), (255,255,255), (255,0,0) repeated over the picture.
    std::vector<uint8_t> frame(1000000, 0);
    const uint8_t px[3][3] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}};
    for (int i = 0; i < 160 * 120; i++)
        for (int c = 0; c < 3; c++) frame[static_cast<size_t>(i) * 3 + c] = px[i % 3][c];
    ASSERT_EQ(0, handle_video_data(frame.data(), static_cast<int>(frame.size())));
    EXPECT_NE(log_text().find("size:1000000 > sizeof(g_my_rgbs):921600 in handle_video_data.\r\n"),
              std::string::npos);
    const frame_encoder& e = *my_video().encoder;
    const int want[3][3] = {{-128, 0, 0}, {127, 0, 0}, {-52, -44, 127}};
    for (int i = 0; i < 3; i++)
        for (int p = 0; p < 3; p++)
            EXPECT_EQ(e.planes[p][i], want[i][p]) << "pixel " << i << " plane " << p;
    EXPECT_EQ(versions(), std::make_pair(1, 0));
    // The preview is my frame at capture size.
    auto me = my_video_picture();
    ASSERT_TRUE(me);
    EXPECT_EQ(me->width, 160);
    EXPECT_EQ(0, std::memcmp(me->rgb.data(), frame.data(), me->rgb.size()));
    EXPECT_EQ(-1, handle_video_data(nullptr, 10));
}

TEST_F(VideoFrames, AVideoMutexWaitThatTimesOutDropsTheFrame) {
    auto f = pattern(0);
    my_video().mutex.lock();
    int r = 0;
    std::thread capture([&] { r = handle_video_data(f.data(), static_cast<int>(f.size())); });
    capture.join();  // gives up after 3000 ms
    std::pair<int, int> v{my_video().version, my_video().partial_version};
    my_video().mutex.unlock();
    EXPECT_EQ(r, -1);
    EXPECT_EQ(v, std::make_pair(0, 0));
    EXPECT_NE(log_text().find("wait failed in handle_video_data.\n"), std::string::npos);
}

TEST_F(VideoFrames, AFrameThatDoesNotFitItsBuffersKeepsThePreviousOne) {
    // Noise at 640x480 and quality 100 deflates to more than the Y buffer holds.
    video_set_size_index(2);
    video_set_quality(100);
    auto scene = pattern(0, 640, 480);
    ASSERT_EQ(0, handle_video_data(scene.data(), static_cast<int>(scene.size())));
    ASSERT_EQ(versions(), std::make_pair(1, 0));
    std::vector<uint8_t> stored(codec::kFrameRecordMaxBytes);
    my_video().mutex.lock();
    int before = build_frame_record_from(*my_video().encoder->key_frame, stored.data(),
                                         codec::kFrameRecordMaxBytes);
    my_video().mutex.unlock();
    std::vector<uint8_t> noise(scene.size());
    uint32_t x = 12345;
    for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23);
    EXPECT_EQ(-1, handle_video_data(noise.data(), static_cast<int>(noise.size())));
    EXPECT_EQ(versions(), std::make_pair(1, 0));
    std::vector<uint8_t> after(codec::kFrameRecordMaxBytes);
    my_video().mutex.lock();
    int after_len = build_frame_record_from(*my_video().encoder->key_frame, after.data(),
                                            codec::kFrameRecordMaxBytes);
    my_video().mutex.unlock();
    ASSERT_EQ(before, after_len);
    EXPECT_EQ(stored, after);
}

struct recording_boxes : message_box_handler {
    std::vector<std::string> shown;
    void show_message(const char* text) override { shown.push_back(text); }
    int ask_yes_no(const char*) override { return ANSWER_NO; }
    int ask_yes_no_cancel(const char*) override { return ANSWER_NO; }
};

TEST_F(VideoFrames, AThirdSessionIsRefusedAndNoticesFollowEachSessionsRate) {
    sessions s({31, 32, 33});
    recording_boxes boxes;
    set_message_box_handler(&boxes);
    video_set_input("v4l2:/nonexistent/video9");  // no camera: the switch still turns on
    EXPECT_EQ(0, video_set_my_video(31, true));
    EXPECT_EQ(0, video_set_my_video(32, true));
    EXPECT_FALSE(video_capture_running());
    EXPECT_NE(log_text().find("no video device found.\r\n"), std::string::npos);
    EXPECT_EQ(-2, video_set_my_video(33, true));
    set_message_box_handler(nullptr);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0], "Maximun videos reached.");
    chat_media_state st;
    ASSERT_TRUE(chat_session_get(33, &st));
    EXPECT_EQ(st.my_video, 0);

    // Frames come every 50 ms, a few ms early or late. Peer 31 asks for 10 notices a second
    // and gets every second frame's, 32 asks for 20 and gets every frame's.
    video_set_rate(31, 10);
    video_set_rate(32, 20);
    set_tick_source(fake_tick);
    g_fake_now = 100000;
    for (int p : {31, 32})
        chat_session_update(p, [](chat_media_state& m) { m.last_change_notice = g_fake_now - 5000; });
    const int jitter[] = {0, -3, 2, 4, -1};
    for (uint32_t n = 0; n < 21; n++) {
        g_fake_now = 100000 + 50 * n + static_cast<uint32_t>(jitter[n % 5]);
        auto f = pattern(n);
        ASSERT_EQ(0, handle_video_data(f.data(), static_cast<int>(f.size())));
    }
    set_tick_source(nullptr);
    int to31 = 0, to32 = 0;
    std::string last32;
    for (const auto& c : take_sent()) {
        ASSERT_EQ(c.command, 230);
        EXPECT_FALSE(c.relay);
        if (c.peer_id == 31) to31++;
        if (c.peer_id == 32) to32++, last32 = c.body;
        EXPECT_NE(c.peer_id, 33);
    }
    EXPECT_EQ(to31, 11);
    EXPECT_EQ(to32, 21);
    EXPECT_EQ(last32, "       1:      20");
    EXPECT_EQ(s.window(31).count(NM_OWN_VIDEO), 21);
    EXPECT_EQ(s.window(33).count(NM_OWN_VIDEO), 0);
    video_set_my_video(31, false);
    video_set_my_video(32, false);
    video_set_input("v4l2");
}

}  // namespace

namespace {
TEST_F(VideoFrames, TheCameraRunsOnlyWhileSomeSessionShowsMyVideo) {
    sessions s({41, 42});
    video_set_input("pattern");
    ASSERT_EQ(0, video_set_my_video(41, true));
    ASSERT_EQ(0, video_set_my_video(42, true));
    EXPECT_TRUE(video_capture_running());
    EXPECT_EQ(0, video_set_my_video(41, false));
    EXPECT_TRUE(video_capture_running()) << "42 still shows my video";
    EXPECT_EQ(0, video_set_my_video(42, false));
    EXPECT_FALSE(video_capture_running()) << "the camera stays on with no one shown my video";
    // A front end that leaves the device to its own job follows the switches in one call.
    ASSERT_EQ(0, video_set_my_video(42, true, false));
    EXPECT_FALSE(video_capture_running());
    EXPECT_EQ(0, video_follow_my_switches());
    EXPECT_TRUE(video_capture_running());
    chat_session_close(42);  // the window went with the switch on
    EXPECT_EQ(0, video_follow_my_switches());
    EXPECT_FALSE(video_capture_running());
    video_set_input("v4l2");
}
}  // namespace
