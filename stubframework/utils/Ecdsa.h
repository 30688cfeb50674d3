// SHA-256 and ECDSA P-256 through the system's own cryptography (CNG, bcrypt.dll from the
// system folder, loaded at run time: it is no KnownDLL on every Windows the stub runs on).
#pragma once
#include <windows.h>
#include <array>
#include <cstdint>

#include "stubframework/utils/BcryptHandle.h"
#include "stubframework/utils/SignatureFormat.h"

namespace stubframework { namespace utils {

using Sha256Digest = std::array<uint8_t, 32>;

// Hashes bytes given in pieces.
class Sha256 {
public:
    Sha256();
    bool Update(const uint8_t* data, size_t size);
    bool Finish(Sha256Digest& digest);
private:
    ScopedBcryptAlgorithm algorithm_;
    ScopedBcryptHash hash_;
};

bool Sha256Of(const uint8_t* data, size_t size, Sha256Digest& digest);
// The whole file behind the handle, read from its start; the handle's position moves.
bool Sha256OfFile(HANDLE file, Sha256Digest& digest);

// NTSTATUS of the check: 0 when the signature holds for the key and digest.
long VerifyP256(const EcPoint& key, const Sha256Digest& digest, const EcSignature& signature);

// A new key pair; false when CNG cannot make one.
bool GenerateP256(EcScalar& secret, EcPoint& point);
bool SignP256(const EcScalar& secret, const EcPoint& point, const Sha256Digest& digest, EcSignature& signature);

}} // namespace stubframework::utils
