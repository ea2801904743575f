#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/DecodeRecording.h"
#include "cli/FrontEndCommands.h"

namespace korvane::cli {
namespace {

constexpr const char* kProgram = "korvane-tivodecode";

enum Option { kMak, kOut, kNoVerify, kChunkFiles, kNoVideo, kVerbose, kVersion, kHelp };

const std::vector<OptionRule> kOptions = {
    {kMak, 'm', "mak", true},
    {kOut, 'o', "out", true},
    {kNoVerify, 'n', "no-verify", false},
    {kChunkFiles, 'D', "metadata", false},
    {kNoVideo, 'x', "no-video", false},
    {kVerbose, 'v', "verbose", false},
    {kVersion, 'V', "version", false},
    {kHelp, 'h', "help", false},
};

void PrintHelp() {
    std::printf(
        "usage: %s [options] INPUT.TiVo|-\n"
        "Decrypts a TiVo recording into the MPEG stream it carries: a program stream stays a\n"
        "program stream, a transport stream a transport stream. \"-\" reads standard input.\n"
        "  -m, --mak KEY     the Media Access Key (default: the first line of ~/.tivodecode_mak)\n"
        "  -o, --out FILE    where the stream goes (default: standard output)\n"
        "  -n, --no-verify   do not check the key on the recording's metadata first\n"
        "  -D, --metadata    write every header chunk to chunk-NN-IIII.xml in the working folder\n"
        "  -x, --no-video    stop after the metadata: write no stream\n"
        "  -v, --verbose     progress and messages on standard error\n"
        "  -V, --version     print the version\n"
        "  -h, --help        print this help\n",
        kProgram);
}

}  // namespace

int RunTivodecode(int argc, char** argv) {
    ParsedCommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, 1, kOptions, &line, &error)) {
        std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, error.c_str());
        return 2;
    }
    DecodeRequest request;
    std::string givenKey;
    int verbosity = 0;
    for (const ParsedOption& option : line.options) {
        switch (option.id) {
        case kMak:
            givenKey = option.value;
            break;
        case kOut:
            request.output = option.value;
            break;
        case kNoVerify:
            request.verifyKey = false;
            break;
        case kChunkFiles:
            request.writeChunkFiles = true;
            break;
        case kNoVideo:
            request.writeStream = false;
            break;
        case kVerbose:
            ++verbosity;
            break;
        case kVersion:
            std::printf("%s %s (Korvane Converter)\n", kProgram, KORVANE_VERSION);
            return 0;
        case kHelp:
            PrintHelp();
            return 0;
        }
    }
    const Messages messages(kProgram, verbosity);
    if (line.operands.size() != 1) {
        messages.Error("give exactly one input: a .TiVo file, or - for standard input (try --help)");
        return 2;
    }
    request.input = line.operands[0];
    if (!ChooseMediaAccessKey(givenKey, &request.key, &error)) {
        messages.Error(error);
        return 1;
    }
    DecodeResult result;
    return DecodeRecording(request, messages, &result);
}

}  // namespace korvane::cli
