// The streaming program stream reader (fed in chunks whose sizes the input chooses), the probe
// and the payload sniffer; every packet read is passed through the writer, whose output must
// read back with the same payload bytes per stream.
#include "FuzzCommon.h"
#include "media/StreamProbe.h"

using namespace korvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Chunk sizes from 1 byte up; the seeds (which start with 00) get large ones.
    const size_t chunk = size_t(data[0] ^ 0x5A) * 97 + 1;
    ++data;
    --size;
    Record whole;
    ProgramStreamReader reader;
    ReadBothWays(data, size, chunk, whole, reader);
    SniffPayload(data, size);
    if (ProbeProgramStream(data, size).scrambled || whole.perStream.empty()) return 0;
    RewriteAndReadBack<ProgramStreamReader>(data, size, whole);
    return 0;
}
