// The streaming transport stream reader (fed in chunks whose sizes the input chooses) and the
// probe; every packet read is passed through the program stream writer, whose output must
// read back with the same payload bytes per stream. The decryptor takes the same input in
// the same chunks and must give the same output as in one piece, with nothing scrambled left;
// what the encryptor accepts must decrypt back bit for bit.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "media/ProgramStreamReader.h"
#include "media/ProgramStreamWriter.h"
#include "media/StreamProbe.h"
#include "media/TransportStreamDecryptor.h"
#include "media/TransportStreamEncryptor.h"
#include "media/TransportStreamReader.h"

using namespace korvane::media;

namespace {

struct Record final : PacketHandler {
    std::vector<uint8_t> flat;  // every packet's key, timestamps and payload, in order
    std::map<StreamKey, std::vector<uint8_t>> perStream;
    std::map<StreamKey, StreamKind> kinds;
    bool OnPacket(const PesPacket& p) override {
        if (p.payloadSize == 0 || p.payloadSize > kMaxTsPesBytes || (p.hasPts && (p.pts >> 33) != 0) ||
            (p.hasDts && (p.dts >> 33) != 0) || p.kind == StreamKind::Other)
            __builtin_trap();
        uint8_t key[2] = {p.key.streamId, p.key.substreamId};
        flat.insert(flat.end(), key, key + 2);
        flat.insert(flat.end(), reinterpret_cast<const uint8_t*>(&p.pts),
                    reinterpret_cast<const uint8_t*>(&p.pts) + 8);
        flat.insert(flat.end(), p.payload, p.payload + p.payloadSize);
        auto& bytes = perStream[p.key];
        bytes.insert(bytes.end(), p.payload, p.payload + p.payloadSize);
        // A PID may change kind in a new PMT version, and then gets a new key: one key, one kind.
        auto k = kinds.emplace(p.key, p.kind);
        if (k.first->second != p.kind) __builtin_trap();
        return true;
    }
};

struct Forward final : PacketHandler {
    ProgramStreamWriter* writer = nullptr;
    std::map<StreamKey, int> index;
    bool OnPacket(const PesPacket& p) override {
        auto it = index.find(p.key);
        if (it == index.end()) __builtin_trap();
        ElementaryPacket e;
        e.payload = p.payload;
        e.payloadSize = p.payloadSize;
        e.hasPts = p.hasPts;
        e.hasDts = p.hasDts;
        e.pts = p.pts;
        e.dts = p.dts;
        if (!writer->WritePacket(it->second, e)) __builtin_trap();
        return true;
    }
};

// The program stream reader gives AC-3 as substream 0x80.. and everything else by stream id.
struct Readback final : PacketHandler {
    std::map<StreamKey, std::vector<uint8_t>> perStream;
    bool OnPacket(const PesPacket& p) override {
        auto& bytes = perStream[p.key];
        bytes.insert(bytes.end(), p.payload, p.payload + p.payloadSize);
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Chunk sizes from 1 byte up; the seeds (which start with 0x47) get large ones.
    size_t chunk = size_t(data[0] ^ 0x12) * 97 + 1;
    ++data;
    --size;

    Record whole, pieces;
    TransportStreamReader a, b;
    a.Feed(data, size, whole);
    a.Finish(whole);
    for (size_t pos = 0; pos < size; pos += chunk)
        b.Feed(data + pos, std::min(chunk, size - pos), pieces);
    b.Finish(pieces);
    if (whole.flat != pieces.flat || a.Status() != b.Status() ||
        a.Stats().pesPackets != b.Stats().pesPackets || a.Stats().bytesSkipped != b.Stats().bytesSkipped)
        __builtin_trap();

    static const TivoKeys keys = [] {
        TivoKeys k;
        for (size_t i = 0; i < sizeof k.media; ++i)
            k.media[i] = static_cast<uint8_t>(i * 13 + 1);
        return k;
    }();
    {
        std::vector<uint8_t> one(data, data + size), two(data, data + size);
        MemoryByteSink x, y;
        TransportStreamDecryptor whole(keys), cut(keys);
        whole.Feed(one.data(), one.size(), x);
        whole.Finish(x);
        for (size_t pos = 0; pos < size; pos += chunk)
            cut.Feed(two.data() + pos, std::min(chunk, size - pos), y);
        cut.Finish(y);
        if (x.Bytes() != y.Bytes() || x.Bytes().size() % kTsPacketSize != 0) __builtin_trap();
        for (size_t i = 0; i < x.Bytes().size(); i += kTsPacketSize)
            if (x.Bytes()[i + 3] & 0xC0) __builtin_trap();  // passed on as scrambled

        std::vector<uint8_t> clear(data, data + size);
        MemoryByteSink encrypted, back;
        EncryptOptions options;
        options.packetsPerBlock = 3;
        TransportStreamEncryptor encryptor(keys, options);
        if (encryptor.Feed(clear.data(), clear.size(), encrypted) && encryptor.Finish(encrypted)) {
            std::vector<uint8_t> bytes = encrypted.Bytes();
            TransportStreamDecryptor decryptor(keys);
            decryptor.Feed(bytes.data(), bytes.size(), back);
            decryptor.Finish(back);
            if (back.Bytes() != std::vector<uint8_t>(data, data + size)) __builtin_trap();
        }
    }

    SniffPayload(data, size);
    ProbeResult probe = ProbeTransportStream(data, size);
    if (probe.scrambled || whole.perStream.empty()) return 0;

    MemoryByteSink sink;
    WriterOptions options;
    options.maxQueuedBytes = 256 * 1024;
    ProgramStreamWriter writer(sink, options);
    Forward forward;
    forward.writer = &writer;
    for (const auto& s : whole.kinds)
        forward.index[s.first] = writer.AddStream({s.first, s.second});
    TransportStreamReader c;
    c.Feed(data, size, forward);
    c.Finish(forward);
    if (!writer.Finish()) __builtin_trap();

    Readback again;
    ProgramStreamReader d;
    d.Feed(sink.Bytes().data(), sink.Bytes().size(), again);
    d.Finish(again);
    if (d.Stats().damageEvents != 0 || again.perStream != whole.perStream) __builtin_trap();
    return 0;
}
