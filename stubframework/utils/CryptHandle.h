// Holders for CryptoAPI providers and hash objects, kept apart from Handle.h so that file never
// needs <wincrypt.h>.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

struct CryptProviderTraits {     // CryptAcquireContextW
    using Type = HCRYPTPROV;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept { ::CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {         // CryptCreateHash
    using Type = HCRYPTHASH;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept { ::CryptDestroyHash(h); }
};

using ScopedCryptProvider = UniqueHandle<CryptProviderTraits>;
using ScopedCryptHash = UniqueHandle<CryptHashTraits>;

}} // namespace stubframework::utils
