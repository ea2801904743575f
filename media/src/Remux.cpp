#include "media/Remux.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "media/ProgramStreamDecryptor.h"
#include "media/StreamProbe.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"

namespace korvane::media {
namespace {

class RemuxHandler final : public PacketHandler {
public:
    RemuxHandler(ProgramStreamWriter& writer, RemuxStats& stats) : writer_(writer), stats_(stats) {}

    bool Add(const ProbedStream& s) {
        if (s.kind == StreamKind::Other) return true;
        WriterStreamConfig config;
        config.key = s.key;
        config.kind = s.kind;
        int index = writer_.AddStream(config);
        if (index < 0) return false;
        keys_[count_] = s.key;
        index_[count_] = index;
        ++count_;
        return true;
    }
    unsigned Count() const { return count_; }

    bool OnPacket(const PesPacket& p) override {
        // A handful of streams: a linear search beats any map.
        for (unsigned i = 0; i < count_; ++i) {
            if (keys_[i] == p.key) {
                ElementaryPacket e;
                e.payload = p.payload;
                e.payloadSize = p.payloadSize;
                e.hasPts = p.hasPts;
                e.hasDts = p.hasDts;
                e.pts = p.pts;
                e.dts = p.dts;
                std::memcpy(e.substreamHeader, p.substreamHeader, 4);
                e.substreamHeaderSize = p.substreamHeaderSize;
                return writer_.WritePacket(index_[i], e);
            }
        }
        ++stats_.droppedPackets;
        return true;
    }

private:
    static constexpr unsigned kMaxStreams = 64;
    ProgramStreamWriter& writer_;
    RemuxStats& stats_;
    StreamKey keys_[kMaxStreams];
    int index_[kMaxStreams] = {};
    unsigned count_ = 0;
};

// The decryptor's output straight into the prober or the reader.
class ProberSink final : public ByteSink {
public:
    explicit ProberSink(StreamProber& prober) : prober_(prober) {}
    bool Write(const uint8_t* data, size_t size) override {
        prober_.Feed(data, size);
        return true;
    }

private:
    StreamProber& prober_;
};

class ReaderSink final : public ByteSink {
public:
    ReaderSink(ProgramStreamReader& reader, PacketHandler& handler) : reader_(reader), handler_(handler) {}
    bool Write(const uint8_t* data, size_t size) override { return reader_.Feed(data, size, handler_); }

private:
    ProgramStreamReader& reader_;
    PacketHandler& handler_;
};

}  // namespace

bool RemuxProgramStream(ByteSource& source, uint64_t offset, ByteSink& sink, RemuxStats* stats,
                        std::string* error, const RemuxOptions& options) {
    RemuxStats local;
    RemuxStats& st = stats ? *stats : local;
    st = RemuxStats{};
    auto fail = [&](const std::string& text) {
        if (error) *error = text;
        return false;
    };
    uint64_t size = source.Size() > offset ? source.Size() - offset : 0;
    size_t chunk = options.readChunkBytes ? options.readChunkBytes : size_t(1) << 20;
    size_t probeBytes = options.probeBytes ? options.probeBytes : kDefaultProbeBytes;
    size_t window = static_cast<size_t>(std::min<uint64_t>(size, probeBytes));
    AlignedBuffer buffer(chunk);
    std::unique_ptr<ProgramStreamDecryptor> decryptor;
    if (options.keys) decryptor.reset(new ProgramStreamDecryptor(*options.keys));
    StreamProber prober;
    ProberSink proberSink(prober);
    for (size_t done = 0; done < window;) {
        size_t want = std::min(chunk, window - done);
        if (source.ReadAt(offset + done, buffer.Data(), want) != want) return fail("The program stream could not be read.");
        if (decryptor) decryptor->Feed(buffer.Data(), want, proberSink);
        else prober.Feed(buffer.Data(), want);
        done += want;
    }
    ProbeResult probe = prober.Finish();
    if (decryptor) decryptor->Reset();
    if (probe.scrambled) return fail(kEncryptedPayloadText);

    ProgramStreamWriter writer(sink, options.writer);
    RemuxHandler handler(writer, st);
    for (const ProbedStream& s : probe.streams) {
        if (handler.Count() == 64) break;
        if (!handler.Add(s)) return fail(writer.ErrorText());
    }
    if (handler.Count() == 0) return fail("The program stream holds no video or audio stream.");
    st.streams = handler.Count();

    ProgramStreamReader reader;
    ReaderSink readerSink(reader, handler);
    uint64_t pos = 0;
    while (pos < size) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, size - pos));
        size_t got = source.ReadAt(offset + pos, buffer.Data(), want);
        if (got != want) return fail("The program stream could not be read.");
        pos += got;
        bool more = decryptor ? decryptor->Feed(buffer.Data(), got, readerSink) : reader.Feed(buffer.Data(), got, handler);
        if (!more) break;
    }
    if (decryptor && reader.Status() == ReaderStatus::Ok) decryptor->Finish(readerSink);
    if (reader.Status() == ReaderStatus::Ok) reader.Finish(handler);
    st.reader = reader.Stats();
    if (decryptor) {
        st.decryptedPackets = decryptor->Stats().packetsDecrypted;
        st.undecryptablePackets = decryptor->Stats().packetsDropped;
    }
    if (reader.Status() == ReaderStatus::Encrypted) return fail(reader.ErrorText());
    if (writer.Failed() || !writer.Finish()) {
        st.writer = writer.Stats();
        return fail(writer.ErrorText());
    }
    st.writer = writer.Stats();
    return true;
}

