#include "media/codec/frame_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "media/codec/colour_convert.h"
#include "media/codec/deflate_stream.h"
#include "media/codec/frame_record.h"
#include "media/codec/picture_block.h"
#include "tests/media/codec/reference_codec.h"
#include "tests/media/codec/test_inputs.h"

namespace {

TEST(ColourConvert, DocumentedPixels) {
    const uint8_t rgb[] = {0, 0, 0, 255, 255, 255, 255, 0, 0};
    int8_t y[3], u[3], v[3];
    ASSERT_EQ(0, convert_rgb_to_yuv(rgb, 3, y, u, v));
    EXPECT_EQ((std::vector<int>{-128, 127, -52}), (std::vector<int>{y[0], y[1], y[2]}));
    EXPECT_EQ((std::vector<int>{0, 0, -44}), (std::vector<int>{u[0], u[1], u[2]}));
    EXPECT_EQ((std::vector<int>{0, 0, 127}), (std::vector<int>{v[0], v[1], v[2]}));

    uint8_t back[9];
    ASSERT_EQ(0, convert_yuv_to_rgb(y, u, v, 3, back));
    EXPECT_EQ(0, back[0]);
    EXPECT_EQ(255, back[3]);
    // Red: 76 + 1.402 * 127 = 254.05 -> 254; 76 + 0.34414*44 - 0.71417*127 = -5.56 -> 0;
    // 76 - 1.772 * 44 = -1.97 -> truncated to -1, limited to 0.
    EXPECT_EQ(254, back[6]);
    EXPECT_EQ(0, back[7]);
    EXPECT_EQ(0, back[8]);
    EXPECT_EQ(-1, convert_rgb_to_yuv(nullptr, 1, y, u, v));
    EXPECT_EQ(-1, convert_yuv_to_rgb(y, u, v, -1, back));
}

TEST(ColourConvert, EveryValueMatchesTheFormulas) {
    // Every 24-bit colour forwards, on the AVX2 and the baseline path where both exist, with
    // counts that leave a remainder for the pixel-by-pixel tail; every (y, u, v) triple backwards.
    const bool avx2_default = picture_avx2_active();
    std::vector<uint8_t> rgb(256 * 256 * 3);
    std::vector<int8_t> y(256 * 256), u(y.size()), v(y.size());
    std::vector<int8_t> ry(y.size()), ru(y.size()), rv(y.size());
    for (int b0 = 0; b0 < 256; ++b0) {
        for (int i = 0; i < 256 * 256; ++i) {
            rgb[3 * i] = static_cast<uint8_t>(b0);
            rgb[3 * i + 1] = static_cast<uint8_t>(i >> 8);
            rgb[3 * i + 2] = static_cast<uint8_t>(i);
        }
        ref::rgb_to_yuv(rgb.data(), 256 * 256, ry.data(), ru.data(), rv.data());
        for (const bool avx2 : {true, false}) {
            if (!picture_avx2_enable(avx2)) continue;
            // Pixels past the count must stay untouched.
            const int count = 256 * 256 - b0 % 17;
            std::fill(y.begin(), y.end(), int8_t{5});
            std::fill(u.begin(), u.end(), int8_t{5});
            std::fill(v.begin(), v.end(), int8_t{5});
            convert_rgb_to_yuv(rgb.data(), count, y.data(), u.data(), v.data());
            for (int i = 0; i < 256 * 256; ++i) {
                const bool in = i < count;
                ASSERT_EQ(in ? ry[i] : 5, y[i]) << b0 << " " << i << " avx2 " << avx2;
                ASSERT_EQ(in ? ru[i] : 5, u[i]) << b0 << " " << i << " avx2 " << avx2;
                ASSERT_EQ(in ? rv[i] : 5, v[i]) << b0 << " " << i << " avx2 " << avx2;
            }
        }
        picture_avx2_enable(avx2_default);

        for (int i = 0; i < 256 * 256; ++i) {
            y[i] = static_cast<int8_t>(b0 - 128);
            u[i] = static_cast<int8_t>((i >> 8) - 128);
            v[i] = static_cast<int8_t>((i & 0xFF) - 128);
        }
        std::vector<uint8_t> out(rgb.size()), ref_out(rgb.size());
        ref::yuv_to_rgb(y.data(), u.data(), v.data(), 256 * 256, ref_out.data());
        for (const bool avx2 : {true, false}) {
            if (!picture_avx2_enable(avx2)) continue;
            const int count = 256 * 256 - b0 % 17;
            std::fill(out.begin(), out.end(), uint8_t{5});
            convert_yuv_to_rgb(y.data(), u.data(), v.data(), count, out.data());
            for (size_t i = 0; i < out.size(); ++i)
                ASSERT_EQ(i < 3u * count ? ref_out[i] : 5, out[i])
                    << b0 << " " << i << " avx2 " << avx2;
        }
        picture_avx2_enable(avx2_default);
    }
}

TEST(DeflateStream, ZlibReadsWhatIsWritten) {
    testdata::rng random(3);
    for (const int size : {0, 1, 100, 5000, 300000}) {
        std::vector<uint8_t> data(static_cast<size_t>(size));
        for (auto& b : data) b = static_cast<uint8_t>(random.below(size % 2 ? 256 : 3));
        std::vector<uint8_t> z(data.size() + data.size() / 100 + 64);
        int zlen = 0;
        ASSERT_EQ(0,
                  deflate_stream(data.data(), size, z.data(), static_cast<int>(z.size()), &zlen));
        std::vector<uint8_t> back(data.size() + 1);
        int n = -1;
        ASSERT_EQ(0,
                  inflate_stream(z.data(), zlen, back.data(), static_cast<int>(back.size()), &n));
        back.resize(static_cast<size_t>(n));
        EXPECT_EQ(data, back);
        // zlib itself reads the stream (other clients inflate with its uncompress).
        std::vector<uint8_t> by_zlib(data.size() + 1);
        uLongf zn = static_cast<uLongf>(by_zlib.size());
        ASSERT_EQ(Z_OK, uncompress(by_zlib.data(), &zn, z.data(), static_cast<uLong>(zlen)));
        by_zlib.resize(zn);
        EXPECT_EQ(data, by_zlib);
        // One byte too little room: refused, not cut.
        if (size > 1) {
            EXPECT_EQ(-1, inflate_stream(z.data(), zlen, back.data(), size - 1, &n));
        }
    }
    // A result that does not fit is refused rather than cut.
    std::vector<uint8_t> noise(4000);
    for (auto& b : noise) b = static_cast<uint8_t>(random.below(256));
    std::vector<uint8_t> small(1000);
    int len = 0;
    EXPECT_EQ(-1, deflate_stream(noise.data(), 4000, small.data(), 1000, &len));
}

// A record with six recognisable streams.
std::vector<uint8_t> sample_record(int type, int size_index) {
    const std::vector<uint8_t> data[kFrameStreams] = {{1}, {2, 2}, {3, 3, 3}, {4}, {5, 5}, {6}};
    const uint8_t* streams[kFrameStreams];
    int lengths[kFrameStreams];
    for (int s = 0; s < kFrameStreams; ++s) {
        streams[s] = data[s].data();
        lengths[s] = static_cast<int>(data[s].size());
    }
    std::vector<uint8_t> record(200);
    const int n = build_frame_record(type, 70, size_index, streams, lengths, record.data(), 200);
    EXPECT_EQ(52 + 10, n);
    record.resize(static_cast<size_t>(n));
    return record;
}

TEST(FrameRecord, HeaderIsThirteenLittleEndianIntegers) {
    const std::vector<uint8_t> record = sample_record(1, 2);
    const uint8_t header[52] = {1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 70, 0,
                                0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0,  0};
    EXPECT_EQ(0, std::memcmp(header, record.data(), 52));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 2, 3, 3, 3, 4, 5, 5, 6}),
              std::vector<uint8_t>(record.begin() + 52, record.end()));

    frame_record_view view;
    ASSERT_EQ(0, parse_frame_record(record.data(), static_cast<int>(record.size()), &view));
    EXPECT_EQ(1, view.type);
    EXPECT_EQ(70, view.quality);
    EXPECT_EQ(640, view.width);
    EXPECT_EQ(480, view.height);
    for (int s = 0; s < kFrameStreams; ++s) {
        EXPECT_EQ(s + 1, view.stream[s][0]) << s;
        EXPECT_EQ(s + 1, view.stream[s][view.length[s] - 1]) << s;
    }
    // Size index 1 is 320x240; any other index is 160x120.
    const std::pair<int, int> sizes[] = {{1, 320}, {0, 160}, {7, 160}, {-1, 160}};
    for (const auto& [index, width] : sizes) {
        const std::vector<uint8_t> r = sample_record(0, index);
        ASSERT_EQ(0, parse_frame_record(r.data(), static_cast<int>(r.size()), &view));
        EXPECT_EQ(width, view.width) << index;
        EXPECT_EQ(width * 3 / 4, view.height) << index;
    }
}

