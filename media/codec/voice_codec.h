// Voice codec: a one-dimensional DCT over blocks of 64 unsigned 8-bit samples, quantised with one
// of three quality tables and laid out as two byte planes (low bytes, then high byte and sign),
// coefficient by coefficient across all blocks, ready for deflate.
//
// The transform is the direct O(n^2) sum with the angle constant 3.1415926 in double precision;
// the sums run in a fixed order and results are truncated, so that every client produces and
// decodes the same bytes. Nothing here allocates; the functions are safe to call from any thread.
#pragma once
#include <cstdint>

// Encodes n samples (a positive multiple of 64, at most 20480) into 2*n plane bytes and sets
// *out_length to 2*n. Returns 1 when some block is active (an AC coefficient with a low byte above
// 2), 0 when none is, -1 for a bad count (nothing written). A quality other than 0, 1 or 2 uses
// level 0 after a debug-log line.
int do_one_dimentional_dct_quality(const uint8_t* samples, uint8_t* planes_out, int n,
                                   int* out_length, int quality);

// Decodes 2*n plane bytes into n samples (n a positive multiple of 64, at most 20480).
// Returns 0, or -1 for a bad count (nothing written).
int do_one_dimentional_idct_quality(const uint8_t* planes, uint8_t* samples_out, int n,
                                    int quality);

// The quality table of a level (0, 1 or 2; anything else gives level 0 without logging).
const int32_t* voice_quality_table(int quality);

// Receiver side of a talk-data message: inflates the deflated planes (at most 10230 bytes once
// inflated) and decodes them into samples_out. Returns the number of samples written, or -1 when
// the message must be dropped: inflation failed, the inflated length is odd, not a whole number
// of 64-sample blocks, or more than samples_capacity samples.
int voice_inflate_and_decode(const uint8_t* deflated, int deflated_length, int quality,
                             uint8_t* samples_out, int samples_capacity);
