// SHA-1 and MD5 for key derivation, taken from the platform's kept library (libcrypto
// natively, CNG in the Windows builds); the implementation is chosen by CMake, so media/
// code sees only this interface and stays free of Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace korvane::media {

constexpr size_t kSha1Size = 20;
constexpr size_t kMd5Size = 16;

enum class HashAlgorithm { Sha1, Md5 };

struct ByteView {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

inline size_t HashSize(HashAlgorithm algorithm) {
    return algorithm == HashAlgorithm::Sha1 ? kSha1Size : kMd5Size;
}

// Digest of the concatenation of the parts into digest (HashSize bytes). False only when the
// platform library fails (the digest is then zeroed).
bool ComputeHash(HashAlgorithm algorithm, std::initializer_list<ByteView> parts, uint8_t* digest);

// "OpenSSL libcrypto" or "CNG", for tools and test reports.
const char* HashLibraryName();

}  // namespace korvane::media
