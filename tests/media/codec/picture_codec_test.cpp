#include "media/codec/picture_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "media/codec/colour_convert.h"
#include "media/codec/picture_block.h"
#include "tests/media/codec/reference_codec.h"
#include "tests/media/codec/test_inputs.h"

namespace {
constexpr int kQualities[] = {50, 60, 70, 80, 90, 100};

picture_tables tables_for(int quality) {
    picture_tables t;
    build_picture_tables(quality, &t);
    return t;
}

// Streams held in vectors of exactly their length, so that reading past them is caught.
struct owned_streams {
    std::vector<uint8_t> coefficients;
    std::vector<uint8_t> overflow;
};

struct plane_coder {
    std::unique_ptr<coded_plane> work = std::make_unique<coded_plane>();
    std::vector<uint8_t> coefficients = std::vector<uint8_t>(codec::kMaxCoefficientStream);
    std::vector<uint8_t> overflow = std::vector<uint8_t>(codec::kMaxOverflowStream);

    plane_streams streams() {
        plane_streams s;
        s.coefficients = coefficients.data();
        s.coefficient_capacity = static_cast<int>(coefficients.size());
        s.overflow = overflow.data();
        s.overflow_capacity = static_cast<int>(overflow.size());
        return s;
    }
    static owned_streams own(const plane_streams& s) {
        return {std::vector<uint8_t>(s.coefficients, s.coefficients + s.coefficient_length),
                std::vector<uint8_t>(s.overflow, s.overflow + s.overflow_length)};
    }
    owned_streams key(const picture_tables& t, const std::vector<int8_t>& plane, int w, int h,
                      int chroma, std::vector<int8_t>* reference) {
        reference->resize(plane.size());
        plane_streams s = streams();
        EXPECT_EQ(
            0, encode_key_plane(t, plane.data(), w, h, chroma, reference->data(), &s, work.get()));
        return own(s);
    }
    owned_streams difference(const picture_tables& t, const std::vector<int8_t>& plane, int w,
                             int h, const std::vector<int8_t>& reference, int chroma,
                             int* percent) {
        plane_streams s = streams();
        *percent = encode_difference_plane(t, plane.data(), w, h, reference.data(), 3, chroma, &s,
                                           work.get());
        return own(s);
    }
};

// The three centred planes of a scene frame.
std::vector<std::vector<int8_t>> scene_planes(int w, int h, int frame) {
    const std::vector<uint8_t> rgb = testdata::scene_rgb(w, h, frame);
    std::vector<std::vector<int8_t>> p(3, std::vector<int8_t>(static_cast<size_t>(w) * h));
    convert_rgb_to_yuv(rgb.data(), w * h, p[0].data(), p[1].data(), p[2].data());
    return p;
}

int decode_key(const picture_tables& t, const owned_streams& s, int w, int h, int chroma,
               int8_t* plane) {
    return decode_key_plane(t, s.coefficients.data(), static_cast<int>(s.coefficients.size()),
                            s.overflow.data(), static_cast<int>(s.overflow.size()), w, h, chroma,
                            plane);
}

int decode_difference(const picture_tables& t, const owned_streams& s, int w, int h, int chroma,
                      int8_t* plane) {
    return decode_difference_plane(t, s.coefficients.data(),
                                   static_cast<int>(s.coefficients.size()), s.overflow.data(),
                                   static_cast<int>(s.overflow.size()), w, h, chroma, plane);
}

TEST(PictureTables, QualitySnapsAndScales) {
    const int cases[][3] = {{55, 50, 200}, {120, 100, 20}, {30, 50, 200}, {-7, 50, 200},
                            {49, 50, 200}, {60, 60, 100},  {79, 70, 70},  {80, 80, 50},
                            {99, 90, 35},  {100, 100, 20}};
    for (const auto& c : cases) {
        EXPECT_EQ(c[1], snap_picture_quality(c[0])) << c[0];
        EXPECT_EQ(c[2], picture_scale_percent(c[1])) << c[0];
        EXPECT_EQ(c[1], tables_for(c[0]).quality) << c[0];
    }
    // Quality 55 builds exactly the tables of 50.
    const picture_tables q55 = tables_for(55);
    const picture_tables q50_direct = tables_for(50);
    EXPECT_EQ(0, std::memcmp(q55.scaled, q50_direct.scaled, sizeof(q55.scaled)));
    const picture_tables q50 = tables_for(50);
    EXPECT_EQ(32, q50.scaled[0][0]);    // (16 * 200 + 50) / 100
    EXPECT_EQ(198, q50.scaled[1][63]);  // (99 * 200 + 50) / 100
    const picture_tables q100 = tables_for(100);
    EXPECT_EQ(2, q100.scaled[0][2]);  // (10 * 20 + 50) / 100
    EXPECT_EQ(20, q100.scaled[1][63]);
}

TEST(PictureTables, ZigZagMapsAreInverseAndFactorsMatchTheDefinition) {
    for (int i = 0; i < 64; ++i) EXPECT_EQ(i, kNaturalOfZigZag[kZigZagOfNatural[i]]);
    EXPECT_EQ(35, kZigZagOfNatural[56]);
    EXPECT_EQ(58, kZigZagOfNatural[61]);
    for (const int q : kQualities) {
        const picture_tables t = tables_for(q);
        const ref::tables r = ref::make_tables(q);
        EXPECT_EQ(0, std::memcmp(t.scaled, r.scaled, sizeof(r.scaled))) << q;
        EXPECT_EQ(0, std::memcmp(t.divisors, r.divisors, sizeof(r.divisors))) << q;
        EXPECT_EQ(0, std::memcmp(t.multipliers, r.multipliers, sizeof(r.multipliers))) << q;
    }
}

TEST(PictureBlock, ZeroBlockIsTwoBytes) {
    const picture_tables t = tables_for(70);
    std::vector<int8_t> plane(16 * 8, 0);
    plane_coder coder;
    std::vector<int8_t> reference;
    const owned_streams s = coder.key(t, plane, 16, 8, 0, &reference);
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x81, 0x00, 0x81}), s.coefficients);
    EXPECT_EQ(std::vector<uint8_t>(6, 0), s.overflow);
}

