#include "media/TivoWriter.h"

#include <cstdio>
#include <memory>
#include <random>

#include "media/StreamProbe.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"
#include "media/TransportStreamEncryptor.h"

namespace korvane::media {
namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void PutBe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    PutBe16(out, static_cast<uint16_t>(v >> 16));
    PutBe16(out, static_cast<uint16_t>(v));
}

// Appends the chunk and returns the offset of its data within out.
size_t AppendChunk(std::vector<uint8_t>& out, uint16_t id, const std::string& xml,
                   uint16_t type = kTivoChunkPlainXml) {
    uint32_t dataSize = static_cast<uint32_t>(xml.size());
    uint32_t chunkSize = (static_cast<uint32_t>(kTivoChunkHeaderSize) + dataSize + 3) & ~3u;
    PutBe32(out, chunkSize);
    PutBe32(out, dataSize);
    PutBe16(out, id);
    PutBe16(out, type);
    size_t dataAt = out.size();
    out.insert(out.end(), xml.begin(), xml.end());
    out.resize(out.size() + (chunkSize - kTivoChunkHeaderSize - dataSize), 0);
    return dataAt;
}

bool IsHexDigits(const std::string& text, size_t count) {
    if (text.size() != count) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

std::string RandomSalt() {
    std::random_device random;
    static const char kHex[] = "0123456789abcdef";
    std::string salt;
    for (int i = 0; i < 32; ++i)
        salt += kHex[random() & 0x0F];
    return salt;
}

std::string LicenseXml(const std::string& salt = "00000000000000000000000000000000") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<license xmlns=\"http://www.tivo.com/developer/xml/license-1.0\">"
           "<notice>Made by Korvane for testing; not a recording.</notice>"
           "<date>2026-01-01T00:00:00Z</date>"
           "<fingerprint>00000000000000000000000000000000000000000000000000000000000000000000000000000000</"
           "fingerprint>"
           "<salt>" +
           salt +
           "</salt>"
           "</license>\n";
}

std::string ShowingXml(const TivoWrapOptions& o, bool withSeriesId) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<TvBusMarshalledStruct:TvBusEnvelope xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:TvBusMarshalledStruct=\"http://tivo.com/developer/xml/idl/TvBusMarshalledStruct\" "
        "xs:schemaLocation=\"http://tivo.com/developer/xml/idl/TvBusMarshalledStruct "
        "TvBusMarshalledStruct.xsd\" "
        "xs:type=\"TvBusMarshalledStruct:TvBusEnvelope\">"
        "<showing><program>"
        "<title>" +
        Escape(o.title) +
        "</title>"
        "<episodeTitle>" +
        Escape(o.episode) +
        "</episodeTitle>"
        "<description>" +
        Escape(o.description) + "</description>";
    if (withSeriesId) xml += "<series><uniqueId>SH0000000000</uniqueId></series>";
    xml += "</program><channel><callsign>" + Escape(o.channel) +
           "</callsign></channel>"
           "<time>" +
           Escape(o.recordingTime) +
           "</time></showing>"
           "</TvBusMarshalledStruct:TvBusEnvelope>\n";
    return xml;
}

}  // namespace

std::vector<uint8_t> BuildTivoHead(bool transportStream, const TivoWrapOptions& options, TivoKeys* keys) {
    const bool encrypt = !options.mediaAccessKey.empty();
    std::string mak, salt;
    TivoKeys derived;
    if (encrypt) {
        salt = options.salt.empty() ? RandomSalt() : options.salt;
        if (!NormalizeMediaAccessKey(options.mediaAccessKey, &mak) || !IsHexDigits(salt, 32)) return {};
    }
    std::vector<uint8_t> chunks;
    uint16_t count = 0;
    if (options.includeLicenseChunk || encrypt) {
        std::string license = encrypt ? LicenseXml(salt) : LicenseXml();
        AppendChunk(chunks, 3, license);
        ++count;
        if (encrypt &&
            !DeriveTivoKeys(mak, reinterpret_cast<const uint8_t*>(license.data()), license.size(), &derived))
            return {};
    }
    const uint16_t metadataType = encrypt ? kTivoChunkEncryptedXml : kTivoChunkPlainXml;
    size_t dataAt[2];
    std::string metadata[2] = {ShowingXml(options, false), ShowingXml(options, true)};
    if (!options.metadataXml.empty()) metadata[0] = metadata[1] = options.metadataXml;
    dataAt[0] = AppendChunk(chunks, 1, metadata[0], metadataType);
    dataAt[1] = AppendChunk(chunks, 2, metadata[1], metadataType);
    count += 2;
    if (encrypt) {
        for (int i = 0; i < 2; ++i)
            if (!CryptMetadata(derived, kTivoHeaderSize + dataAt[i], chunks.data() + dataAt[i],
                               metadata[i].size()))
                return {};
        if (keys) *keys = derived;
    }

    uint32_t align = options.offsetAlignment ? options.offsetAlignment : 1;
    uint64_t end = kTivoHeaderSize + chunks.size();
    uint64_t offset = (end + align - 1) / align * align;
    if (offset < options.minimumOffset) offset = options.minimumOffset;

    std::vector<uint8_t> head;
    for (char c : {'T', 'i', 'V', 'o'})
        head.push_back(static_cast<uint8_t>(c));
    PutBe16(head, 0);
    PutBe16(head, static_cast<uint16_t>((options.otherFlags & ~kTivoFlagTransportStream) |
                                        (transportStream ? kTivoFlagTransportStream : 0)));
    PutBe16(head, 0);
    PutBe32(head, static_cast<uint32_t>(offset));
    PutBe16(head, count);
    head.insert(head.end(), chunks.begin(), chunks.end());
    head.resize(static_cast<size_t>(offset), 0);
    return head;
}

