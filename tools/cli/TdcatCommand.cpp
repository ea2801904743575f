#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/FrontEndCommands.h"
#include "cli/MediaAccessKey.h"
#include "cli/RecordingHead.h"
#include "cli/RecordingMetadata.h"
#include "cli/InputStream.h"
#include "cli/OutputStream.h"

namespace korvane::cli {
namespace {

constexpr const char* kProgram = "korvane-tdcat";

enum Option { kMak, kOut, kFirst, kSecond, kVersion, kHelp };

const std::vector<OptionRule> kOptions = {
    {kMak, 'm', "mak", true},         {kOut, 'o', "out", true},          {kFirst, '1', "chunk-1", false},
    {kSecond, '2', "chunk-2", false}, {kVersion, 'V', "version", false}, {kHelp, 'h', "help", false},
};

void PrintHelp() {
    std::printf(
        "usage: %s [options] INPUT.TiVo|-\n"
        "Prints a metadata chunk of a TiVo recording, decrypted. \"-\" reads standard input.\n"
        "  -m, --mak KEY     the Media Access Key (default: the first line of ~/.tivodecode_mak)\n"
        "  -1, --chunk-1     the first metadata chunk (the default)\n"
        "  -2, --chunk-2     the second metadata chunk\n"
        "  -o, --out FILE    where it goes (default: standard output)\n"
        "  -V, --version     print the version\n"
        "  -h, --help        print this help\n",
        kProgram);
}

int Fail(const Messages& messages, const std::string& text) {
    messages.Error(text);
    return 1;
}

}  // namespace

int RunTdcat(int argc, char** argv) {
    ParsedCommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, 1, kOptions, &line, &error)) {
        std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, error.c_str());
        return 2;
    }
    std::string givenKey, output = "-";
    int number = 1;
    for (const ParsedOption& option : line.options) {
        switch (option.id) {
        case kMak:
            givenKey = option.value;
            break;
        case kOut:
            output = option.value;
            break;
        case kFirst:
            number = 1;
            break;
        case kSecond:
            number = 2;
            break;
        case kVersion:
            std::printf("%s %s (Korvane Converter)\n", kProgram, KORVANE_VERSION);
            return 0;
        case kHelp:
            PrintHelp();
            return 0;
        }
    }
    const Messages messages(kProgram, 0);
    if (line.operands.size() != 1) {
        messages.Error("give exactly one input: a .TiVo file, or - for standard input (try --help)");
        return 2;
    }
    KeyChoice key;
    if (!ChooseMediaAccessKey(givenKey, &key, &error)) return Fail(messages, error);
    InputStream in;
    if (!in.Open(line.operands[0], &error)) return Fail(messages, error);
    RecordingHead head;
    if (!HasChunks(ReadRecordingHead(in, 0, &head, &error))) return Fail(messages, error);
    media::TivoKeys keys;
    std::string xml;
    if (!RecordingKeys(head.file, key, &keys, &error) || !VerifyKey(head.file, keys, key, messages, &error) ||
        !MetadataDocument(head.file, keys, number, &xml, &error))
        return Fail(messages, error);
    OutputStream out;
    if (!out.Open(output, &error)) return Fail(messages, error);
    out.Write(reinterpret_cast<const uint8_t*>(xml.data()), xml.size());
    if (!out.Close(&error)) return Fail(messages, error);
    return 0;
}

}  // namespace korvane::cli
