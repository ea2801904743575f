// What the fuzz targets share: reading a stream whole and in input-chosen chunks (the two
// must agree), writing what was read into a program stream and reading it back, and fixed keys.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "media/ProgramStreamEncryptor.h"
#include "media/ProgramStreamReader.h"
#include "media/ProgramStreamWriter.h"
#include "media/TivoKeys.h"

namespace korvane::fuzz {

using namespace korvane::media;
using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// Every packet's key, timestamps and payload in order, and each carried stream's bytes.
struct Record final : PacketHandler {
    Bytes flat;
    std::map<StreamKey, Bytes> perStream;
    std::map<StreamKey, StreamKind> kinds;
    size_t maxPayload = 65535;
    bool carriedOnly = false;  // a transport stream reader delivers only non-empty carried streams
    bool OnPacket(const PesPacket& p) override {
        if (p.payloadSize > maxPayload || (p.hasPts && (p.pts >> 33) != 0) ||
            (p.hasDts && (p.dts >> 33) != 0) ||
            (carriedOnly && (p.payloadSize == 0 || p.kind == StreamKind::Other)))
            __builtin_trap();
        const uint8_t key[2] = {p.key.streamId, p.key.substreamId};
        flat.insert(flat.end(), key, key + 2);
        flat.insert(flat.end(), reinterpret_cast<const uint8_t*>(&p.pts),
                    reinterpret_cast<const uint8_t*>(&p.pts) + 8);
        flat.insert(flat.end(), p.payload, p.payload + p.payloadSize);
        if (p.kind == StreamKind::Other) return true;
        Bytes& bytes = perStream[p.key];
        bytes.insert(bytes.end(), p.payload, p.payload + p.payloadSize);
        // One key, one kind (a PID that changes kind in a new PMT gets a new key).
        if (kinds.emplace(p.key, p.kind).first->second != p.kind) __builtin_trap();
        return true;
    }
};

// Reads the input whole into `whole` and in chunks of `chunk` bytes; traps when they differ.
template <class Reader>
void ReadBothWays(const uint8_t* data, size_t size, size_t chunk, Record& whole, Reader& a) {
    Record pieces;
    pieces.maxPayload = whole.maxPayload;
    pieces.carriedOnly = whole.carriedOnly;
    Reader b;
    a.Feed(data, size, whole);
    a.Finish(whole);
    for (size_t pos = 0; pos < size; pos += chunk)
        b.Feed(data + pos, std::min(chunk, size - pos), pieces);
    b.Finish(pieces);
    if (whole.flat != pieces.flat || a.Status() != b.Status() ||
        a.Stats().pesPackets != b.Stats().pesPackets || a.Stats().bytesSkipped != b.Stats().bytesSkipped)
        __builtin_trap();
}

// Reads the input again straight into a program stream writer; the written stream must read
// back without damage and with the same bytes per stream.
template <class Reader>
void RewriteAndReadBack(const uint8_t* data, size_t size, const Record& whole) {
    struct Forward final : PacketHandler {
        ProgramStreamWriter* writer = nullptr;
        std::map<StreamKey, int> index;
        bool OnPacket(const PesPacket& p) override {
            auto it = index.find(p.key);
            if (p.kind == StreamKind::Other || it == index.end()) return true;
            ElementaryPacket e{p.payload, p.payloadSize, p.hasPts, p.hasDts,
                               p.pts,     p.dts,         {},       p.substreamHeaderSize};
            std::memcpy(e.substreamHeader, p.substreamHeader, 4);
            if (!writer->WritePacket(it->second, e)) __builtin_trap();
            return true;
        }
    };
    MemoryByteSink sink;
    WriterOptions options;
    options.maxQueuedBytes = 256 * 1024;
    ProgramStreamWriter writer(sink, options);
    Forward forward;
    forward.writer = &writer;
    for (const auto& s : whole.kinds)
        forward.index[s.first] = writer.AddStream({s.first, s.second});
    Reader c;
    c.Feed(data, size, forward);
    c.Finish(forward);
    if (!writer.Finish()) __builtin_trap();

    Record again;
    ProgramStreamReader d;
    d.Feed(sink.Bytes().data(), sink.Bytes().size(), again);
    d.Finish(again);
    if (d.Stats().damageEvents != 0 || again.perStream != whole.perStream) __builtin_trap();
}

// Decrypts a copy of the input in chunks; traps if the decryptor fails.
template <class Decryptor>
Bytes Decrypt(const TivoKeys& keys, const Bytes& input, size_t chunk) {
    Bytes work(input);
    Decryptor decryptor(keys);
    MemoryByteSink out;
    for (size_t pos = 0; pos < work.size(); pos += chunk)
        if (!decryptor.Feed(work.data() + pos, std::min(chunk, work.size() - pos), out)) __builtin_trap();
    if (!decryptor.Finish(out)) __builtin_trap();
    return out.Bytes();
}

// Whatever the encryptor accepts must decrypt back to exactly its input.
template <class Encryptor, class Decryptor>
void EncryptAndBack(const TivoKeys& keys, const Bytes& input, uint32_t packetsPerBlock, size_t chunk) {
    Bytes work(input);
    EncryptOptions options;
    options.packetsPerBlock = packetsPerBlock;
    Encryptor encryptor(keys, options);
    MemoryByteSink encrypted;
    if (encryptor.Feed(work.data(), work.size(), encrypted) && encryptor.Finish(encrypted)) {
        if (Decrypt<Decryptor>(keys, encrypted.Bytes(), chunk) != input) __builtin_trap();
    }
}

// The input scrambled by the encryptor as far as it takes it (a unit or packet cut short by the
// end is left out), or as it was when the encryptor refuses it.
template <class Encryptor>
Bytes ScrambledIfPossible(const TivoKeys& keys, const uint8_t* data, size_t size) {
    Bytes work(data, data + size);
    Encryptor encryptor(keys);
    MemoryByteSink out;
    return encryptor.Feed(work.data(), work.size(), out) ? out.Bytes() : Bytes(data, data + size);
}

inline const TivoKeys& Keys() {
    static const TivoKeys keys = [] {
        TivoKeys k;
        static const uint8_t license[] = "<license><salt>00112233445566778899aabbccddeeff</salt></license>";
        if (!DeriveTivoKeys("0123456789", license, sizeof license - 1, &k)) __builtin_trap();
        return k;
    }();
    return keys;
}

}  // namespace korvane::fuzz
