// Sizes and fixed values of the voice codec, the picture codec and the video frame record. They
// are part of the wire format shared with every other client: change none of them.
#pragma once
#include <cstdint>

namespace codec {

// Voice: 8-bit mono PCM, transformed in blocks of 64 samples.
constexpr int kVoiceBlockSamples = 64;
constexpr int kVoiceMaxSamples = 20480;       // the largest call; the drivers' planes are this size
constexpr int kVoiceBufferSamples = 960;      // one 120 ms buffer at 8000 samples per second
constexpr int kVoiceQualityLevels = 3;        // quality levels 0, 1 and 2
constexpr int kVoiceQualityTableSize = 128;   // entries per quality table (64 used)
constexpr int kVoiceDeflateCapacity = 8000;   // deflated planes of one buffer, sender side
constexpr int kVoiceInflateCapacity = 10230;  // inflated planes, receiver side
constexpr int kVoiceActiveLowByte = 2;        // an AC low byte above this makes a block active

// Pictures: planes of signed bytes coded in 8x8 blocks.
constexpr int kBlockSide = 8;
constexpr int kBlockSize = 64;
constexpr int kMaxWidth = 640;
constexpr int kMaxHeight = 480;
constexpr int kMaxPlaneBytes = kMaxWidth * kMaxHeight;
constexpr int kMaxBlocks = kMaxPlaneBytes / kBlockSize;  // 4800
constexpr int kOverflowBytesPerBlock = 3;                // for zig-zag positions 0, 1 and 2
constexpr int8_t kEndOfBlock = -127;                     // 0x81, never a coefficient byte
constexpr int kCoefficientMin = -126;                    // range of a coefficient byte
constexpr int kCoefficientMax = 127;
constexpr int kDifferenceThreshold = 3;     // a block changes when a byte differs by more than this
constexpr int kKeyFrameChangePercent = 40;  // more changed Y blocks than this forces a key frame
constexpr int kMaxDifferenceFrames = 20;    // a difference counter above this forces a key frame
constexpr int kDefaultVideoQuality = 70;

// Largest raw streams of one plane: 64 bytes per block, plus a row and a column byte per block
// in difference planes; 3 overflow bytes per block.
constexpr int kMaxCoefficientStream = kMaxBlocks * (kBlockSize + 2);
constexpr int kMaxOverflowStream = kMaxBlocks * kOverflowBytesPerBlock;

// Buffers for the deflated streams of one frame, as every client sizes them.
constexpr int kDeflatedYCoefficientCapacity = 307212;
constexpr int kDeflatedUvCoefficientCapacity = 51212;
constexpr int kDeflatedYOverflowCapacity = 14412;
constexpr int kDeflatedUvOverflowCapacity = 12812;

// Video frame record: a header of thirteen little-endian 32-bit integers, then six zlib streams.
constexpr int kFrameHeaderInts = 13;
constexpr int kFrameHeaderBytes = kFrameHeaderInts * 4;  // 52
constexpr int kFrameRecordMaxBytes = 200000;
constexpr int kFrameTypeDifference = 0;
constexpr int kFrameTypeKey = 1;
constexpr int kPeerVideoBufferBytes = 922590;  // receive buffer of a watching chat window

// Video size indexes.
constexpr int kSizeIndexSmall = 0;   // 160x120
constexpr int kSizeIndexMedium = 1;  // 320x240
constexpr int kSizeIndexLarge = 2;   // 640x480

}  // namespace codec
