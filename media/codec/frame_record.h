// The video frame record a camera owner sends to a watching peer: a 52-byte header of thirteen
// little-endian signed 32-bit integers, then six zlib streams back to back in the order
// Y coefficients, Y overflow, U coefficients, U overflow, V coefficients, V overflow.
//
//   header[0]  frame type: 1 key frame, 0 difference frame
//   header[1]  Y coefficient length    header[6]  Y overflow length
//   header[2]  U coefficient length    header[7]  U overflow length
//   header[3]  V coefficient length    header[8]  V overflow length
//   header[4]  the owner's video quality (50..100)
//   header[5]  size index: 1 = 320x240, 2 = 640x480, anything else 160x120
//   header[9..12] 0
#pragma once
#include <cstdint>

#include "media/codec/codec_constants.h"

// Streams in record order.
enum frame_stream {
    kStreamYCoefficients = 0,
    kStreamYOverflow,
    kStreamUCoefficients,
    kStreamUOverflow,
    kStreamVCoefficients,
    kStreamVOverflow,
    kFrameStreams
};

// A frame record's header and where its streams lie (pointers into the parsed buffer).
struct frame_record_view {
    int type = 0;
    int quality = 0;
    int size_index = 0;
    int width = 0;
    int height = 0;
    const uint8_t* stream[kFrameStreams] = {};
    int length[kFrameStreams] = {};
};

// Picture size of a size index (anything other than 1 or 2 is 160x120).
void video_size_of_index(int size_index, int* width, int* height);

// Builds a record from six streams in record order. Returns the record length, or -1 when a
// length is negative, a stream is missing, or the record would exceed 200000 bytes or capacity.
int build_frame_record(int type, int quality, int size_index, const uint8_t* const* streams,
                       const int* lengths, uint8_t* out, int capacity);

// Reads the header of `length` received bytes and checks it before anything is decoded: the
// type must be 0 or 1, every stream length positive, and the header plus streams must fit both
// the received bytes and 200000. Returns 0 and fills *view, or -1 (the record is to be dropped).
int parse_frame_record(const uint8_t* record, int length, frame_record_view* view);
