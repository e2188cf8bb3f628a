// Block-level entry points shared by the plane coder; the public ones are in picture_codec.h.
#pragma once
#include <cstdint>

// Inverse-transforms a block given as integer coefficients in natural order (overflow bytes
// already added) and writes centred samples. dc_only must be true exactly when coefficients
// 1..63 are all zero; that case takes a shortcut with the same result.
void decode_natural_block(const float* multipliers, const int32_t* natural, bool dc_only,
                          int8_t* dst, int stride);

// Whether the AVX2 block transforms are in use (they are by default where the processor has
// AVX2), and a switch for tests that compare both paths. Returns false when the request cannot be
// met (no AVX2 in this build or on this processor).
bool picture_avx2_active();
bool picture_avx2_enable(bool on);

// Codes every block of a plane with the AVX2 transforms when they are in use; false otherwise
// (the caller then codes block by block). When copy is not null, the samples are copied there.
bool encode_plane_blocks_fast(const float* divisors, const int8_t* plane, int width, int height,
                              int8_t (*zigzag)[64], int8_t (*overflow)[3], uint8_t* length,
                              int8_t* copy);
// Decodes every block of a key plane with the AVX2 transforms when they are in use, setting
// *decoded as decode_key_plane returns it; false otherwise (the caller decodes block by block).
bool decode_key_blocks_fast(const float* multipliers, const uint8_t* coefficients,
                            int coefficient_length, const uint8_t* overflow, int overflow_length,
                            int width, int height, int8_t* plane, int* decoded);
