#include "media/codec/tool/codec_commands.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "media/codec/codec_constants.h"
#include "media/codec/colour_convert.h"
#include "media/codec/deflate_stream.h"
#include "media/codec/frame_record.h"
#include "media/codec/picture_codec.h"
#include "media/codec/voice_codec.h"

namespace {
using bytes = std::vector<uint8_t>;

bool read_file(const std::string& path, bytes* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "parlo-codec: cannot open %s\n", path.c_str());
        return false;
    }
    out->clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out->insert(out->end(), buf, buf + n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    if (!ok) std::fprintf(stderr, "parlo-codec: cannot read %s\n", path.c_str());
    return ok;
}

bool write_file(const std::string& path, const uint8_t* data, size_t length) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "parlo-codec: cannot create %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(data, 1, length, f) == length && std::fclose(f) == 0;
    if (!ok) std::fprintf(stderr, "parlo-codec: cannot write %s\n", path.c_str());
    return ok;
}

bool write_file(const std::string& path, const bytes& data) {
    return write_file(path, data.data(), data.size());
}

bool need_files(const tool_options& o, size_t low, size_t high) {
    if (o.files.size() >= low && o.files.size() <= high) return true;
    std::fprintf(stderr, "parlo-codec: wrong number of file names (see --help)\n");
    return false;
}

// Reads a file that must hold exactly `length` bytes (one plane or reference store).
bool read_exact(const std::string& path, size_t length, bytes* out) {
    if (!read_file(path, out)) return false;
    if (out->size() == length) return true;
    std::fprintf(stderr, "parlo-codec: %s holds %zu bytes, expected %zu\n", path.c_str(),
                 out->size(), length);
    return false;
}

bool plane_size_ok(const tool_options& o) {
    if (valid_plane_size(o.width, o.height)) return true;
    std::fprintf(stderr, "parlo-codec: size %dx%d is not a multiple of 8 up to 640x480\n", o.width,
                 o.height);
    return false;
}

int picture_quality(const tool_options& o) {
    // A given quality goes to the library as it is (which snaps a negative one to 50).
    return o.quality_given ? o.quality : codec::kDefaultVideoQuality;
}

int voice_quality(const tool_options& o) {
    return o.quality < 0 ? 0 : o.quality;
}

size_t plane_bytes(const tool_options& o) {
    return static_cast<size_t>(o.width) * o.height;
}

int8_t* as_signed(bytes& b) {
    return reinterpret_cast<int8_t*>(b.data());
}

// Encodes one plane as key or difference streams and writes them.
int encode_plane(const tool_options& o, bool difference) {
    if (!need_files(o, difference ? 4 : 3, 4) || !plane_size_ok(o)) return 1;
    bytes plane;
    bytes reference(plane_bytes(o));
    if (!read_exact(o.files[0], plane_bytes(o), &plane)) return 1;
    if (difference && !read_exact(o.files[1], plane_bytes(o), &reference)) return 1;
    picture_tables tables;
    build_picture_tables(picture_quality(o), &tables);
    auto work = std::make_unique<coded_plane>();
    const int blocks = static_cast<int>(plane_bytes(o)) / codec::kBlockSize;
    bytes coefficients(static_cast<size_t>(blocks) * (codec::kBlockSize + 2));
    bytes overflow(static_cast<size_t>(blocks) * codec::kOverflowBytesPerBlock);
    plane_streams s;
    s.coefficients = coefficients.data();
    s.coefficient_capacity = static_cast<int>(coefficients.size());
    s.overflow = overflow.data();
    s.overflow_capacity = static_cast<int>(overflow.size());
    const size_t first = difference ? 2 : 1;
    if (difference) {
        const int percent =
            encode_difference_plane(tables, as_signed(plane), o.width, o.height,
                                    as_signed(reference), o.threshold, o.chroma, &s, work.get());
        if (percent < 0) return 1;
        std::printf("changed %d%%\n", percent);
    } else if (encode_key_plane(tables, as_signed(plane), o.width, o.height, o.chroma,
                                as_signed(reference), &s, work.get()) != 0) {
        return 1;
    }
    if (!write_file(o.files[first], coefficients.data(),
                    static_cast<size_t>(s.coefficient_length)) ||
        !write_file(o.files[first + 1], overflow.data(), static_cast<size_t>(s.overflow_length)))
        return 1;
    if (!difference && o.files.size() == 4 && !write_file(o.files[3], reference)) return 1;
    return 0;
}

