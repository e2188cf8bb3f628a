// The sound queue's pacing rules, driven with explicit ticks and fake players.
#include "media/audio/sound_queue.h"

#include "tests/media/audio/audio_test_support.h"

namespace {
using namespace audiotest;
using sound_queue = sound_fixture;

TEST_F(sound_queue, NewSpeakerStartsAfterTheFourthBufferThenOnePerCompletion) {
    fake_player& p = *players[0];
    uint32_t t = 1000;
    for (int i = 0; i < 3; i++, t += 120) {
        sound_add_to_queue_at(0, buffer_of(static_cast<uint8_t>(i)), t);
        sound_master_pass(t);
    }
    EXPECT_TRUE(p.got.empty()) << "three buffers are not enough at depth 2";
    sound_add_to_queue_at(0, buffer_of(3), t);
    EXPECT_EQ(sound_pacing(0).queued, 3);  // the newest is not counted
    sound_master_pass(t);
    ASSERT_EQ(p.got.size(), 1u);
    EXPECT_EQ(p.got[0]->data[0], 0);  // oldest first
    // Busy device: nothing more until it reports back (within 125 ms of the hand-over).
    sound_master_pass(t + 50);
    EXPECT_EQ(p.got.size(), 1u);
    sound_player_buffer_done(0);
    sound_master_pass(t + 60);
    sound_master_pass(t + 61);  // one buffer per player and pass, and only when free
    ASSERT_EQ(p.got.size(), 2u);
    EXPECT_EQ(p.got[1]->data[0], 1);
    EXPECT_EQ(sound_queue_used(), 2);
}

TEST_F(sound_queue, TwoBufferSpeakerPlaysThreeSecondsAfterTheLastArrival) {
    sound_add_to_queue_at(1, buffer_of(7), 5000);
    sound_add_to_queue_at(1, buffer_of(8), 5120);
    sound_master_pass(5120 + 3000);
    EXPECT_TRUE(players[1]->got.empty());
    sound_master_pass(5120 + 3001);
    EXPECT_EQ(players[1]->got.size(), 1u);
}

// The master thread sleeps until the next of these deadlines instead of passing every
// millisecond; a deadline it cannot act on yet is not one.
TEST_F(sound_queue, TheMasterSleepsUntilTheNextThingNoEventAnnounces) {
    using audio::kReadyAfterMs, audio::kRestartAfterMs, audio::kStuckDeviceMs;
    uint32_t wait = 0;
    EXPECT_FALSE(sound_master_deadline(100, &wait)) << "nothing queued, nobody speaking";
    // A speaker that buffered too little plays 3 s after the last arrival.
    sound_add_to_queue_at(1, buffer_of(7), 5000);
    sound_add_to_queue_at(1, buffer_of(8), 5120);
    sound_master_pass(5120);
    ASSERT_TRUE(sound_master_deadline(5120, &wait));
    EXPECT_EQ(wait, kReadyAfterMs + 1);
    sound_master_pass(5120 + wait);
    ASSERT_EQ(players[1]->got.size(), 1u);
    // Now its device is busy with that buffer: the next goes when it reports back, or anyway
    // after 125 ms; the speaker counts as silent 500 ms after the last hand-over.
    const uint32_t t = 5120 + wait;
    ASSERT_TRUE(sound_master_deadline(t + 20, &wait));
    EXPECT_EQ(wait, kStuckDeviceMs + 1 - 20);
    sound_master_pass(t + 20 + wait);
    EXPECT_EQ(players[1]->got.size(), 2u);
    ASSERT_TRUE(sound_master_deadline(t + 200, &wait));
    EXPECT_EQ(wait, kStuckDeviceMs + 1 + kRestartAfterMs + 1 - 200);
}

TEST_F(sound_queue, SilenceNoticePlaysWhatIsQueuedAtOnce) {
    sound_add_to_queue_at(2, buffer_of(1), 100);
    sound_player_silence(2);
    sound_master_pass(101);
    EXPECT_EQ(players[2]->got.size(), 1u);
    EXPECT_EQ(sound_pacing(2).arrival_seen, 0);
}

TEST_F(sound_queue, DepthRisesOnSlowArrivalsAndFallsAfterElevenFastOnes) {
    uint32_t t = 0;
    for (int i = 0; i < 6; i++, t += 500) sound_add_to_queue_at(3, buffer_of(0), t);
    EXPECT_EQ(sound_pacing(3).depth, 6);  // five gaps of 500 ms: 2 -> 6, capped
    t -= 500;
    for (int i = 0; i < 10; i++) sound_add_to_queue_at(3, buffer_of(0), t += 100);
    EXPECT_EQ(sound_pacing(3).depth, 6);
    sound_add_to_queue_at(3, buffer_of(0), t += 100);
    EXPECT_EQ(sound_pacing(3).depth, 5);
    EXPECT_EQ(sound_pacing(3).fast_count, 0);
    // A gap between 350 and 450 ms only resets the count.
    sound_add_to_queue_at(3, buffer_of(0), t += 400);
    EXPECT_EQ(sound_pacing(3).depth, 5);
}

TEST_F(sound_queue, TheEightyFirstBufferIsDroppedWithItsLogLines) {
    for (int i = 0; i < audio::kQueueEntries; i++) sound_add_to_queue_at(i % 10, buffer_of(0), 10);
    EXPECT_EQ(sound_queue_used(), 80);
    EXPECT_EQ(log_text().find("sound queue full"), std::string::npos);
    sound_add_to_queue_at(4, buffer_of(0), 11);  // freed by the queue (the leak checker watches)
    EXPECT_EQ(sound_queue_used(), 80);
    std::string log = log_text();
    EXPECT_NE(log.find("sound queue full in sound_add_to_queue.\n"), std::string::npos);
    EXPECT_NE(log.find("q:79, used:1, index:9, lpHdr:"), std::string::npos);
    // The entry dump comes with the 1st, 11th, 21st ... overflow only.
    sound_add_to_queue_at(4, buffer_of(0), 12);
    std::string again = log_text();
    size_t first = again.find("q:0, used:1");
    EXPECT_EQ(again.find("q:0, used:1", first + 1), std::string::npos);
}

TEST_F(sound_queue, EleventhSpeakerWaitsForThreeSecondsOfSilenceOnOnePlayer) {
    for (int peer = 1; peer <= 10; peer++)
        EXPECT_EQ(get_play_sound_slot_at(100 + peer, 0), peer - 1);
    EXPECT_EQ(get_play_sound_slot_at(105, 10), 4);  // a known speaker keeps its player
    EXPECT_EQ(get_play_sound_slot_at(111, 1000), -1);
    for (int peer = 2; peer <= 10; peer++) get_play_sound_slot_at(100 + peer, 2000);
    EXPECT_EQ(get_play_sound_slot_at(111, 3000), -1);
    EXPECT_EQ(get_play_sound_slot_at(111, 3001), 0);  // peer 101 silent for more than 3 s
    EXPECT_EQ(play_slot_peer(0), 111);
    // A player whose device did not open is never chosen.
    rest_one_play_sound(3);
    players[3]->open = false;
    EXPECT_EQ(get_play_sound_slot_at(112, 3002), -1);
    rest_one_play_sound(10);
    EXPECT_NE(log_text().find("rest_one_play_sound index:10 out of range 0-9.\n"),
              std::string::npos);
}

TEST_F(sound_queue, AContactTakesTheLeastRecentStrangersPlayerAndKeepsIt) {
    for (int peer = 1; peer <= 10; peer++)
        ASSERT_EQ(get_play_sound_slot_at(900 + peer, peer, false), peer - 1);
    sound_add_to_queue_at(2, buffer_of(7, 903), 20);
    for (int peer = 1; peer <= 10; peer++)
        if (peer != 3) get_play_sound_slot_at(900 + peer, 100, false);
    EXPECT_EQ(get_play_sound_slot_at(911, 100, false), -1) << "a stranger takes no busy player";
    EXPECT_EQ(get_play_sound_slot_at(51, 100, true), 2);
    EXPECT_EQ(sound_queue_used(), 0) << "the stranger's sound is not played as the contact";
    EXPECT_EQ(get_play_sound_slot_at(903, 200, false), -1);
    EXPECT_EQ(play_slot_peer(2), 51);
}

TEST_F(sound_queue, StuckDeviceIsStillFedEvery125Milliseconds) {
    fake_player& p = *players[5];
    uint32_t t = 0;
    for (int i = 0; i < 8; i++)
        sound_add_to_queue_at(5, buffer_of(static_cast<uint8_t>(i)), t += 120);
    std::vector<uint32_t> handed;
    for (uint32_t now = t; now < t + 600; now++) {
        size_t before = p.got.size();
        sound_master_pass(now);
        if (p.got.size() > before) handed.push_back(now);
    }
    ASSERT_GE(handed.size(), 4u);
    for (size_t i = 1; i < handed.size(); i++) EXPECT_EQ(handed[i] - handed[i - 1], 126u);
    for (size_t i = 0; i < p.got.size(); i++) EXPECT_EQ(p.got[i]->data[0], i);  // still in order
}

}  // namespace
