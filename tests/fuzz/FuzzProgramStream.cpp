// The streaming program stream reader (fed in chunks whose sizes the input chooses), the probe
// and the payload sniffer; every packet read is passed through the writer, whose output must
// read back with the same payload bytes per stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "media/ProgramStreamReader.h"
#include "media/ProgramStreamWriter.h"
#include "media/StreamProbe.h"

using namespace korvane::media;

namespace {

struct Record final : PacketHandler {
    std::vector<uint8_t> flat;  // every packet's key, timestamps and payload, in order
    std::map<StreamKey, std::vector<uint8_t>> perStream;
    bool OnPacket(const PesPacket& p) override {
        if (p.payloadSize > 65535 || (p.hasPts && (p.pts >> 33) != 0) || (p.hasDts && (p.dts >> 33) != 0))
            __builtin_trap();
        uint8_t key[2] = {p.key.streamId, p.key.substreamId};
        flat.insert(flat.end(), key, key + 2);
        flat.insert(flat.end(), reinterpret_cast<const uint8_t*>(&p.pts),
                    reinterpret_cast<const uint8_t*>(&p.pts) + 8);
        flat.insert(flat.end(), p.payload, p.payload + p.payloadSize);
        if (p.kind != StreamKind::Other) {
            auto& bytes = perStream[p.key];
            bytes.insert(bytes.end(), p.payload, p.payload + p.payloadSize);
        }
        return true;
    }
};

struct Forward final : PacketHandler {
    ProgramStreamWriter* writer = nullptr;
    std::map<StreamKey, int> index;
    bool OnPacket(const PesPacket& p) override {
        if (p.kind == StreamKind::Other) return true;
        auto it = index.find(p.key);
        if (it == index.end()) return true;
        ElementaryPacket e;
        e.payload = p.payload;
        e.payloadSize = p.payloadSize;
        e.hasPts = p.hasPts;
        e.hasDts = p.hasDts;
        e.pts = p.pts;
        e.dts = p.dts;
        std::memcpy(e.substreamHeader, p.substreamHeader, 4);
        e.substreamHeaderSize = p.substreamHeaderSize;
        if (!writer->WritePacket(it->second, e)) __builtin_trap();
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Chunk sizes from 1 byte up; the seeds (which start with 00) get large ones.
    size_t chunk = size_t(data[0] ^ 0x5A) * 97 + 1;
    ++data;
    --size;

    Record whole, pieces;
    ProgramStreamReader a, b;
    a.Feed(data, size, whole);
    a.Finish(whole);
    for (size_t pos = 0; pos < size; pos += chunk)
        b.Feed(data + pos, std::min(chunk, size - pos), pieces);
    b.Finish(pieces);
    if (whole.flat != pieces.flat || a.Status() != b.Status() || a.Stats().pesPackets != b.Stats().pesPackets)
        __builtin_trap();

    SniffPayload(data, size);
    ProbeResult probe = ProbeProgramStream(data, size);
    if (probe.scrambled || whole.perStream.empty()) return 0;

    MemoryByteSink sink;
    WriterOptions options;
    options.maxQueuedBytes = 256 * 1024;
    ProgramStreamWriter writer(sink, options);
    Forward forward;
    forward.writer = &writer;
    for (const auto& s : whole.perStream)
        forward.index[s.first] = writer.AddStream({s.first, ClassifyStream(s.first)});
    ProgramStreamReader c;
    c.Feed(data, size, forward);
    c.Finish(forward);
    if (!writer.Finish()) __builtin_trap();

    Record again;
    ProgramStreamReader d;
    d.Feed(sink.Bytes().data(), sink.Bytes().size(), again);
    d.Finish(again);
    if (d.Stats().damageEvents != 0 || again.perStream != whole.perStream) __builtin_trap();
    return 0;
}
