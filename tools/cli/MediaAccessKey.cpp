#include "cli/MediaAccessKey.h"

#include <cstdlib>
#include <fstream>

#include "cli/RecordingHead.h"
#include "media/TivoMetadata.h"

namespace korvane::cli {
namespace {

std::string Trimmed(const std::string& text) {
    const char* kSpaces = " \t\r\n";
    const size_t first = text.find_first_not_of(kSpaces);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(kSpaces) - first + 1);
}

}  // namespace

std::string KeyFilePath() {
#ifdef _WIN32
    const char* home = std::getenv("USERPROFILE");
    const char* separator = "\\";
#else
    const char* home = std::getenv("HOME");
    const char* separator = "/";
#endif
    return home && *home ? std::string(home) + separator + ".tivodecode_mak" : std::string();
}

bool ChooseMediaAccessKey(const std::string& given, KeyChoice* key, std::string* error) {
    std::string text = given;
    key->origin = "the command line";
    if (given.empty()) {
        const std::string path = KeyFilePath();
        std::ifstream file(path, std::ios::binary);
        if (path.empty() || !file || !std::getline(file, text)) {
            *key = KeyChoice{};
            return true;
        }
        key->origin = "\"" + path + "\"";
        if (Trimmed(text).empty()) {
            *key = KeyChoice{};
            return true;
        }
    }
    if (!media::NormalizeMediaAccessKey(Trimmed(text), &key->digits)) {
        *error = "Invalid MAK: the key from " + key->origin + " is not 10 digits.";
        return false;
    }
    return true;
}

bool RecordingKeys(const media::TivoFile& file, const KeyChoice& key, media::TivoKeys* keys,
                   std::string* error) {
    *keys = media::TivoKeys{};
    if (key.digits.empty()) {
        if (!NeedsKey(file)) return true;
        *error =
            "The recording is encrypted and no Media Access Key was given: pass -m KEY, or put the key in " +
            (KeyFilePath().empty() ? std::string("the file .tivodecode_mak in your home folder")
                                   : "\"" + KeyFilePath() + "\"") +
            ".";
        return false;
    }
    if (!media::DeriveTivoKeys(key.digits, file, keys)) {
        *error = "The hash library failed.";
        return false;
    }
    return true;
}

bool VerifyKey(const media::TivoFile& file, const media::TivoKeys& keys, const KeyChoice& key,
               const Messages& messages, std::string* error) {
    if (key.digits.empty()) return true;
    switch (media::CheckKeyByMetadata(file, keys).fit) {
    case media::KeyFit::Wrong:
        *error = "Invalid MAK: the key from " + key.origin + " does not decrypt this recording's metadata.";
        return false;
    case media::KeyFit::Fits:
        messages.Note(1, "the key from " + key.origin + " fits (checked on the metadata)");
        return true;
    case media::KeyFit::Undecided:
        messages.Note(1, "no encrypted metadata to check the key on: decrypting unchecked");
        return true;
    }
    return true;
}

}  // namespace korvane::cli
