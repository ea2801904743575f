// korvane-tivo: wraps an MPEG stream into a .TiVo container (encrypted with a Media Access Key
// if asked), prints a .TiVo file's header, chunks and payload (its metadata decrypted with a
// key), decrypts it, prints its metadata, and remultiplexes a program stream through the
// media core.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/CommandLine.h"
#include "cli/DecodeRecording.h"
#include "cli/RecordingMetadata.h"
#include "cli/ToolCommands.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/Remux.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"
#include "media/TivoMetadata.h"
#include "media/TivoWriter.h"
#include "media/TransportStreamDecryptor.h"

using namespace korvane;
using namespace korvane::media;

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: korvane-tivo wrap INPUT.mpg OUTPUT.TiVo [--ts] [--title TEXT] [--episode TEXT]\n"
        "                    [--description TEXT] [--channel TEXT] [--time TEXT]\n"
        "                    [--metadata-xml FILE.xml] [--mak KEY [--salt HEX32] [--block-packets N]\n"
        "                     [--video-scrambled-from user-data|slice|after-picture-header]]\n"
        "       korvane-tivo info FILE.TiVo [--mak KEY]\n"
        "       korvane-tivo metadata FILE.TiVo [--mak KEY] [--xml 1|2] [--pytivo]\n"
        "       korvane-tivo decrypt INPUT.TiVo OUTPUT(.mpg|.ts) --mak KEY [--metadata]\n"
        "       korvane-tivo remux INPUT(.TiVo|.mpg|.ts) OUTPUT.mpg [--mak KEY] [--metadata]\n"
        "--metadata also writes the recording's details as pyTivo text to OUTPUT.txt.\n"
        "MPEG-2 video in a transport stream is scrambled from its first user data (00 00 01 B2),\n"
        "or its first slice without one, unless --video-scrambled-from says otherwise: the form\n"
        "the front ends' decoder reads exactly (a TiVo keeps user data clear: \"slice\").\n");
    return 2;
}

// --ts: the .TiVo must say transport stream (flag 0x20), so the input has to be one.
bool IsTransportStreamFile(const std::string& path, std::string* error) {
    FileByteSource source;
    if (!source.Open(path, error)) return false;
    uint8_t head[64 * 1024];
    size_t n = source.ReadAt(0, head, sizeof head);
    if (SniffPayload(head, n).kind == PayloadKind::TransportStream) return true;
    *error = "\"" + path + "\" is not a transport stream (no 0x47 every 188 bytes).";
    return false;
}

// Where MPEG-2 video in a transport stream is scrambled from: by default from the user data,
// the form the front ends' decoder reads exactly (EncryptOptions); a TiVo's way (the first
// slice), or after the picture header, as other decoders have assumed (test material for them).
bool ParseVideoScrambling(const std::string& text, EncryptOptions* options) {
    if (text == "slice")
        options->videoScrambling = VideoScrambling::FromFirstSlice;
    else if (text == "user-data")
        options->videoScrambling = VideoScrambling::FromUserData;
    else if (text == "after-picture-header")
        options->videoScrambling = VideoScrambling::AfterPictureHeader;
    else
        return false;
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    *text = bytes.str();
    if (in && !text->empty()) return true;
    std::fprintf(stderr, "korvane-tivo: cannot read \"%s\"\n", path.c_str());
    return false;
}