bool WrapMpegInTivo(const std::string& inputPath, const std::string& outputPath, std::string* error,
                    const TivoWrapOptions& options) {
    const bool encrypt = !options.mediaAccessKey.empty();
    std::string mak;
    if (encrypt && !NormalizeMediaAccessKey(options.mediaAccessKey, &mak)) {
        if (error) *error = "The Media Access Key must be 10 digits.";
        return false;
    }
    if (encrypt && !options.salt.empty() && options.salt.size() != 32) {
        if (error) *error = "The salt must be 32 hexadecimal digits.";
        return false;
    }
    FileByteSource in;
    if (!in.Open(inputPath, error)) return false;
    constexpr size_t kBlock = size_t(1) << 20;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
    size_t first = in.ReadAt(0, buffer.get(), kBlock);
    if (in.Failed()) {
        if (error) *error = "Cannot read \"" + inputPath + "\".";
        return false;
    }
    PayloadSniff sniff = SniffPayload(buffer.get(), first);
    if (sniff.kind == PayloadKind::Unknown) {
        if (error) *error = "\"" + inputPath + "\" is neither an MPEG program stream nor a transport stream.";
        return false;
    }
    TivoKeys keys;
    std::vector<uint8_t> head = BuildTivoHead(sniff.kind == PayloadKind::TransportStream, options, &keys);
    if (head.empty()) {
        if (error) *error = "Cannot make the encrypted header: the salt must be 32 hexadecimal digits.";
        return false;
    }
    std::unique_ptr<ProgramStreamEncryptor> encryptor;
    std::unique_ptr<TransportStreamEncryptor> tsEncryptor;
    if (encrypt && sniff.kind == PayloadKind::TransportStream)
        tsEncryptor.reset(new TransportStreamEncryptor(keys, options.encryption));
    else if (encrypt)
        encryptor.reset(new ProgramStreamEncryptor(keys, options.encryption));
    FileByteSink out;
    if (!out.Open(outputPath, error)) return false;
    bool ok = out.Write(head.data(), head.size());
    std::string failure;
    uint64_t pos = 0;
    size_t n = first;
    while (ok && n > 0) {
        ok = encryptor     ? encryptor->Feed(buffer.get(), n, out)
             : tsEncryptor ? tsEncryptor->Feed(buffer.get(), n, out)
                           : out.Write(buffer.get(), n);
        pos += n;
        n = in.ReadAt(pos, buffer.get(), kBlock);
    }
    if (ok && encryptor) ok = encryptor->Finish(out);
    if (ok && tsEncryptor) ok = tsEncryptor->Finish(out);
    if (!ok && encryptor && !encryptor->ErrorText().empty())
        failure = "\"" + inputPath + "\": " + encryptor->ErrorText();
    if (!ok && tsEncryptor && !tsEncryptor->ErrorText().empty())
        failure = "\"" + inputPath + "\": " + tsEncryptor->ErrorText();
    if (ok && (in.Failed() || pos != in.Size())) {
        ok = false;
        failure = "Cannot read \"" + inputPath + "\".";
    }
    std::string closeError;
    if (!out.Close(&closeError) || !ok) {
        if (error)
            *error = !failure.empty()      ? failure
                     : !closeError.empty() ? closeError
                                           : "Cannot write \"" + outputPath + "\".";
        std::remove(outputPath.c_str());
        return false;
    }
    return true;
}

}  // namespace korvane::media
