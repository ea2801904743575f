// korvane-tivo: wraps an MPEG stream into a .TiVo container, prints a .TiVo file's header,
// chunks and payload, and remultiplexes a program stream through the media core.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "media/Remux.h"
#include "media/TivoContainer.h"
#include "media/TivoWriter.h"

using namespace korvane::media;

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: korvane-tivo wrap INPUT.mpg OUTPUT.TiVo [--title TEXT] [--episode TEXT]\n"
                 "                    [--description TEXT] [--channel TEXT]\n"
                 "       korvane-tivo info FILE.TiVo\n"
                 "       korvane-tivo remux INPUT(.TiVo|.mpg) OUTPUT.mpg\n");
    return 2;
}

int Wrap(int argc, char** argv) {
    if (argc < 4) return Usage();
    TivoWrapOptions options;
    for (int i = 4; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage();
        std::string name = argv[i];
        if (name == "--title") options.title = argv[i + 1];
        else if (name == "--episode") options.episode = argv[i + 1];
        else if (name == "--description") options.description = argv[i + 1];
        else if (name == "--channel") options.channel = argv[i + 1];
        else return Usage();
    }
    std::string error;
    if (!WrapMpegInTivo(argv[2], argv[3], &error, options)) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int Info(int argc, char** argv) {
    if (argc != 3) return Usage();
    TivoFile file;
    std::string error;
    TivoStatus status = ParseTivoFile(argv[2], &file, &error);
    const TivoHeader& h = file.header;
    if (status != TivoStatus::Ok && status != TivoStatus::UnknownPayloadKind && status != TivoStatus::EmptyPayload) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    std::printf("file size:     %" PRIu64 "\n", file.fileSize);
    std::printf("flags:         0x%04X (%s)\n", h.flags, file.flagSaysTransport ? "transport stream" : "program stream");
    std::printf("unknown:       0x%04X 0x%04X\n", h.reserved4, h.reserved8);
    std::printf("MPEG offset:   %" PRIu32 "\n", h.mpegOffset);
    std::printf("chunks:        %u\n", h.chunkCount);
    for (const TivoChunk& c : file.chunks) {
        std::printf("  chunk id %u, type %u (%s), %" PRIu32 " bytes of data in %" PRIu32 " at offset %" PRIu64 "\n", c.id,
                    c.type, c.IsPlainXml() ? "plain XML" : "encrypted XML", c.dataSize, c.chunkSize, c.fileOffset);
        if (c.IsPlainXml()) std::printf("%s\n", c.Text().c_str());
    }
    if (status != TivoStatus::Ok) {
        std::printf("payload:       %s\n", error.c_str());
        return 1;
    }
    std::printf("payload:       %s, %" PRIu64 " bytes at %" PRIu64 ", first sync %" PRIu64 " bytes in%s\n",
                PayloadKindName(file.payloadKind), file.payloadSize, file.payloadOffset, file.payloadSyncOffset,
                file.scrambled ? ", SCRAMBLED (encrypted, needs the Media Access Key)" : "");
    for (const ProbedStream& s : file.probe.streams) {
        std::printf("  stream 0x%02X", s.key.streamId);
        if (s.key.substreamId) std::printf("/0x%02X", s.key.substreamId);
        std::printf(" %-10s %" PRIu64 " packets in the probe", StreamKindName(s.kind), s.packets);
        if (s.hasPts) std::printf(", first PTS %.4f s", double(s.firstPts) / 90000.0);
        std::printf("\n");
    }
    return 0;
}

int Remux(int argc, char** argv) {
    if (argc != 4) return Usage();
    RemuxStats stats;
    std::string error;
    if (!RemuxFile(argv[2], argv[3], &stats, &error)) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    std::printf("%u streams, %" PRIu64 " packets in, %" PRIu64 " out (%" PRIu64 " held back to interleave), %" PRIu64
                " dropped, %" PRIu64 " damaged stretches (%" PRIu64 " bytes skipped)\n",
                stats.streams, stats.reader.pesPackets, stats.writer.pesPacketsOut, stats.writer.queuedPackets,
                stats.droppedPackets, stats.reader.damageEvents, stats.reader.bytesSkipped);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "wrap") return Wrap(argc, argv);
    if (command == "info") return Info(argc, argv);
    if (command == "remux") return Remux(argc, argv);
    return Usage();
}