TEST(PictureBlock, LargeLowCoefficientsGoToTheOverflowStream) {
    // At quality 100 the DC divisor is 3 * 8, so a block summing to +-7200 has DC +-300.
    const picture_tables t = tables_for(100);
    int8_t block[64];
    int8_t zigzag[64];
    int8_t overflow[3];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int8_t>(i < 32 ? 113 : 112);
    encode_picture_block(t.divisors[0], block, 8, zigzag, overflow);
    EXPECT_EQ(44, zigzag[0]);
    EXPECT_EQ(2, overflow[0]);
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int8_t>(-block[i]);
    encode_picture_block(t.divisors[0], block, 8, zigzag, overflow);
    EXPECT_EQ(84, zigzag[0]);
    EXPECT_EQ(-3, overflow[0]);
    // Decoding puts the DC back together: a flat block of about -112.5.
    int8_t out[64];
    decode_picture_block(t.multipliers[0], zigzag, overflow, out, 8);
    for (const int8_t v : out) EXPECT_NEAR(-112.5, v, 1.5);
}

TEST(PictureBlock, HigherCoefficientsAreClamped) {
    // A strong vertical cosine of frequency 2 lands on zig-zag position 3 with about +-240.
    const picture_tables t = tables_for(100);
    for (const int sign : {1, -1}) {
        int8_t block[64];
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                block[8 * r + c] = static_cast<int8_t>(
                    std::lround(sign * 127 * std::cos((2 * r + 1) * 2 * M_PI / 16)));
        int8_t zigzag[64];
        int8_t overflow[3];
        encode_picture_block(t.divisors[0], block, 8, zigzag, overflow);
        EXPECT_EQ(sign > 0 ? 127 : -126, zigzag[3]);
    }
}

