// Signatures and keys in DER: an accepted input is canonical, so writing it back gives the very
// same bytes; nothing is read outside the input.
#include "stubframework/utils/SignatureFormat.h"

#include <cstdlib>
#include <vector>

using namespace stubframework::utils;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    EcSignature signature;
    if (ParseEcdsaSignature(data, size, signature) == SignatureParse::Ok && EncodeEcdsaSignature(signature) != input)
        std::abort();
    EcPoint point;
    if (ParseEcPublicKey(data, size, point) && EncodeEcPublicKey(point) != input) std::abort();
    EcScalar secret;
    bool hasPoint = false;
    if (ParseEcPrivateKey(data, size, secret, point, hasPoint)) {
        const std::vector<uint8_t> again = EncodeEcPrivateKey(secret, point);
        EcScalar secret2;
        EcPoint point2;
        bool hasPoint2 = false;
        if (!ParseEcPrivateKey(again.data(), again.size(), secret2, point2, hasPoint2) || secret2 != secret ||
            !hasPoint2 || (hasPoint && point2 != point))
            std::abort();
    }
    std::vector<uint8_t> der;
    UnarmourPem(input, der);
    return 0;
}
