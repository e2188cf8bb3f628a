// The exchange: what the owner answers to a request, how a record is cut into pieces, and how
// the watcher reassembles, checks and decodes it into the session's published picture.
#include <gtest/gtest.h>

#include <cstring>

#include "media/codec/frame_record.h"
#include "media/video/video_source.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "tests/media/video/video_test_support.h"

namespace {
using namespace vtest;

constexpr int kOwner = 41;    // the peer that asks us (we own the camera)
constexpr int kWatched = 42;  // the peer whose video we watch

void feed(uint32_t n, int w = 160, int h = 120) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    draw_pattern_frame(n, w, h, rgb.data());
    ASSERT_EQ(0, handle_video_data(rgb.data(), static_cast<int>(rgb.size())));
}

std::string versions_body(int k, int p) {
    char b[32];
    format_versions(b, k, p);
    return b;
}

// The record carried by one reply (the bodies of its 233 messages), checking the framing.
std::string reply_record(const std::vector<sent_command>& sent) {
    std::string record;
    EXPECT_GE(sent.size(), 3u);
    for (size_t i = 0; i < sent.size(); i++) {
        EXPECT_TRUE(sent[i].relay)
            << "command " << sent[i].command << " did not go through the relay";
        int want = i == 0 ? 232 : i + 1 == sent.size() ? 234 : 233;
        EXPECT_EQ(sent[i].command, want);
        if (sent[i].command == 233) record += sent[i].body;
    }
    return record;
}

int deliver(int peer, const std::string& record, int begin_k = 1, int begin_p = 0) {
    std::string begin = versions_body(begin_k, begin_p);
    do_video_reply_begin_from_peer(begin.c_str(), static_cast<int>(begin.size()), peer);
    for (size_t at = 0; at < record.size(); at += 900) {
        std::string piece = record.substr(at, 900);
        do_video_reply_cont_from_peer(piece.data(), static_cast<int>(piece.size()), peer);
    }
    // The end names the owner's versions when it was sent, which may be newer than the frame.
    std::string end = versions_body(begin_k + 1, begin_p + 5);
    return do_video_reply_end_from_peer(end.c_str(), static_cast<int>(end.size()), peer);
}

class VideoExchange : public ::testing::Test {
protected:
    void SetUp() override {
        open_test_log();
        reset_my_video();
        install_recorder();
        chat_session_update(kOwner, [](chat_media_state& m) { m.my_video = 1; });
        chat_session_update(kWatched, [](chat_media_state& m) { m.peer_video = 1; });
    }
    void TearDown() override { remove_recorder(); }
    sessions m_sessions{{kOwner, kWatched}};
};

TEST_F(VideoExchange, TheOwnerAnswersWithWhatTheRequesterLacks) {
    std::string req = versions_body(0, 0);
    EXPECT_EQ(0, do_video_request_from_peer(req.c_str(), 17, kOwner));  // nothing made yet
    EXPECT_TRUE(take_sent().empty());
    feed(0);
    feed(2);
    feed(4);  // versions (1, 2)
    take_sent();

    req = versions_body(1, 2);
    EXPECT_EQ(-1, do_video_request_from_peer(req.c_str(), 17, kOwner));
    EXPECT_TRUE(take_sent().empty());
    EXPECT_NE(log_text().find("minor_version_from_peer==g_my_video_partial_version in "
                              "do_video_request_from_peer, but probably fine.\r\n"),
              std::string::npos);

    req = versions_body(1, 1);
    ASSERT_EQ(0, do_video_request_from_peer(req.c_str(), 17, kOwner));
    auto sent = take_sent();
    std::string diff = reply_record(sent);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front().body, versions_body(1, 2));
    EXPECT_EQ(sent.back().body, versions_body(1, 2));
    frame_record_view view;
    ASSERT_EQ(0, parse_frame_record(reinterpret_cast<const uint8_t*>(diff.data()),
                                    static_cast<int>(diff.size()), &view));
    EXPECT_EQ(view.type, 0);
    EXPECT_EQ(view.quality, 70);

    for (int other : {0, 2}) {
        req = versions_body(other, 2);
        ASSERT_EQ(0, do_video_request_from_peer(req.c_str(), 17, kOwner));
        std::string key = reply_record(take_sent());
        ASSERT_EQ(0, parse_frame_record(reinterpret_cast<const uint8_t*>(key.data()),
                                        static_cast<int>(key.size()), &view));
        EXPECT_EQ(view.type, 1);
    }

    // With my video off for that peer, or no chat entry at all, nothing is sent.
    chat_session_update(kOwner, [](chat_media_state& m) { m.my_video = 0; });
    EXPECT_EQ(0, do_video_request_from_peer(req.c_str(), 17, kOwner));
    EXPECT_EQ(-1, do_video_request_from_peer(req.c_str(), 17, 999));
    EXPECT_TRUE(take_sent().empty());
    EXPECT_NE(log_text().find("could not find peer_dlg in do_video_request_from_peer\r\n"),
              std::string::npos);
}

