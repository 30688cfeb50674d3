#include "tests/support/Signing.h"

#include <vector>

#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/SignatureFormat.h"
#include "tests/support/TempFolder.h"

namespace testsupport {

bool PublishSignature(const std::wstring& path, const std::wstring& sigPath) {
    using namespace stubframework::utils;
    std::string pem, content;
    std::vector<uint8_t> der;
    EcScalar secret;
    EcPoint point;
    bool hasPoint = false;
    Sha256Digest digest;
    EcSignature signature;
    if (!ReadFileBytes(TANDORA_SIGNING_KEY, pem) || !UnarmourPem(std::vector<uint8_t>(pem.begin(), pem.end()), der) ||
        !ParseEcPrivateKey(der.data(), der.size(), secret, point, hasPoint) || !hasPoint ||
        !ReadFileBytes(path, content) ||
        !Sha256Of(reinterpret_cast<const uint8_t*>(content.data()), content.size(), digest) ||
        !SignP256(secret, point, digest, signature))
        return false;
    const std::vector<uint8_t> encoded = EncodeEcdsaSignature(signature);
    return WriteFileBytes(sigPath.empty() ? path + L".sig" : sigPath, std::string(encoded.begin(), encoded.end()));
}

} // namespace testsupport