int decode_plane(const tool_options& o, bool difference) {
    const size_t first = difference ? 1 : 0;
    if (!need_files(o, first + 3, first + 3) || !plane_size_ok(o)) return 1;
    bytes plane(plane_bytes(o), 0);
    bytes coefficients;
    bytes overflow;
    if (difference && !read_exact(o.files[0], plane_bytes(o), &plane)) return 1;
    if (!read_file(o.files[first], &coefficients) || !read_file(o.files[first + 1], &overflow))
        return 1;
    picture_tables tables;
    build_picture_tables(picture_quality(o), &tables);
    const int n =
        difference
            ? decode_difference_plane(tables, coefficients.data(),
                                      static_cast<int>(coefficients.size()), overflow.data(),
                                      static_cast<int>(overflow.size()), o.width, o.height,
                                      o.chroma, as_signed(plane))
            : decode_key_plane(tables, coefficients.data(), static_cast<int>(coefficients.size()),
                               overflow.data(), static_cast<int>(overflow.size()), o.width,
                               o.height, o.chroma, as_signed(plane));
    if (n < 0) return 1;
    std::printf("decoded %d blocks\n", n);
    return write_file(o.files[first + 2], plane) ? 0 : 1;
}
}  // namespace

int run_voice_encode(const tool_options& o) {
    if (!need_files(o, 2, 2)) return 1;
    bytes samples;
    if (!read_file(o.files[0], &samples)) return 1;
    bytes planes(2 * samples.size() + 1);
    int length = 0;
    const int active = do_one_dimentional_dct_quality(
        samples.data(), planes.data(), static_cast<int>(samples.size()), &length, voice_quality(o));
    if (active < 0) {
        std::fprintf(stderr, "parlo-codec: the sample count must be a multiple of 64 up to %d\n",
                     codec::kVoiceMaxSamples);
        return 1;
    }
    std::printf("active %d\n", active);
    if (o.raw) return write_file(o.files[1], planes.data(), static_cast<size_t>(length)) ? 0 : 1;
    bytes deflated(static_cast<size_t>(length) + 1024);
    int deflated_length = 0;
    if (deflate_stream(planes.data(), length, deflated.data(), static_cast<int>(deflated.size()),
                       &deflated_length) != 0)
        return 1;
    return write_file(o.files[1], deflated.data(), static_cast<size_t>(deflated_length)) ? 0 : 1;
}

int run_voice_decode(const tool_options& o) {
    if (!need_files(o, 2, 2)) return 1;
    bytes input;
    if (!read_file(o.files[0], &input)) return 1;
    bytes planes;
    if (o.raw) {
        planes = input;
    } else {
        planes.resize(2 * codec::kVoiceMaxSamples);
        int length = 0;
        if (inflate_stream(input.data(), static_cast<int>(input.size()), planes.data(),
                           static_cast<int>(planes.size()), &length) != 0) {
            std::fprintf(stderr, "parlo-codec: %s does not inflate\n", o.files[0].c_str());
            return 1;
        }
        planes.resize(static_cast<size_t>(length));
    }
    const int n = static_cast<int>(planes.size() / 2);
    bytes samples(static_cast<size_t>(n) + 1);
    if (planes.size() % 2 != 0 ||
        do_one_dimentional_idct_quality(planes.data(), samples.data(), n, voice_quality(o)) != 0) {
        std::fprintf(stderr, "parlo-codec: %zu plane bytes are not whole 64-sample blocks\n",
                     planes.size());
        return 1;
    }
    return write_file(o.files[1], samples.data(), static_cast<size_t>(n)) ? 0 : 1;
}

