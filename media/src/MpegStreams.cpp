#include "media/MpegStreams.h"

namespace korvane::media {

const char* StreamKindName(StreamKind kind) {
    switch (kind) {
    case StreamKind::Video:
        return "video";
    case StreamKind::MpegAudio:
        return "mpeg-audio";
    case StreamKind::Ac3:
        return "ac3";
    case StreamKind::H264:
        return "h264";
    case StreamKind::Aac:
        return "aac";
    case StreamKind::Other:
        break;
    }
    return "other";
}

StreamKind ClassifyStream(StreamKey key) {
    if (key.streamId >= 0xE0 && key.streamId <= 0xEF) return StreamKind::Video;
    if (key.streamId >= 0xC0 && key.streamId <= 0xDF) return StreamKind::MpegAudio;
    if (key.streamId == kPrivateStream1 && key.substreamId >= 0x80 && key.substreamId <= 0x87)
        return StreamKind::Ac3;
    return StreamKind::Other;
}

uint32_t MpegCrc32(const uint8_t* data, size_t size) {
    static const auto table = [] {
        struct Table {
            uint32_t v[256];
        } t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t.v[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ table.v[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

int64_t TimestampDelta(int64_t a, int64_t b) {
    int64_t d = (b - a) & kTimestampMask;
    return d >= kTimestampWrap / 2 ? d - kTimestampWrap : d;
}

}  // namespace korvane::media
