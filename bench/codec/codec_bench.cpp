// Speed of the picture and voice codecs, measured against libjpeg-turbo (TurboJPEG, quality 70,
// 4:4:4) on the same frames of a deterministic moving scene. After the timings it prints, per
// picture size, the ratio ours / libjpeg-turbo for key-frame encode and decode, the difference-
// frame encode time against the key-frame time, and bytes per frame and PSNR of both. CPU times
// are those of the whole process (the encoder's helper thread included); the key-frame encode is
// reported in wall and CPU time, with the helper thread and on one thread, followed by the
// times of each key-frame stage at 640x480.
//
// Run: parlo_codec_bench [--benchmark_repetitions=N]  (default 5 repetitions; medians reported)
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/codec/codec_constants.h"
#include "media/codec/colour_convert.h"
#include "media/codec/deflate_stream.h"
#include "media/codec/frame_codec.h"
#include "media/codec/voice_codec.h"
#include "tests/media/codec/test_inputs.h"

namespace {
constexpr int kFrames = 24;
constexpr int kQuality = 70;

struct size_case {
    int index;
    int width;
    int height;
    std::string name;
};
const size_case kSizes[] = {
    {2, 640, 480, "640x480"}, {1, 320, 240, "320x240"}, {0, 160, 120, "160x120"}};

// The frames of one size, generated once.
const std::vector<std::vector<uint8_t>>& frames(const size_case& s) {
    static std::map<int, std::vector<std::vector<uint8_t>>> cache;
    auto& f = cache[s.index];
    if (f.empty())
        for (int i = 0; i < kFrames; ++i) f.push_back(testdata::scene_rgb(s.width, s.height, i));
    return f;
}

// Key-frame records of every frame of one size.
const std::vector<std::vector<uint8_t>>& key_records(const size_case& s) {
    static std::map<int, std::vector<std::vector<uint8_t>>> cache;
    auto& r = cache[s.index];
    if (!r.empty()) return r;
    auto enc = std::make_unique<frame_encoder>();
    for (const auto& rgb : frames(s)) {
        enc->difference_counter = codec::kMaxDifferenceFrames + 1;
        encode_video_frame(enc.get(), rgb.data(), s.index, kQuality);
        std::vector<uint8_t> rec(codec::kFrameRecordMaxBytes);
        rec.resize(static_cast<size_t>(
            build_frame_record_from(*enc->key_frame, rec.data(), static_cast<int>(rec.size()))));
        r.push_back(std::move(rec));
    }
    return r;
}

// helper: whether the encoder may code and deflate U and V on its second thread.
void ours_key_encode(benchmark::State& state, const size_case& s, bool helper) {
    auto enc = std::make_unique<frame_encoder>();
    enc->use_helper_thread = helper;
    const auto& f = frames(s);
    size_t i = 0;
    for (auto _ : state) {
        enc->difference_counter = codec::kMaxDifferenceFrames + 1;  // force a key frame
        benchmark::DoNotOptimize(
            encode_video_frame(enc.get(), f[i++ % f.size()].data(), s.index, kQuality));
    }
}

void ours_difference_encode(benchmark::State& state, const size_case& s) {
    auto enc = std::make_unique<frame_encoder>();
    const auto& f = frames(s);
    encode_video_frame(enc.get(), f[0].data(), s.index, kQuality);
    size_t i = 0;
    int keys = 0;
    for (auto _ : state) {
        enc->difference_counter = 0;  // frames 1..20 after the key frame, as in a call
        const int type = encode_video_frame(enc.get(), f[1 + i++ % 20].data(), s.index, kQuality);
        keys += type == codec::kFrameTypeKey;
    }
    state.counters["key_frames"] = keys;
}

void ours_key_decode(benchmark::State& state, const size_case& s) {
    auto dec = std::make_unique<frame_decoder>();
    const auto& r = key_records(s);
    size_t i = 0;
    for (auto _ : state) {
        const auto& rec = r[i++ % r.size()];
        benchmark::DoNotOptimize(
            decode_video_frame(dec.get(), rec.data(), static_cast<int>(rec.size())));
    }
}

// The stages of a key frame one by one, on the planes and streams of the first scene frame, so
// that the profile of encode and decode can be read off the report.
struct stage_data {
    std::unique_ptr<frame_encoder> enc = std::make_unique<frame_encoder>();
    std::unique_ptr<frame_decoder> dec = std::make_unique<frame_decoder>();
    plane_streams raw[3];
    const uint8_t* rgb = nullptr;
    int width = 0;
    int height = 0;
    explicit stage_data(const size_case& s) : rgb(frames(s)[0].data()), width(s.width), height(s.height) {
        enc->difference_counter = codec::kMaxDifferenceFrames + 1;
        encode_video_frame(enc.get(), rgb, s.index, kQuality);
        for (int p = 0; p < 3; ++p) {
            raw[p].coefficients = enc->raw_coefficients[p];
            raw[p].coefficient_capacity = codec::kMaxCoefficientStream;
            raw[p].overflow = enc->raw_overflow[p];
            raw[p].overflow_capacity = codec::kMaxOverflowStream;
            write_key_streams(enc->coded[enc->key_set][p], &raw[p], nullptr);
        }
        build_picture_tables(kQuality, &dec->tables);
    }
};

void stage(benchmark::State& state, const size_case& s, int which) {
    stage_data d(s);
    frame_encoder& e = *d.enc;
    const int pixels = d.width * d.height;
    const deflated_frame& f = *e.key_frame;
    for (auto _ : state) {
        switch (which) {
            case 0:  // colour conversion into planes
                convert_rgb_to_yuv(d.rgb, pixels, e.planes[0], e.planes[1], e.planes[2]);
                break;
            case 1:  // block coding of the three planes
                for (int p = 0; p < 3; ++p)
                    code_plane(e.tables, e.planes[p], d.width, d.height, p > 0, &e.coded[0][p]);
                break;
            case 2:  // coded blocks to raw streams
                for (int p = 0; p < 3; ++p)
                    write_key_streams(e.coded[e.key_set][p], &d.raw[p], nullptr);
                break;
            case 3: {  // deflating the six raw streams
                int n = 0;
                for (int p = 0; p < 3; ++p) {
                    deflate_stream(d.raw[p].coefficients, d.raw[p].coefficient_length,
                                   e.spare_frame->stream(2 * p),
                                   deflated_frame::capacity(2 * p), &n);
                    deflate_stream(d.raw[p].overflow, d.raw[p].overflow_length,
                                   e.spare_frame->stream(2 * p + 1),
                                   deflated_frame::capacity(2 * p + 1), &n);
                }
                break;
            }
            case 4: {  // inflating the six streams
                int n = 0;
                for (int st = 0; st < kFrameStreams; ++st)
                    inflate_stream(f.stream(st), f.length[st],
                                   st % 2 ? d.dec->overflow : d.dec->coefficients,
                                   st % 2 ? codec::kMaxOverflowStream
                                          : codec::kMaxCoefficientStream,
                                   &n);
                break;
            }
            case 5:  // block decoding of the three planes
                for (int p = 0; p < 3; ++p)
                    decode_key_plane(d.dec->tables, d.raw[p].coefficients,
                                     d.raw[p].coefficient_length, d.raw[p].overflow,
                                     d.raw[p].overflow_length, d.width, d.height, p > 0,
                                     d.dec->buffers[0][p]);
                break;
            default:  // colour conversion back
                convert_yuv_to_rgb(d.dec->buffers[0][0], d.dec->buffers[0][1],
                                   d.dec->buffers[0][2], pixels, d.dec->rgb);
                break;
        }
        benchmark::ClobberMemory();
    }
}
const char* const kStages[] = {"stage_enc_rgb_to_yuv", "stage_enc_code_blocks",
                               "stage_enc_write_streams", "stage_enc_deflate",
                               "stage_dec_inflate", "stage_dec_blocks", "stage_dec_yuv_to_rgb"};

struct turbo {
    tjhandle compressor = tjInitCompress();
    tjhandle decompressor = tjInitDecompress();
    ~turbo() {
        tjDestroy(compressor);
        tjDestroy(decompressor);
    }
};

// Compresses one frame into buf (sized with tjBufSize, never reallocated); returns its size.
unsigned long turbo_compress(turbo& t, const size_case& s, const uint8_t* rgb, uint8_t* buf) {
    unsigned long size = tjBufSize(s.width, s.height, TJSAMP_444);
    unsigned char* out = buf;
    if (tjCompress2(t.compressor, rgb, s.width, 0, s.height, TJPF_RGB, &out, &size, TJSAMP_444,
                    kQuality, TJFLAG_NOREALLOC) != 0)
        return 0;
    return size;
}

void turbo_encode(benchmark::State& state, const size_case& s) {
    turbo t;
    std::vector<uint8_t> buf(tjBufSize(s.width, s.height, TJSAMP_444));
    const auto& f = frames(s);
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(turbo_compress(t, s, f[i++ % f.size()].data(), buf.data()));
}

void turbo_decode(benchmark::State& state, const size_case& s) {
    turbo t;
    std::vector<std::vector<uint8_t>> jpegs;
    for (const auto& rgb : frames(s)) {
        std::vector<uint8_t> buf(tjBufSize(s.width, s.height, TJSAMP_444));
        buf.resize(turbo_compress(t, s, rgb.data(), buf.data()));
        jpegs.push_back(std::move(buf));
    }
    std::vector<uint8_t> out(static_cast<size_t>(s.width) * s.height * 3);
    size_t i = 0;
    for (auto _ : state) {
        const auto& j = jpegs[i++ % jpegs.size()];
        benchmark::DoNotOptimize(tjDecompress2(t.decompressor, j.data(), j.size(), out.data(),
                                               s.width, 0, s.height, TJPF_RGB, 0));
    }
}

void voice_encode_decode(benchmark::State& state) {
    const std::vector<uint8_t> sound = testdata::voice_samples(codec::kVoiceBufferSamples, 1);
    uint8_t planes[2 * codec::kVoiceBufferSamples];
    uint8_t out[codec::kVoiceBufferSamples];
    int length = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(do_one_dimentional_dct_quality(
            sound.data(), planes, codec::kVoiceBufferSamples, &length, 0));
        benchmark::DoNotOptimize(
            do_one_dimentional_idct_quality(planes, out, codec::kVoiceBufferSamples, 0));
    }
}

