// The byte sources the source filter reads a recording through: the file itself by Win32
// handle (so wide paths open as they are), and the MPEG payload as other programs' parsers
// read it through IAsyncReader.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "media/Io.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::filters {

// media's ByteSource over a Win32 file handle (not owned). Every read names its offset, so
// several sources may share a handle.
class HandleByteSource final : public media::ByteSource {
public:
    explicit HandleByteSource(HANDLE file);
    uint64_t Size() const override { return m_size; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;
    bool Failed() const override { return m_failed; }

private:
    HANDLE m_file;
    uint64_t m_size = 0;
    bool m_failed = false;
};

// The payload of a loaded recording (offset 0 is its first byte) read through a handle of
// its own: as the file holds it when it is clear, else decrypted in place with keys (media's
// PayloadView: every byte where it stands in the file). Null when the file cannot be opened
// again; *error then holds the system's code.
std::unique_ptr<media::ByteSource> OpenPayload(const std::wstring& fileName, const media::TivoFile& tivo,
                                               bool encrypted, const media::TivoKeys& keys, HRESULT* error);

}  // namespace korvane::filters
