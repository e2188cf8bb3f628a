// Plane level of the picture codec: blocks in raster order (block rows top to bottom, columns left
// to right), written to and read from the coefficient and overflow streams.
#include <cstring>

#include "media/codec/picture_block.h"
#include "media/codec/picture_codec.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
using codec::kBlockSide;
using codec::kBlockSize;
using codec::kOverflowBytesPerBlock;

// Appends a coded block: its first length - 1 bytes and the end marker, or all 64 bytes. Always
// copies 64 bytes (a fixed-size copy is two vector moves, a variable one a library call); the
// bytes past the block are overwritten by the next one or lie beyond the stream's length. The
// callers' capacity of 64 bytes per block (66 with the position bytes) keeps every copy inside
// the buffer, since no earlier block took more than that.
inline uint8_t* put_block(uint8_t* out, const int8_t* zigzag, int length) {
    std::memcpy(out, zigzag, kBlockSize);
    // A length of 64 stands both for a last non-zero byte at position 62 (63 bytes and the
    // marker) and at position 63 (64 bytes, no marker); the last byte tells them apart.
    if (length == kBlockSize && zigzag[kBlockSize - 1] != 0) return out + kBlockSize;
    out[length - 1] = static_cast<uint8_t>(codec::kEndOfBlock);
    return out + length;
}

// True when some byte of a differs from the same byte of b by more than threshold.
inline bool block_changed(const int8_t* a, const int8_t* b, int threshold) {
#if defined(__SSE2__)
    // Saturating differences keep every magnitude above any threshold up to 126.
    if (threshold >= 0 && threshold < 127) {
        const __m128i limit = _mm_set1_epi8(static_cast<char>(threshold));
        __m128i any = _mm_setzero_si128();
        for (int k = 0; k < kBlockSize; k += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
            any = _mm_or_si128(any, _mm_cmpgt_epi8(_mm_subs_epi8(x, y), limit));
            any = _mm_or_si128(any, _mm_cmpgt_epi8(_mm_subs_epi8(y, x), limit));
        }
        return _mm_movemask_epi8(any) != 0;
    }
#endif
    for (int k = 0; k < kBlockSize; ++k) {
        const int d = a[k] - b[k];
        if (d > threshold || -d > threshold) return true;
    }
    return false;
}

// Reads one coded block starting at in[pos]: bytes into zig-zag positions until the end marker or
// 64 bytes, stored at their natural positions, then adds the block's overflow bytes. natural must
// be all zero on entry; clear_block restores that afterwards. Returns the number of bytes
// consumed, or 0 when the stream ends first (the caller then stops decoding). Sets *count to
// the number of coefficient bytes and *dc_only when every coefficient but the first is zero.
inline int read_block(const uint8_t* in, int pos, int length, const uint8_t* overflow,
                      int32_t* natural, int* count, bool* dc_only) {
    int p = 0;
    int i = pos;
    int ac = 0;
    while (p < kBlockSize) {
        if (i >= length) {
            *count = p;
            return 0;
        }
        const int8_t b = static_cast<int8_t>(in[i++]);
        if (b == codec::kEndOfBlock) break;
        natural[kNaturalOfZigZag[p]] = b;
        if (p > 0) ac |= b;
        ++p;
    }
    const int8_t* o = reinterpret_cast<const int8_t*>(overflow);
    natural[0] += 128 * o[0];
    natural[1] += 128 * o[1];
    natural[8] += 128 * o[2];
    *count = p;
    *dc_only = ac == 0 && natural[1] == 0 && natural[8] == 0;
    return i - pos;
}

// Zeroes what read_block wrote: the first count zig-zag positions and the overflow positions.
inline void clear_block(int32_t* natural, int count) {
    for (int p = 0; p < count; ++p) natural[kNaturalOfZigZag[p]] = 0;
    natural[0] = 0;
    natural[1] = 0;
    natural[8] = 0;
}

bool streams_usable(const plane_streams* out, int blocks, int per_block) {
    return out != nullptr && out->coefficients != nullptr && out->overflow != nullptr &&
           out->coefficient_capacity >= blocks * per_block &&
           out->overflow_capacity >= blocks * kOverflowBytesPerBlock;
}
}  // namespace

bool valid_plane_size(int width, int height) {
    return width > 0 && height > 0 && width % kBlockSide == 0 && height % kBlockSide == 0 &&
           width <= codec::kMaxWidth && height <= codec::kMaxHeight;
}

