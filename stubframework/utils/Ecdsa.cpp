#include "stubframework/utils/Ecdsa.h"

#include <bcrypt.h>
#include <cstring>
#include <vector>

#include "stubframework/utils/SystemLibrary.h"

namespace stubframework { namespace utils {

namespace {

struct BcryptApi {
    decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider;
    decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider;
    decltype(&::BCryptCreateHash) CreateHash;
    decltype(&::BCryptHashData) HashData;
    decltype(&::BCryptFinishHash) FinishHash;
    decltype(&::BCryptDestroyHash) DestroyHash;
    decltype(&::BCryptImportKeyPair) ImportKeyPair;
    decltype(&::BCryptExportKey) ExportKey;
    decltype(&::BCryptGenerateKeyPair) GenerateKeyPair;
    decltype(&::BCryptFinalizeKeyPair) FinalizeKeyPair;
    decltype(&::BCryptDestroyKey) DestroyKey;
    decltype(&::BCryptSignHash) SignHash;
    decltype(&::BCryptVerifySignature) VerifySignature;
};

struct LoadedBcrypt {
    BcryptApi api = {};
    bool ok = false;
    LoadedBcrypt() {
        // Stays loaded for the process: handles may be closed during shutdown.
        const HMODULE m = LoadSystemLibrary(L"bcrypt.dll");
        ok = LoadProc(m, "BCryptOpenAlgorithmProvider", api.OpenAlgorithmProvider) &&
             LoadProc(m, "BCryptCloseAlgorithmProvider", api.CloseAlgorithmProvider) &&
             LoadProc(m, "BCryptCreateHash", api.CreateHash) && LoadProc(m, "BCryptHashData", api.HashData) &&
             LoadProc(m, "BCryptFinishHash", api.FinishHash) && LoadProc(m, "BCryptDestroyHash", api.DestroyHash) &&
             LoadProc(m, "BCryptImportKeyPair", api.ImportKeyPair) && LoadProc(m, "BCryptExportKey", api.ExportKey) &&
             LoadProc(m, "BCryptGenerateKeyPair", api.GenerateKeyPair) &&
             LoadProc(m, "BCryptFinalizeKeyPair", api.FinalizeKeyPair) &&
             LoadProc(m, "BCryptDestroyKey", api.DestroyKey) && LoadProc(m, "BCryptSignHash", api.SignHash) &&
             LoadProc(m, "BCryptVerifySignature", api.VerifySignature);
    }
};

const BcryptApi* Api() {
    static const LoadedBcrypt loaded;
    return loaded.ok ? &loaded.api : nullptr;
}

constexpr ULONG kP256PublicMagic = 0x31534345;    // "ECS1"
constexpr ULONG kP256PrivateMagic = 0x32534345;   // "ECS2"
constexpr long kNoCng = static_cast<long>(0xC0000135);   // the DLL was not found

ScopedBcryptAlgorithm OpenAlgorithm(const wchar_t* name) {
    ScopedBcryptAlgorithm algorithm;
    const BcryptApi* api = Api();
    if (api && api->OpenAlgorithmProvider(algorithm.Receive(), name, nullptr, 0) != 0) algorithm.Reset();
    return algorithm;
}

// BCRYPT_ECCKEY_BLOB header, then X, Y (and d for a private blob).
std::vector<uint8_t> KeyBlob(ULONG magic, const EcPoint& point, const EcScalar* secret) {
    BCRYPT_ECCKEY_BLOB header{magic, 32};
    std::vector<uint8_t> blob(sizeof header + point.size() + (secret ? secret->size() : 0));
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point.data(), point.size());
    if (secret) std::memcpy(blob.data() + sizeof header + point.size(), secret->data(), secret->size());
    return blob;
}

ScopedBcryptKey ImportKey(BCRYPT_ALG_HANDLE algorithm, const wchar_t* type, std::vector<uint8_t>& blob, long& status) {
    ScopedBcryptKey key;
    status = Api()->ImportKeyPair(algorithm, nullptr, type, key.Receive(), blob.data(), static_cast<ULONG>(blob.size()), 0);
    if (status != 0) key.Reset();
    return key;
}

} // namespace

void CloseBcryptAlgorithm(void* handle) noexcept {
    if (Api() && handle) Api()->CloseAlgorithmProvider(handle, 0);
}
void DestroyBcryptKey(void* handle) noexcept {
    if (Api() && handle) Api()->DestroyKey(handle);
}
void DestroyBcryptHash(void* handle) noexcept {
    if (Api() && handle) Api()->DestroyHash(handle);
}

Sha256::Sha256() : algorithm_(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
    if (algorithm_ && Api()->CreateHash(algorithm_.Get(), hash_.Receive(), nullptr, 0, nullptr, 0, 0) != 0) hash_.Reset();
}

bool Sha256::Update(const uint8_t* data, size_t size) {
    while (hash_ && size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (Api()->HashData(hash_.Get(), const_cast<PUCHAR>(data), piece, 0) != 0) return false;
        data += piece;
        size -= piece;
    }
    return hash_.IsValid();
}

bool Sha256::Finish(Sha256Digest& digest) {
    const bool done = hash_ && Api()->FinishHash(hash_.Get(), digest.data(), 32, 0) == 0;
    hash_.Reset();
    return done;
}

bool Sha256Of(const uint8_t* data, size_t size, Sha256Digest& digest) {
    Sha256 hash;
    return hash.Update(data, size) && hash.Finish(digest);
}

bool Sha256OfFile(HANDLE file, Sha256Digest& digest) {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    Sha256 hash;
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
        if (read == 0) break;
        if (!hash.Update(buffer.data(), read)) return false;
    }
    return hash.Finish(digest);
}

