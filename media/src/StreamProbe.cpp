#include "media/StreamProbe.h"

namespace korvane::media {

const char* PayloadKindName(PayloadKind kind) {
    switch (kind) {
    case PayloadKind::ProgramStream: return "program stream";
    case PayloadKind::TransportStream: return "transport stream";
    case PayloadKind::Unknown: break;
    }
    return "unknown";
}

PayloadSniff SniffPayload(const uint8_t*, size_t) { return {}; }
ProbeResult ProbeProgramStream(const uint8_t*, size_t) { return {}; }

}  // namespace korvane::media
