#include "stubframework/utils/SignatureFormat.h"

#include <cstring>

namespace stubframework { namespace utils {

namespace {

const uint8_t kEcPublicKeyOid[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};          // 1.2.840.10045.2.1
const uint8_t kPrime256v1Oid[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};   // 1.2.840.10045.3.1.7

// One strict DER element reader over [pos, end).
struct Der {
    const uint8_t* pos;
    const uint8_t* end;

    bool AtEnd() const { return pos == end; }

    // The next element of the given tag; its content is [*content, *content + *length).
    bool Next(uint8_t tag, const uint8_t*& content, size_t& length) {
        if (end - pos < 2 || pos[0] != tag) return false;
        size_t n = pos[1];
        const uint8_t* p = pos + 2;
        if (n & 0x80) {
            const size_t bytes = n & 0x7f;
            if (bytes == 0 || bytes > 2 || static_cast<size_t>(end - p) < bytes) return false;
            n = 0;
            for (size_t i = 0; i < bytes; ++i) n = (n << 8) | p[i];
            p += bytes;
            // Minimal length encoding only: one input, one reading.
            if (n < 0x80 || (bytes == 2 && n < 0x100)) return false;
        }
        if (static_cast<size_t>(end - p) < n) return false;
        content = p;
        length = n;
        pos = p + n;
        return true;
    }
    bool Enter(uint8_t tag, Der& inner) {
        const uint8_t* content;
        size_t length;
        if (!Next(tag, content, length)) return false;
        inner = Der{content, content + length};
        return true;
    }
    bool Expect(uint8_t tag, const uint8_t* value, size_t size) {
        const uint8_t* content;
        size_t length;
        return Next(tag, content, length) && length == size && std::memcmp(content, value, size) == 0;
    }
};

// BIT STRING with no unused bits holding 04 || X || Y.
bool ReadPoint(Der& der, EcPoint& point) {
    const uint8_t* content;
    size_t length;
    if (!der.Next(0x03, content, length) || length != 66 || content[0] != 0 || content[1] != 0x04) return false;
    std::memcpy(point.data(), content + 2, 64);
    return true;
}

// A positive DER INTEGER into 32 bytes; tooWide when it does not fit.
bool ReadScalar(Der& der, uint8_t* out, bool& tooWide) {
    const uint8_t* content;
    size_t length;
    if (!der.Next(0x02, content, length) || length == 0) return false;
    if (content[0] & 0x80) return false;                                   // negative
    if (length > 1 && content[0] == 0 && !(content[1] & 0x80)) return false;  // not minimal
    if (length > 1 && content[0] == 0) { ++content; --length; }
    if (length > 32) { tooWide = true; return true; }
    std::memset(out, 0, 32);
    std::memcpy(out + 32 - length, content, length);
    bool zero = true;
    for (size_t i = 0; i < 32; ++i) zero = zero && out[i] == 0;
    return !zero;
}

void PutLength(std::vector<uint8_t>& out, size_t length) {
    if (length >= 0x80) out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(length));
}

void PutInteger(std::vector<uint8_t>& out, const uint8_t* value) {
    size_t skip = 0;
    while (skip < 31 && value[skip] == 0) ++skip;
    const bool pad = (value[skip] & 0x80) != 0;
    out.push_back(0x02);
    PutLength(out, 32 - skip + (pad ? 1 : 0));
    if (pad) out.push_back(0);
    for (size_t i = skip; i < 32; ++i) out.push_back(value[i]);
}

void PutTagged(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content) {
    out.push_back(tag);
    PutLength(out, content.size());
    const size_t at = out.size();
    out.resize(at + content.size());
    if (!content.empty()) std::memcpy(out.data() + at, content.data(), content.size());
}

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size) { return std::vector<uint8_t>(data, data + size); }

std::vector<uint8_t> PointBitString(const EcPoint& point) {
    std::vector<uint8_t> bits(2 + point.size());
    bits[1] = 0x04;
    std::memcpy(bits.data() + 2, point.data(), point.size());
    return bits;
}

// SEC1 ECPrivateKey; the curve, when named, must be P-256.
bool ParseSec1(Der der, EcScalar& secret, EcPoint& point, bool& hasPoint) {
    Der key;
    if (!der.Enter(0x30, key) || !der.AtEnd()) return false;
    const uint8_t one = 1;
    const uint8_t* content;
    size_t length;
    if (!key.Expect(0x02, &one, 1) || !key.Next(0x04, content, length) || length != 32) return false;
    std::memcpy(secret.data(), content, 32);
    hasPoint = false;
    if (!key.AtEnd() && key.pos[0] == 0xa0) {
        Der parameters;
        if (!key.Enter(0xa0, parameters) || !parameters.Expect(0x06, kPrime256v1Oid, sizeof kPrime256v1Oid) ||
            !parameters.AtEnd())
            return false;
    }
    if (!key.AtEnd() && key.pos[0] == 0xa1) {
        Der publicKey;
        if (!key.Enter(0xa1, publicKey) || !ReadPoint(publicKey, point) || !publicKey.AtEnd()) return false;
        hasPoint = true;
    }
    return key.AtEnd();
}

int Base64Value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

bool ParseEcPublicKey(const uint8_t* der, size_t size, EcPoint& point) {
    Der outer{der, der + size}, info, algorithm;
    if (!der || !outer.Enter(0x30, info) || !outer.AtEnd()) return false;
    if (!info.Enter(0x30, algorithm) || !algorithm.Expect(0x06, kEcPublicKeyOid, sizeof kEcPublicKeyOid) ||
        !algorithm.Expect(0x06, kPrime256v1Oid, sizeof kPrime256v1Oid) || !algorithm.AtEnd())
        return false;
    return ReadPoint(info, point) && info.AtEnd();
}

std::vector<uint8_t> EncodeEcPublicKey(const EcPoint& point) {
    std::vector<uint8_t> algorithm, info, out;
    PutTagged(algorithm, 0x06, Bytes(kEcPublicKeyOid, sizeof kEcPublicKeyOid));
    PutTagged(algorithm, 0x06, Bytes(kPrime256v1Oid, sizeof kPrime256v1Oid));
    PutTagged(info, 0x30, algorithm);
    PutTagged(info, 0x03, PointBitString(point));
    PutTagged(out, 0x30, info);
    return out;
}

SignatureParse ParseEcdsaSignature(const uint8_t* der, size_t size, EcSignature& signature) {
    Der outer{der, der + size}, sequence;
    if (!der || !outer.Enter(0x30, sequence) || !outer.AtEnd()) return SignatureParse::BadFormat;
    bool tooWide = false;
    if (!ReadScalar(sequence, signature.data(), tooWide) || !ReadScalar(sequence, signature.data() + 32, tooWide) ||
        !sequence.AtEnd())
        return SignatureParse::BadFormat;
    return tooWide ? SignatureParse::OtherCurve : SignatureParse::Ok;
}

std::vector<uint8_t> EncodeEcdsaSignature(const EcSignature& signature) {
    std::vector<uint8_t> integers, out;
    PutInteger(integers, signature.data());
    PutInteger(integers, signature.data() + 32);
    PutTagged(out, 0x30, integers);
    return out;
}

bool ParseEcPrivateKey(const uint8_t* der, size_t size, EcScalar& secret, EcPoint& point, bool& hasPoint) {
    if (!der) return false;
    if (ParseSec1(Der{der, der + size}, secret, point, hasPoint)) return true;
    // PKCS#8: version 0, the algorithm with its curve, the SEC1 key in an OCTET STRING.
    Der outer{der, der + size}, info, algorithm;
    const uint8_t zero = 0;
    const uint8_t* content;
    size_t length;
    if (!outer.Enter(0x30, info) || !outer.AtEnd() || !info.Expect(0x02, &zero, 1) || !info.Enter(0x30, algorithm) ||
        !algorithm.Expect(0x06, kEcPublicKeyOid, sizeof kEcPublicKeyOid) ||
        !algorithm.Expect(0x06, kPrime256v1Oid, sizeof kPrime256v1Oid) || !algorithm.AtEnd() ||
        !info.Next(0x04, content, length))
        return false;
    // Optional attributes may follow the key.
    return ParseSec1(Der{content, content + length}, secret, point, hasPoint);
}

std::vector<uint8_t> EncodeEcPrivateKey(const EcScalar& secret, const EcPoint& point) {
    std::vector<uint8_t> key, parameters, publicKey, out;
    const uint8_t version = 1;
    PutTagged(key, 0x02, Bytes(&version, 1));
    PutTagged(key, 0x04, Bytes(secret.data(), secret.size()));
    PutTagged(parameters, 0x06, Bytes(kPrime256v1Oid, sizeof kPrime256v1Oid));
    PutTagged(key, 0xa0, parameters);
    PutTagged(publicKey, 0x03, PointBitString(point));
    PutTagged(key, 0xa1, publicKey);
    PutTagged(out, 0x30, key);
    return out;
}

bool UnarmourPem(const std::vector<uint8_t>& text, std::vector<uint8_t>& der) {
    static const char kBegin[] = "-----BEGIN ";
    const std::string all(text.begin(), text.end());
    const size_t begin = all.find(kBegin);
    if (begin == std::string::npos) {
        der = text;
        return true;
    }
    const size_t bodyStart = all.find('\n', begin);
    const size_t bodyEnd = all.find("-----END ", begin);
    if (bodyStart == std::string::npos || bodyEnd == std::string::npos || bodyEnd < bodyStart) return false;
    der.clear();
    uint32_t bits = 0;
    int count = 0, padding = 0;
    for (size_t i = bodyStart; i < bodyEnd; ++i) {
        const uint8_t c = static_cast<uint8_t>(all[i]);
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') { ++padding; continue; }
        const int value = Base64Value(c);
        if (value < 0 || padding) return false;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if (++count == 4) {
            der.push_back(static_cast<uint8_t>(bits >> 16));
            der.push_back(static_cast<uint8_t>(bits >> 8));
            der.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2) return false;
    if (count == 2) der.push_back(static_cast<uint8_t>(bits >> 4));
    if (count == 3) {
        der.push_back(static_cast<uint8_t>(bits >> 10));
        der.push_back(static_cast<uint8_t>(bits >> 2));
    }
    return !der.empty();
}

std::string HexText(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}} // namespace stubframework::utils
