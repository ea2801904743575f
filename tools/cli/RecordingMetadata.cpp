#include "cli/RecordingMetadata.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/RecordingHead.h"
#include "metadata/PyTivoText.h"

namespace korvane::cli {

std::string ChunkFileName(unsigned index, unsigned id) {
    char name[32];
    std::snprintf(name, sizeof name, "chunk-%02u-%04x.xml", index, id);
    return name;
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && std::fclose(file) != 0) ok = false;
    if (!ok)
        *error =
            "Cannot write \"" + path + "\"" + (errno ? std::string(": ") + std::strerror(errno) : "") + ".";
    return ok;
}

bool WriteChunkFiles(const media::TivoFile& file, const media::TivoKeys& keys, const std::string& folder,
                     std::string* error) {
    for (size_t i = 0; i < file.chunks.size(); ++i) {
        std::string data;
        if (!ChunkData(file.chunks[i], keys, &data)) {
            *error = "The hash library failed.";
            return false;
        }
        const std::string name = ChunkFileName(static_cast<unsigned>(i), file.chunks[i].id);
        if (!WriteTextFile(folder.empty() ? name : folder + "/" + name, data, error)) return false;
    }
    return true;
}

bool MetadataDocument(const media::TivoFile& file, const media::TivoKeys& keys, int number, std::string* xml,
                      std::string* error) {
    const std::vector<const media::TivoChunk*> chunks = MetadataChunks(file);
    if (number < 1 || static_cast<size_t>(number) > chunks.size()) {
        *error = "The recording has " + std::to_string(chunks.size()) + " metadata chunk" +
                 (chunks.size() == 1 ? "" : "s") + ", not a chunk " + std::to_string(number) + ".";
        return false;
    }
    if (!ChunkData(*chunks[number - 1], keys, xml)) {
        *error = "The hash library failed.";
        return false;
    }
    return true;
}

bool RecordingPyTivoText(const media::TivoFile& file, const media::TivoKeys& keys, std::string* text,
                         std::string* error) {
    const size_t documents = MetadataChunks(file).size();
    std::string xml;
    if (!MetadataDocument(file, keys, documents >= 2 ? 2 : 1, &xml, error)) return false;
    if (!metadata::PyTivoText(xml, text, error)) {
        *error = "The recording's metadata is " + *error + ".";
        return false;
    }
    return true;
}

}  // namespace korvane::cli
