// stubtool keygen / sign / verify-signature: publisher keys and signatures in the forms openssl
// reads and writes, made and checked with the system's CNG.
#include <windows.h>

#include <string>
#include <vector>

#include "downloader/Downloader.h"
#include "stubframework/core/ContentSignature.h"
#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/SignatureFormat.h"
#include "stubframework/utils/WideFormat.h"
#include "tools/stubtool/Commands.h"
#include "tools/stubtool/Console.h"

namespace stubtool {

namespace {

using stubframework::core::SignatureVerdict;
using stubframework::utils::FormatWide;
namespace utils = stubframework::utils;

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    const bool ok = utils::WriteFileBytes(path, bytes);
    if (!ok) PrintError(FormatWide(L"cannot write %s (error %lu)", path.c_str(), ::GetLastError()));
    return ok;
}

// DER or PEM, as openssl writes either.
bool ReadKeyFile(const std::wstring& path, std::vector<uint8_t>& der) {
    std::vector<uint8_t> text;
    if (!ReadWholeFile(path, text) || !utils::UnarmourPem(text, der)) {
        PrintError(FormatWide(L"cannot read %s", path.c_str()));
        return false;
    }
    return true;
}

std::wstring KeyId(const std::vector<uint8_t>& publicDer) {
    const std::wstring id = stubframework::core::KeyIdOf(publicDer.data(), publicDer.size());
    return id.empty() ? L"?" : id;
}

} // namespace

SignatureVerdict VerifyWithKeys(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>* signature,
                                const std::vector<std::vector<uint8_t>>& keys) {
    if (keys.empty()) return stubframework::core::CheckSignedBytes(bytes.data(), bytes.size(), signature);
    utils::Sha256Digest digest;
    if (!utils::Sha256Of(bytes.data(), bytes.size(), digest)) return SignatureVerdict::BadSignature;
    return stubframework::core::CheckSignedDigestWithKeys(digest.data(), keys, signature);
}

int RunKeygen(const Arguments& arguments) {
    if (arguments.size() != 2) {
        PrintError(L"usage: stubtool keygen PRIVATE PUBLIC");
        return kExitUsage;
    }
    utils::EcScalar secret;
    utils::EcPoint point;
    if (!utils::GenerateP256(secret, point)) {
        PrintError(L"CNG could not make a P-256 key pair");
        return kExitFailed;
    }
    std::vector<uint8_t> privateDer = utils::EncodeEcPrivateKey(secret, point);
    const std::vector<uint8_t> publicDer = utils::EncodeEcPublicKey(point);
    const bool written = WriteWholeFile(arguments[0], privateDer) && WriteWholeFile(arguments[1], publicDer);
    ::SecureZeroMemory(privateDer.data(), privateDer.size());
    ::SecureZeroMemory(secret.data(), secret.size());
    if (!written) return kExitFailed;
    PrintLine(FormatWide(L"key id %s: private key %s (SEC1 DER), public key %s (SubjectPublicKeyInfo DER)",
                         KeyId(publicDer).c_str(), arguments[0].c_str(), arguments[1].c_str()));
    return kExitOk;
}

bool ReadPrivateKey(const std::wstring& path, utils::EcScalar& secret, utils::EcPoint& point) {
    std::vector<uint8_t> keyDer;
    if (!ReadKeyFile(path, keyDer)) return false;
    bool hasPoint = false;
    const bool parsed = utils::ParseEcPrivateKey(keyDer.data(), keyDer.size(), secret, point, hasPoint);
    ::SecureZeroMemory(keyDer.data(), keyDer.size());
    if (!parsed || !hasPoint) {
        PrintError(FormatWide(L"%s is no P-256 private key with its public point (SEC1 or PKCS#8, DER or PEM)",
                              path.c_str()));
        return false;
    }
    return true;
}

int RunSign(const Arguments& arguments) {
    if (arguments.size() != 2 && arguments.size() != 3) {
        PrintError(L"usage: stubtool sign PRIVATE FILE [SIG]");
        return kExitUsage;
    }
    std::vector<uint8_t> bytes;
    utils::EcScalar secret;
    utils::EcPoint point;
    if (!ReadPrivateKey(arguments[0], secret, point)) return kExitFailed;
    if (!ReadWholeFile(arguments[1], bytes)) {
        PrintError(FormatWide(L"cannot read %s", arguments[1].c_str()));
        return kExitFailed;
    }
    utils::Sha256Digest digest;
    utils::EcSignature rs;
    const bool signedOk = utils::Sha256Of(bytes.data(), bytes.size(), digest) && utils::SignP256(secret, point, digest, rs);
    ::SecureZeroMemory(secret.data(), secret.size());
    if (!signedOk) {
        PrintError(L"CNG could not sign");
        return kExitFailed;
    }
    const std::wstring out = arguments.size() == 3 ? arguments[2] : arguments[1] + L".sig";
    if (!WriteWholeFile(out, utils::EncodeEcdsaSignature(rs))) return kExitFailed;
    PrintLine(FormatWide(L"%s: signed with key %s", out.c_str(), KeyId(utils::EncodeEcPublicKey(point)).c_str()));
    return kExitOk;
}

int RunVerifySignature(const Arguments& arguments) {
    if (arguments.size() != 2 && arguments.size() != 3) {
        PrintError(L"usage: stubtool verify-signature PUBLIC FILE [SIG]");
        return kExitUsage;
    }
    std::vector<uint8_t> keyDer, bytes, signature;
    if (!ReadKeyFile(arguments[0], keyDer)) return kExitFailed;
    if (!ReadWholeFile(arguments[1], bytes)) {
        PrintError(FormatWide(L"cannot read %s", arguments[1].c_str()));
        return kExitFailed;
    }
    const std::wstring sigPath = arguments.size() == 3 ? arguments[2] : arguments[1] + L".sig";
    const bool found = ReadWholeFile(sigPath, signature);
    const SignatureVerdict verdict = VerifyWithKeys(bytes, found ? &signature : nullptr, {keyDer});
    if (verdict != SignatureVerdict::Good) {
        PrintLine(FormatWide(L"refused: %s: %s", sigPath.c_str(), stubframework::core::SignatureVerdictText(verdict)));
        return kExitFailed;
    }
    PrintLine(FormatWide(L"good: %s signs %s (key %s)", sigPath.c_str(), arguments[1].c_str(), KeyId(keyDer).c_str()));
    return kExitOk;
}

} // namespace stubtool