int code_plane(const picture_tables& tables, const int8_t* plane, int width, int height, int chroma,
               coded_plane* out) {
    return code_plane_copying(tables, plane, width, height, chroma, out, nullptr);
}

int code_plane_copying(const picture_tables& tables, const int8_t* plane, int width, int height,
                       int chroma, coded_plane* out, int8_t* copy) {
    if (plane == nullptr || out == nullptr || !valid_plane_size(width, height)) return -1;
    const float* divisors = tables.divisors[chroma ? 1 : 0];
    const int columns = width / kBlockSide;
    const int rows = height / kBlockSide;
    out->width = width;
    out->height = height;
    out->blocks = columns * rows;
    if (encode_plane_blocks_fast(divisors, plane, width, height, out->zigzag, out->overflow,
                                 out->length, copy))
        return 0;
    if (copy != nullptr) std::memcpy(copy, plane, static_cast<size_t>(width) * height);
    int b = 0;
    for (int r = 0; r < rows; ++r) {
        const int8_t* row = plane + r * kBlockSide * width;
        for (int c = 0; c < columns; ++c, ++b) {
            out->length[b] = static_cast<uint8_t>(encode_picture_block(
                divisors, row + c * kBlockSide, width, out->zigzag[b], out->overflow[b]));
        }
    }
    return 0;
}

int code_plane_against_key(const picture_tables& tables, const int8_t* plane,
                           const int8_t* key_plane, const coded_plane& key, int width, int height,
                           int chroma, coded_plane* out) {
    if (plane == nullptr || key_plane == nullptr || out == nullptr || out == &key ||
        !valid_plane_size(width, height) || key.width != width || key.height != height)
        return -1;
    const float* divisors = tables.divisors[chroma ? 1 : 0];
    const int columns = width / kBlockSide;
    const int rows = height / kBlockSide;
    out->width = width;
    out->height = height;
    out->blocks = columns * rows;
    int b = 0;
    for (int r = 0; r < rows; ++r) {
        const int8_t* row = plane + r * kBlockSide * width;
        const int8_t* key_row = key_plane + r * kBlockSide * width;
        for (int c = 0; c < columns; ++c, ++b) {
            const int8_t* src = row + c * kBlockSide;
            const int8_t* old = key_row + c * kBlockSide;
            uint64_t differ = 0;
            for (int k = 0; k < kBlockSide; ++k) {
                uint64_t x = 0;
                uint64_t y = 0;
                std::memcpy(&x, src + k * width, 8);
                std::memcpy(&y, old + k * width, 8);
                differ |= x ^ y;
            }
            if (differ == 0) {
                std::memcpy(out->zigzag[b], key.zigzag[b], kBlockSize);
                std::memcpy(out->overflow[b], key.overflow[b], kOverflowBytesPerBlock);
                out->length[b] = key.length[b];
            } else {
                out->length[b] = static_cast<uint8_t>(
                    encode_picture_block(divisors, src, width, out->zigzag[b], out->overflow[b]));
            }
        }
    }
    return 0;
}

int write_key_streams(const coded_plane& coded, plane_streams* out, int8_t* reference) {
    if (!streams_usable(out, coded.blocks, kBlockSize)) return -1;
    uint8_t* c = out->coefficients;
    uint8_t* o = out->overflow;
    for (int b = 0; b < coded.blocks; ++b) {
        c = put_block(c, coded.zigzag[b], coded.length[b]);
        std::memcpy(o, coded.overflow[b], kOverflowBytesPerBlock);
        o += kOverflowBytesPerBlock;
    }
    out->coefficient_length = static_cast<int>(c - out->coefficients);
    out->overflow_length = static_cast<int>(o - out->overflow);
    if (reference != nullptr)
        std::memcpy(reference, coded.zigzag, static_cast<size_t>(coded.blocks) * kBlockSize);
    return 0;
}

int write_difference_streams(const coded_plane& coded, const int8_t* reference, int threshold,
                             plane_streams* out) {
    if (reference == nullptr || coded.blocks <= 0 ||
        !streams_usable(out, coded.blocks, kBlockSize + 2))
        return -1;
    const int columns = coded.width / kBlockSide;
    uint8_t* c = out->coefficients;
    uint8_t* o = out->overflow;
    int changed = 0;
    for (int b = 0; b < coded.blocks; ++b) {
        if (!block_changed(coded.zigzag[b], reference + b * kBlockSize, threshold)) continue;
        ++changed;
        *c++ = static_cast<uint8_t>(b / columns);
        *c++ = static_cast<uint8_t>(b % columns);
        c = put_block(c, coded.zigzag[b], coded.length[b]);
        std::memcpy(o, coded.overflow[b], kOverflowBytesPerBlock);
        o += kOverflowBytesPerBlock;
    }
    out->coefficient_length = static_cast<int>(c - out->coefficients);
    out->overflow_length = static_cast<int>(o - out->overflow);
    return changed * 100 / coded.blocks;
}

