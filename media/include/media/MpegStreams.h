// Vocabulary shared by the program stream reader, writer and probe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane::media {

// Timestamps are 33-bit counts of a 90 kHz clock as they stand in the stream.
constexpr int64_t kTimestampWrap = int64_t(1) << 33;
constexpr int64_t kTimestampMask = kTimestampWrap - 1;

enum class StreamKind : uint8_t {
    Video,      // MPEG-1/2 video, stream ids 0xE0-0xEF
    MpegAudio,  // MPEG-1/2 audio, stream ids 0xC0-0xDF
    Ac3,        // private stream 1, substreams 0x80-0x87, or raw AC-3 without a substream header
    Other,      // anything else carried in PES packets (LPCM, DTS, subpictures...)
    // Only transport streams bring these (a program stream names them in its stream map).
    H264,  // H.264 video in a video stream id (stream type 0x1B)
    Aac,   // AAC in ADTS frames in an audio stream id (stream type 0x0F)
};

const char* StreamKindName(StreamKind kind);

constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr uint8_t kPaddingStream = 0xBE;
constexpr uint8_t kPrivateStream2 = 0xBF;

// Substream id reported for AC-3 carried in private stream 1 without the four-byte DVD
// substream header (the AC-3 sync word follows the PES header directly).
constexpr uint8_t kRawAc3Substream = 0x80;

// One elementary stream of a program stream: the PES stream id and, for private stream 1,
// the substream id (0 for every other stream id).
struct StreamKey {
    uint8_t streamId = 0;
    uint8_t substreamId = 0;
    friend bool operator==(StreamKey a, StreamKey b) {
        return a.streamId == b.streamId && a.substreamId == b.substreamId;
    }
    friend bool operator!=(StreamKey a, StreamKey b) { return !(a == b); }
    friend bool operator<(StreamKey a, StreamKey b) {
        return a.streamId != b.streamId ? a.streamId < b.streamId : a.substreamId < b.substreamId;
    }
};

StreamKind ClassifyStream(StreamKey key);

// The CRC-32 of MPEG tables (polynomial 0x04C11DB7, not reflected, start 0xFFFFFFFF): over a
// whole section or program stream map with its CRC it gives 0.
uint32_t MpegCrc32(const uint8_t* data, size_t size);

// Difference b - a of two 33-bit timestamps, taking the shorter way round the wrap.
int64_t TimestampDelta(int64_t a, int64_t b);

}  // namespace korvane::media
