#include "Formats.h"

#include <uuids.h>

#include "base/BaseFilter.h"
#include "base/Guids.h"

namespace korvane::filters {

const StreamListFormat* AsStreamList(const AM_MEDIA_TYPE* mt) {
    if (!mt || !IsEqualGUID(mt->majortype, MEDIATYPE_Stream) ||
        !(IsEqualGUID(mt->subtype, MEDIASUBTYPE_MPEG2_PROGRAM) ||
          IsEqualGUID(mt->subtype, MEDIASUBTYPE_MPEG2_TRANSPORT)) ||
        !IsEqualGUID(mt->formattype, FORMAT_KorvaneStreamList) || mt->cbFormat != sizeof(StreamListFormat) ||
        !mt->pbFormat)
        return nullptr;
    auto* f = reinterpret_cast<const StreamListFormat*>(mt->pbFormat);
    if (f->size != sizeof(StreamListFormat) || f->streamCount == 0 || f->streamCount > kMaxListedStreams)
        return nullptr;
    return f;
}

const PacketStreamFormat* AsPacketStream(const AM_MEDIA_TYPE* mt) {
    if (!mt || !IsEqualGUID(mt->formattype, FORMAT_KorvanePackets) ||
        mt->cbFormat != sizeof(PacketStreamFormat) || !mt->pbFormat)
        return nullptr;
    auto* f = reinterpret_cast<const PacketStreamFormat*>(mt->pbFormat);
    return f->size == sizeof(PacketStreamFormat) ? f : nullptr;
}

bool IsTransportStreamList(const AM_MEDIA_TYPE* mt) {
    return AsStreamList(mt) && IsEqualGUID(mt->subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
}

HRESULT MakeStreamListType(AM_MEDIA_TYPE* mt, const StreamListFormat& format, bool transportStream) {
    return MakeMediaType(mt, MEDIATYPE_Stream,
                         transportStream ? MEDIASUBTYPE_MPEG2_TRANSPORT : MEDIASUBTYPE_MPEG2_PROGRAM,
                         FORMAT_KorvaneStreamList, &format, sizeof(format));
}

HRESULT MakePacketStreamType(AM_MEDIA_TYPE* mt, const ListedStream& stream) {
    PacketStreamFormat format{sizeof(PacketStreamFormat), stream};
    GUID major = MEDIATYPE_Stream, sub = MEDIASUBTYPE_None;
    switch (static_cast<media::StreamKind>(stream.kind)) {
    case media::StreamKind::Video:
        major = MEDIATYPE_Video;
        sub = MEDIASUBTYPE_MPEG2_VIDEO;
        break;
    case media::StreamKind::MpegAudio:
        major = MEDIATYPE_Audio;
        sub = MEDIASUBTYPE_MPEG2_AUDIO;
        break;
    case media::StreamKind::Ac3:
        major = MEDIATYPE_Audio;
        sub = MEDIASUBTYPE_DOLBY_AC3;
        break;
    case media::StreamKind::H264:
        major = MEDIATYPE_Video;
        sub = kSubtypeH264;
        break;
    case media::StreamKind::Aac:  // the transport-stream reader hands AAC on in its ADTS frames
        major = MEDIATYPE_Audio;
        sub = kSubtypeAdtsAac;
        break;
    case media::StreamKind::Other:
        break;
    }
    return MakeMediaType(mt, major, sub, FORMAT_KorvanePackets, &format, sizeof(format));
}

media::StreamKey KeyOf(const ListedStream& stream) {
    media::StreamKey key;
    key.streamId = stream.streamId;
    key.substreamId = stream.substreamId;
    return key;
}

}  // namespace korvane::filters
