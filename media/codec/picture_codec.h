// Picture block codec: planes of centred signed bytes (W x H, multiples of 8, at most 640 x 480)
// coded in 8x8 blocks with a single-precision AAN DCT, quantised with the JPEG base tables scaled
// by a quality, zig-zag ordered and packed into bytes: each coded block is its coefficient bytes up
// to the last non-zero one followed by the end marker 0x81 (no marker when all 64 are written),
// and three overflow bytes per block (zig-zag positions 0, 1, 2) go to a separate stream.
//
// Key planes code every block; difference planes code only the blocks whose zig-zag bytes differ
// from the last key frame's by more than a threshold, each preceded by its block row and column.
// Decoders stop at the end of each stream and never read past it; blocks they cannot complete
// keep their previous samples. All functions are pure and thread-safe for distinct arguments.
#pragma once
#include <cstdint>

#include "media/codec/codec_constants.h"

// Table set 0 is for luminance (Y), 1 for chrominance (U, V); pass the chroma flag as the index.
struct picture_tables {
    int quality = 0;                               // the snapped quality: 50, 60, ... 100
    int scaled[2][codec::kBlockSize] = {};         // scaled base tables, natural order
    float divisors[2][codec::kBlockSize] = {};     // encoder, natural order
    float multipliers[2][codec::kBlockSize] = {};  // decoder, natural order
};

// The natural-to-zig-zag map (zig-zag position of natural index 8*row + col) and its inverse.
extern const uint8_t kZigZagOfNatural[codec::kBlockSize];
extern const uint8_t kNaturalOfZigZag[codec::kBlockSize];
// The base quantisation tables in natural order: [0] luminance, [1] chrominance.
extern const uint8_t kBaseQuantTables[2][codec::kBlockSize];

// 50 for anything below 50, then 60, 70, 80, 90, and 100 for 100 and above.
int snap_picture_quality(int quality);
// The table scale percentage of a snapped quality (200 for 50 ... 20 for 100).
int picture_scale_percent(int snapped_quality);
// Fills *tables for the quality (snapped first). Returns 0, or -1 for a null pointer.
int build_picture_tables(int quality, picture_tables* tables);

// One block: transforms, quantises and packs an 8x8 block read at src with row stride `stride`.
// Writes the 64 zig-zag coefficient bytes and the 3 overflow bytes; returns the coded length
// (bytes up to the last non-zero one plus the end marker, or 64).
int encode_picture_block(const float* divisors, const int8_t* src, int stride, int8_t* zigzag,
                         int8_t* overflow);
// One block: dequantises 64 zig-zag bytes plus 3 overflow bytes, inverse-transforms them and
// writes the centred 8x8 samples at dst with row stride `stride`.
void decode_picture_block(const float* multipliers, const int8_t* zigzag, const int8_t* overflow,
                          int8_t* dst, int stride);

// Every block of a plane in coded form, made once per plane and then written out as key or
// difference streams. Large (about 330 KB): keep it out of the stack.
struct coded_plane {
    int width = 0;
    int height = 0;
    int blocks = 0;
    int8_t zigzag[codec::kMaxBlocks][codec::kBlockSize];
    int8_t overflow[codec::kMaxBlocks][codec::kOverflowBytesPerBlock];
    uint8_t length[codec::kMaxBlocks];  // coded length of each block, 2..64
};

// Output buffers of one plane. Encoders need capacities of 64 bytes per block (66 for difference
// planes) and 3 overflow bytes per block, and fail otherwise before writing anything.
struct plane_streams {
    uint8_t* coefficients = nullptr;
    int coefficient_capacity = 0;
    int coefficient_length = 0;
    uint8_t* overflow = nullptr;
    int overflow_capacity = 0;
    int overflow_length = 0;
};

// True for plane sizes the codec handles: positive multiples of 8, at most 640 x 480.
bool valid_plane_size(int width, int height);

// Codes every block of the plane. Returns 0, or -1 for a bad size or pointer.
int code_plane(const picture_tables& tables, const int8_t* plane, int width, int height, int chroma,
               coded_plane* out);
// code_plane for a plane whose key frame was key_plane, coded as key with the same tables: a
// block whose samples equal the key frame's takes the key's coded block instead of being coded
// again (the coding is a function of the samples, so the result is the same). Returns 0 or -1.
// code_plane that also copies the samples into copy (width * height bytes) on the way.
int code_plane_copying(const picture_tables& tables, const int8_t* plane, int width, int height,
                       int chroma, coded_plane* out, int8_t* copy);
int code_plane_against_key(const picture_tables& tables, const int8_t* plane,
                           const int8_t* key_plane, const coded_plane& key, int width, int height,
                           int chroma, coded_plane* out);
// Writes the key-frame streams of a coded plane and, when reference is not null, replaces the
// reference store (64 zig-zag bytes per block, blocks in raster order). Returns 0 or -1.
int write_key_streams(const coded_plane& coded, plane_streams* out, int8_t* reference);
// Writes the difference streams of a coded plane against a reference store: a block is sent
// when one of its zig-zag bytes differs from the reference by more than threshold. Returns the
// percentage of changed blocks (changed * 100 / all), or -1.
int write_difference_streams(const coded_plane& coded, const int8_t* reference, int threshold,
                             plane_streams* out);

// Key-frame plane: code_plane followed by write_key_streams, with `work` as scratch space.
int encode_key_plane(const picture_tables& tables, const int8_t* plane, int width, int height,
                     int chroma, int8_t* reference, plane_streams* out, coded_plane* work);
// Difference plane: code_plane followed by write_difference_streams; returns the percentage.
int encode_difference_plane(const picture_tables& tables, const int8_t* plane, int width,
                            int height, const int8_t* reference, int threshold, int chroma,
                            plane_streams* out, coded_plane* work);

// Decodes key-frame streams into plane (width * height bytes). Returns the number of blocks
// decoded, less than all blocks when a stream ended early (the rest are left untouched), or -1
// for a bad size or pointer.
int decode_key_plane(const picture_tables& tables, const uint8_t* coefficients,
                     int coefficient_length, const uint8_t* overflow, int overflow_length,
                     int width, int height, int chroma, int8_t* plane);
// Applies difference streams to plane, which holds the last key frame. Returns the number of
// blocks replaced, or -1 for a bad size or pointer. Records out of raster order or past the end of
// a stream end the decoding.
int decode_difference_plane(const picture_tables& tables, const uint8_t* coefficients,
                            int coefficient_length, const uint8_t* overflow, int overflow_length,
                            int width, int height, int chroma, int8_t* plane);
