#include "media/Remux.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "media/ProgramStreamDecryptor.h"
#include "media/StreamProbe.h"
#include "media/TivoContainer.h"
#include "media/TivoMetadata.h"
#include "media/TransportStreamDecryptor.h"

namespace korvane::media {
namespace {

class RemuxHandler final : public PacketHandler {
public:
    RemuxHandler(ProgramStreamWriter& writer, RemuxStats& stats) : m_writer(writer), m_stats(stats) {}

    bool Add(const ProbedStream& s) {
        if (s.kind == StreamKind::Other) return true;
        WriterStreamConfig config;
        config.key = s.key;
        config.kind = s.kind;
        int index = m_writer.AddStream(config);
        if (index < 0) return false;
        m_keys[m_count] = s.key;
        m_index[m_count] = index;
        ++m_count;
        return true;
    }
    unsigned Count() const { return m_count; }

    bool OnPacket(const PesPacket& p) override {
        // A handful of streams: a linear search beats any map.
        for (unsigned i = 0; i < m_count; ++i) {
            if (m_keys[i] == p.key) {
                ElementaryPacket e;
                e.payload = p.payload;
                e.payloadSize = p.payloadSize;
                e.hasPts = p.hasPts;
                e.hasDts = p.hasDts;
                e.pts = p.pts;
                e.dts = p.dts;
                std::memcpy(e.substreamHeader, p.substreamHeader, 4);
                e.substreamHeaderSize = p.substreamHeaderSize;
                return m_writer.WritePacket(m_index[i], e);
            }
        }
        ++m_stats.droppedPackets;
        return true;
    }

private:
    static constexpr unsigned kMaxStreams = 64;
    ProgramStreamWriter& m_writer;
    RemuxStats& m_stats;
    StreamKey m_keys[kMaxStreams];
    int m_index[kMaxStreams] = {};
    unsigned m_count = 0;
};

// Feeds whichever reader the payload kind needs.
class ReaderSink final : public ByteSink {
public:
    ReaderSink(bool transport, PacketHandler& handler) : m_transport(transport), m_handler(handler) {}
    bool Write(const uint8_t* data, size_t size) override {
        return m_transport ? m_ts.Feed(data, size, m_handler) : m_ps.Feed(data, size, m_handler);
    }
    // End of input: the last packet, and the reader's verdict; false when it stopped.
    bool Finish(RemuxStats& st, std::string* text) {
        ReaderStatus status;
        if (m_transport) {
            if (m_ts.Status() == ReaderStatus::Ok) m_ts.Finish(m_handler);
            st.tsReader = m_ts.Stats();
            status = m_ts.Status();
            *text = m_ts.ErrorText();
        } else {
            if (m_ps.Status() == ReaderStatus::Ok) m_ps.Finish(m_handler);
            st.reader = m_ps.Stats();
            status = m_ps.Status();
            *text = m_ps.ErrorText();
        }
        return status != ReaderStatus::Encrypted;
    }

private:
    bool m_transport;
    PacketHandler& m_handler;
    ProgramStreamReader m_ps;
    TransportStreamReader m_ts;
};

// The decryptor of the payload's kind, when the caller gave keys.
class PayloadDecryptor {
public:
    PayloadDecryptor(bool transport, const TivoKeys& keys) {
        if (transport)
            m_ts.reset(new TransportStreamDecryptor(keys));
        else
            m_ps.reset(new ProgramStreamDecryptor(keys));
    }
    bool Feed(uint8_t* data, size_t size, ByteSink& out) {
        return m_ts ? m_ts->Feed(data, size, out) : m_ps->Feed(data, size, out);
    }
    bool Finish(ByteSink& out) { return m_ts ? m_ts->Finish(out) : m_ps->Finish(out); }
    void Reset() { m_ts ? m_ts->Reset() : m_ps->Reset(); }
    const DecryptStats& Stats() const { return m_ts ? m_ts->Stats() : m_ps->Stats(); }

private:
    std::unique_ptr<ProgramStreamDecryptor> m_ps;
    std::unique_ptr<TransportStreamDecryptor> m_ts;
};

}  // namespace

bool RemuxProgramStream(ByteSource& source, uint64_t offset, ByteSink& sink, RemuxStats* stats,
                        std::string* error, const RemuxOptions& options) {
    return RemuxPayload(source, offset, PayloadKind::ProgramStream, sink, stats, error, options);
}

bool RemuxPayload(ByteSource& source, uint64_t offset, PayloadKind kind, ByteSink& sink, RemuxStats* stats,
                  std::string* error, const RemuxOptions& options) {
    const bool transport = kind == PayloadKind::TransportStream;
    const char* readFailed =
        transport ? "The transport stream could not be read." : "The program stream could not be read.";
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
    std::unique_ptr<PayloadDecryptor> decryptor;
    if (options.keys) decryptor.reset(new PayloadDecryptor(transport, *options.keys));
    StreamProber prober(kind);
    for (size_t done = 0; done < window;) {
        size_t want = std::min(chunk, window - done);
        if (source.ReadAt(offset + done, buffer.Data(), want) != want) return fail(readFailed);
        if (decryptor)
            decryptor->Feed(buffer.Data(), want, prober);
        else
            prober.Feed(buffer.Data(), want);
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
    if (handler.Count() == 0)
        return fail(transport ? "The transport stream holds no video or audio stream that can be converted."
                              : "The program stream holds no video or audio stream.");
    st.streams = handler.Count();

    ReaderSink reader(transport, handler);
    uint64_t pos = 0;
    while (pos < size) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, size - pos));
        size_t got = source.ReadAt(offset + pos, buffer.Data(), want);
        if (got != want) return fail(readFailed);
        pos += got;
        bool more =
            decryptor ? decryptor->Feed(buffer.Data(), got, reader) : reader.Write(buffer.Data(), got);
        if (!more) break;
    }
    if (decryptor) {
        decryptor->Finish(reader);
        st.decryptedPackets = decryptor->Stats().packetsDecrypted;
        st.undecryptablePackets = decryptor->Stats().packetsDropped;
    }
    std::string readerText;
    if (!reader.Finish(st, &readerText)) return fail(readerText);
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
    PayloadKind kind = PayloadKind::ProgramStream;
    uint8_t magic[4] = {0, 0, 0, 0};
    if (source.ReadAt(0, magic, 4) == 4 && std::memcmp(magic, "TiVo", 4) == 0) {
        TivoFile file;
        std::string text;
        TivoParseOptions parse;
        if (options.mediaAccessKey.empty()) parse.chunkData = TivoChunkData::None;
        parse.probeBytes = 4096;  // RemuxPayload probes, decrypted if need be
        if (ParseTivo(source, &file, &text, parse) != TivoStatus::Ok) {
            if (error) *error = "\"" + inputPath + "\": " + text;
            return false;
        }
        offset = file.payloadOffset;
        kind = file.payloadKind;
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
    } else {
        // A bare MPEG file: its first bytes tell which kind it is.
        uint8_t head[4096];
        size_t n = source.ReadAt(0, head, sizeof head);
        if (SniffPayload(head, n).kind == PayloadKind::TransportStream) kind = PayloadKind::TransportStream;
    }
    FileByteSink sink;
    if (!sink.Open(outputPath, error)) return false;
    std::string text;
    bool ok = RemuxPayload(source, offset, kind, sink, stats, &text, withKeys);
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
