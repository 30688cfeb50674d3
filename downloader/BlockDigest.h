// The SHA-1 of one block as a ".meta" lists it, through CryptoAPI: the hash task's digests and
// the ones taken while a verified file is copied come from the same code.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "downloader/MetaFormat.h"
#include "stubframework/utils/CryptHandle.h"

namespace downloader {

// One provider for the digester's life; a fresh hash object per block keeps each block
// independent of the last one's failure.
class BlockDigest {
public:
    BlockDigest();
    // False when the system's cryptography fails.
    bool Digest(const uint8_t* data, DWORD size, BlockHash& digest);

private:
    stubframework::utils::ScopedCryptProvider provider_;
};

} // namespace downloader
