#include "media/codec/frame_codec.h"

#include <cstring>
#include <utility>

#include "media/codec/colour_convert.h"
#include "media/codec/deflate_stream.h"
#include "platform/debug_log.h"

namespace {
using codec::kBlockSize;

bool is_chroma(int plane) {
    return plane != 0;
}

void ensure_tables(picture_tables* tables, int quality) {
    if (tables->quality != snap_picture_quality(quality)) build_picture_tables(quality, tables);
}

plane_streams raw_streams(frame_encoder* e, int p) {
    plane_streams s;
    s.coefficients = e->raw_coefficients[p];
    s.coefficient_capacity = codec::kMaxCoefficientStream;
    s.overflow = e->raw_overflow[p];
    s.overflow_capacity = codec::kMaxOverflowStream;
    return s;
}

// Deflates the raw streams of the three planes into frame; 0 or -1 when one does not fit.
int deflate_planes(const plane_streams* raw, deflated_frame* frame) {
    for (int p = 0; p < 3; ++p) {
        const int cs = 2 * p;
        const int os = 2 * p + 1;
        if (deflate_stream(raw[p].coefficients, raw[p].coefficient_length, frame->stream(cs),
                           deflated_frame::capacity(cs), &frame->length[cs]) != 0 ||
            deflate_stream(raw[p].overflow, raw[p].overflow_length, frame->stream(os),
                           deflated_frame::capacity(os), &frame->length[os]) != 0) {
            log_line("stream %d of %d bytes does not fit in encode_video_planes\r\n", cs,
                     raw[p].coefficient_length);
            return -1;
        }
    }
    return 0;
}
}  // namespace

uint8_t* deflated_frame::stream(int s) {
    return const_cast<uint8_t*>(static_cast<const deflated_frame*>(this)->stream(s));
}

const uint8_t* deflated_frame::stream(int s) const {
    switch (s) {
        case kStreamYCoefficients:
            return y_coefficients;
        case kStreamYOverflow:
            return y_overflow;
        case kStreamUCoefficients:
            return u_coefficients;
        case kStreamUOverflow:
            return u_overflow;
        case kStreamVCoefficients:
            return v_coefficients;
        case kStreamVOverflow:
            return v_overflow;
        default:
            return nullptr;
    }
}

int deflated_frame::capacity(int s) {
    switch (s) {
        case kStreamYCoefficients:
            return codec::kDeflatedYCoefficientCapacity;
        case kStreamYOverflow:
            return codec::kDeflatedYOverflowCapacity;
        case kStreamUCoefficients:
        case kStreamVCoefficients:
            return codec::kDeflatedUvCoefficientCapacity;
        case kStreamUOverflow:
        case kStreamVOverflow:
            return codec::kDeflatedUvOverflowCapacity;
        default:
            return 0;
    }
}

int deflated_frame::record_length() const {
    int total = codec::kFrameHeaderBytes;
    for (int s = 0; s < kFrameStreams; ++s) total += length[s];
    return total;
}

int build_frame_record_from(const deflated_frame& frame, uint8_t* out, int capacity) {
    const uint8_t* streams[kFrameStreams];
    for (int s = 0; s < kFrameStreams; ++s) streams[s] = frame.stream(s);
    return build_frame_record(frame.type, frame.quality, frame.size_index, streams, frame.length,
                              out, capacity);
}

