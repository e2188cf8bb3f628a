#include "media/codec/frame_codec.h"

#include <cstring>
#include <exception>
#include <utility>

#include "media/codec/codec_helper.h"
#include "media/codec/colour_convert.h"
#include "media/codec/deflate_stream.h"
#include "platform/debug_log.h"

namespace {
using codec::kBlockSize;

// Below 320x240 a frame takes less time than handing half of it to another thread is worth.
constexpr int kHelperMinimumPixels = 320 * 240;

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

bool all_zero(const uint8_t* bytes, int length) {
    uint64_t any = 0;
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        any |= word;
    }
    for (; i < length; ++i) any |= bytes[i];
    return any == 0;
}

// Deflates an overflow stream, taking an all-zero one of the length seen last from memo.
int deflate_overflow(const uint8_t* raw, int raw_length, uint8_t* out, int capacity, int* length,
                     frame_encoder::zero_stream* memo) {
    const bool zero = all_zero(raw, raw_length);
    if (zero && memo->raw_length == raw_length && memo->length <= capacity) {
        std::memcpy(out, memo->bytes, static_cast<size_t>(memo->length));
        *length = memo->length;
        return 0;
    }
    if (deflate_stream(raw, raw_length, out, capacity, length) != 0) return -1;
    if (zero && *length <= static_cast<int>(sizeof(memo->bytes))) {
        std::memcpy(memo->bytes, out, static_cast<size_t>(*length));
        memo->length = *length;
        memo->raw_length = raw_length;
    }
    return 0;
}

// Deflates the raw streams of plane p into frame; 0 or -1 when one does not fit.
int deflate_plane(const plane_streams& raw, int p, deflated_frame* frame,
                  frame_encoder::zero_stream* memo) {
    const int cs = 2 * p;
    const int os = 2 * p + 1;
    if (deflate_stream(raw.coefficients, raw.coefficient_length, frame->stream(cs),
                       deflated_frame::capacity(cs), &frame->length[cs]) != 0 ||
        deflate_overflow(raw.overflow, raw.overflow_length, frame->stream(os),
                         deflated_frame::capacity(os), &frame->length[os], memo) != 0) {
        log_line("stream %d of %d bytes does not fit in encode_video_planes\r\n", cs,
                 raw.coefficient_length);
        return -1;
    }
    return 0;
}

// One frame on its way through encode_video_planes. With the helper thread, the U and V planes
// go through the same steps there while the caller's thread takes Y; each step touches only its
// own plane's buffers and streams.
struct frame_work {
    frame_encoder* e = nullptr;
    int width = 0;
    int height = 0;
    bool key = false;          // settled before any plane's streams are written
    bool against_key = false;  // unchanged blocks reuse the key frame's coding
    bool known_key = false;    // a key frame from the start: the samples are kept while coding
    coded_plane* coded = nullptr;
    const coded_plane* reference = nullptr;
    plane_streams raw[3];
    deflated_frame* out = nullptr;
    int failed[3] = {};  // deflate results
};

int code_step(frame_work& w, int p) {
    frame_encoder* e = w.e;
    if (w.against_key)
        return code_plane_against_key(e->tables, e->planes[p], e->key_planes[p], w.reference[p],
                                      w.width, w.height, is_chroma(p), &w.coded[p]);
    return code_plane_copying(e->tables, e->planes[p], w.width, w.height, is_chroma(p),
                              &w.coded[p], w.known_key ? e->key_planes[p] : nullptr);
}

void write_step(frame_work& w, int p) {
    if (w.key)
        write_key_streams(w.coded[p], &w.raw[p], nullptr);
    else
        write_difference_streams(w.coded[p], &w.reference[p].zigzag[0][0],
                                 codec::kDifferenceThreshold, &w.raw[p]);
}

void deflate_step(frame_work& w, int p) {
    w.failed[p] = deflate_plane(w.raw[p], p, w.out, &w.e->zero_overflow[p]);
}

// Tasks of the helper thread: the chroma planes whole (a known key frame), or coded first and
// written and deflated once the Y plane has settled the frame type.
void chroma_whole(void* arg) {
    frame_work& w = *static_cast<frame_work*>(arg);
    for (int p = 1; p < 3; ++p) {
        code_step(w, p);
        write_step(w, p);
        deflate_step(w, p);
    }
}

