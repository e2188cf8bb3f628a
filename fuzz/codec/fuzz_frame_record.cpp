// A received video frame record. Odd first byte: the rest is the record as received. Even first
// byte: the rest is split into six raw streams that are deflated and framed with header fields
// from the input, so that the decoders behind the zlib layer are reached as well.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "media/codec/codec_constants.h"
#include "media/codec/deflate_stream.h"
#include "media/codec/frame_codec.h"
#include "media/codec/frame_record.h"

namespace {
frame_decoder* decoder() {
    static frame_decoder* d = new frame_decoder();
    return d;
}

// Restores a fixed decoder state (a grey 160x120 key frame) so every input runs alike.
void reset(frame_decoder* d) {
    for (auto& plane : d->buffers[d->reference]) std::memset(plane, 0, 160 * 120);
    d->reference_width = 160;
    d->reference_height = 120;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    frame_decoder* d = decoder();
    reset(d);
    if (data[0] & 1) {
        const std::vector<uint8_t> record(data + 1, data + size);
        frame_record_view view;
        if (parse_frame_record(record.data(), static_cast<int>(record.size()), &view) == 0) {
            if (view.stream[kFrameStreams - 1] + view.length[kFrameStreams - 1] >
                record.data() + record.size())
                __builtin_trap();
        }
        decode_video_frame(d, record.data(), static_cast<int>(record.size()));
        return 0;
    }
    if (size < 4 + kFrameStreams * 2) return 0;
    const int type = data[1] & 1;
    const int quality = data[2];
    const int size_index = data[3] % 4;
    size_t pos = 4 + kFrameStreams * 2;
    static uint8_t raw[codec::kMaxCoefficientStream];
    static uint8_t deflated[kFrameStreams][codec::kMaxCoefficientStream + 1024];
    const uint8_t* streams[kFrameStreams];
    int lengths[kFrameStreams];
    for (int s = 0; s < kFrameStreams; ++s) {
        size_t n = static_cast<size_t>(data[4 + 2 * s]) << 8 | data[5 + 2 * s];
        if (n > size - pos) n = size - pos;
        std::memcpy(raw, data + pos, n);
        pos += n;
        if (deflate_stream(raw, static_cast<int>(n), deflated[s], sizeof(deflated[s]),
                           &lengths[s]) != 0)
            return 0;
        streams[s] = deflated[s];
    }
    static uint8_t record[codec::kFrameRecordMaxBytes];
    const int n =
        build_frame_record(type, quality, size_index, streams, lengths, record, sizeof(record));
    if (n < 0) return 0;
    const std::vector<uint8_t> exact(record, record + n);
    decode_video_frame(d, exact.data(), n);
    return 0;
}