int encode_video_planes(frame_encoder* e, int size_index, int quality) {
    if (e == nullptr) return -1;
    int width = 0;
    int height = 0;
    video_size_of_index(size_index, &width, &height);
    ensure_tables(&e->tables, quality);
    plane_streams raw[3] = {raw_streams(e, 0), raw_streams(e, 1), raw_streams(e, 2)};
    coded_plane* coded = e->coded[1 - e->key_set];
    const coded_plane* reference = e->coded[e->key_set];

    bool key = e->difference_counter > codec::kMaxDifferenceFrames || width != e->key_width ||
               height != e->key_height;
    // Unchanged blocks reuse the key frame's coding when it used the same tables. A frame known
    // to be a key frame from the start keeps its samples while coding them; the store of the
    // last key frame is then gone until this frame is stored (see the failure below).
    const bool against_key = !key && e->key_quality == e->tables.quality;
    const bool known_key = key;
    const auto code = [&](int p) {
        if (against_key && !key)
            return code_plane_against_key(e->tables, e->planes[p], e->key_planes[p], reference[p],
                                          width, height, is_chroma(p), &coded[p]);
        return code_plane_copying(e->tables, e->planes[p], width, height, is_chroma(p), &coded[p],
                                  known_key ? e->key_planes[p] : nullptr);
    };
    if (known_key) e->key_quality = 0;
    if (code(0) != 0) return -1;
    if (!key) {
        e->last_change_percent = write_difference_streams(coded[0], &reference[0].zigzag[0][0],
                                                          codec::kDifferenceThreshold, &raw[0]);
        if (e->last_change_percent > codec::kKeyFrameChangePercent) key = true;
    }
    for (int p = 1; p < 3; ++p) code(p);
    if (key) {
        for (int p = 0; p < 3; ++p) write_key_streams(coded[p], &raw[p], nullptr);
    } else {
        for (int p = 1; p < 3; ++p)
            write_difference_streams(coded[p], &reference[p].zigzag[0][0],
                                     codec::kDifferenceThreshold, &raw[p]);
    }

    deflated_frame* out = e->spare_frame;
    if (deflate_planes(raw, out) != 0) {
        e->key_quality = 0;  // the kept samples may no longer be the stored key frame's
        return -1;
    }
    out->type = key ? codec::kFrameTypeKey : codec::kFrameTypeDifference;
    out->quality = quality;
    out->size_index = size_index;
    if (key) {
        e->key_set = 1 - e->key_set;  // the new coded planes become the reference store
        e->key_width = width;
        e->key_height = height;
        e->key_quality = e->tables.quality;
        if (!known_key)
            for (int p = 0; p < 3; ++p)
                std::memcpy(e->key_planes[p], e->planes[p], static_cast<size_t>(width) * height);
        e->difference_counter = 0;
        std::swap(e->spare_frame, e->key_frame);
        return codec::kFrameTypeKey;
    }
    ++e->difference_counter;
    std::swap(e->spare_frame, e->difference_frame);
    return codec::kFrameTypeDifference;
}

int encode_video_frame(frame_encoder* e, const uint8_t* rgb, int size_index, int quality) {
    if (e == nullptr || rgb == nullptr) return -1;
    int width = 0;
    int height = 0;
    video_size_of_index(size_index, &width, &height);
    convert_rgb_to_yuv(rgb, width * height, e->planes[0], e->planes[1], e->planes[2]);
    return encode_video_planes(e, size_index, quality);
}

int decode_video_frame(frame_decoder* d, const uint8_t* record, int length) {
    frame_record_view view;
    if (d == nullptr || parse_frame_record(record, length, &view) != 0) return -1;
    const int width = view.width;
    const int height = view.height;
    const bool key = view.type == codec::kFrameTypeKey;
    if (!key && (width != d->reference_width || height != d->reference_height)) {
        log_line("difference frame %dx%d without its key frame in decode_video_frame\r\n", width,
                 height);
        return -1;
    }
    ensure_tables(&d->tables, view.quality);
    const int pixels = width * height;
    const int blocks = pixels / kBlockSize;
    // A key stream holds at most 64 bytes per block, a difference stream 2 more per block.
    const int coefficient_capacity = key ? pixels : pixels + 2 * blocks;
    const int overflow_capacity = blocks * codec::kOverflowBytesPerBlock;
    for (int p = 0; p < 3; ++p) {
        int coefficient_length = 0;
        int overflow_length = 0;
        if (inflate_stream(view.stream[2 * p], view.length[2 * p], d->coefficients,
                           coefficient_capacity, &coefficient_length) != 0 ||
            inflate_stream(view.stream[2 * p + 1], view.length[2 * p + 1], d->overflow,
                           overflow_capacity, &overflow_length) != 0) {
            log_line("plane %d does not inflate in decode_video_frame\r\n", p);
            return -1;
        }
        int8_t* plane = d->buffers[1 - d->reference][p];
        if (key) {
            int decoded = decode_key_plane(d->tables, d->coefficients, coefficient_length,
                                           d->overflow, overflow_length, width, height,
                                           is_chroma(p), plane);
            // Blocks the streams ran out before are black, in raster order from the first.
            const int columns = width / codec::kBlockSide;
            for (int b = decoded < 0 ? 0 : decoded; b < blocks; ++b)
                for (int row = 0; row < codec::kBlockSide; ++row)
                    std::memset(plane + ((b / columns) * codec::kBlockSide + row) * width +
                                    (b % columns) * codec::kBlockSide,
                                0, codec::kBlockSide);
        } else {
            std::memcpy(plane, d->buffers[d->reference][p], static_cast<size_t>(pixels));
            decode_difference_plane(d->tables, d->coefficients, coefficient_length, d->overflow,
                                    overflow_length, width, height, is_chroma(p), plane);
        }
    }
    int8_t(*done)[codec::kMaxPlaneBytes] = d->buffers[1 - d->reference];
    if (key) {
        d->reference = 1 - d->reference;
        d->reference_width = width;
        d->reference_height = height;
    }
    convert_yuv_to_rgb(done[0], done[1], done[2], pixels, d->rgb);
    d->width = width;
    d->height = height;
    return view.type;
}
