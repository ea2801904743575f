// Format blocks exchanged between our filters, and the media types built on them.
//
// Source -> demultiplexer: MEDIATYPE_Stream / MEDIASUBTYPE_MPEG2_PROGRAM (or _TRANSPORT for a
// transport-stream recording, its streams keyed as media's TransportStreamReader delivers
// them) with a StreamListFormat naming every elementary stream the source found when it loaded the file.
// The demultiplexer makes its output pins from that list while it connects, before a single
// sample has flowed: the engine joins it to the multiplexer straight after.
//
// Demultiplexer -> multiplexer: one stream per pin, PacketStreamFormat, samples holding
// PacketRecords (media/PacketRecords.h: the PES payloads of one input sample with their PTS/DTS,
// by reference), so payload bytes and timestamps cross unchanged and uncopied.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <cstdint>

#include "media/MpegStreams.h"

namespace korvane::filters {

constexpr uint32_t kMaxListedStreams = 32;

struct ListedStream {
    uint8_t streamId;
    uint8_t substreamId;
    uint8_t kind;  // media::StreamKind
    uint8_t reserved;
};

struct StreamListFormat {
    uint32_t size;         // sizeof(StreamListFormat)
    uint32_t streamCount;  // entries used in streams
    uint64_t payloadSize;  // bytes of MPEG payload the source will deliver
    ListedStream streams[kMaxListedStreams];
};

struct PacketStreamFormat {
    uint32_t size;  // sizeof(PacketStreamFormat)
    ListedStream stream;
};

// The format block of mt if it is one of ours and well formed, else null.
const StreamListFormat* AsStreamList(const AM_MEDIA_TYPE* mt);
const PacketStreamFormat* AsPacketStream(const AM_MEDIA_TYPE* mt);

HRESULT MakeStreamListType(AM_MEDIA_TYPE* mt, const StreamListFormat& format, bool transportStream = false);
// A stream list whose payload is a transport stream.
bool IsTransportStreamList(const AM_MEDIA_TYPE* mt);
HRESULT MakePacketStreamType(AM_MEDIA_TYPE* mt, const ListedStream& stream);

media::StreamKey KeyOf(const ListedStream& stream);

// A failure code of our own for a payload that is scrambled (needs the Media Access Key).
constexpr HRESULT KORVANE_E_ENCRYPTED = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A01);

}  // namespace korvane::filters