// A block whose last non-zero coefficient is at position 63 is 64 bytes without a marker; one
// that ends at 62 is bytes 0-62 and the marker, also 64 bytes. Both block paths, both against
// the literal coder, and both decode as the literal decoder does.
TEST(PictureBlock, BlocksEndingAtTheLastTwoPositions) {
    const picture_tables t = tables_for(100);
    const ref::tables r = ref::make_tables(100);
    const bool avx2_default = picture_avx2_active();
    for (const bool avx2 : {true, false}) {
        if (!picture_avx2_enable(avx2)) continue;
        testdata::rng random(5);
        bool seen[2] = {false, false};  // last non-zero at 62, at 63
        for (int attempt = 0; attempt < 5000 && !(seen[0] && seen[1]); ++attempt) {
            std::vector<int8_t> plane(64);
            for (auto& v : plane) v = static_cast<int8_t>(random.range(-128, 127));
            plane_coder coder;
            std::vector<int8_t> reference, ref_reference;
            const owned_streams s = coder.key(t, plane, 8, 8, 0, &reference);
            const int last = reference[63] != 0 ? 63 : (reference[62] != 0 ? 62 : -1);
            if (last < 0) continue;
            seen[last - 62] = true;
            const ref::streams rs = ref::encode_key_plane(r, plane.data(), 8, 8, 0, &ref_reference);
            ASSERT_EQ(rs.coefficients, s.coefficients) << "last " << last << " avx2 " << avx2;
            ASSERT_EQ(64u, s.coefficients.size());
            EXPECT_EQ(last == 62 ? 0x81 : static_cast<uint8_t>(reference[63]), s.coefficients[63]);
            std::vector<int8_t> out(64), expected(64);
            EXPECT_EQ(1, decode_key(t, s, 8, 8, 0, out.data()));
            ref::decode_block(r.multipliers[0], reference.data(),
                              reinterpret_cast<const int8_t*>(s.overflow.data()), expected.data(),
                              8);
            EXPECT_EQ(expected, out);
        }
        EXPECT_TRUE(seen[0] && seen[1]) << "no block ending at 62 or at 63";
    }
    picture_avx2_enable(avx2_default);
}

TEST(PictureBlock, MatchesTheLiteralTransformOnManyBlocks) {
    // Both the AVX2 and the baseline block paths, where this processor has both.
    const bool avx2_default = picture_avx2_active();
    for (const bool avx2 : {true, false}) {
        if (!picture_avx2_enable(avx2)) continue;
        testdata::rng random(11);
        for (const int q : kQualities) {
            const picture_tables t = tables_for(q);
            const ref::tables r = ref::make_tables(q);
            for (int n = 0; n < 4000; ++n) {
                int8_t block[64];
                const int kind = n % 4;
                const int base = random.range(-128, 127);
                for (int i = 0; i < 64; ++i) {
                    int v = 0;
                    if (kind == 0) v = random.range(-128, 127);                       // noise
                    if (kind == 1) v = base + (i % 8) * random.range(-4, 4) + i / 8;  // smooth
                    if (kind == 2) v = (i % 8 < random.range(0, 8)) ? 127 : -128;     // edges
                    if (kind == 3) v = base + random.range(-2, 2);                    // flat
                    block[i] = static_cast<int8_t>(std::clamp(v, -128, 127));
                }
                const int chroma = n & 1;
                int8_t zz[64], zz_ref[64], ovf[3], ovf_ref[3];
                const int len = encode_picture_block(t.divisors[chroma], block, 8, zz, ovf);
                const int len_ref =
                    ref::encode_block(r.divisors[chroma], block, 8, zz_ref, ovf_ref);
                ASSERT_EQ(len_ref, len);
                ASSERT_EQ(0, std::memcmp(zz, zz_ref, 64)) << "quality " << q << " block " << n;
                ASSERT_EQ(0, std::memcmp(ovf, ovf_ref, 3));

                // Decode the coded block, and a block of arbitrary bytes and overflow.
                if (n % 2) {
                    for (auto& b : zz) b = static_cast<int8_t>(random.range(-126, 127));
                    for (auto& b : ovf) b = static_cast<int8_t>(random.range(-128, 127));
                }
                int8_t out[64], out_ref[64];
                decode_picture_block(t.multipliers[chroma], zz, ovf, out, 8);
                ref::decode_block(r.multipliers[chroma], zz, ovf, out_ref, 8);
                ASSERT_EQ(0, std::memcmp(out, out_ref, 64)) << "quality " << q << " block " << n;
            }
        }
    }
    picture_avx2_enable(avx2_default);
}

