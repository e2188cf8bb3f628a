// Key-frame or difference-plane decoding of hostile coefficient and overflow streams. The first
// four bytes choose the quality, the plane size, the table and where the two streams split.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/codec/codec_constants.h"
#include "media/codec/picture_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static const int kWidths[] = {8, 160, 320, 640};
    static const int kHeights[] = {8, 120, 240, 480};
    picture_tables tables;
    build_picture_tables(50 + 10 * (data[0] % 6), &tables);
    const int size_index = data[1] & 3;
    const int chroma = (data[1] >> 2) & 1;
    const size_t rest = size - 4;
    const size_t split = rest == 0 ? 0 : (static_cast<size_t>(data[2]) << 8 | data[3]) % (rest + 1);
    // Exact-size copies so that any read past either stream is caught.
    const std::vector<uint8_t> coefficients(data + 4, data + 4 + split);
    const std::vector<uint8_t> overflow(data + 4 + split, data + size);
    static int8_t plane[codec::kMaxPlaneBytes];
    const int w = kWidths[size_index];
    const int h = kHeights[size_index];
#if FUZZ_DIFFERENCE_PLANE
    const int n = decode_difference_plane(tables, coefficients.data(),
                                          static_cast<int>(coefficients.size()), overflow.data(),
                                          static_cast<int>(overflow.size()), w, h, chroma, plane);
#else
    const int n =
        decode_key_plane(tables, coefficients.data(), static_cast<int>(coefficients.size()),
                         overflow.data(), static_cast<int>(overflow.size()), w, h, chroma, plane);
#endif
    if (n < 0 || n > (w / 8) * (h / 8)) __builtin_trap();
    return 0;
}