int encode_key_plane(const picture_tables& tables, const int8_t* plane, int width, int height,
                     int chroma, int8_t* reference, plane_streams* out, coded_plane* work) {
    if (work == nullptr || !valid_plane_size(width, height)) return -1;
    const int blocks = (width / kBlockSide) * (height / kBlockSide);
    if (!streams_usable(out, blocks, kBlockSize)) return -1;
    if (code_plane(tables, plane, width, height, chroma, work) != 0) return -1;
    return write_key_streams(*work, out, reference);
}

int encode_difference_plane(const picture_tables& tables, const int8_t* plane, int width,
                            int height, const int8_t* reference, int threshold, int chroma,
                            plane_streams* out, coded_plane* work) {
    if (work == nullptr || reference == nullptr || !valid_plane_size(width, height)) return -1;
    const int blocks = (width / kBlockSide) * (height / kBlockSide);
    if (!streams_usable(out, blocks, kBlockSize + 2)) return -1;
    if (code_plane(tables, plane, width, height, chroma, work) != 0) return -1;
    return write_difference_streams(*work, reference, threshold, out);
}

int decode_key_plane(const picture_tables& tables, const uint8_t* coefficients,
                     int coefficient_length, const uint8_t* overflow, int overflow_length,
                     int width, int height, int chroma, int8_t* plane) {
    if (plane == nullptr || !valid_plane_size(width, height)) return -1;
    if ((coefficients == nullptr && coefficient_length > 0) ||
        (overflow == nullptr && overflow_length > 0))
        return -1;
    const float* multipliers = tables.multipliers[chroma ? 1 : 0];
    int decoded = 0;
    if (decode_key_blocks_fast(multipliers, coefficients, coefficient_length, overflow,
                               overflow_length, width, height, plane, &decoded))
        return decoded;
    const int columns = width / kBlockSide;
    const int rows = height / kBlockSide;
    int cpos = 0;
    int opos = 0;
    int32_t natural[kBlockSize] = {};
    int count = 0;
    bool dc_only = false;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (opos + kOverflowBytesPerBlock > overflow_length) return decoded;
            const int used = read_block(coefficients, cpos, coefficient_length, overflow + opos,
                                        natural, &count, &dc_only);
            if (used == 0) return decoded;
            cpos += used;
            decode_natural_block(multipliers, natural, dc_only,
                                 plane + r * kBlockSide * width + c * kBlockSide, width);
            clear_block(natural, count);
            opos += kOverflowBytesPerBlock;
            ++decoded;
        }
    }
    return decoded;
}

int decode_difference_plane(const picture_tables& tables, const uint8_t* coefficients,
                            int coefficient_length, const uint8_t* overflow, int overflow_length,
                            int width, int height, int chroma, int8_t* plane) {
    if (plane == nullptr || !valid_plane_size(width, height)) return -1;
    if ((coefficients == nullptr && coefficient_length > 0) ||
        (overflow == nullptr && overflow_length > 0))
        return -1;
    const float* multipliers = tables.multipliers[chroma ? 1 : 0];
    const int columns = width / kBlockSide;
    const int rows = height / kBlockSide;
    int cpos = 0;
    int opos = 0;
    int decoded = 0;
    int32_t natural[kBlockSize] = {};
    int count = 0;
    bool dc_only = false;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (cpos + 2 > coefficient_length) return decoded;
            if (coefficients[cpos] != r || coefficients[cpos + 1] != c) continue;
            if (opos + kOverflowBytesPerBlock > overflow_length) return decoded;
            const int used = read_block(coefficients, cpos + 2, coefficient_length, overflow + opos,
                                        natural, &count, &dc_only);
            if (used == 0) return decoded;
            cpos += 2 + used;
            decode_natural_block(multipliers, natural, dc_only,
                                 plane + r * kBlockSide * width + c * kBlockSide, width);
            clear_block(natural, count);
            opos += kOverflowBytesPerBlock;
            ++decoded;
        }
    }
    return decoded;
}
