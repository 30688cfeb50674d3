// Holders for CNG algorithm, key and hash handles; bcrypt.dll is loaded at run time, so closing
// goes through its loaded table.
#pragma once
#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

void CloseBcryptAlgorithm(void* handle) noexcept;
void DestroyBcryptKey(void* handle) noexcept;
void DestroyBcryptHash(void* handle) noexcept;

struct BcryptAlgorithmTraits {
    using Type = void*;     // BCRYPT_ALG_HANDLE
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseBcryptAlgorithm(h); }
};
struct BcryptKeyTraits {
    using Type = void*;     // BCRYPT_KEY_HANDLE
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyBcryptKey(h); }
};
struct BcryptHashTraits {
    using Type = void*;     // BCRYPT_HASH_HANDLE
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyBcryptHash(h); }
};

using ScopedBcryptAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;
using ScopedBcryptKey = UniqueHandle<BcryptKeyTraits>;
using ScopedBcryptHash = UniqueHandle<BcryptHashTraits>;

}} // namespace stubframework::utils
