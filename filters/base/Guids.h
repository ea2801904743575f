// Class ids, media types and format blocks of the filter pack.
#pragma once

#include <windows.h>
#include <guiddef.h>

namespace korvane::filters {

// Class ids under which the program creates the filters it names, and the source's own
// (AddSourceFilter finds it through the check-bytes key); their values are win32/ClassIds.h's.
extern const CLSID CLSID_KorvaneDemultiplexer;
extern const CLSID CLSID_KorvaneMultiplexer;
extern const CLSID CLSID_KorvaneFileDump;
extern const CLSID CLSID_KorvaneTivoSource;

// Name of the check-bytes key under HKCR\Media Type\{MEDIATYPE_Stream}.
extern const GUID MEDIASUBTYPE_KorvaneTivoFile;  // {7AFCCE7B-3DED-45CB-812D-A51EEBB64D40}

// Format of the source's program-stream type: a StreamListFormat block.
extern const GUID FORMAT_KorvaneStreamList;  // {1C6E7CC2-BB25-44CE-8E40-260F1CE4E6B6}
// Format of the demultiplexer's outputs: a PacketStreamFormat block; samples carry
// PacketRecord-framed PES packets (see PacketRecords.h).
extern const GUID FORMAT_KorvanePackets;  // {AC2A1EC0-CF4F-49AD-87B9-E9DCFF37B365}

// Subtypes of the demultiplexer's H.264 and AAC outputs, which mingw's uuids.h lacks:
// MEDIASUBTYPE_H264 (FOURCC "H264") and MEDIASUBTYPE_MPEG_ADTS_AAC (format tag 0x1600).
extern const GUID kSubtypeH264;     // {34363248-0000-0010-8000-00AA00389B71}
extern const GUID kSubtypeAdtsAac;  // {00001600-0000-0010-8000-00AA00389B71}

// Answered only by this pack's filters (QueryInterface yields the BaseFilter), so a filter
// can tell that a peer is one of ours and how it treats samples.
extern const GUID IID_KorvaneBaseFilter;  // {6F2D6F85-BBB9-4531-9B91-24BBF27B1269}

}  // namespace korvane::filters