TEST(FrameRecord, ImplausibleRecordsAreDropped) {
    const std::vector<uint8_t> good = sample_record(0, 0);
    frame_record_view view;
    const int n = static_cast<int>(good.size());
    EXPECT_EQ(-1, parse_frame_record(good.data(), n - 1, &view));  // fewer bytes than promised
    EXPECT_EQ(-1, parse_frame_record(good.data(), 51, &view));
    EXPECT_EQ(0, parse_frame_record(good.data(), n, &view));
    const auto patched = [&](int index, int32_t value) {
        std::vector<uint8_t> r = good;
        std::memcpy(&r[4 * static_cast<size_t>(index)], &value, 4);
        return parse_frame_record(r.data(), n, &view);
    };
    EXPECT_EQ(-1, patched(0, 2));           // unknown frame type
    EXPECT_EQ(-1, patched(1, -1));          // negative length
    EXPECT_EQ(-1, patched(7, 0));           // empty stream
    EXPECT_EQ(-1, patched(3, 0x7FFFFFFF));  // lengths that overflow when added
    EXPECT_EQ(-1, patched(8, 199990));      // beyond the record limit

    // Building refuses records above 200000 bytes.
    std::vector<uint8_t> big(100000);
    const uint8_t* streams[kFrameStreams] = {big.data(), big.data(), big.data(),
                                             big.data(), big.data(), big.data()};
    const int lengths[kFrameStreams] = {100000, 99948, 0, 0, 0, 0};
    std::vector<uint8_t> out(300000);
    EXPECT_EQ(200000, build_frame_record(1, 70, 0, streams, lengths, out.data(), 300000));
    const int too_long[kFrameStreams] = {100000, 99949, 0, 0, 0, 0};
    EXPECT_EQ(-1, build_frame_record(1, 70, 0, streams, too_long, out.data(), 300000));
    EXPECT_EQ(-1, build_frame_record(1, 70, 0, streams, lengths, out.data(), 199999));
}