bool RemuxFile(const std::string& inputPath, const std::string& outputPath, RemuxStats* stats,
               std::string* error, const RemuxOptions& options) {
    FileByteSource source;
    if (!source.Open(inputPath, error)) return false;
    uint64_t offset = 0;
    TivoKeys keys;
    RemuxOptions withKeys = options;
    uint8_t magic[4] = {0, 0, 0, 0};
    if (source.ReadAt(0, magic, 4) == 4 && std::memcmp(magic, "TiVo", 4) == 0) {
        TivoFile file;
        std::string text;
        TivoParseOptions parse;
        parse.readChunkData = !options.mediaAccessKey.empty();
        parse.probeBytes = 4096;  // RemuxProgramStream probes, decrypted if need be
        if (ParseTivo(source, &file, &text, parse) != TivoStatus::Ok) {
            if (error) *error = "\"" + inputPath + "\": " + text;
            return false;
        }
        if (file.payloadKind != PayloadKind::ProgramStream) {
            if (error) *error = "\"" + inputPath + "\" holds a transport stream, which cannot be converted yet.";
            return false;
        }
        offset = file.payloadOffset;
        if (!options.mediaAccessKey.empty()) {
            std::string mak;
            if (!NormalizeMediaAccessKey(options.mediaAccessKey, &mak) || !DeriveTivoKeys(mak, file, &keys)) {
                if (error) *error = "The Media Access Key must be 10 digits.";
                return false;
            }
            if (CheckKey(source, file, keys).fit == KeyFit::Wrong) {
                if (error) *error = "The Media Access Key does not fit \"" + inputPath + "\".";
                return false;
            }
            withKeys.keys = &keys;
        }
    }
    FileByteSink sink;
    if (!sink.Open(outputPath, error)) return false;
    std::string text;
    bool ok = RemuxProgramStream(source, offset, sink, stats, &text, withKeys);
    std::string closeText;
    if (!sink.Close(&closeText) && ok) {
        ok = false;
        text = closeText;
    }
    if (!ok) {
        if (error) *error = "\"" + inputPath + "\": " + text;
        std::remove(outputPath.c_str());
    }
    return ok;
}

}  // namespace korvane::media
