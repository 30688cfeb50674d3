// The byte forms of publisher keys and signatures, as openssl reads and writes them: DER
// SubjectPublicKeyInfo of a P-256 key, DER ECDSA signatures, SEC1 or PKCS#8 private keys, and
// the PEM armour around any of them. No Windows headers here: fuzzed and sanitized natively.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stubframework { namespace utils {

using EcPoint = std::array<uint8_t, 64>;        // X || Y, big-endian
using EcScalar = std::array<uint8_t, 32>;       // big-endian
using EcSignature = std::array<uint8_t, 64>;    // r || s, big-endian

// A P-256 public key from its DER SubjectPublicKeyInfo (uncompressed point); false for any other
// algorithm, curve, point form or trailing bytes.
bool ParseEcPublicKey(const uint8_t* der, size_t size, EcPoint& point);
std::vector<uint8_t> EncodeEcPublicKey(const EcPoint& point);

enum class SignatureParse { Ok, BadFormat, OtherCurve };
// "SEQUENCE { INTEGER r, INTEGER s }" in strict DER. OtherCurve: well formed, but r or s is
// wider than a P-256 scalar, so another kind of key made it.
SignatureParse ParseEcdsaSignature(const uint8_t* der, size_t size, EcSignature& signature);
std::vector<uint8_t> EncodeEcdsaSignature(const EcSignature& signature);

// A P-256 private key: SEC1 "EC PRIVATE KEY" or PKCS#8 wrapping it. The public point is taken
// when the key carries it (hasPoint), else left to the caller to derive.
bool ParseEcPrivateKey(const uint8_t* der, size_t size, EcScalar& secret, EcPoint& point, bool& hasPoint);
// SEC1 DER with the curve and the public point, as "openssl ec -outform DER" writes it.
std::vector<uint8_t> EncodeEcPrivateKey(const EcScalar& secret, const EcPoint& point);

// The DER inside "-----BEGIN ...-----" armour; the bytes themselves when they are not PEM.
// False for armour whose body is not base64.
bool UnarmourPem(const std::vector<uint8_t>& text, std::vector<uint8_t>& der);

// Lower-case hex of the bytes.
std::string HexText(const uint8_t* bytes, size_t size);

}} // namespace stubframework::utils