struct codec_pair {
    std::unique_ptr<frame_encoder> encoder = std::make_unique<frame_encoder>();
    std::unique_ptr<frame_decoder> decoder = std::make_unique<frame_decoder>();
    std::vector<uint8_t> record = std::vector<uint8_t>(codec::kFrameRecordMaxBytes);

    // Encodes a frame, sends the stored frame of that type, decodes it; returns the type.
    int step(const std::vector<uint8_t>& rgb, int size_index, int quality) {
        const int type = encode_video_frame(encoder.get(), rgb.data(), size_index, quality);
        if (type < 0) return type;
        const deflated_frame& f = type ? *encoder->key_frame : *encoder->difference_frame;
        const int n = build_frame_record_from(f, record.data(), static_cast<int>(record.size()));
        EXPECT_GT(n, 52);
        EXPECT_EQ(type, decode_video_frame(decoder.get(), record.data(), n));
        return type;
    }
};

TEST(FrameCodec, StaticSceneSendsEmptyDifferencesThenAKeyFrame) {
    codec_pair pair;
    const std::vector<uint8_t> rgb = testdata::scene_rgb(160, 120, 0);
    EXPECT_EQ(1, pair.step(rgb, 0, 70));
    const std::vector<uint8_t> first(pair.decoder->rgb, pair.decoder->rgb + rgb.size());
    for (int n = 0; n < 21; ++n) {
        ASSERT_EQ(0, pair.step(rgb, 0, 70)) << n;
        uint8_t raw[16];
        int len = -1;
        ASSERT_EQ(
            0, inflate_stream(pair.encoder->difference_frame->y_coefficients,
                              pair.encoder->difference_frame->length[0], raw, sizeof(raw), &len));
        EXPECT_EQ(0, len);
        EXPECT_EQ(0, std::memcmp(first.data(), pair.decoder->rgb, first.size()));
    }
    EXPECT_EQ(1, pair.step(rgb, 0, 70));
}