TEST(PicturePlane, RandomCodedStreamsDecodeLikeTheLiteralDecoder) {
    // Blocks of every density, with and without overflow bytes, so that each block's decoding
    // must start from a clean slate whatever the block before it held.
    testdata::rng random(21);
    const picture_tables t = tables_for(60);
    const ref::tables r = ref::make_tables(60);
    for (int round = 0; round < 20; ++round) {
        ref::streams s;
        for (int b = 0; b < 300; ++b) {
            int8_t zig[64] = {};
            const int density = random.below(4) == 0 ? 64 : random.below(6);
            for (int p = 0; p < density; ++p) {
                int8_t v = static_cast<int8_t>(random.range(-126, 127));
                zig[p == 0 ? 0 : random.below(64)] = v;
            }
            int last = 0;
            for (int p = 0; p < 64; ++p)
                if (zig[p] != 0) last = p;
            for (int p = 0; p <= last; ++p) s.coefficients.push_back(static_cast<uint8_t>(zig[p]));
            if (last < 63) s.coefficients.push_back(0x81);
            for (int k = 0; k < 3; ++k)
                s.overflow.push_back(random.below(3) == 0 ? static_cast<uint8_t>(random.below(256))
                                                          : 0);
        }
        std::vector<int8_t> plane(160 * 120), expected(160 * 120);
        const owned_streams own{s.coefficients, s.overflow};
        ref::decode_key_plane(r, s, 160, 120, round & 1, expected.data());
        const bool avx2_default = picture_avx2_active();
        for (const bool avx2 : {true, false}) {
            if (!picture_avx2_enable(avx2)) continue;
            ASSERT_EQ(300, decode_key(t, own, 160, 120, round & 1, plane.data()));
            ASSERT_EQ(expected, plane) << "round " << round << " avx2 " << avx2;
        }
        picture_avx2_enable(avx2_default);
    }
}

TEST(PicturePlane, NaturalPlanesMatchTheLiteralCoderAndDecoder) {
    plane_coder coder;
    for (const int q : {50, 70, 100}) {
        const picture_tables t = tables_for(q);
        const ref::tables r = ref::make_tables(q);
        for (const auto& [w, h] : {std::pair{160, 120}, std::pair{320, 240}}) {
            const auto key = scene_planes(w, h, 0);
            const auto next = scene_planes(w, h, 5);
            for (int p = 0; p < 3; ++p) {
                const int chroma = p > 0;
                std::vector<int8_t> reference, ref_reference;
                const owned_streams s = coder.key(t, key[p], w, h, chroma, &reference);
                const ref::streams rs =
                    ref::encode_key_plane(r, key[p].data(), w, h, chroma, &ref_reference);
                ASSERT_EQ(rs.coefficients, s.coefficients) << q << " plane " << p;
                ASSERT_EQ(rs.overflow, s.overflow);
                ASSERT_EQ(ref_reference, reference);

                std::vector<int8_t> plane(key[p].size()), ref_plane(key[p].size());
                EXPECT_EQ(w * h / 64, decode_key(t, s, w, h, chroma, plane.data()));
                ref::decode_key_plane(r, rs, w, h, chroma, ref_plane.data());
                ASSERT_EQ(ref_plane, plane);

                int percent = 0, ref_percent = 0;
                const owned_streams d =
                    coder.difference(t, next[p], w, h, reference, chroma, &percent);
                const ref::streams rd = ref::encode_difference_plane(
                    r, next[p].data(), w, h, ref_reference, 3, chroma, &ref_percent);
                ASSERT_EQ(rd.coefficients, d.coefficients);
                ASSERT_EQ(rd.overflow, d.overflow);
                ASSERT_EQ(ref_percent, percent);
                EXPECT_GT(percent, 0);
                EXPECT_LT(percent, 100);
                decode_difference(t, d, w, h, chroma, plane.data());
                ref::decode_difference_plane(r, rd, w, h, chroma, ref_plane.data());
                ASSERT_EQ(ref_plane, plane);
            }
        }
    }
}