TEST_F(VideoExchange, ARecordOf1801BytesTravelsAsThreePieces) {
    my_video_store& store = my_video();
    store.mutex.lock();
    deflated_frame& key = *store.encoder->key_frame;
    key.type = 1;
    key.quality = 70;
    key.size_index = 0;
    const int lengths[kFrameStreams] = {1000, 100, 300, 100, 200, 49};  // 52 + 1749 = 1801
    for (int s = 0; s < kFrameStreams; s++) {
        key.length[s] = lengths[s];
        std::memset(key.stream(s), 'a' + s, static_cast<size_t>(lengths[s]));
    }
    store.version = 5;
    store.partial_version = 0;
    store.mutex.unlock();

    std::string req = versions_body(0, 0);
    ASSERT_EQ(0, do_video_request_from_peer(req.c_str(), 17, kOwner));
    auto sent = take_sent();
    ASSERT_EQ(sent.size(), 5u);
    const int want_len[5] = {17, 900, 900, 1, 17};
    for (int i = 0; i < 5; i++) EXPECT_EQ(static_cast<int>(sent[i].body.size()), want_len[i]) << i;
    EXPECT_EQ(sent[0].body, "       5:       0");
    EXPECT_EQ(reply_record(sent).size(), 1801u);
    reset_my_video();
}

TEST_F(VideoExchange, TheWatcherDecodesWholeRecordsAndDropsBrokenOnes) {
    // A key frame and a difference frame made here, sent to ourselves as the watched peer.
    feed(0);
    take_sent();  // the change notice
    std::string req = versions_body(0, 0);
    ASSERT_EQ(0, do_video_request_from_peer(req.c_str(), 17, kOwner));
    std::string key = reply_record(take_sent());
    feed(2);
    take_sent();
    req = versions_body(1, 0);
    ASSERT_EQ(0, do_video_request_from_peer(req.c_str(), 17, kOwner));
    std::string diff = reply_record(take_sent());

    // A header size index of 7 is 160x120.
    std::string odd = key;
    odd[20] = 7;
    ASSERT_EQ(0, deliver(kWatched, odd, 1, 0));
    chat_media_state s;
    ASSERT_TRUE(chat_session_get(kWatched, &s));
    ASSERT_TRUE(s.picture);
    EXPECT_EQ(s.picture->width, 160);
    EXPECT_EQ(s.picture->height, 120);
    EXPECT_EQ(s.peer_key_version, 1);
    EXPECT_EQ(m_sessions.window(kWatched).count(NM_PEER_VIDEO), 1);

    ASSERT_EQ(0, deliver(kWatched, diff, 1, 1));
    ASSERT_TRUE(chat_session_get(kWatched, &s));
    EXPECT_EQ(s.peer_partial_version, 1);
    EXPECT_EQ(s.picture->frame_type, 0);
    const auto shown = s.picture;

    // Lengths promising more than was received: dropped, nothing read past the data.
    EXPECT_EQ(-1, deliver(kWatched, diff.substr(0, diff.size() - 10), 1, 2));
    // Implausible header: an unknown type, a negative length.
    std::string bad = diff;
    bad[0] = 9;
    EXPECT_EQ(-1, deliver(kWatched, bad, 1, 2));
    bad = diff;
    bad[4] = bad[5] = bad[6] = bad[7] = '\xff';
    EXPECT_EQ(-1, deliver(kWatched, bad, 1, 2));
    // A buffer overflow restarts at 0: the frame in progress is dropped, even if its tail parses.
    std::string begin = versions_body(1, 2);
    do_video_reply_begin_from_peer(begin.c_str(), 17, kWatched);
    std::string filler(900, 'x');
    for (int i = 0; i < 1025; i++) do_video_reply_cont_from_peer(filler.data(), 900, kWatched);
    do_video_reply_cont_from_peer(diff.data(), static_cast<int>(diff.size()), kWatched);
    EXPECT_EQ(-1, do_video_reply_end_from_peer(begin.c_str(), 17, kWatched));
    EXPECT_NE(log_text().find("m_peer_video_buf_pos:"), std::string::npos);

    ASSERT_TRUE(chat_session_get(kWatched, &s));
    EXPECT_EQ(s.picture, shown) << "a dropped frame replaced the picture";
    EXPECT_EQ(s.peer_partial_version, 1);
    EXPECT_EQ(m_sessions.window(kWatched).count(NM_PEER_VIDEO), 2);
}

TEST_F(VideoExchange, NoticesAndTheTimerAskForMissingFrames) {
    install_recorder(true);  // no direct connection: the request goes through the relay
    std::string notice = versions_body(3, 4);
    EXPECT_EQ(0, do_video_change_notify_from_peer(notice.c_str(), 17, kWatched));
    auto sent = take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].relay);
    install_recorder(false);
    EXPECT_EQ(0, do_video_change_notify_from_peer(notice.c_str(), 17, kWatched));
    sent = take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(sent[0].relay);
    EXPECT_EQ(sent[0].command, 231);
    EXPECT_EQ(sent[0].body, versions_body(0, 0));
    // Not watching: nothing.
    EXPECT_EQ(0, do_video_change_notify_from_peer(notice.c_str(), 17, kOwner));
    EXPECT_TRUE(take_sent().empty());

    // The timer asks at once when watching starts, then every 2000 ms, through the relay when
    // direct fails.
    install_recorder(true);
    const uint32_t t0 = get_tick_count();
    ASSERT_EQ(0, video_set_peer_video(kWatched, true));
    for (uint32_t at : {t0, t0 + 2500}) {
        peer_video_timer_pass(at);
        sent = take_sent();
        ASSERT_EQ(sent.size(), 1u) << at - t0;
        EXPECT_EQ(sent[0].command, 231);
        EXPECT_TRUE(sent[0].relay);
        peer_video_timer_pass(at + 1000);
        EXPECT_TRUE(take_sent().empty());
    }
    ASSERT_EQ(0, video_set_peer_video(kWatched, false));
    peer_video_timer_pass(t0 + 9000);
    EXPECT_TRUE(take_sent().empty());
}

}  // namespace