TEST(FrameCodec, MovingSceneDecodesLikeTheLiteralPipeline) {
    codec_pair pair;
    const ref::tables r = ref::make_tables(80);
    std::vector<std::vector<int8_t>> reference(3), planes(3);
    int keys = 0, differences = 0;
    for (int frame = 0; frame < 30; ++frame) {
        const std::vector<uint8_t> rgb = testdata::scene_rgb(320, 240, frame);
        const int type = pair.step(rgb, 1, 80);
        ASSERT_GE(type, 0);
        (type ? keys : differences)++;
        // Decode the same frame with the literal pipeline from the raw streams.
        const deflated_frame& f = type ? *pair.encoder->key_frame : *pair.encoder->difference_frame;
        for (int p = 0; p < 3; ++p) {
            ref::streams s;
            s.coefficients.resize(codec::kMaxCoefficientStream);
            s.overflow.resize(codec::kMaxOverflowStream);
            int cl = 0, ol = 0;
            ASSERT_EQ(0, inflate_stream(f.stream(2 * p), f.length[2 * p], s.coefficients.data(),
                                        codec::kMaxCoefficientStream, &cl));
            ASSERT_EQ(0, inflate_stream(f.stream(2 * p + 1), f.length[2 * p + 1], s.overflow.data(),
                                        codec::kMaxOverflowStream, &ol));
            s.coefficients.resize(static_cast<size_t>(cl));
            s.overflow.resize(static_cast<size_t>(ol));
            planes[p].assign(320 * 240, 0);
            if (type) {
                ref::decode_key_plane(r, s, 320, 240, p > 0, planes[p].data());
                reference[p] = planes[p];
            } else {
                planes[p] = reference[p];
                ref::decode_difference_plane(r, s, 320, 240, p > 0, planes[p].data());
            }
        }
        std::vector<uint8_t> expected(rgb.size());
        ref::yuv_to_rgb(planes[0].data(), planes[1].data(), planes[2].data(), 320 * 240,
                        expected.data());
        ASSERT_EQ(0, std::memcmp(expected.data(), pair.decoder->rgb, expected.size())) << frame;
        EXPECT_GT(testdata::psnr(rgb.data(), pair.decoder->rgb, rgb.size()), 28.0) << frame;
    }
    EXPECT_GE(keys, 2);
    EXPECT_GE(differences, 10);
}

// Difference frames reuse the key frame's coding for unchanged blocks; the streams must still be
// those of coding every block: static, moving, a quality change after the key frame, and a
// frame that turns into a key frame after part of it was taken from the key frame. At 320x240
// the chroma planes go through the encoder's helper thread, unless it is switched off.
void check_streams_against_literal_coder(int size_index, bool helper);

