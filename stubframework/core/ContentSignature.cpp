#include "stubframework/core/ContentSignature.h"

#include <algorithm>

#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/SignatureFormat.h"

namespace stubframework { namespace core {

namespace {

SignatureVerdict CheckDigest(const utils::Sha256Digest& digest, const std::vector<utils::EcPoint>& keys,
                             const std::vector<uint8_t>* signature) {
    if (!signature || signature->empty()) return SignatureVerdict::Missing;
    utils::EcSignature rs;
    switch (utils::ParseEcdsaSignature(signature->data(), signature->size(), rs)) {
    case utils::SignatureParse::BadFormat: return SignatureVerdict::BadFormat;
    case utils::SignatureParse::OtherCurve: return SignatureVerdict::UnknownKey;
    case utils::SignatureParse::Ok: break;
    }
    for (const utils::EcPoint& key : keys)
        if (utils::VerifyP256(key, digest, rs) == 0) return SignatureVerdict::Good;
    return SignatureVerdict::BadSignature;
}

const std::vector<utils::EcPoint>& BuiltInKeys() {
    static const std::vector<utils::EcPoint> keys = [] {
        std::vector<utils::EcPoint> parsed;
        for (size_t i = 0; i < kEmbeddedKeyCount; ++i) {
            utils::EcPoint point;
            if (utils::ParseEcPublicKey(kEmbeddedKeys[i].der, kEmbeddedKeys[i].size, point)) parsed.push_back(point);
        }
        return parsed;
    }();
    return keys;
}

} // namespace

const wchar_t* SignatureVerdictText(SignatureVerdict verdict) {
    switch (verdict) {
    case SignatureVerdict::Good: return L"good";
    case SignatureVerdict::Missing: return L"missing";
    case SignatureVerdict::BadFormat: return L"bad format";
    case SignatureVerdict::UnknownKey: return L"unknown key";
    case SignatureVerdict::BadSignature: return L"bad signature (unknown key or other bytes)";
    }
    return L"bad signature";
}

// A key file that does not parse still turns checking on: the stub then refuses everything
// rather than trusting everything.
bool SignaturesRequired() { return kEmbeddedKeyCount > 0; }

std::wstring KeyIdOf(const uint8_t* der, size_t size) {
    utils::Sha256Digest digest;
    if (!utils::Sha256Of(der, size, digest)) return std::wstring();
    const std::string hex = utils::HexText(digest.data(), 8);
    return std::wstring(hex.begin(), hex.end());
}

std::wstring PublisherKeyIds() {
    std::wstring ids;
    for (size_t i = 0; i < kEmbeddedKeyCount; ++i) {
        const std::wstring id = KeyIdOf(kEmbeddedKeys[i].der, kEmbeddedKeys[i].size);
        utils::EcPoint point;
        const bool valid = utils::ParseEcPublicKey(kEmbeddedKeys[i].der, kEmbeddedKeys[i].size, point);
        if (!ids.empty()) ids += L", ";
        ids += id.empty() ? L"unhashed" : id;
        if (!valid) ids += L" (not a P-256 key: unusable)";
    }
    return ids.empty() ? L"none" : ids;
}

SignatureVerdict CheckSignedBytes(const uint8_t* data, size_t size, const std::vector<uint8_t>* signature) {
    utils::Sha256Digest digest;
    if (!utils::Sha256Of(data, size, digest)) return SignatureVerdict::BadSignature;
    return CheckDigest(digest, BuiltInKeys(), signature);
}

SignatureVerdict CheckSignedFile(HANDLE file, const std::vector<uint8_t>* signature) {
    utils::Sha256Digest digest;
    if (!utils::Sha256OfFile(file, digest)) return SignatureVerdict::BadSignature;
    return CheckDigest(digest, BuiltInKeys(), signature);
}

SignatureVerdict CheckSignedDigest(const uint8_t* digest, const std::vector<uint8_t>* signature) {
    utils::Sha256Digest copy;
    std::copy(digest, digest + copy.size(), copy.begin());
    return CheckDigest(copy, BuiltInKeys(), signature);
}

SignatureVerdict CheckSignedDigestWithKeys(const uint8_t* digest, const std::vector<std::vector<uint8_t>>& keys,
                                           const std::vector<uint8_t>* signature) {
    std::vector<utils::EcPoint> points;
    for (const std::vector<uint8_t>& der : keys) {
        utils::EcPoint point;
        if (!utils::ParseEcPublicKey(der.data(), der.size(), point)) return SignatureVerdict::UnknownKey;
        points.push_back(point);
    }
    utils::Sha256Digest copy;
    std::copy(digest, digest + copy.size(), copy.begin());
    return CheckDigest(copy, points, signature);
}

}} // namespace stubframework::core
