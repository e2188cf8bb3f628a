// Bounded text helpers for the fixed-width character fields used throughout the program.
#pragma once
#include <cstddef>
#include <cstring>

// Copies src into dst (dst_size bytes), cutting it to dst_size - 1 characters and always
// terminating it. A null src gives an empty text. Returns dst.
inline char* copy_text(char* dst, size_t dst_size, const char* src) {
    if (dst_size == 0) return dst;
    size_t n = 0;
    if (src) {
        while (n + 1 < dst_size && src[n] != '\0') n++;
        std::memcpy(dst, src, n);
    }
    dst[n] = '\0';
    return dst;
}

// Copies at most src_len bytes of src (stopping at a zero byte) into dst, cut and terminated.
inline char* copy_text_n(char* dst, size_t dst_size, const char* src, size_t src_len) {
    if (dst_size == 0) return dst;
    size_t n = 0;
    if (src) {
        while (n + 1 < dst_size && n < src_len && src[n] != '\0') n++;
        std::memcpy(dst, src, n);
    }
    dst[n] = '\0';
    return dst;
}

template <size_t N>
inline char* copy_text(char (&dst)[N], const char* src) {
    return copy_text(dst, N, src);
}