TEST(FrameCodec, StreamsEqualTheLiteralCoderWhateverBlocksAreReused) {
    for (const auto& [size_index, helper] : {std::pair{0, true}, std::pair{1, true},
                                              std::pair{1, false}}) {
        SCOPED_TRACE(testing::Message() << "size " << size_index << " helper " << helper);
        check_streams_against_literal_coder(size_index, helper);
    }
}

void check_streams_against_literal_coder(int size_index, bool helper) {
    auto e = std::make_unique<frame_encoder>();
    e->use_helper_thread = helper;
    int w = 0, h = 0;
    video_size_of_index(size_index, &w, &h);
    std::vector<std::vector<int8_t>> store(3);
    std::vector<uint8_t> half_changed = testdata::scene_rgb(w, h, 0);
    for (size_t i = 0; i < half_changed.size() * 6 / 10; ++i)
        half_changed[i] = static_cast<uint8_t>(255 - half_changed[i]);
    // Mostly flat grey (all coefficients zero at any quality) with a textured band, so that a
    // quality change alters fewer blocks than a key frame takes.
    std::vector<uint8_t> banded = testdata::scene_rgb(w, h, 0);
    std::fill(banded.begin(), banded.begin() + static_cast<long>(banded.size() * 8 / 10), 128);
    // The banded picture with a black patch: after a key frame of it, the patch of banded must
    // not be taken from the samples of an older key frame.
    std::vector<uint8_t> patched = banded;
    std::fill(patched.begin(), patched.begin() + static_cast<long>(patched.size() / 10), 0);
    const struct {
        std::vector<uint8_t> rgb;
        int quality;
        int type;  // -1: either
        bool force_key = false;
    } steps[] = {{testdata::scene_rgb(w, h, 0), 70, 1},
                 {testdata::scene_rgb(w, h, 0), 70, 0},
                 {testdata::scene_rgb(w, h, 5), 70, 0},
                 {testdata::scene_rgb(w, h, 6), 80, -1},
                 {testdata::scene_rgb(w, h, 0), 70, -1},
                 {testdata::scene_rgb(w, h, 1), 70, -1},
                 {half_changed, 70, 1},
                 {half_changed, 70, 0},
                 {banded, 70, 1},
                 {banded, 80, 0},
                 {patched, 70, 1, true},
                 {banded, 70, 0}};
    int n = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(n++);
        if (step.force_key) e->difference_counter = codec::kMaxDifferenceFrames + 1;
        const int type = encode_video_frame(e.get(), step.rgb.data(), size_index, step.quality);
        ASSERT_GE(type, 0);
        if (step.type >= 0) {
            EXPECT_EQ(step.type, type);
        }
        const deflated_frame& f = type ? *e->key_frame : *e->difference_frame;
        const ref::tables t = ref::make_tables(step.quality);
        for (int p = 0; p < 3; ++p) {
            int percent = 0;
            const ref::streams expected =
                type ? ref::encode_key_plane(t, e->planes[p], w, h, p > 0, &store[p])
                     : ref::encode_difference_plane(t, e->planes[p], w, h, store[p], 3, p > 0,
                                                    &percent);
            std::vector<uint8_t> c(codec::kMaxCoefficientStream), o(codec::kMaxOverflowStream);
            int cl = 0, ol = 0;
            ASSERT_EQ(0, inflate_stream(f.stream(2 * p), f.length[2 * p], c.data(),
                                        static_cast<int>(c.size()), &cl));
            ASSERT_EQ(0, inflate_stream(f.stream(2 * p + 1), f.length[2 * p + 1], o.data(),
                                        static_cast<int>(o.size()), &ol));
            c.resize(static_cast<size_t>(cl));
            o.resize(static_cast<size_t>(ol));
            EXPECT_EQ(expected.coefficients, c) << "plane " << p;
            EXPECT_EQ(expected.overflow, o) << "plane " << p;
            // And the very bytes sent: those of deflating the literal streams (the encoder keeps
            // the deflated all-zero overflow stream instead of deflating it again).
            const std::vector<uint8_t>* raw[2] = {&expected.coefficients, &expected.overflow};
            for (int k = 0; k < 2; ++k) {
                std::vector<uint8_t> sent(static_cast<size_t>(deflated_frame::capacity(2 * p + k)));
                int sent_length = 0;
                ASSERT_EQ(0, deflate_stream(raw[k]->data(), static_cast<int>(raw[k]->size()),
                                            sent.data(), static_cast<int>(sent.size()),
                                            &sent_length));
                sent.resize(static_cast<size_t>(sent_length));
                EXPECT_EQ(sent, std::vector<uint8_t>(f.stream(2 * p + k),
                                                     f.stream(2 * p + k) + f.length[2 * p + k]))
                    << "stream " << 2 * p + k;
            }
        }
    }
}

