#include "PayloadSources.h"

#include <algorithm>

#include "media/PayloadView.h"
#include "win32/Scoped.h"

namespace korvane::filters {

HandleByteSource::HandleByteSource(HANDLE file) : m_file(file) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(m_file, &size))
        m_size = static_cast<uint64_t>(size.QuadPart);
    else
        m_failed = true;
}

size_t HandleByteSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
    size_t total = 0;
    while (total < size) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + total);
        at.OffsetHigh = static_cast<DWORD>((offset + total) >> 32);
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(m_file, static_cast<BYTE*>(buffer) + total, chunk, &got, &at)) {
            if (GetLastError() != ERROR_HANDLE_EOF) m_failed = true;
            break;
        }
        if (got == 0) break;
        total += got;
    }
    return total;
}

namespace {

// Owns the handle the payload is read through, and whatever reads it.
class PayloadOfFile final : public media::ByteSource {
public:
    PayloadOfFile(ScopedFile file, const media::TivoFile& tivo)
        : m_handle(std::move(file)), m_file(m_handle.Get()), m_tivo(tivo) {}

    // Decrypted reads from here on. The view (and its buffers) is made by the first read: a
    // conversion never reads through here.
    void Decrypt(const media::TivoKeys& keys) {
        m_keys = keys;
        m_encrypted = true;
    }

    uint64_t Size() const override { return m_tivo.payloadSize; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
        if (offset >= m_tivo.payloadSize) return 0;
        size = static_cast<size_t>(std::min<uint64_t>(size, m_tivo.payloadSize - offset));
        if (!m_encrypted) return m_file.ReadAt(m_tivo.payloadOffset + offset, buffer, size);
        if (!m_view) {
            // A parser streams through the file as a rule: a second core makes the keystream
            // of the blocks ahead while this one decrypts. (The conversion's own source keeps
            // one thread: its downstream filters have the other core.)
            media::PayloadViewOptions options;
            options.keystreamMaking = media::KeystreamMaking::WithHelperThread;
            m_view = std::make_unique<media::PayloadView>(m_file, m_tivo, m_keys, options);
        }
        return m_view->ReadAt(offset, buffer, size);
    }
    bool Failed() const override { return m_view ? m_view->Failed() : m_file.Failed(); }

private:
    ScopedFile m_handle;
    HandleByteSource m_file;
    media::TivoFile m_tivo;
    media::TivoKeys m_keys;
    bool m_encrypted = false;
    std::unique_ptr<media::PayloadView> m_view;
};

}  // namespace

std::unique_ptr<media::ByteSource> OpenPayload(const std::wstring& fileName, const media::TivoFile& tivo,
                                               bool encrypted, const media::TivoKeys& keys, HRESULT* error) {
    // Reads come at any offset: no sequential-scan hint, unlike the conversion's own handle.
    ScopedFile file(CreateFileW(fileName.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = HRESULT_FROM_WIN32(GetLastError());
        return nullptr;
    }
    auto payload = std::make_unique<PayloadOfFile>(std::move(file), tivo);
    if (encrypted) payload->Decrypt(keys);
    *error = S_OK;
    return payload;
}

}  // namespace korvane::filters
