// SHA-1 and MD5 from OpenSSL's libcrypto (native builds: tools, tests, fuzzing).
#include <openssl/evp.h>

#include <cstring>
#include <memory>

#include "media/Hash.h"

namespace korvane::media {

bool ComputeHash(HashAlgorithm algorithm, std::initializer_list<ByteView> parts, uint8_t* digest) {
    const size_t size = HashSize(algorithm);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    const EVP_MD* md = algorithm == HashAlgorithm::Sha1 ? EVP_sha1() : EVP_md5();
    bool ok = context && md && EVP_DigestInit_ex(context.get(), md, nullptr) == 1;
    for (const ByteView& part : parts)
        if (ok && part.size) ok = EVP_DigestUpdate(context.get(), part.data, part.size) == 1;
    unsigned int written = 0;
    if (ok) ok = EVP_DigestFinal_ex(context.get(), digest, &written) == 1 && written == size;
    if (!ok) std::memset(digest, 0, size);
    return ok;
}

const char* HashLibraryName() {
    return "OpenSSL libcrypto";
}

}  // namespace korvane::media