TEST(FrameCodec, SizeChangeForcesAKeyFrame) {
    codec_pair pair;
    EXPECT_EQ(1, pair.step(testdata::scene_rgb(160, 120, 0), 0, 70));
    EXPECT_EQ(0, pair.step(testdata::scene_rgb(160, 120, 1), 0, 70));
    EXPECT_EQ(1, pair.step(testdata::scene_rgb(640, 480, 2), 2, 70));
    EXPECT_EQ(640, pair.decoder->width);
    EXPECT_EQ(0, pair.step(testdata::scene_rgb(640, 480, 3), 2, 70));
    // The stored frames carry the settings they were coded with.
    EXPECT_EQ(2, pair.encoder->key_frame->size_index);
    EXPECT_EQ(70, pair.encoder->difference_frame->quality);
}

TEST(FrameCodec, DamagedRecordsLeaveTheDecoderUntouched) {
    codec_pair pair;
    const std::vector<uint8_t> rgb = testdata::scene_rgb(160, 120, 0);
    // A difference frame before any key frame is dropped.
    encode_video_frame(pair.encoder.get(), rgb.data(), 0, 70);
    encode_video_frame(pair.encoder.get(), testdata::scene_rgb(160, 120, 1).data(), 0, 70);
    const int n = build_frame_record_from(*pair.encoder->difference_frame, pair.record.data(),
                                          static_cast<int>(pair.record.size()));
    EXPECT_EQ(-1, decode_video_frame(pair.decoder.get(), pair.record.data(), n));

    const int key_length = build_frame_record_from(*pair.encoder->key_frame, pair.record.data(),
                                                   static_cast<int>(pair.record.size()));
    EXPECT_EQ(1, decode_video_frame(pair.decoder.get(), pair.record.data(), key_length));
    const std::vector<uint8_t> shown(pair.decoder->rgb, pair.decoder->rgb + rgb.size());
    std::vector<uint8_t> damaged(pair.record.begin(), pair.record.begin() + key_length);
    EXPECT_EQ(-1, decode_video_frame(pair.decoder.get(), damaged.data(), key_length - 1));
    damaged[key_length - 3] ^= 0xFF;  // the V overflow stream's checksum
    EXPECT_EQ(-1, decode_video_frame(pair.decoder.get(), damaged.data(), key_length));
    EXPECT_EQ(0, std::memcmp(shown.data(), pair.decoder->rgb, shown.size()));
    // A record claiming 640x480 with 160x120 streams decodes what is there and stays in bounds.
    damaged = std::vector<uint8_t>(pair.record.begin(), pair.record.begin() + key_length);
    damaged[20] = 2;
    EXPECT_EQ(1, decode_video_frame(pair.decoder.get(), damaged.data(), key_length));
    EXPECT_EQ(640, pair.decoder->width);
}
}  // namespace
