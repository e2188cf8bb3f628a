#include "media/codec/frame_record.h"

#include <cstring>

#include "platform/debug_log.h"

namespace {
using codec::kFrameHeaderBytes;
using codec::kFrameHeaderInts;
using codec::kFrameRecordMaxBytes;

// Header index of each stream's length, in record order.
constexpr int kLengthIndex[kFrameStreams] = {1, 6, 2, 7, 3, 8};

void put_le32(uint8_t* p, int32_t value) {
    const uint32_t u = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
    p[3] = static_cast<uint8_t>(u >> 24);
}

int32_t get_le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

void video_size_of_index(int size_index, int* width, int* height) {
    int w = 160;
    int h = 120;
    if (size_index == codec::kSizeIndexMedium) {
        w = 320;
        h = 240;
    } else if (size_index == codec::kSizeIndexLarge) {
        w = 640;
        h = 480;
    }
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
}

int build_frame_record(int type, int quality, int size_index, const uint8_t* const* streams,
                       const int* lengths, uint8_t* out, int capacity) {
    if (streams == nullptr || lengths == nullptr || out == nullptr) return -1;
    int64_t total = kFrameHeaderBytes;
    for (int s = 0; s < kFrameStreams; ++s) {
        if (lengths[s] < 0 || (lengths[s] > 0 && streams[s] == nullptr)) return -1;
        total += lengths[s];
    }
    if (total > kFrameRecordMaxBytes || total > capacity) {
        log_line("frame record size:%lld too big in build_frame_record, capacity:%d\r\n",
                 static_cast<long long>(total), capacity);
        return -1;
    }
    int32_t header[kFrameHeaderInts] = {};
    header[0] = type;
    header[4] = quality;
    header[5] = size_index;
    for (int s = 0; s < kFrameStreams; ++s) header[kLengthIndex[s]] = lengths[s];
    for (int i = 0; i < kFrameHeaderInts; ++i) put_le32(out + 4 * i, header[i]);
    int pos = kFrameHeaderBytes;
    for (int s = 0; s < kFrameStreams; ++s) {
        if (lengths[s] > 0) std::memcpy(out + pos, streams[s], static_cast<size_t>(lengths[s]));
        pos += lengths[s];
    }
    return pos;
}

int parse_frame_record(const uint8_t* record, int length, frame_record_view* view) {
    if (record == nullptr || view == nullptr || length < kFrameHeaderBytes) {
        log_line("frame record of %d bytes too short in parse_frame_record\r\n", length);
        return -1;
    }
    const int32_t type = get_le32(record);
    if (type != codec::kFrameTypeKey && type != codec::kFrameTypeDifference) {
        log_line("frame type:%d unknown in parse_frame_record\r\n", type);
        return -1;
    }
    int64_t total = kFrameHeaderBytes;
    int lengths[kFrameStreams];
    for (int s = 0; s < kFrameStreams; ++s) {
        lengths[s] = get_le32(record + 4 * kLengthIndex[s]);
        if (lengths[s] <= 0) {
            log_line("stream %d length:%d implausible in parse_frame_record\r\n", s, lengths[s]);
            return -1;
        }
        total += lengths[s];
    }
    if (total > length || total > kFrameRecordMaxBytes) {
        log_line("frame record needs %lld bytes, has %d in parse_frame_record\r\n",
                 static_cast<long long>(total), length);
        return -1;
    }
    view->type = type;
    view->quality = get_le32(record + 16);
    view->size_index = get_le32(record + 20);
    video_size_of_index(view->size_index, &view->width, &view->height);
    int pos = kFrameHeaderBytes;
    for (int s = 0; s < kFrameStreams; ++s) {
        view->stream[s] = record + pos;
        view->length[s] = lengths[s];
        pos += lengths[s];
    }
    return 0;
}
