#include "media/codec/deflate_stream.h"

#include <zlib.h>

#ifdef PARLO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {
#ifdef PARLO_HAVE_LIBDEFLATE
// zlib's default level; libdeflate's level 6 is its counterpart in ratio.
constexpr int kLevel = 6;

// One compressor per thread, made on first use and freed when the thread ends.
struct compressor_holder {
    libdeflate_compressor* compressor = nullptr;
    ~compressor_holder() {
        if (compressor != nullptr) libdeflate_free_compressor(compressor);
    }
};

libdeflate_compressor* thread_compressor() {
    thread_local compressor_holder holder;
    if (holder.compressor == nullptr) holder.compressor = libdeflate_alloc_compressor(kLevel);
    return holder.compressor;
}

struct decompressor_holder {
    libdeflate_decompressor* decompressor = nullptr;
    ~decompressor_holder() {
        if (decompressor != nullptr) libdeflate_free_decompressor(decompressor);
    }
};

libdeflate_decompressor* thread_decompressor() {
    thread_local decompressor_holder holder;
    if (holder.decompressor == nullptr) holder.decompressor = libdeflate_alloc_decompressor();
    return holder.decompressor;
}
#endif
}  // namespace

int deflate_stream(const uint8_t* src, int length, uint8_t* dst, int capacity, int* out_length) {
    if ((src == nullptr && length > 0) || dst == nullptr || out_length == nullptr || length < 0 ||
        capacity <= 0)
        return -1;
#ifdef PARLO_HAVE_LIBDEFLATE
    libdeflate_compressor* c = thread_compressor();
    if (c == nullptr) return -1;
    const size_t n = libdeflate_zlib_compress(c, src, static_cast<size_t>(length), dst,
                                              static_cast<size_t>(capacity));
    if (n == 0) return -1;
    *out_length = static_cast<int>(n);
    return 0;
#else
    uLongf n = static_cast<uLongf>(capacity);
    if (compress(dst, &n, src, static_cast<uLong>(length)) != Z_OK) return -1;
    *out_length = static_cast<int>(n);
    return 0;
#endif
}

int inflate_stream(const uint8_t* src, int length, uint8_t* dst, int capacity, int* out_length) {
    if (src == nullptr || dst == nullptr || out_length == nullptr || length <= 0 || capacity <= 0)
        return -1;
#ifdef PARLO_HAVE_LIBDEFLATE
    // Reads exactly what zlib's uncompress reads: one zlib stream, checksum verified, anything
    // after its end ignored.
    libdeflate_decompressor* d = thread_decompressor();
    if (d == nullptr) return -1;
    size_t n = 0;
    if (libdeflate_zlib_decompress(d, src, static_cast<size_t>(length), dst,
                                   static_cast<size_t>(capacity), &n) != LIBDEFLATE_SUCCESS)
        return -1;
    *out_length = static_cast<int>(n);
    return 0;
#else
    uLongf n = static_cast<uLongf>(capacity);
    if (uncompress(dst, &n, src, static_cast<uLong>(length)) != Z_OK) return -1;
    *out_length = static_cast<int>(n);
    return 0;
#endif
}
