// The container parser over arbitrary files, and over arbitrary payloads behind a valid head
// (so the payload sniffing and probing are reached without having to guess a header).
#include <string>

#include "media/TivoContainer.h"
#include "media/TivoWriter.h"

using namespace korvane::media;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TivoParseOptions options;
    options.probeBytes = 64 * 1024;
    {
        MemoryByteSource source(data, size);
        TivoFile file;
        std::string error;
        TivoStatus status = ParseTivo(source, &file, &error, options);
        if (status == TivoStatus::Ok) {
            if (file.payloadOffset + file.payloadSize != size || file.payloadSize == 0) __builtin_trap();
            for (const TivoChunk& c : file.chunks)
                if (c.data.size() != c.dataSize || c.fileOffset + c.chunkSize > file.payloadOffset)
                    __builtin_trap();
        } else if (error.empty()) {
            __builtin_trap();
        }
    }
    static const std::vector<uint8_t> head = BuildTivoHead(false);
    std::vector<uint8_t> file(head);
    file.insert(file.end(), data, data + size);
    MemoryByteSource source(file.data(), file.size());
    TivoFile parsed;
    std::string error;
    ParseTivo(source, &parsed, &error, options);
    return 0;
}
