// A received talk-data body: the quality level, then deflated coefficient planes. Also runs the
// inverse transform directly on the raw bytes as planes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/codec/codec_constants.h"
#include "media/codec/voice_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int quality = data[0] % 4;  // 3 exercises the fallback table
    // Exact-size copy so that any read past the input is caught.
    const std::vector<uint8_t> body(data + 1, data + size);
    static uint8_t samples[codec::kVoiceMaxSamples];
    voice_inflate_and_decode(body.data(), static_cast<int>(body.size()), quality, samples,
                             codec::kVoiceBufferSamples);
    int n = static_cast<int>(body.size() / 2) / 64 * 64;
    if (n > codec::kVoiceMaxSamples) n = codec::kVoiceMaxSamples;
    if (n > 0) {
        const std::vector<uint8_t> planes(body.begin(), body.begin() + 2 * n);
        do_one_dimentional_idct_quality(planes.data(), samples, n, quality);
    }
    return 0;
}
