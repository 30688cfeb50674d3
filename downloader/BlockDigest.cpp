#include "downloader/BlockDigest.h"

namespace downloader {

BlockDigest::BlockDigest() {
    ::CryptAcquireContextW(provider_.Receive(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
}

bool BlockDigest::Digest(const uint8_t* data, DWORD size, BlockHash& digest) {
    stubframework::utils::ScopedCryptHash hash;
    if (!provider_ || !::CryptCreateHash(provider_.Get(), CALG_SHA1, 0, 0, hash.Receive())) return false;
    DWORD length = static_cast<DWORD>(digest.size());
    return ::CryptHashData(hash.Get(), data, size, 0) &&
           ::CryptGetHashParam(hash.Get(), HP_HASHVAL, digest.data(), &length, 0) && length == digest.size();
}

} // namespace downloader
