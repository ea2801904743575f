// korvane-tivo's commands for a recording's metadata.
#pragma once

#include <string>

namespace korvane::cli {

// korvane-tivo metadata IN.TiVo [--mak KEY] [--xml 1|2] [--pytivo]: a metadata chunk's XML
// (the first by default) or the pyTivo text, on standard output. argv[1] is "metadata".
int RunMetadataCommand(int argc, char** argv);

// The pyTivo text of the recording at path, decrypted with givenKey (empty: the key file's).
// False with *error when the file is no recording, the key does not fit ("Invalid MAK") or
// the metadata cannot be read.
bool ReadRecordingPyTivoText(const std::string& path, const std::string& givenKey, std::string* text,
                             std::string* error);

}  // namespace korvane::cli