void voice_message_round_trip(benchmark::State& state) {
    const std::vector<uint8_t> sound = testdata::voice_samples(codec::kVoiceBufferSamples, 1);
    uint8_t planes[2 * codec::kVoiceBufferSamples];
    uint8_t deflated[codec::kVoiceDeflateCapacity];
    uint8_t out[codec::kVoiceBufferSamples];
    int length = 0;
    int deflated_length = 0;
    for (auto _ : state) {
        do_one_dimentional_dct_quality(sound.data(), planes, codec::kVoiceBufferSamples, &length,
                                       0);
        deflate_stream(planes, length, deflated, sizeof(deflated), &deflated_length);
        benchmark::DoNotOptimize(voice_inflate_and_decode(deflated, deflated_length, 0, out,
                                                          codec::kVoiceBufferSamples));
    }
}

// Keeps the median (or, without repetitions, the only) CPU time of every benchmark.
class collecting_reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times_us;
    std::map<std::string, double> wall_us;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (!median && r.run_type == Run::RT_Aggregate) continue;
            std::string name = r.run_name.function_name;
            if (!median && times_us.count(name)) continue;  // keep a median once there is one
            // CPU time: the figures stay comparable on a machine shared with other work.
            // The encoder's helper thread counts too: every benchmark measures the CPU time of
            // the whole process.
            times_us[name] =
                r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e6;
            wall_us[name] =
                r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e6;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