long VerifyP256(const EcPoint& key, const Sha256Digest& digest, const EcSignature& signature) {
    ScopedBcryptAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm) return kNoCng;
    std::vector<uint8_t> blob = KeyBlob(kP256PublicMagic, key, nullptr);
    long status = 0;
    ScopedBcryptKey handle = ImportKey(algorithm.Get(), BCRYPT_ECCPUBLIC_BLOB, blob, status);
    if (!handle) return status;
    return Api()->VerifySignature(handle.Get(), nullptr, const_cast<PUCHAR>(digest.data()), 32,
                                  const_cast<PUCHAR>(signature.data()), 64, 0);
}

bool GenerateP256(EcScalar& secret, EcPoint& point) {
    ScopedBcryptAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    ScopedBcryptKey key;
    if (!algorithm || Api()->GenerateKeyPair(algorithm.Get(), key.Receive(), 256, 0) != 0 ||
        Api()->FinalizeKeyPair(key.Get(), 0) != 0)
        return false;
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
    ULONG size = 0;
    if (Api()->ExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), static_cast<ULONG>(blob.size()),
                         &size, 0) != 0 ||
        size != blob.size())
        return false;
    const uint8_t* p = blob.data() + sizeof(BCRYPT_ECCKEY_BLOB);
    std::memcpy(point.data(), p, 64);
    std::memcpy(secret.data(), p + 64, 32);
    ::SecureZeroMemory(blob.data(), blob.size());
    return true;
}

bool SignP256(const EcScalar& secret, const EcPoint& point, const Sha256Digest& digest, EcSignature& signature) {
    ScopedBcryptAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm) return false;
    std::vector<uint8_t> blob = KeyBlob(kP256PrivateMagic, point, &secret);
    long status = 0;
    ScopedBcryptKey key = ImportKey(algorithm.Get(), BCRYPT_ECCPRIVATE_BLOB, blob, status);
    ::SecureZeroMemory(blob.data(), blob.size());
    ULONG size = 0;
    return key &&
           Api()->SignHash(key.Get(), nullptr, const_cast<PUCHAR>(digest.data()), 32, signature.data(), 64, &size, 0) == 0 &&
           size == 64;
}

}} // namespace stubframework::utils
