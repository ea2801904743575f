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
    explicit AlgorithmHandle(LPCWSTR name) { status_ = BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0); }
    ~AlgorithmHandle() {
        if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    AlgorithmHandle(const AlgorithmHandle&) = delete;
    AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
    bool Ok() const { return BCRYPT_SUCCESS(status_) && handle_; }
    BCRYPT_ALG_HANDLE Get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
    NTSTATUS status_ = 0;
};

class HashHandle {
public:
    explicit HashHandle(BCRYPT_ALG_HANDLE algorithm) {
        // A null object buffer lets CNG allocate the hash object itself (Windows 7 and later).
        status_ = BCryptCreateHash(algorithm, &handle_, nullptr, 0, nullptr, 0, 0);
    }
    ~HashHandle() {
        if (handle_) BCryptDestroyHash(handle_);
    }
    HashHandle(const HashHandle&) = delete;
    HashHandle& operator=(const HashHandle&) = delete;
    bool Ok() const { return BCRYPT_SUCCESS(status_) && handle_; }
    BCRYPT_HASH_HANDLE Get() const { return handle_; }

private:
    BCRYPT_HASH_HANDLE handle_ = nullptr;
    NTSTATUS status_ = 0;
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

const char* HashLibraryName() { return "CNG"; }

}  // namespace korvane::media
