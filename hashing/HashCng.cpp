// SHA-1 and MD5 from Windows' CNG (bcrypt.dll): the Windows builds carry no crypto library of
// their own.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "media/Hash.h"

namespace korvane::media {
namespace {

class AlgorithmHandle {
public:
    explicit AlgorithmHandle(LPCWSTR name) {
        m_status = BCryptOpenAlgorithmProvider(&m_handle, name, nullptr, 0);
    }
    ~AlgorithmHandle() {
        if (m_handle) BCryptCloseAlgorithmProvider(m_handle, 0);
    }
    AlgorithmHandle(const AlgorithmHandle&) = delete;
    AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
    bool Ok() const { return BCRYPT_SUCCESS(m_status) && m_handle; }
    BCRYPT_ALG_HANDLE Get() const { return m_handle; }

private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
    NTSTATUS m_status = 0;
};

class HashHandle {
public:
    explicit HashHandle(BCRYPT_ALG_HANDLE algorithm) {
        // A null object buffer lets CNG allocate the hash object itself (Windows 7 and later).
        m_status = BCryptCreateHash(algorithm, &m_handle, nullptr, 0, nullptr, 0, 0);
    }
    ~HashHandle() {
        if (m_handle) BCryptDestroyHash(m_handle);
    }
    HashHandle(const HashHandle&) = delete;
    HashHandle& operator=(const HashHandle&) = delete;
    bool Ok() const { return BCRYPT_SUCCESS(m_status) && m_handle; }
    BCRYPT_HASH_HANDLE Get() const { return m_handle; }

private:
    BCRYPT_HASH_HANDLE m_handle = nullptr;
    NTSTATUS m_status = 0;
};

}  // namespace

bool ComputeHash(HashAlgorithm algorithm, std::initializer_list<ByteView> parts, uint8_t* digest) {
    const size_t size = HashSize(algorithm);
    AlgorithmHandle provider(algorithm == HashAlgorithm::Sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_MD5_ALGORITHM);
    bool ok = provider.Ok();
    if (ok) {
        HashHandle hash(provider.Get());
        ok = hash.Ok();
        for (const ByteView& part : parts)
            if (ok && part.size)
                ok = BCRYPT_SUCCESS(BCryptHashData(hash.Get(), const_cast<PUCHAR>(part.data),
                                                   static_cast<ULONG>(part.size), 0));
        if (ok) ok = BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), digest, static_cast<ULONG>(size), 0));
    }
    if (!ok) std::memset(digest, 0, size);
    return ok;
}

const char* HashLibraryName() {
    return "CNG";
}

}  // namespace korvane::media