int run_key_encode(const tool_options& o) {
    return encode_plane(o, false);
}
int run_diff_encode(const tool_options& o) {
    return encode_plane(o, true);
}
int run_key_decode(const tool_options& o) {
    return decode_plane(o, false);
}
int run_diff_decode(const tool_options& o) {
    return decode_plane(o, true);
}

int run_rgb_to_yuv(const tool_options& o) {
    if (!need_files(o, 4, 4)) return 1;
    bytes rgb;
    if (!read_file(o.files[0], &rgb)) return 1;
    const size_t pixels = rgb.size() / 3;
    bytes y(pixels), u(pixels), v(pixels);
    convert_rgb_to_yuv(rgb.data(), static_cast<int>(pixels), as_signed(y), as_signed(u),
                       as_signed(v));
    return write_file(o.files[1], y) && write_file(o.files[2], u) && write_file(o.files[3], v) ? 0
                                                                                               : 1;
}

int run_yuv_to_rgb(const tool_options& o) {
    if (!need_files(o, 4, 4)) return 1;
    bytes y, u, v;
    if (!read_file(o.files[0], &y) || !read_file(o.files[1], &u) || !read_file(o.files[2], &v))
        return 1;
    if (u.size() != y.size() || v.size() != y.size()) {
        std::fprintf(stderr, "parlo-codec: the three planes differ in size\n");
        return 1;
    }
    bytes rgb(3 * y.size());
    convert_yuv_to_rgb(as_signed(y), as_signed(u), as_signed(v), static_cast<int>(y.size()),
                       rgb.data());
    return write_file(o.files[3], rgb) ? 0 : 1;
}

int run_deflate(const tool_options& o) {
    if (!need_files(o, 2, 2)) return 1;
    bytes in;
    if (!read_file(o.files[0], &in)) return 1;
    bytes out(in.size() + in.size() / 100 + 1024);
    int length = 0;
    if (deflate_stream(in.data(), static_cast<int>(in.size()), out.data(),
                       static_cast<int>(out.size()), &length) != 0)
        return 1;
    return write_file(o.files[1], out.data(), static_cast<size_t>(length)) ? 0 : 1;
}

int run_inflate(const tool_options& o) {
    if (!need_files(o, 2, 2)) return 1;
    bytes in;
    if (!read_file(o.files[0], &in)) return 1;
    bytes out(4u * 1024 * 1024);
    int length = 0;
    if (inflate_stream(in.data(), static_cast<int>(in.size()), out.data(),
                       static_cast<int>(out.size()), &length) != 0) {
        std::fprintf(stderr, "parlo-codec: %s does not inflate\n", o.files[0].c_str());
        return 1;
    }
    return write_file(o.files[1], out.data(), static_cast<size_t>(length)) ? 0 : 1;
}

int run_record_info(const tool_options& o) {
    if (!need_files(o, 1, 1)) return 1;
    bytes record;
    if (!read_file(o.files[0], &record)) return 1;
    frame_record_view view;
    if (parse_frame_record(record.data(), static_cast<int>(record.size()), &view) != 0) {
        std::fprintf(stderr, "parlo-codec: %s is not a usable frame record\n", o.files[0].c_str());
        return 1;
    }
    static const char* const kNames[kFrameStreams] = {"y-coefficients", "y-overflow",
                                                      "u-coefficients", "u-overflow",
                                                      "v-coefficients", "v-overflow"};
    std::printf("type %s\nquality %d\nsize-index %d (%dx%d)\n", view.type ? "key" : "difference",
                view.quality, view.size_index, view.width, view.height);
    for (int s = 0; s < kFrameStreams; ++s) std::printf("%s %d\n", kNames[s], view.length[s]);
    return 0;
}

int run_tables(const tool_options& o) {
    picture_tables tables;
    build_picture_tables(picture_quality(o), &tables);
    std::printf("quality %d (scale %d%%)\n", tables.quality, picture_scale_percent(tables.quality));
    for (int t = 0; t < 2; ++t) {
        std::printf("%s\n", t == 0 ? "luminance" : "chrominance");
        for (int i = 0; i < codec::kBlockSize; ++i)
            std::printf("%4d%s", tables.scaled[t][i], i % 8 == 7 ? "\n" : "");
    }
    return 0;
}
