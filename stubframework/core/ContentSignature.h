// The publisher's signatures over what the stub takes from the network: which keys the stub
// trusts, and whether a signature over some bytes holds for one of them.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stubframework { namespace core {

struct EmbeddedKey {
    const unsigned char* der;    // SubjectPublicKeyInfo
    size_t size;
};
// Built in from the build's key files (PublisherKeyData.cpp).
extern const EmbeddedKey kEmbeddedKeys[];
extern const size_t kEmbeddedKeyCount;

enum class SignatureVerdict { Good, Missing, BadFormat, UnknownKey, BadSignature };

// "missing", "bad format", "unknown key", "bad signature" (no built-in key verifies it: made by
// another key or over other bytes), "good".
const wchar_t* SignatureVerdictText(SignatureVerdict verdict);

// True when the stub has a publisher key: then every check below is on.
bool SignaturesRequired();

// The key ids (first 8 bytes of the SHA-256 of each key's DER, in hex), ", "-separated; "none".
std::wstring PublisherKeyIds();
// A key's id as logged: the first 8 bytes of SHA-256 of its DER form, in hex; empty when it
// cannot be hashed.
std::wstring KeyIdOf(const uint8_t* der, size_t size);

// The verdict on signature (null: none was found) over the bytes, or over the whole file behind
// the handle (read from its start).
SignatureVerdict CheckSignedBytes(const uint8_t* data, size_t size, const std::vector<uint8_t>* signature);
SignatureVerdict CheckSignedFile(HANDLE file, const std::vector<uint8_t>* signature);
// The same over a SHA-256 digest (32 bytes) taken elsewhere, for example while the bytes were copied.
SignatureVerdict CheckSignedDigest(const uint8_t* digest, const std::vector<uint8_t>* signature);

// The same against keys given as DER, for the publisher's tool; a key that does not parse makes
// the verdict UnknownKey.
SignatureVerdict CheckSignedDigestWithKeys(const uint8_t* digest, const std::vector<std::vector<uint8_t>>& keys,
                                           const std::vector<uint8_t>* signature);

}} // namespace stubframework::core
