#include "media/MpegStreams.h"

namespace korvane::media {

const char* StreamKindName(StreamKind kind) {
    switch (kind) {
    case StreamKind::Video: return "video";
    case StreamKind::MpegAudio: return "mpeg-audio";
    case StreamKind::Ac3: return "ac3";
    case StreamKind::Other: break;
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

int64_t TimestampDelta(int64_t a, int64_t b) {
    int64_t d = (b - a) & kTimestampMask;
    return d >= kTimestampWrap / 2 ? d - kTimestampWrap : d;
}

}  // namespace korvane::media