int Wrap(int argc, char** argv) {
    if (argc < 4) return Usage();
    TivoWrapOptions options;
    bool transportOnly = false;
    for (int i = 4; i < argc; i += 2) {
        if (std::string(argv[i]) == "--ts") {
            transportOnly = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) return Usage();
        std::string name = argv[i];
        if (name == "--title")
            options.title = argv[i + 1];
        else if (name == "--episode")
            options.episode = argv[i + 1];
        else if (name == "--description")
            options.description = argv[i + 1];
        else if (name == "--channel")
            options.channel = argv[i + 1];
        else if (name == "--time")
            options.recordingTime = argv[i + 1];
        else if (name == "--metadata-xml") {
            if (!ReadWholeFile(argv[i + 1], &options.metadataXml)) return 1;
        } else if (name == "--mak")
            options.mediaAccessKey = argv[i + 1];
        else if (name == "--salt")
            options.salt = argv[i + 1];
        else if (name == "--block-packets")
            options.encryption.packetsPerBlock =
                static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (name == "--video-scrambled-from") {
            if (!ParseVideoScrambling(argv[i + 1], &options.encryption)) return Usage();
        } else
            return Usage();
    }
    std::string error;
    if (transportOnly && !IsTransportStreamFile(argv[2], &error)) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    if (!WrapMpegInTivo(argv[2], argv[3], &error, options)) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int Info(int argc, char** argv) {
    std::string mak;
    if (argc == 5 && std::string(argv[3]) == "--mak") {
        if (!NormalizeMediaAccessKey(argv[4], &mak)) {
            std::fprintf(stderr, "korvane-tivo: the Media Access Key must be 10 digits\n");
            return 2;
        }
    } else if (argc != 3) {
        return Usage();
    }
    TivoFile file;
    std::string error;
    TivoParseOptions options;
    options.chunkData = TivoChunkData::All;  // every chunk is printed
    if (!mak.empty()) options.mediaAccessKeys.push_back(mak);
    TivoStatus status = ParseTivoFile(argv[2], &file, &error, options);
    const TivoHeader& h = file.header;
    if (status != TivoStatus::Ok && status != TivoStatus::UnknownPayloadKind &&
        status != TivoStatus::EmptyPayload) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    std::printf("file size:     %" PRIu64 "\n", file.fileSize);
    std::printf("flags:         0x%04X (%s)\n", h.flags,
                file.flagSaysTransport ? "transport stream" : "program stream");
    std::printf("unknown:       0x%04X 0x%04X\n", h.reserved4, h.reserved8);
    std::printf("MPEG offset:   %" PRIu32 "\n", h.mpegOffset);
    std::printf("chunks:        %u\n", h.chunkCount);
    for (const TivoChunk& c : file.chunks) {
        std::printf("  chunk id %u, type %u (%s), %" PRIu32 " bytes of data in %" PRIu32 " at offset %" PRIu64
                    "\n",
                    c.id, c.type, c.IsPlainXml() ? "plain XML" : "encrypted XML", c.dataSize, c.chunkSize,
                    c.fileOffset);
        if (c.IsPlainXml()) std::printf("%s\n", c.Text().c_str());
    }
    int keyResult = 0;
    if (!mak.empty()) {
        TivoKeys keys;
        KeyCheck check;
        FileByteSource source;
        if (!DeriveTivoKeys(mak, file, &keys) || !source.Open(argv[2], &error)) {
            std::fprintf(stderr, "korvane-tivo: %s\n",
                         error.empty() ? "the hash library failed" : error.c_str());
            return 1;
        }
        check = CheckKey(source, file, keys);
        for (const TivoChunk& c : file.chunks) {
            std::string text;
            if (c.IsPlainXml() || !DecryptMetadataChunk(keys, c, &text)) continue;
            if (check.fit == KeyFit::Fits) std::printf("  chunk id %u decrypted:\n%s\n", c.id, text.c_str());
        }
        const char* basis = check.basis == KeyCheckBasis::Metadata ? "by the metadata"
                            : check.basis == KeyCheckBasis::Video  ? "by the video"
                                                                   : "nothing encrypted to test it on";
        std::printf("key:           %s (%s)\n",
                    check.fit == KeyFit::Fits    ? "fits"
                    : check.fit == KeyFit::Wrong ? "WRONG for this file"
                                                 : "undecided",
                    basis);
        if (check.fit == KeyFit::Wrong) keyResult = 3;
    }
    if (status != TivoStatus::Ok) {
        std::printf("payload:       %s\n", error.c_str());
        return 1;
    }
    std::printf("payload:       %s, %" PRIu64 " bytes at %" PRIu64 ", first sync %" PRIu64 " bytes in%s\n",
                PayloadKindName(file.payloadKind), file.payloadSize, file.payloadOffset,
                file.payloadSyncOffset,
                !file.scrambled       ? ""
                : file.probeDecrypted ? ", scrambled (streams below as decrypted)"
                                      : ", SCRAMBLED (encrypted, needs the Media Access Key)");
    for (const ProbedStream& s : file.probe.streams) {
        std::printf("  stream 0x%02X", s.key.streamId);
        if (s.key.substreamId) std::printf("/0x%02X", s.key.substreamId);
        std::printf(" %-10s %" PRIu64 " packets in the probe", StreamKindName(s.kind), s.packets);
        if (s.hasPts) std::printf(", first PTS %.4f s", double(s.firstPts) / 90000.0);
        std::printf("\n");
    }
    // A transport stream's program: every stream of its PMT, the skipped ones named.
    for (const TsStream& t : file.probe.tsStreams) {
        std::printf("  PID 0x%04X type 0x%02X %s", t.pid, t.streamType, t.description.c_str());
        if (t.carried) {
            std::printf(" -> 0x%02X", t.key.streamId);
            if (t.key.substreamId) std::printf("/0x%02X", t.key.substreamId);
        }
        std::printf("\n");
    }
    if (file.payloadKind == PayloadKind::TransportStream) {
        const TsReaderStats& ts = file.probe.tsStats;
        std::printf("  probe: %" PRIu64 " packets, %" PRIu64 " continuity errors, %" PRIu64
                    " damaged stretches, %" PRIu64 " packets of skipped streams\n",
                    ts.packets, ts.continuityErrors, ts.damageEvents, ts.skippedPackets);
    }
    if (file.probeDecrypted && file.probeDamage)
        std::printf("  %" PRIu64 " scrambled packets could not be decrypted in the probe\n",
                    file.probeDamage);
    return keyResult;
}

// OUTPUT plus ".txt": the name pyTivo and kmttg look for beside a video.
std::string PyTivoTextPath(const std::string& output) {
    return output + ".txt";
}

// The operands and options decrypt and remux share: INPUT OUTPUT [--mak KEY] [--metadata].
struct ConversionArguments {
    std::string input, output, mak;
    bool metadata = false;
};

bool ParseConversion(int argc, char** argv, ConversionArguments* arguments) {
    enum { kMak, kMetadata };
    cli::ParsedCommandLine line;
    std::string error;
    if (!cli::ParseCommandLine(argc, argv, 2, {{kMak, 0, "mak", true}, {kMetadata, 0, "metadata", false}},
                               &line, &error) ||
        line.operands.size() != 2)
        return false;
    arguments->input = line.operands[0];
    arguments->output = line.operands[1];
    for (const cli::ParsedOption& option : line.options) {
        if (option.id == kMak) arguments->mak = option.value;
        if (option.id == kMetadata) arguments->metadata = true;
    }
    return true;
}

int Decrypt(int argc, char** argv) {
    ConversionArguments arguments;
    if (!ParseConversion(argc, argv, &arguments) || arguments.mak.empty()) return Usage();
    cli::DecodeRequest request;
    request.input = arguments.input;
    request.output = arguments.output;
    std::string error;
    if (!cli::ChooseMediaAccessKey(arguments.mak, &request.key, &error)) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    if (arguments.metadata) request.pyTivoTextPath = PyTivoTextPath(arguments.output);
    // The payload kind picks the decryptor: a transport stream comes out as a clear one.
    cli::DecodeResult result;
    const int status = cli::DecodeRecording(request, cli::Messages("korvane-tivo", 0), &result);
    if (status != 0) return status;
    const DecryptStats& stats = result.stats;
    std::printf("%" PRIu64 " packets decrypted, %" PRIu64 " passed clear, %" PRIu64 " dropped (%" PRIu64
                " without a record, %" PRIu64 " with an invalid one, %" PRIu64 " with a bad header), %" PRIu64
                " damaged stretches (%" PRIu64 " bytes skipped), %" PRIu64 " keystreams built\n",
                stats.packetsDecrypted, stats.packetsClear, stats.packetsDropped, stats.missingRecords,
                stats.invalidRecords, stats.badHeaders, stats.damageEvents, stats.bytesSkipped,
                stats.keystreamRebuilds);
    return 0;
}

int Remux(int argc, char** argv) {
    ConversionArguments arguments;
    if (!ParseConversion(argc, argv, &arguments)) return Usage();
    RemuxOptions options;
    options.mediaAccessKey = arguments.mak;
    RemuxStats stats;
    std::string error, text;
    // The metadata first: a recording without it fails before any video is written.
    if ((arguments.metadata &&
         !cli::ReadRecordingPyTivoText(arguments.input, arguments.mak, &text, &error)) ||
        !RemuxFile(arguments.input, arguments.output, &stats, &error, options) ||
        (arguments.metadata && !cli::WriteTextFile(PyTivoTextPath(arguments.output), text, &error))) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    const bool ts = stats.tsReader.bytesIn > 0;
    std::printf("%u streams, %" PRIu64 " packets in, %" PRIu64 " out (%" PRIu64
                " held back to interleave), %" PRIu64 " dropped, %" PRIu64 " damaged stretches (%" PRIu64
                " bytes skipped)\n",
                stats.streams, ts ? stats.tsReader.pesPackets : stats.reader.pesPackets,
                stats.writer.pesPacketsOut, stats.writer.queuedPackets, stats.droppedPackets,
                ts ? stats.tsReader.damageEvents : stats.reader.damageEvents,
                ts ? stats.tsReader.bytesSkipped : stats.reader.bytesSkipped);
    if (ts)
        std::printf("transport stream: %" PRIu64 " continuity errors, %" PRIu64
                    " packets flagged in error, %" PRIu64 " PES cut short, %" PRIu64
                    " packets of skipped streams\n",
                    stats.tsReader.continuityErrors, stats.tsReader.errorPackets, stats.tsReader.truncatedPes,
                    stats.tsReader.skippedPackets);
    if (!options.mediaAccessKey.empty())
        std::printf("%" PRIu64 " packets decrypted, %" PRIu64 " could not be decrypted and were dropped\n",
                    stats.decryptedPackets, stats.undecryptablePackets);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "wrap") return Wrap(argc, argv);
    if (command == "info") return Info(argc, argv);
    if (command == "metadata") return cli::RunMetadataCommand(argc, argv);
    if (command == "decrypt") return Decrypt(argc, argv);
    if (command == "remux") return Remux(argc, argv);
    return Usage();
}