struct quality_numbers {
    double key_bytes = 0;
    double difference_bytes = 0;
    double psnr = 0;
    double turbo_bytes = 0;
    double turbo_psnr = 0;
};

// Sizes and PSNR over the sequence (not timed).
quality_numbers measure_quality(const size_case& s) {
    quality_numbers q;
    const auto& f = frames(s);
    auto dec = std::make_unique<frame_decoder>();
    for (const auto& rec : key_records(s)) {
        q.key_bytes += static_cast<double>(rec.size());
        decode_video_frame(dec.get(), rec.data(), static_cast<int>(rec.size()));
    }
    for (size_t i = 0; i < f.size(); ++i) {
        const auto& rec = key_records(s)[i];
        decode_video_frame(dec.get(), rec.data(), static_cast<int>(rec.size()));
        q.psnr += testdata::psnr(f[i].data(), dec->rgb, f[i].size());
    }
    auto enc = std::make_unique<frame_encoder>();
    encode_video_frame(enc.get(), f[0].data(), s.index, kQuality);
    int differences = 0;
    for (size_t i = 1; i < f.size() && i <= 20; ++i) {
        enc->difference_counter = 0;
        if (encode_video_frame(enc.get(), f[i].data(), s.index, kQuality) ==
            codec::kFrameTypeDifference) {
            q.difference_bytes += enc->difference_frame->record_length();
            ++differences;
        }
    }
    turbo t;
    std::vector<uint8_t> buf(tjBufSize(s.width, s.height, TJSAMP_444));
    std::vector<uint8_t> out(f[0].size());
    for (const auto& rgb : f) {
        const unsigned long n = turbo_compress(t, s, rgb.data(), buf.data());
        q.turbo_bytes += static_cast<double>(n);
        tjDecompress2(t.decompressor, buf.data(), n, out.data(), s.width, 0, s.height, TJPF_RGB, 0);
        q.turbo_psnr += testdata::psnr(rgb.data(), out.data(), rgb.size());
    }
    const double n = static_cast<double>(f.size());
    q.key_bytes /= n;
    q.psnr /= n;
    q.turbo_bytes /= n;
    q.turbo_psnr /= n;
    if (differences > 0) q.difference_bytes /= differences;
    return q;
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    bool has_repetitions = false;
    for (int i = 1; i < argc; ++i)
        has_repetitions |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    static char repetitions[] = "--benchmark_repetitions=5";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    if (!has_repetitions) {
        args.push_back(repetitions);
        args.push_back(aggregates);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());

    for (const size_case& s : kSizes) {
        benchmark::RegisterBenchmark(("ours_key_encode/" + s.name).c_str(), ours_key_encode, s,
                                     true)
            ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("ours_key_encode_one_thread/" + s.name).c_str(),
                                     ours_key_encode, s, false)
            ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("turbo_encode/" + s.name).c_str(), turbo_encode, s)
            ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("ours_key_decode/" + s.name).c_str(), ours_key_decode, s)
            ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("turbo_decode/" + s.name).c_str(), turbo_decode, s)
            ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("ours_difference_encode/" + s.name).c_str(),
                                     ours_difference_encode, s)
            ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
    }
    for (int k = 0; k < 7; ++k)
        benchmark::RegisterBenchmark((std::string(kStages[k]) + "/" + kSizes[0].name).c_str(),
                                     stage, kSizes[0], k)
            ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("voice_encode_decode/960", voice_encode_decode)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("voice_message_round_trip/960", voice_message_round_trip)
        ->Unit(benchmark::kMicrosecond);

    collecting_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto& t = reporter.times_us;
    auto& wall = reporter.wall_us;
    std::printf(
        "\nratios (median CPU times; ours / libjpeg-turbo q%d 4:4:4; below 1.0 is faster)\n",
        kQuality);
    std::printf("%-8s %9s %9s %7s %9s %9s %7s %9s %7s\n", "size", "enc us", "tj enc", "ratio",
                "dec us", "tj dec", "ratio", "diff us", "d/key");
    const auto ratio = [](double a, double b) { return (a > 0 && b > 0) ? a / b : 0.0; };
    for (const size_case& s : kSizes) {
        const auto get = [&](const char* what) {
            const auto it = t.find(std::string(what) + "/" + s.name);
            return it == t.end() ? 0.0 : it->second;
        };
        const double enc = get("ours_key_encode"), tj_enc = get("turbo_encode");
        const double dec = get("ours_key_decode"), tj_dec = get("turbo_decode");
        const double diff = get("ours_difference_encode");
        if (enc + tj_enc + dec + tj_dec + diff == 0) continue;
        std::printf("%-8s %9.0f %9.0f %7.2f %9.0f %9.0f %7.2f %9.0f %7.2f\n", s.name.c_str(), enc,
                    tj_enc, ratio(enc, tj_enc), dec, tj_dec, ratio(dec, tj_dec), diff,
                    ratio(diff, enc));
    }
    std::printf(
        "\nkey-frame encode, wall and CPU time (us, medians; CPU of the whole process, so the\n"
        "encoder's helper thread counts): with the helper thread, and on one thread\n");
    std::printf("%-8s %9s %9s %9s %9s %9s %9s %8s %8s\n", "size", "wall", "cpu", "1t wall",
                "1t cpu", "tj wall", "tj cpu", "wall r", "cpu r");
    for (const size_case& s : kSizes) {
        const auto get = [&](const std::map<std::string, double>& m, const char* what) {
            const auto it = m.find(std::string(what) + "/" + s.name);
            return it == m.end() ? 0.0 : it->second;
        };
        const double w2 = get(wall, "ours_key_encode"), c2 = get(t, "ours_key_encode");
        const double w1 = get(wall, "ours_key_encode_one_thread");
        const double c1 = get(t, "ours_key_encode_one_thread");
        const double tw = get(wall, "turbo_encode"), tc = get(t, "turbo_encode");
        if (w2 + w1 + tw == 0) continue;
        std::printf("%-8s %9.0f %9.0f %9.0f %9.0f %9.0f %9.0f %8.2f %8.2f\n", s.name.c_str(), w2,
                    c2, w1, c1, tw, tc, ratio(w2, tw), ratio(c2, tc));
    }
    std::printf("\nkey-frame stages at %s (median CPU us)\n", kSizes[0].name.c_str());
    for (const char* name : kStages) {
        const auto it = t.find(std::string(name) + "/" + kSizes[0].name);
        if (it != t.end()) std::printf("  %-26s %8.0f\n", name, it->second);
    }
    std::printf("\nbytes per frame and PSNR (RGB, dB) over %d frames\n", kFrames);
    std::printf("%-8s %10s %10s %8s %10s %8s\n", "size", "key B", "diff B", "PSNR", "tj B",
                "tj PSNR");
    for (const size_case& s : kSizes) {
        const quality_numbers q = measure_quality(s);
        std::printf("%-8s %10.0f %10.0f %8.2f %10.0f %8.2f\n", s.name.c_str(), q.key_bytes,
                    q.difference_bytes, q.psnr, q.turbo_bytes, q.turbo_psnr);
    }
    const auto voice = t.find("voice_encode_decode/960");
    if (voice != t.end())
        std::printf("\nvoice encode + decode of 960 samples: %.1f us (target < 50 us)\n",
                    voice->second);
    return 0;
}
