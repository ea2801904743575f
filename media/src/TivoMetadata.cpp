#include "media/TivoMetadata.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "PesDecrypt.h"
#include "PesRecord.h"
#include "PsUnits.h"

namespace korvane::media {

bool LooksLikeXml(const uint8_t* data, size_t size) {
    size_t i = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) i = 3;  // UTF-8 byte order mark
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    if (i >= size || data[i] != '<') return false;
    for (size_t k = i; k < size; ++k) {
        uint8_t c = data[k];
        bool text = c >= 0x20 || c == '\t' || c == '\r' || c == '\n';
        if (!text || c == 0x7F) return false;
    }
    return true;
}

bool CryptMetadata(const TivoKeys& keys, uint64_t dataFileOffset, uint8_t* data, size_t size) {
    std::unique_ptr<TuringKeystream> keystream(new TuringKeystream);
    if (!InitKeystream(*keystream, keys.metadata, 0, 0)) return false;
    keystream->Skip(dataFileOffset);
    keystream->Xor(data, size);
    return true;
}

bool DecryptMetadataChunk(const TivoKeys& keys, const TivoChunk& chunk, std::string* text) {
    const uint64_t at = chunk.fileOffset + kTivoChunkHeaderSize;
    if (chunk.data.empty() || at > kMaxMetadataOffset) return false;
    std::string clear(chunk.data.begin(), chunk.data.end());
    if (!CryptMetadata(keys, at, reinterpret_cast<uint8_t*>(&clear[0]), clear.size())) return false;
    *text = std::move(clear);
    return true;
}

const char* KeyFitName(KeyFit fit) {
    switch (fit) {
    case KeyFit::Fits:
        return "fits";
    case KeyFit::Wrong:
        return "wrong";
    case KeyFit::Undecided:
        return "undecided";
    }
    return "unknown";
}

KeyCheck CheckKeyByMetadata(const TivoFile& file, const TivoKeys& keys) {
    KeyCheck check;
    for (const TivoChunk& chunk : file.chunks) {
        if (chunk.type != kTivoChunkEncryptedXml || chunk.data.empty()) continue;
        const uint64_t at = chunk.fileOffset + kTivoChunkHeaderSize;
        if (at > kMaxMetadataOffset || chunk.data.size() < kMinMetadataCheckBytes) return check;
        uint8_t start[kMetadataCheckBytes];
        const size_t size = std::min(chunk.data.size(), sizeof start);
        std::memcpy(start, chunk.data.data(), size);
        if (!CryptMetadata(keys, at, start, size)) return check;
        check.basis = KeyCheckBasis::Metadata;
        check.fit = LooksLikeXml(start, size) ? KeyFit::Fits : KeyFit::Wrong;
        return check;
    }
    return check;
}

namespace {

// A right key turns scrambled video into MPEG-2 video, with a slice start code every few
// hundred bytes; a wrong key gives noise, where 00 00 01 turns up once in 16 MiB. Eight
// codes in the probe window cannot come by chance, and with the codes counted over many
// packets a damaged packet, or a first packet with few slices, changes nothing.
constexpr uint64_t kStartCodesForFit = 8;
// Without those codes, this much decrypted video says the key is wrong; less says nothing.
constexpr uint64_t kVideoBytesForWrong = 256 * 1024;

class NullByteSink final : public ByteSink {
public:
    bool Write(const uint8_t*, size_t) override { return true; }
};

bool IsVideoStartCode(uint8_t code) {
    return code <= 0xAF || code == 0xB2 || code == 0xB3 || code == 0xB5 || code == 0xB7 || code == 0xB8;
}

// Stops the splitter (OnUnit returns false) once it can decide, or when hashing fails.
class VideoCheck {
public:
    explicit VideoCheck(const TivoKeys& keys) : m_keystreams(keys.media) {}

    bool Decided() const { return startCodes >= kStartCodesForFit || videoBytes >= kVideoBytesForWrong; }
    KeyFit Verdict() const {
        if (failed) return KeyFit::Undecided;
        if (startCodes >= kStartCodesForFit) return KeyFit::Fits;
        return videoBytes >= kVideoBytesForWrong ? KeyFit::Wrong : KeyFit::Undecided;
    }

    bool OnUnit(uint8_t* p, size_t size, ps::OutputRun&) {
        if (size < 9 || p[3] < 0xE0 || p[3] > 0xEF || (p[6] & 0xC0) != 0x80 ||
            (p[6] & pes::kScramblingBits) != pes::kScramblingBits)
            return true;
        size_t removed = 0;
        pes::PacketResult result = pes::DecryptPacket(p, size, m_keystreams, &removed);
        if (result == pes::PacketResult::HashFailed) {
            failed = true;
            return false;
        }
        if (result != pes::PacketResult::Decrypted) return true;
        const uint8_t* packet = p + removed;
        size_t headerEnd = size_t(9) + packet[8];
        size_t payload = size - removed - headerEnd;
        videoBytes += payload;
        const uint8_t* q = packet + headerEnd;
        for (size_t i = 0; i + 3 < payload; ++i)
            if (q[i] == 0 && q[i + 1] == 0 && q[i + 2] == 1 && IsVideoStartCode(q[i + 3])) ++startCodes;
        return !Decided();
    }
    bool OnSkipped(const uint8_t*, size_t, bool, ps::OutputRun&) { return true; }
    bool OnTruncated(size_t) { return true; }

    uint64_t startCodes = 0;
    uint64_t videoBytes = 0;
    bool failed = false;

private:
    KeystreamSet m_keystreams;
};

}  // namespace

KeyFit CheckKeyByVideo(ByteSource& source, uint64_t offset, uint64_t size, const TivoKeys& keys) {
    constexpr size_t kPieceSize = 64 << 10;  // decrypted in place, so read into a buffer of our own
    std::unique_ptr<uint8_t[]> piece(new uint8_t[kPieceSize]);
    VideoCheck check(keys);
    ps::UnitSplitter splitter;
    NullByteSink nothing;
    ps::OutputRun run(nothing);
    for (uint64_t done = 0; done < size && !check.Decided() && !check.failed;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kPieceSize, size - done));
        if (source.ReadAt(offset + done, piece.get(), want) != want) return KeyFit::Undecided;
        splitter.Feed(piece.get(), want, check, run);
        done += want;
    }
    if (!check.Decided() && !check.failed) splitter.Finish(check, run);
    return check.Verdict();
}

KeyCheck CheckKey(ByteSource& source, const TivoFile& file, const TivoKeys& keys, size_t probeBytes) {
    KeyCheck check = CheckKeyByMetadata(file, keys);
    if (check.basis == KeyCheckBasis::Metadata || file.payloadKind != PayloadKind::ProgramStream)
        return check;
    check.fit =
        CheckKeyByVideo(source, file.payloadOffset, std::min<uint64_t>(file.payloadSize, probeBytes), keys);
    if (check.fit != KeyFit::Undecided) check.basis = KeyCheckBasis::Video;
    return check;
}

}  // namespace korvane::media
