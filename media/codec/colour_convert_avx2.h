// Internal to the colour conversion: the AVX2 variant of the forward direction.
#pragma once
#include <cstdint>

// Converts the leading pixels in steps of 16 and returns how many it converted (pixels rounded
// down to a multiple of 16); the caller converts the rest. Call only where the processor has AVX2.
int rgb_to_yuv_avx2(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v);