void chroma_code(void* arg) {
    frame_work& w = *static_cast<frame_work*>(arg);
    for (int p = 1; p < 3; ++p) code_step(w, p);
}

void chroma_finish(void* arg) {
    frame_work& w = *static_cast<frame_work*>(arg);
    for (int p = 1; p < 3; ++p) {
        write_step(w, p);
        deflate_step(w, p);
    }
}

// The helper thread of an encoder, made on the first frame large enough to gain from it; null
// when it is switched off or no thread could be made.
Ccodec_helper* helper_for(frame_encoder* e, int width, int height) {
    if (!e->use_helper_thread || width * height < kHelperMinimumPixels) return nullptr;
    if (!e->helper) {
        try {
            e->helper.reset(new Ccodec_helper);
        } catch (const std::exception&) {
            log_line("no helper thread for the video encoder; encoding on one thread\r\n");
            e->use_helper_thread = false;
            return nullptr;
        }
    }
    return e->helper.get();
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

void codec_helper_deleter::operator()(Ccodec_helper* helper) const {
    delete helper;
}

int encode_video_planes(frame_encoder* e, int size_index, int quality) {
    if (e == nullptr) return -1;
    frame_work w;
    w.e = e;
    video_size_of_index(size_index, &w.width, &w.height);
    ensure_tables(&e->tables, quality);
    for (int p = 0; p < 3; ++p) w.raw[p] = raw_streams(e, p);
    w.coded = e->coded[1 - e->key_set];
    w.reference = e->coded[e->key_set];
    w.out = e->spare_frame;

    w.key = e->difference_counter > codec::kMaxDifferenceFrames || w.width != e->key_width ||
            w.height != e->key_height;
    // Unchanged blocks reuse the key frame's coding when it used the same tables. A frame known
    // to be a key frame from the start keeps its samples while coding them; the store of the
    // last key frame is then gone until this frame is stored (see the failure below).
    w.against_key = !w.key && e->key_quality == e->tables.quality;
    w.known_key = w.key;
    if (w.known_key) e->key_quality = 0;
    Ccodec_helper* helper = helper_for(e, w.width, w.height);

    if (w.known_key) {
        if (helper != nullptr) helper->start(chroma_whole, &w);
        const int coded_y = code_step(w, 0);
        if (coded_y == 0) {
            write_step(w, 0);
            deflate_step(w, 0);
        }
        if (helper != nullptr)
            helper->wait();
        else if (coded_y == 0)
            chroma_whole(&w);
        if (coded_y != 0) return -1;
    } else {
        if (helper != nullptr) helper->start(chroma_code, &w);
        const int coded_y = code_step(w, 0);
        if (coded_y == 0) {
            e->last_change_percent = write_difference_streams(
                w.coded[0], &w.reference[0].zigzag[0][0], codec::kDifferenceThreshold, &w.raw[0]);
            if (e->last_change_percent > codec::kKeyFrameChangePercent) w.key = true;
        }
        if (helper != nullptr) helper->wait();
        if (coded_y != 0) return -1;
        if (helper != nullptr) {
            helper->start(chroma_finish, &w);
        } else {
            chroma_code(&w);
        }
        if (w.key) write_step(w, 0);
        deflate_step(w, 0);
        if (helper != nullptr)
            helper->wait();
        else
            chroma_finish(&w);
    }
    if (w.failed[0] != 0 || w.failed[1] != 0 || w.failed[2] != 0) {
        e->key_quality = 0;  // the kept samples may no longer be the stored key frame's
        return -1;
    }

    const bool key = w.key;
    const int width = w.width;
    const int height = w.height;
    deflated_frame* out = w.out;
    out->type = key ? codec::kFrameTypeKey : codec::kFrameTypeDifference;
    out->quality = quality;
    out->size_index = size_index;
    if (key) {
        e->key_set = 1 - e->key_set;  // the new coded planes become the reference store
        e->key_width = width;
        e->key_height = height;
        e->key_quality = e->tables.quality;
        if (!w.known_key)
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
