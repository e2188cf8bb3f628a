// Cutting a byte stream into messages, and recovering from damaged input.
#include <gtest/gtest.h>

#include "server/core.h"
#include "server/frame_reader.h"
#include "tests/server/test_client.h"

namespace srvtest {
namespace {

using R = srv::FrameReader::Result;

TEST(FrameReader, MessagesArriveWhateverTheChunking) {
    std::string stream =
        RawClient::frame(1000) + RawClient::frame(130, "a@b:pw") + RawClient::frame(360, f10(1), 5);
    for (size_t chunk : {1u, 3u, 20u, 21u, 1000u}) {
        srv::FrameReader r;
        std::vector<std::pair<int, std::string>> got;
        msg_header h;
        std::string body;
        for (size_t pos = 0; pos < stream.size(); pos += chunk) {
            r.feed(stream.data() + pos, std::min(chunk, stream.size() - pos));
            R res;
            while ((res = r.next(&h, &body)) == R::kMessage) got.emplace_back(h.command, body);
            EXPECT_EQ(res, R::kNeedMore);
        }
        ASSERT_EQ(got.size(), 3u) << "chunk " << chunk;
        EXPECT_EQ(got[0], std::make_pair(1000, std::string()));
        EXPECT_EQ(got[1], std::make_pair(130, std::string("a@b:pw")));
        EXPECT_EQ(got[2].second, f10(1));
        EXPECT_EQ(r.buffered(), 0u);
    }
}

TEST(FrameReader, DamagedHeadersAreSkipped) {
    srv::FrameReader r;
    msg_header h;
    std::string body;
    // A header whose character 9 is not ':' is dropped as a whole when a good one follows.
    std::string s = std::string("   0:   0 1000:   0:") + RawClient::frame(361, "7");
    r.feed(s.data(), s.size());
    EXPECT_EQ(r.next(&h, &body), R::kFormatError);
    EXPECT_EQ(r.error_pos(), 9);
    EXPECT_EQ(r.next(&h, &body), R::kMessage);
    EXPECT_EQ(h.command, 361);
    EXPECT_EQ(body, "7");

    // Stray bytes in front of a header: the reader finds the header again.
    srv::FrameReader shifted;
    std::string t = "xyz" + RawClient::frame(185, f10(42)) + RawClient::frame(1000);
    shifted.feed(t.data(), t.size());
    R res;
    while ((res = shifted.next(&h, &body)) == R::kFormatError) {
    }
    ASSERT_EQ(res, R::kMessage);
    EXPECT_EQ(h.command, 185);
    EXPECT_EQ(body, f10(42));
    EXPECT_EQ(shifted.next(&h, &body), R::kMessage);
    EXPECT_EQ(h.command, 1000);
}

TEST(FrameReader, BadLengthsKeepTheStreamInStep) {
    srv::FrameReader r;
    msg_header h;
    std::string body;
    std::string s = "   0:   0: 360:  -5:";
    char big[21];
    build_header(big, 0, 0, 260, 9000);
    s += std::string(big, 20) + std::string(9000, 'q') + RawClient::frame(1000);
    r.feed(s.data(), s.size());
    EXPECT_EQ(r.next(&h, &body), R::kBadLength);
    EXPECT_EQ(h.len, -5);
    EXPECT_EQ(r.next(&h, &body), R::kOversized);
    EXPECT_EQ(h.len, 9000);
    EXPECT_EQ(r.next(&h, &body), R::kMessage);
    EXPECT_EQ(h.command, 1000);
}

TEST(FrameReader, EndlessGarbageIsFatal) {
    srv::FrameReader r;
    msg_header h;
    std::string body;
    std::string junk(4096, '#');
    R res = R::kNeedMore;
    for (int i = 0; i < 40 && res != R::kFatal; i++) {
        r.feed(junk.data(), junk.size());
        while ((res = r.next(&h, &body)) == R::kFormatError) {
        }
    }
    EXPECT_EQ(res, R::kFatal);
    EXPECT_LT(r.buffered(), 8192u);  // garbage is not hoarded
}

TEST(BodyParsing, FixedWidthNumbers) {
    int v = 0;
    EXPECT_TRUE(srv::parse_int("     10001", &v));
    EXPECT_EQ(v, 10001);
    EXPECT_TRUE(srv::parse_int("-3", &v));
    EXPECT_EQ(v, -3);
    EXPECT_FALSE(srv::parse_int("", &v));
    EXPECT_FALSE(srv::parse_int("   ", &v));
    EXPECT_FALSE(srv::parse_int("12a", &v));
    EXPECT_FALSE(srv::parse_int("99999999999", &v));
    EXPECT_TRUE(srv::parse_field("     12345:     678", 11, 10, &v));
    EXPECT_EQ(v, 678);
    EXPECT_FALSE(srv::parse_field("short", 11, 10, &v));
}

}  // namespace
}  // namespace srvtest
