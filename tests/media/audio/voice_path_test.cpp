// Received talk data: what is dropped, and what reaches the player, byte for byte.
#include "media/audio/voice_path.h"

#include <cmath>
#include <string>

#include "media/codec/deflate_stream.h"
#include "media/codec/voice_codec.h"
#include "platform/tick.h"
#include "protocol/chat_session.h"
#include "protocol/tables.h"
#include "tests/media/audio/audio_test_support.h"

namespace {
using namespace audiotest;

constexpr int kPeer = 4242;

// A talk-data body for a tone: the quality field, then the deflated planes.
std::string talk_body(double freq, std::vector<uint8_t>* decoded) {
    uint8_t samples[audio::kBufferBytes];
    for (int i = 0; i < audio::kBufferBytes; i++)
        samples[i] = static_cast<uint8_t>(128 + 90 * std::sin(2 * M_PI * freq * i / 8000.0));
    uint8_t planes[2 * audio::kBufferBytes];
    int length = 0;
    EXPECT_EQ(do_one_dimentional_dct_quality(samples, planes, audio::kBufferBytes, &length, 0), 1);
    uint8_t deflated[8000];
    int n = 0;
    EXPECT_EQ(deflate_stream(planes, length, deflated, sizeof(deflated), &n), 0);
    decoded->assign(audio::kBufferBytes, 0);
    do_one_dimentional_idct_quality(planes, decoded->data(), audio::kBufferBytes, 0);
    return std::string("   0:") +
           std::string(reinterpret_cast<char*>(deflated), static_cast<size_t>(n));
}

class voice_path : public sound_fixture {
protected:
    void SetUp() override {
        sound_fixture::SetUp();
        chat_session_open(kPeer);
    }
    void TearDown() override {
        chat_session_close(kPeer);
        sound_fixture::TearDown();
    }
};

TEST_F(voice_path, BadBodiesAreDroppedWithoutQueueing) {
    std::vector<uint8_t> decoded;
    std::string body = talk_body(440, &decoded);
    int dropped = g_voice_counters.dropped.load();
    EXPECT_EQ(do_talk_data_dct_z_from_sever("   0", 4, kPeer),
              -1);  // shorter than the quality field
    EXPECT_EQ(do_talk_data_dct_z_from_sever(nullptr, 0, kPeer), -1);
    std::string broken = body;
    broken[7] ^= 0x55;  // the deflate stream no longer checks out
    broken.resize(broken.size() - 3);
    EXPECT_EQ(do_talk_data_dct_z_from_sever(broken.data(), static_cast<int>(broken.size()), kPeer),
              -1);
    EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), static_cast<int>(body.size()), kPeer + 1),
              -1)
        << "no chat session with that peer";
    EXPECT_EQ(sound_queue_used(), 0);
    EXPECT_EQ(g_voice_counters.dropped.load() - dropped, 4);
}

TEST_F(voice_path, PeerAudioSwitchDecidesWhetherTheDecodedSoundIsPlayed) {
    std::vector<uint8_t> decoded;
    std::string body = talk_body(300, &decoded);
    chat_session_update(kPeer, [](chat_media_state& s) { s.peer_audio = 0; });
    EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), static_cast<int>(body.size()), kPeer), 0);
    EXPECT_EQ(sound_queue_used(), 0);

    chat_session_update(kPeer, [](chat_media_state& s) { s.peer_audio = 1; });
    EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), static_cast<int>(body.size()), kPeer), 0);
    EXPECT_EQ(sound_queue_used(), 1);
    int player = get_play_sound_slot(kPeer);
    ASSERT_GE(player, 0);
    EXPECT_EQ(do_talk_silence_from_peer(kPeer), 0);  // the utterance ended: play it now
    sound_master_pass(get_tick_count());
    ASSERT_EQ(players[player]->got.size(), 1u);
    EXPECT_EQ(players[player]->got[0]->data, decoded);
    EXPECT_EQ(players[player]->got[0]->peer_id, kPeer);
}

// Made-up ids take no player; strangers the user listens to do, until a contact needs one.
TEST_F(voice_path, PlayersGoToListenedSpeakersAndContactsFirst) {
    std::vector<uint8_t> decoded;
    std::string body = talk_body(500, &decoded);
    const int size = static_cast<int>(body.size());
    for (int id = 7000; id < 7010; id++)
        EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), size, id), -1);
    EXPECT_EQ(do_talk_silence_from_peer(7000), 0);
    chat_session_update(kPeer, [](chat_media_state& s) { s.peer_audio = 0; });
    EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), size, kPeer), 0);
    for (int i = 0; i < audio::kPlayers; i++) EXPECT_EQ(play_slot_peer(i), -1) << i;
    EXPECT_EQ(sound_queue_used(), 0);

    for (int id = 7000; id < 7010; id++) {
        chat_session_open(id);
        EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), size, id), 0);
    }
    chat_session_update(kPeer, [](chat_media_state& s) { s.peer_audio = 1; });
    EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), size, kPeer), -1) << "not a contact";
    add_one_contact(kPeer, 0, "ann");
    EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), size, kPeer), 0);
    EXPECT_EQ(play_slot_peer(0), kPeer);
    EXPECT_EQ(do_talk_data_dct_z_from_sever(body.data(), size, 7000), -1);
    for (int id = 7000; id < 7010; id++) chat_session_close(id);
    clear_all_tables();
}

TEST_F(voice_path, QualityFieldSelectsTheDecodingTable) {
    uint8_t samples[audio::kBufferBytes], planes[2 * audio::kBufferBytes], deflated[8000];
    for (int i = 0; i < audio::kBufferBytes; i++)
        samples[i] = static_cast<uint8_t>((i * 37) & 0xFF);
    int length = 0, n = 0;
    do_one_dimentional_dct_quality(samples, planes, audio::kBufferBytes, &length, 2);
    deflate_stream(planes, length, deflated, sizeof(deflated), &n);
    std::string body = std::string("   2:") +
                       std::string(reinterpret_cast<char*>(deflated), static_cast<size_t>(n));
    std::vector<uint8_t> want(audio::kBufferBytes);
    do_one_dimentional_idct_quality(planes, want.data(), audio::kBufferBytes, 2);
    ASSERT_EQ(do_talk_data_dct_z_from_sever(body.data(), static_cast<int>(body.size()), kPeer), 0);
    do_talk_silence_from_peer(kPeer);
    sound_master_pass(get_tick_count());
    int player = get_play_sound_slot(kPeer);
    ASSERT_EQ(players[player]->got.size(), 1u);
    EXPECT_EQ(players[player]->got[0]->data, want);
}

}  // namespace
