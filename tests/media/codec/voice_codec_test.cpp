#include "media/codec/voice_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "media/codec/codec_constants.h"
#include "media/codec/deflate_stream.h"
#include "platform/debug_log.h"
#include "tests/media/codec/reference_codec.h"
#include "tests/media/codec/test_inputs.h"

namespace {
constexpr int kN = 960;
constexpr int kBlocks = kN / 64;

struct encoded {
    std::vector<uint8_t> planes = std::vector<uint8_t>(2 * kN);
    int length = 0;
    int active = 0;
};

encoded encode(const std::vector<uint8_t>& samples, int quality) {
    encoded e;
    e.planes = std::vector<uint8_t>(2 * samples.size());
    e.active = do_one_dimentional_dct_quality(samples.data(), e.planes.data(),
                                              static_cast<int>(samples.size()), &e.length, quality);
    return e;
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& planes, int quality) {
    std::vector<uint8_t> out(planes.size() / 2);
    EXPECT_EQ(0, do_one_dimentional_idct_quality(planes.data(), out.data(),
                                                 static_cast<int>(out.size()), quality));
    return out;
}

// The largest AC low byte of block 0 in a set of planes.
int max_ac_low_byte(const std::vector<uint8_t>& planes, int blocks) {
    int best = 0;
    for (int k = 1; k < 64; ++k) best = std::max(best, static_cast<int>(planes[k * blocks]));
    return best;
}

TEST(VoiceCodec, SilenceCodesAsTheMeanAndIsInactive) {
    const std::vector<uint8_t> silence(kN, 128);
    const encoded e = encode(silence, 0);
    EXPECT_EQ(0, e.active);
    EXPECT_EQ(2 * kN, e.length);
    for (int i = 0; i < 2 * kN; ++i) EXPECT_EQ(i < kBlocks ? 128 : 0, e.planes[i]) << "byte " << i;
    EXPECT_EQ(silence, decode(e.planes, 0));
}

TEST(VoiceCodec, ConstantBlocksRoundTripExactlyAtEveryLevel) {
    for (int quality = 0; quality < 3; ++quality) {
        for (int value = 0; value < 256; ++value) {
            const std::vector<uint8_t> samples(64, static_cast<uint8_t>(value));
            const encoded e = encode(samples, quality);
            EXPECT_EQ(value, e.planes[0]);
            EXPECT_EQ(samples, decode(e.planes, quality)) << "value " << value;
        }
    }
}

TEST(VoiceCodec, ActivityNeedsAnAcLowByteAboveTwo) {
    // A single cosine of growing amplitude on one AC index: its coefficient passes 1, 2, 3.
    bool saw_two = false;
    bool saw_three = false;
    for (int step = 0; step < 400 && !(saw_two && saw_three); ++step) {
        const double amplitude = step * 0.02;
        std::vector<uint8_t> samples(64);
        for (int j = 0; j < 64; ++j)
            samples[j] = static_cast<uint8_t>(
                std::lround(128 + amplitude * std::cos((2 * j + 1) * 5 * 3.1415926 / 128)));
        const encoded e = encode(samples, 0);
        const int low = max_ac_low_byte(e.planes, 1);
        if (low <= 2) {
            EXPECT_EQ(0, e.active) << "amplitude " << amplitude;
            saw_two = saw_two || low == 2;
        } else if (low == 3) {
            EXPECT_EQ(1, e.active) << "amplitude " << amplitude;
            saw_three = true;
        }
    }
    EXPECT_TRUE(saw_two);
    EXPECT_TRUE(saw_three);
}

TEST(VoiceCodec, NegativeCoefficientUsesLowByteAndSignBit) {
    // Find samples whose coefficient 1 is exactly -300 and look at its two bytes.
    bool found = false;
    for (int step = 0; step < 400 && !found; ++step) {
        const double amplitude = 52.0 + step * 0.005;
        std::vector<uint8_t> samples(kN, 128);
        for (int j = 0; j < 64; ++j)
            samples[j] = static_cast<uint8_t>(
                std::lround(128 - amplitude * std::cos((2 * j + 1) * 3.1415926 / 128)));
        const encoded e = encode(samples, 0);
        const int low = e.planes[1 * kBlocks];
        const int high = e.planes[kN + 1 * kBlocks];
        if (low + 256 * (high >> 1) == 300 && (high & 1)) {
            EXPECT_EQ(44, low);
            EXPECT_EQ(3, high);
            found = true;
        }
    }
    EXPECT_TRUE(found);

    // Decoding -300 at index 1 (level 0, divisor 1) on top of a mean of 128.
    std::vector<uint8_t> planes(2 * 64, 0);
    planes[0] = 128;
    planes[1] = 44;
    planes[64 + 1] = 3;
    const std::vector<uint8_t> out = decode(planes, 0);
    for (int m = 0; m < 64; ++m) {
        double t = 0.0;
        t += std::cos(0 * 3.1415926 / 128) * (1024 * std::sqrt(1.0 / 64));
        t += std::cos((2 * m + 1) * 3.1415926 / 128) * (-300 * std::sqrt(2.0 / 64));
        EXPECT_EQ(static_cast<int>(t), out[m]) << "sample " << m;
    }
    EXPECT_LT(out[0], out[63]);
}

TEST(VoiceCodec, DecodedSumsAreClampedToSampleRange) {
    std::vector<uint8_t> planes(2 * 64, 0);
    planes[0] = 255;  // mean 255 * 8 / 8 plus a strong AC term overshoots both ends
    planes[2] = 200;
    const std::vector<uint8_t> high = decode(planes, 0);
    EXPECT_EQ(255, *std::max_element(high.begin(), high.end()));
    planes[0] = 0;
    planes[64 + 2] = 1;  // the AC term negative
    const std::vector<uint8_t> low = decode(planes, 0);
    EXPECT_EQ(0, *std::min_element(low.begin(), low.end()));
}

TEST(VoiceCodec, RampErrorGrowsWithTheLevel) {
    std::vector<uint8_t> ramp(kN);
    for (int i = 0; i < kN; ++i) ramp[i] = static_cast<uint8_t>(60 + (i % 64) * 2);
    int previous = -1;
    for (int quality = 0; quality < 3; ++quality) {
        const std::vector<uint8_t> out = decode(encode(ramp, quality).planes, quality);
        int worst = 0;
        for (int i = 0; i < kN; ++i) worst = std::max(worst, std::abs(out[i] - ramp[i]));
        EXPECT_LE(worst, 6) << "level " << quality;
        EXPECT_GE(worst, previous) << "level " << quality;
        previous = worst;
    }
}

TEST(VoiceCodec, NaturalSoundKeepsItsShape) {
    const double min_psnr[3] = {40.0, 33.0, 30.0};
    for (int quality = 0; quality < 3; ++quality) {
        for (uint64_t seed = 1; seed <= 20; ++seed) {
            const std::vector<uint8_t> sound = testdata::voice_samples(kN, seed);
            const std::vector<uint8_t> out = decode(encode(sound, quality).planes, quality);
            EXPECT_GT(testdata::psnr(sound.data(), out.data(), kN), min_psnr[quality])
                << "level " << quality << " seed " << seed;
        }
    }
}

TEST(VoiceCodec, MatchesTheLiteralTransformByteForByte) {
    testdata::rng random(42);
    std::vector<uint8_t> ref_planes(2 * kN);
    std::vector<uint8_t> ref_samples(kN);
    for (int round = 0; round < 240; ++round) {
        std::vector<uint8_t> samples(kN);
        switch (round % 4) {
            case 0:  // uniform noise
                for (auto& s : samples) s = static_cast<uint8_t>(random.below(256));
                break;
            case 1:  // quiet noise around silence: the activity flag's border
                for (auto& s : samples) s = static_cast<uint8_t>(128 + random.range(-3, 3));
                break;
            default:
                samples = testdata::voice_samples(kN, random.next());
        }
        const int quality = round % 3;
        const encoded e = encode(samples, quality);
        const int ref_active = ref::voice_forward(samples.data(), kN, quality, ref_planes.data());
        ASSERT_EQ(ref_planes, e.planes) << "round " << round;
        ASSERT_EQ(ref_active, e.active) << "round " << round;
        // Decode both the codec's own planes and arbitrary plane bytes.
        std::vector<uint8_t> planes = e.planes;
        if (round % 2) {
            for (auto& b : planes) b = static_cast<uint8_t>(random.below(256));
        }
        ref::voice_inverse(planes.data(), kN, quality, ref_samples.data());
        ASSERT_EQ(ref_samples, decode(planes, quality)) << "round " << round;
    }
}

TEST(VoiceCodec, BadCountsAreRefusedAndWriteNothing) {
    std::vector<uint8_t> samples(codec::kVoiceMaxSamples + 64, 100);
    std::vector<uint8_t> out(2 * samples.size(), 0xEE);
    int length = -5;
    for (const int n : {0, -64, 100, 65, codec::kVoiceMaxSamples + 64}) {
        EXPECT_EQ(-1, do_one_dimentional_dct_quality(samples.data(), out.data(), n, &length, 0));
        EXPECT_EQ(-1, do_one_dimentional_idct_quality(samples.data(), out.data(), n, 0));
    }
    EXPECT_EQ(-5, length);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
    // The largest count is accepted (constant samples: inactive).
    EXPECT_EQ(0, do_one_dimentional_dct_quality(samples.data(), out.data(), codec::kVoiceMaxSamples,
                                                &length, 0));
    EXPECT_EQ(2 * codec::kVoiceMaxSamples, length);
}

TEST(VoiceCodec, UnknownQualityUsesLevelZeroAndLogsOnce) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("parlo_voice_log_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    ASSERT_EQ(0, open_debug_log_in(dir.string()));
    const std::vector<uint8_t> sound = testdata::voice_samples(kN, 7);
    const encoded level0 = encode(sound, 0);
    const encoded level3 = encode(sound, 3);
    close_debug_log();
    EXPECT_EQ(level0.planes, level3.planes);
    EXPECT_EQ(level0.active, level3.active);
    std::ifstream log(dir / "dbg_log.txt");
    std::stringstream text;
    text << log.rdbuf();
    const std::string s = text.str();
    const std::string line = "quality:3 out of range in do_one_dimentional_dct_quality";
    const size_t first = s.find(line);
    EXPECT_NE(std::string::npos, first);
    EXPECT_EQ(std::string::npos, s.find(line, first + 1));
    std::filesystem::remove_all(dir);
}

TEST(VoiceMessage, InflatesAndDecodesOrDrops) {
    const std::vector<uint8_t> sound = testdata::voice_samples(kN, 3);
    const encoded e = encode(sound, 0);
    uint8_t deflated[codec::kVoiceDeflateCapacity];
    int length = 0;
    ASSERT_EQ(0, deflate_stream(e.planes.data(), e.length, deflated, sizeof(deflated), &length));
    std::vector<uint8_t> out(kN);
    EXPECT_EQ(kN, voice_inflate_and_decode(deflated, length, 0, out.data(), kN));
    EXPECT_EQ(decode(e.planes, 0), out);

    // Damaged, truncated or empty streams are dropped.
    std::vector<uint8_t> damaged(deflated, deflated + length);
    damaged[length / 2] ^= 0x5A;
    EXPECT_EQ(-1, voice_inflate_and_decode(damaged.data(), length, 0, out.data(), kN));
    EXPECT_EQ(-1, voice_inflate_and_decode(deflated, length - 3, 0, out.data(), kN));
    EXPECT_EQ(-1, voice_inflate_and_decode(deflated, 0, 0, out.data(), kN));
    // More samples than the caller's buffer holds.
    EXPECT_EQ(-1, voice_inflate_and_decode(deflated, length, 0, out.data(), kN - 64));

    // Inflated lengths that are odd, not whole blocks, or beyond the inflate buffer.
    for (const int bytes : {129, 130, 2 * 64 * 80 + 128}) {
        std::vector<uint8_t> planes(static_cast<size_t>(bytes), 0);
        std::vector<uint8_t> z(planes.size() + 64);
        int zlen = 0;
        ASSERT_EQ(
            0, deflate_stream(planes.data(), bytes, z.data(), static_cast<int>(z.size()), &zlen));
        std::vector<uint8_t> big(codec::kVoiceMaxSamples);
        EXPECT_EQ(-1, voice_inflate_and_decode(z.data(), zlen, 0, big.data(),
                                               static_cast<int>(big.size())))
            << bytes;
    }
}
}  // namespace
