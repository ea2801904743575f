#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/MediaAccessKey.h"
#include "cli/RecordingHead.h"
#include "cli/RecordingMetadata.h"
#include "cli/InputStream.h"
#include "cli/ToolCommands.h"

namespace korvane::cli {
namespace {

enum Option { kMak, kXml, kPyTivo };

const std::vector<OptionRule> kOptions = {
    {kMak, 0, "mak", true}, {kXml, 0, "xml", true}, {kPyTivo, 0, "pytivo", false}};

// The recording's head and keys, the key checked on its metadata.
bool OpenRecording(const std::string& path, const std::string& givenKey, RecordingHead* head,
                   media::TivoKeys* keys, std::string* error) {
    KeyChoice key;
    InputStream in;
    if (!ChooseMediaAccessKey(givenKey, &key, error) || !in.Open(path, error)) return false;
    if (!HasChunks(ReadRecordingHead(in, 0, head, error))) return false;
    return RecordingKeys(head->file, key, keys, error) &&
           VerifyKey(head->file, *keys, key, Messages("korvane-tivo", 0), error);
}

}  // namespace

bool ReadRecordingPyTivoText(const std::string& path, const std::string& givenKey, std::string* text,
                             std::string* error) {
    RecordingHead head;
    media::TivoKeys keys;
    return OpenRecording(path, givenKey, &head, &keys, error) &&
           RecordingPyTivoText(head.file, keys, text, error);
}

int RunMetadataCommand(int argc, char** argv) {
    ParsedCommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, 2, kOptions, &line, &error) || line.operands.size() != 1) {
        std::fprintf(stderr, "korvane-tivo: %s\n",
                     error.empty() ? "metadata takes one recording" : error.c_str());
        return 2;
    }
    std::string givenKey;
    int number = 1;
    bool pyTivo = false;
    for (const ParsedOption& option : line.options) {
        if (option.id == kMak) givenKey = option.value;
        if (option.id == kPyTivo) pyTivo = true;
        if (option.id == kXml && option.value != "1" && option.value != "2") {
            std::fprintf(stderr, "korvane-tivo: --xml takes 1 or 2\n");
            return 2;
        }
        if (option.id == kXml) number = option.value == "2" ? 2 : 1;
    }
    RecordingHead head;
    media::TivoKeys keys;
    std::string text;
    if (!OpenRecording(line.operands[0], givenKey, &head, &keys, &error) ||
        !(pyTivo ? RecordingPyTivoText(head.file, keys, &text, &error)
                 : MetadataDocument(head.file, keys, number, &text, &error))) {
        std::fprintf(stderr, "korvane-tivo: %s\n", error.c_str());
        return 1;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace korvane::cli