TEST(PicturePlane, DifferenceThresholdIsThree) {
    const picture_tables t = tables_for(70);
    const auto planes = scene_planes(160, 120, 0);
    plane_coder coder;
    std::vector<int8_t> reference;
    coder.key(t, planes[0], 160, 120, 0, &reference);
    int percent = -1;
    EXPECT_TRUE(
        coder.difference(t, planes[0], 160, 120, reference, 0, &percent).coefficients.empty());
    EXPECT_EQ(0, percent);

    // Block 25 is row 1, column 5 of a 20-column plane.
    for (const int delta : {3, -3, 4, -4}) {
        std::vector<int8_t> shifted = reference;
        shifted[25 * 64 + 10] = static_cast<int8_t>(shifted[25 * 64 + 10] + delta);
        const owned_streams d = coder.difference(t, planes[0], 160, 120, shifted, 0, &percent);
        if (std::abs(delta) <= 3) {
            EXPECT_TRUE(d.coefficients.empty()) << delta;
            continue;
        }
        ASSERT_GE(d.coefficients.size(), 4u) << delta;
        EXPECT_EQ(1, d.coefficients[0]);
        EXPECT_EQ(5, d.coefficients[1]);
        EXPECT_EQ(3u, d.overflow.size());
        EXPECT_EQ(0, percent);  // 1 of 300 blocks rounds down to 0 %
    }
}

TEST(PicturePlane, RoundTripQualityGrowsWithTheSetting) {
    // Minimum Y-plane PSNR of natural pictures, per quality.
    const double min_psnr[] = {35.0, 37.5, 39.0, 40.0, 41.5, 43.5};
    plane_coder coder;
    for (int k = 0; k < 6; ++k) {
        const picture_tables t = tables_for(kQualities[k]);
        for (const int frame : {0, 40}) {
            const auto planes = scene_planes(320, 240, frame);
            std::vector<int8_t> reference;
            const owned_streams s = coder.key(t, planes[0], 320, 240, 0, &reference);
            std::vector<int8_t> out(planes[0].size());
            decode_key(t, s, 320, 240, 0, out.data());
            const double psnr = testdata::psnr(planes[0].data(), out.data(), out.size());
            EXPECT_GT(psnr, min_psnr[k]) << "quality " << kQualities[k];
        }
    }
}

