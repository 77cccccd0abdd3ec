#include "platform/digest.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>
#else
#include <openssl/evp.h>

#include <cstring>
#endif

namespace krv::platform {

#ifdef _WIN32

bool sha1(std::string_view bytes, Sha1& digest) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0)))
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    // BCryptHashData takes at most 4 GiB a call.
    for (std::size_t at = 0; ok && at < bytes.size();) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - at, 1u << 30));
        ok = BCRYPT_SUCCESS(BCryptHashData(
            hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + at)), chunk, 0));
        at += chunk;
    }
    if (ok) ok = BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), digest.size(), 0));
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

#else

bool sha1(std::string_view bytes, Sha1& digest) {
    static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!algorithm || !EVP_Digest(bytes.data(), bytes.size(), out, &length, algorithm, nullptr) ||
        length != digest.size())
        return false;
    std::memcpy(digest.data(), out, digest.size());
    return true;
}

#endif

}  // namespace krv::platform
