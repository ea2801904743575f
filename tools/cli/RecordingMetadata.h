// A recording's metadata as the front ends take it: each chunk as a file of its own (for
// tivodecode -D), one metadata document (tdcat), or the pyTivo text kept beside the video.
#pragma once

#include <string>

#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::cli {

// "chunk-NN-IIII.xml": NN the chunk's place in the header (two decimal digits), IIII its id
// (four hexadecimal digits).
std::string ChunkFileName(unsigned index, unsigned id);

// Writes every chunk of the header into folder (empty: the working directory), each file
// exactly the chunk's data: the licence as it stands, the metadata decrypted.
bool WriteChunkFiles(const media::TivoFile& file, const media::TivoKeys& keys, const std::string& folder,
                     std::string* error);

// The recording's metadata document number 1 or 2, decrypted. False with *error when the
// recording has no such document.
bool MetadataDocument(const media::TivoFile& file, const media::TivoKeys& keys, int number, std::string* xml,
                      std::string* error);

// The pyTivo text of the recording: from its second metadata document, which names the
// series, or from the first when it has only one.
bool RecordingPyTivoText(const media::TivoFile& file, const media::TivoKeys& keys, std::string* text,
                         std::string* error);

// Writes text into a new file at path.
bool WriteTextFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace korvane::cli
