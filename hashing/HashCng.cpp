// SHA-1 and MD5 from Windows' CNG (bcrypt.dll): the Windows builds carry no crypto library of
// their own. bcrypt.dll is loaded on the first hash (see win32/SystemLibrary.h).
#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "media/Hash.h"
#include "win32/SystemLibrary.h"

namespace korvane::media {
namespace {

// The CNG functions used here, bound once; every member is null when bcrypt.dll or one of them
// is missing, and then no hash is computed.
struct Cng {
    decltype(&::BCryptOpenAlgorithmProvider) openAlgorithmProvider;
    decltype(&::BCryptCloseAlgorithmProvider) closeAlgorithmProvider;
    decltype(&::BCryptCreateHash) createHash;
    decltype(&::BCryptDestroyHash) destroyHash;
    decltype(&::BCryptHashData) hashData;
    decltype(&::BCryptFinishHash) finishHash;

    bool Ok() const {
        return openAlgorithmProvider && closeAlgorithmProvider && createHash && destroyHash && hashData && finishHash;
    }
};

const Cng& Functions() {
    static const SystemLibrary bcrypt(L"bcrypt.dll");
    static const Cng cng = [] {
        Cng found{};
        found.openAlgorithmProvider = bcrypt.Find<decltype(found.openAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
        found.closeAlgorithmProvider =
            bcrypt.Find<decltype(found.closeAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
        found.createHash = bcrypt.Find<decltype(found.createHash)>("BCryptCreateHash");
        found.destroyHash = bcrypt.Find<decltype(found.destroyHash)>("BCryptDestroyHash");
        found.hashData = bcrypt.Find<decltype(found.hashData)>("BCryptHashData");
        found.finishHash = bcrypt.Find<decltype(found.finishHash)>("BCryptFinishHash");
        return found;
    }();
    return cng;
}

class AlgorithmHandle {
public:
    AlgorithmHandle(const Cng& cng, LPCWSTR name) : m_cng(cng) {
        m_status = m_cng.openAlgorithmProvider(&m_handle, name, nullptr, 0);
    }
    ~AlgorithmHandle() {
        if (m_handle) m_cng.closeAlgorithmProvider(m_handle, 0);
    }
    AlgorithmHandle(const AlgorithmHandle&) = delete;
    AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
    bool Ok() const { return BCRYPT_SUCCESS(m_status) && m_handle; }
    BCRYPT_ALG_HANDLE Get() const { return m_handle; }

private:
    const Cng& m_cng;
    BCRYPT_ALG_HANDLE m_handle = nullptr;
    NTSTATUS m_status = 0;
};

class HashHandle {
public:
    HashHandle(const Cng& cng, BCRYPT_ALG_HANDLE algorithm) : m_cng(cng) {
        // A null object buffer lets CNG allocate the hash object itself (Windows 7 and later).
        m_status = m_cng.createHash(algorithm, &m_handle, nullptr, 0, nullptr, 0, 0);
    }
    ~HashHandle() {
        if (m_handle) m_cng.destroyHash(m_handle);
    }
    HashHandle(const HashHandle&) = delete;
    HashHandle& operator=(const HashHandle&) = delete;
    bool Ok() const { return BCRYPT_SUCCESS(m_status) && m_handle; }
    BCRYPT_HASH_HANDLE Get() const { return m_handle; }

private:
    const Cng& m_cng;
    BCRYPT_HASH_HANDLE m_handle = nullptr;
    NTSTATUS m_status = 0;
};

}  // namespace

bool ComputeHash(HashAlgorithm algorithm, std::initializer_list<ByteView> parts, uint8_t* digest) {
    const size_t size = HashSize(algorithm);
    const Cng& cng = Functions();
    bool ok = cng.Ok();
    if (ok) {
        AlgorithmHandle provider(cng, algorithm == HashAlgorithm::Sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_MD5_ALGORITHM);
        ok = provider.Ok();
        if (ok) {
            HashHandle hash(cng, provider.Get());
            ok = hash.Ok();
            for (const ByteView& part : parts)
                if (ok && part.size)
                    ok = BCRYPT_SUCCESS(cng.hashData(hash.Get(), const_cast<PUCHAR>(part.data),
                                                     static_cast<ULONG>(part.size), 0));
            if (ok) ok = BCRYPT_SUCCESS(cng.finishHash(hash.Get(), digest, static_cast<ULONG>(size), 0));
        }
    }
    if (!ok) std::memset(digest, 0, size);
    return ok;
}

const char* HashLibraryName() {
    return "CNG";
}

}  // namespace korvane::media
