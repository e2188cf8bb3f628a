// Colour conversion between 24-bit pixels (b0 red, b1 green, b2 blue) and the three centred
// planes the picture codec works on. Both directions are exact formulas that every client
// computes alike; the fast paths reproduce them bit for bit.
#pragma once
#include <cstdint>

// Integer conversion with arithmetic right shifts (toward minus infinity):
//   Y = ((19595*b0 + 38470*b1 + 7471*b2) >> 16) - 128
//   U = (-11058*b0 - 21708*b1 + 32768*b2) >> 16
//   V = (32768*b0 - 27438*b1 - 5328*b2) >> 16
// Returns 0, or -1 for a null pointer or a negative count.
int convert_rgb_to_yuv(const uint8_t* rgb, int pixels, int8_t* y, int8_t* u, int8_t* v);

// Double-precision conversion back, each value truncated toward zero and limited to 0..255:
//   b0 = y + 128 + 1.402*v
//   b1 = y + 128 - 0.34414*u - 0.71417*v
//   b2 = y + 128 + 1.772*u
// Returns 0, or -1 for a null pointer or a negative count.
int convert_yuv_to_rgb(const int8_t* y, const int8_t* u, const int8_t* v, int pixels, uint8_t* rgb);
