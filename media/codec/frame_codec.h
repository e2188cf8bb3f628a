// Whole video frames: colour conversion, the three planes and the six deflated streams on the
// sending side; a received frame record back to 24-bit pixels on the watching side.
//
// Both objects hold fixed buffers for the largest picture (several megabytes): create them once
// on the heap and reuse them. Neither is thread-safe; the caller serialises access (the sender
// holds its video lock while encoding and while copying a stored frame out).
#pragma once
#include <cstdint>
#include <memory>

#include "media/codec/codec_constants.h"
#include "media/codec/frame_record.h"
#include "media/codec/picture_codec.h"

// The six deflated streams of one encoded frame, with the settings it was coded with.
struct deflated_frame {
    int type = codec::kFrameTypeKey;
    int quality = 0;     // quality the planes were coded with
    int size_index = 0;  // size index of the planes
    int length[kFrameStreams] = {};
    uint8_t y_coefficients[codec::kDeflatedYCoefficientCapacity];
    uint8_t y_overflow[codec::kDeflatedYOverflowCapacity];
    uint8_t u_coefficients[codec::kDeflatedUvCoefficientCapacity];
    uint8_t u_overflow[codec::kDeflatedUvOverflowCapacity];
    uint8_t v_coefficients[codec::kDeflatedUvCoefficientCapacity];
    uint8_t v_overflow[codec::kDeflatedUvOverflowCapacity];

    uint8_t* stream(int s);
    const uint8_t* stream(int s) const;
    static int capacity(int s);
    // Header plus streams, as build_frame_record would write them.
    int record_length() const;
};

// Builds the frame record of a stored frame (its own type, quality and size index).
// Returns the record length or -1 (see build_frame_record).
int build_frame_record_from(const deflated_frame& frame, uint8_t* out, int capacity);

class Ccodec_helper;
// Stops and joins the helper thread (defined where the helper is complete).
struct codec_helper_deleter {
    void operator()(Ccodec_helper* helper) const;
};

// Sender side. A frame is a key frame when more than 20 difference frames followed the last
// one, when the picture size differs from the last key frame's, or when more than 40 % of the
// Y blocks changed (difference threshold 3); otherwise it is a difference frame.
struct frame_encoder {

    int difference_counter = 30;  // above the limit, so the first frame is a key frame
    int key_width = 0;            // size of the last key frame; 0 before the first
    int key_height = 0;
    int last_change_percent = 0;  // Y blocks changed in the last difference test
    picture_tables tables;
    int8_t planes[3][codec::kMaxPlaneBytes];  // Y, U, V of the frame being encoded
    // The planes of the last key frame and the snapped quality it was coded with (0 before the
    // first): blocks of a difference frame that equal them are not coded again.
    int8_t key_planes[3][codec::kMaxPlaneBytes];
    int key_quality = 0;
    // Two sets of coded planes: set key_set holds the last key frame and serves as the reference
    // store; the other receives each new frame and becomes the reference when it is a key frame.
    coded_plane coded[2][3];
    int key_set = 0;
    uint8_t raw_coefficients[3][codec::kMaxCoefficientStream];
    uint8_t raw_overflow[3][codec::kMaxOverflowStream];
    deflated_frame frames[3];
    // The deflated form of the last all-zero overflow stream of each plane, by its length (-1
    // for none yet). Overflow streams are all zero unless low coefficients leave the byte range,
    // and deflating the same bytes again would give the same result.
    struct zero_stream {
        int raw_length = -1;
        int length = 0;
        uint8_t bytes[64];
    } zero_overflow[3];
    deflated_frame* key_frame = &frames[0];         // the last key frame made
    deflated_frame* difference_frame = &frames[1];  // the last difference frame made
    deflated_frame* spare_frame = &frames[2];
    // Frames of 320x240 and up code and deflate their U and V planes on a second thread while
    // the caller's thread takes Y; the bytes are the same either way. The thread is made on the
    // first such frame and joined when the encoder is destroyed.
    bool use_helper_thread = true;
    std::unique_ptr<Ccodec_helper, codec_helper_deleter> helper;
};

// Encodes the planes in encoder->planes (fill them with convert_rgb_to_yuv) of the picture size
// of size_index at the given quality. Returns codec::kFrameTypeKey or codec::kFrameTypeDifference
// for the frame stored, or -1 when a stream does not fit its buffer: then the stored frames, the
// reference stores and the counter stay as they were.
int encode_video_planes(frame_encoder* encoder, int size_index, int quality);

// Colour conversion of the picture's pixels into encoder->planes, then encode_video_planes.
int encode_video_frame(frame_encoder* encoder, const uint8_t* rgb, int size_index, int quality);

// Watching side: the reference planes of the last key frame received and the decoded picture.
struct frame_decoder {
    int reference_width = 0;  // size of the key frame held; 0 before the first
    int reference_height = 0;
    int width = 0;  // size of the picture in rgb
    int height = 0;
    picture_tables tables;
    // Two sets of planes: the key frame held (reference) and the one being decoded; a key frame
    // that decodes whole becomes the reference by a flip, not a copy.
    int8_t buffers[2][3][codec::kMaxPlaneBytes];
    int reference = 0;  // which of buffers holds the key frame
    uint8_t coefficients[codec::kMaxCoefficientStream];
    uint8_t overflow[codec::kMaxOverflowStream];
    uint8_t rgb[codec::kMaxPlaneBytes * 3];
};

// Decodes a received frame record into decoder->rgb (and, for a key frame, the reference
// planes). Returns the frame type, or -1 when the record is dropped and nothing changed: a header
// that does not match the received bytes, a stream that does not inflate, or a difference frame
// without a key frame of the same size.
int decode_video_frame(frame_decoder* decoder, const uint8_t* record, int length);