TEST(PicturePlane, DecodersStopAtTheEndOfEachStream) {
    const picture_tables t = tables_for(70);
    const auto planes = scene_planes(160, 120, 3);
    plane_coder coder;
    std::vector<int8_t> reference;
    const owned_streams s = coder.key(t, planes[0], 160, 120, 0, &reference);
    std::vector<int8_t> full(planes[0].size());
    ASSERT_EQ(300, decode_key(t, s, 160, 120, 0, full.data()));

    // Cut the coefficient stream after block 100: blocks 0-99 decode, the rest stay as they are.
    size_t cut = 0;
    for (int b = 0; b < 100; ++b) {
        int p = 0;
        while (p < 64 && s.coefficients[cut] != 0x81) {
            ++cut;
            ++p;
        }
        if (p < 64) ++cut;  // the end marker
    }
    owned_streams truncated{
        std::vector<uint8_t>(s.coefficients.begin(), s.coefficients.begin() + cut + 1), s.overflow};
    std::vector<int8_t> plane(full.size(), 77);
    EXPECT_EQ(100, decode_key(t, truncated, 160, 120, 0, plane.data()));
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            const int block = (y / 8) * 20 + x / 8;
            const size_t i = static_cast<size_t>(y) * 160 + x;
            ASSERT_EQ(block < 100 ? full[i] : 77, plane[i]) << x << "," << y;
        }
    }
    // A short overflow stream stops the decoding the same way.
    truncated = {s.coefficients, std::vector<uint8_t>(s.overflow.begin(), s.overflow.begin() + 32)};
    EXPECT_EQ(10, decode_key(t, truncated, 160, 120, 0, plane.data()));

    // Difference records: out of raster order ends the decoding; a cut record is not applied.
    const owned_streams records{{0, 3, 5, 0x81, 0, 1, 5, 0x81}, {0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(1, decode_difference(t, records, 160, 120, 0, plane.data()));
    const owned_streams cut_record{{0, 3, 5, 5, 5}, {0, 0, 0}};
    EXPECT_EQ(0, decode_difference(t, cut_record, 160, 120, 0, plane.data()));
    const owned_streams no_overflow{{0, 3, 5, 0x81}, {0, 0}};
    EXPECT_EQ(0, decode_difference(t, no_overflow, 160, 120, 0, plane.data()));
}

TEST(PicturePlane, HostileStreamsNeverReadPastTheirEnd) {
    const picture_tables t = tables_for(90);
    testdata::rng random(99);
    std::vector<int8_t> plane(160 * 120);
    for (int n = 0; n < 300; ++n) {
        owned_streams s;
        s.coefficients.resize(static_cast<size_t>(random.below(2000)));
        s.overflow.resize(static_cast<size_t>(random.below(1000)));
        for (auto& b : s.coefficients)  // odd rounds: any bytes; even rounds: dense in end markers
            b = static_cast<uint8_t>(n % 2 ? random.below(256) : 0x7F + random.below(4));
        for (auto& b : s.overflow) b = static_cast<uint8_t>(random.below(256));
        // Both key-plane decoders stop at the same block and leave the same samples.
        const bool avx2_default = picture_avx2_active();
        std::vector<int8_t> first;
        int first_count = -1;
        for (const bool avx2 : {true, false}) {
            if (!picture_avx2_enable(avx2)) continue;
            std::fill(plane.begin(), plane.end(), int8_t{9});
            const int count = decode_key(t, s, 160, 120, n & 1, plane.data());
            EXPECT_GE(count, 0);
            if (first_count < 0) {
                first_count = count;
                first = plane;
            } else {
                EXPECT_EQ(first_count, count) << n;
                EXPECT_EQ(first, plane) << n;
            }
        }
        picture_avx2_enable(avx2_default);
        EXPECT_GE(decode_difference(t, s, 160, 120, n & 1, plane.data()), 0);
    }
    EXPECT_EQ(-1, decode_key_plane(t, nullptr, 0, nullptr, 0, 100, 120, 0, plane.data()));
    EXPECT_EQ(-1, decode_key_plane(t, nullptr, 0, nullptr, 0, 160, 120, 0, nullptr));
}

TEST(PicturePlane, EncodersRefuseBadSizesAndSmallBuffers) {
    const picture_tables t = tables_for(70);
    std::vector<int8_t> plane(648 * 480);
    std::vector<int8_t> reference(plane.size());
    plane_coder coder;
    plane_streams s = coder.streams();
    EXPECT_EQ(
        -1, encode_key_plane(t, plane.data(), 648, 480, 0, reference.data(), &s, coder.work.get()));
    EXPECT_EQ(
        -1, encode_key_plane(t, plane.data(), 164, 120, 0, reference.data(), &s, coder.work.get()));
    s.coefficient_capacity = 160 * 120 - 1;
    EXPECT_EQ(
        -1, encode_key_plane(t, plane.data(), 160, 120, 0, reference.data(), &s, coder.work.get()));
    s.coefficient_capacity = 160 * 120;
    EXPECT_EQ(
        0, encode_key_plane(t, plane.data(), 160, 120, 0, reference.data(), &s, coder.work.get()));
    // A difference plane needs room for the row and column bytes of every block.
    EXPECT_EQ(-1, encode_difference_plane(t, plane.data(), 160, 120, reference.data(), 3, 0, &s,
                                          coder.work.get()));
}
}  // namespace
