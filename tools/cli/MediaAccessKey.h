// Which Media Access Key a command uses, and the recording's keys from it: the key given on
// the command line, else the first line of ".tivodecode_mak" in the home folder, where
// front ends and their users keep it for tivodecode.
#pragma once

#include <string>

#include "cli/Messages.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::cli {

struct KeyChoice {
    std::string digits;  // 10 digits, or empty: no key anywhere
    std::string origin;  // where it came from, for messages
};

// The key file: HOME/.tivodecode_mak (USERPROFILE on Windows).
std::string KeyFilePath();

// given: the command line's key, empty when none was given. False with *error when a key
// was found but is not 10 digits (spaces and dashes aside).
bool ChooseMediaAccessKey(const std::string& given, KeyChoice* key, std::string* error);

// The recording's keys from the chosen key. False with *error when the recording is
// encrypted and there is no key, or the hash library failed. A clear recording needs none.
bool RecordingKeys(const media::TivoFile& file, const KeyChoice& key, media::TivoKeys* keys,
                   std::string* error);

// Checks the key on the recording's metadata, never on the video (a damaged first packet
// would make a good key look wrong). False with *error containing "Invalid MAK" when the
// metadata decrypts to noise. A recording without encrypted metadata passes unchecked.
bool VerifyKey(const media::TivoFile& file, const media::TivoKeys& keys, const KeyChoice& key,
               const Messages& messages, std::string* error);

}  // namespace korvane::cli
