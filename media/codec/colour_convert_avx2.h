// Internal to the colour conversion: the AVX2 variants of both directions.
#pragma once
#include <cstdint>

// Converts the leading pixels in steps of 16 and returns how many it converted (pixels rounded
// down to a multiple of 16); the caller converts the rest. Call only where the processor has AVX2.
int rgb_to_yuv_avx2(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v);

// The way back, likewise in steps of 16 pixels; returns how many it converted.
int yuv_to_rgb_avx2(const int8_t* y, const int8_t* u, const int8_t* v, int pixels, uint8_t* rgb);
