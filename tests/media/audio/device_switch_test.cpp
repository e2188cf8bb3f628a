// Sound devices that are switched, or fail, while a call plays: the players' buffers go on to
// the new device, a failed device is told once and the default one (or silence) takes over, and
// no thread is left waiting on a dead device.
#include <atomic>
#include <functional>

#include "media/audio/audio_service.h"
#include "media/audio/sound_threads.h"
#include "tests/media/audio/audio_test_support.h"
#include "tests/media/audio/fake_devices.h"
#include "tests/support/loopback.h"

namespace {
using namespace audiotest;

class device_switch : public sound_fixture {
protected:
    void SetUp() override {
        sound_fixture::SetUp();
        set_message_box_handler(&boxes);
        ASSERT_EQ(start_audio_on(backend), 0);
        ASSERT_TRUE(testsupport::wait_until([] {
            CPlaySound* p = g_play_sound_threads[0].load();
            return p && p->device_open();
        }));
    }
    void TearDown() override {
        stop_audio();
        set_message_box_handler(nullptr);
        sound_fixture::TearDown();
    }
    // What a call's sound does: buffers for the first player.
    static void play(int n) {
        for (int i = 0; i < n; i++) g_play_sound_threads[0].load()->post_write(buffer_of(150, 7));
    }
    size_t lost_boxes() {
        size_t n = 0;
        for (const std::string& t : boxes.shown()) n += t == text_english(TXT_SOUND_DEVICE_LOST);
        return n;
    }
    recorded_boxes boxes;
    std::shared_ptr<fake_device_backend> backend = std::make_shared<fake_device_backend>();
    fake_device_backend::state& dev = *backend->s;
};

TEST_F(device_switch, TheChosenOutputTakesTheNextBuffersWithoutARestart) {
    play(3);
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.played_on("") == 3; }));
    choose_audio_devices("Mic B", "USB Headset");
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.output_now() == "USB Headset"; }));
    play(4);
    EXPECT_TRUE(testsupport::wait_until([&] { return dev.played_on("USB Headset") == 4; }));
    std::lock_guard<std::mutex> lk(dev.m);
    ASSERT_EQ(dev.switches.size(), 1u);
    EXPECT_EQ(dev.switches[0], std::make_pair(std::string("Mic B"), std::string("USB Headset")));
    EXPECT_EQ(dev.input, "Mic B");
}

TEST_F(device_switch, AnUnpluggedOutputGivesWayToTheDefaultThenToSilenceToldOnce) {
    choose_audio_devices("", "USB Headset");
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.output_now() == "USB Headset"; }));
    play(2);
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.played_on("USB Headset") == 2; }));

    // The card goes mid-call: what it kept and what follows play on the default device.
    dev.unplug("USB Headset");
    play(5);
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.played_on("") == 5; }))
        << dev.played_on("") << " buffers on the default device";
    EXPECT_EQ(lost_boxes(), 1u);

    // The default device goes too: the call goes on without sound, and nobody is told again.
    dev.unplug("");
    play(6);
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.dropped_count() == 6; }))
        << dev.dropped_count() << " buffers dropped";
    play(2);
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.dropped_count() == 8; }));
    EXPECT_EQ(lost_boxes(), 1u);
    EXPECT_EQ(boxes.shown().size(), 1u);
    // Every buffer came back to its player: none waits on the dead devices.
    CPlaySound* p = g_play_sound_threads[0].load();
    EXPECT_TRUE(
        testsupport::wait_until([&] { return p->m_finished.load() == p->m_written.load(); }));
}

TEST_F(device_switch, CardsThatComeAndGoAreLookedForAgainThenTheObserverHears) {
    std::atomic<int> told{0};
    set_devices_changed_observer([&] { told++; });
    choose_audio_devices("", "USB Headset");
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.output_now() == "USB Headset"; }));
    auto switches = [&] {
        std::lock_guard<std::mutex> lk(dev.m);
        return dev.switches.size();
    };
    // No call: the devices are looked for anew at once.
    audio_devices_changed();
    ASSERT_TRUE(testsupport::wait_until([&] { return told.load() == 1; }));
    EXPECT_EQ(switches(), 2u);

    // The headset goes mid-call and comes back: the call returns to it.
    dev.unplug("USB Headset");
    play(1);
    ASSERT_TRUE(testsupport::wait_until([&] { return dev.output_now() == ""; }));
    {
        std::lock_guard<std::mutex> lk(dev.m);
        dev.unplugged.clear();
    }
    audio_devices_changed();
    ASSERT_TRUE(testsupport::wait_until([&] { return told.load() == 2; }));
    EXPECT_EQ(dev.output_now(), "USB Headset");
    play(2);
    EXPECT_TRUE(testsupport::wait_until([&] { return dev.played_on("USB Headset") == 2; }));
    EXPECT_EQ(lost_boxes(), 1u);
    set_devices_changed_observer(nullptr);
}

}  // namespace
