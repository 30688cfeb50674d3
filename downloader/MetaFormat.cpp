#include "downloader/MetaFormat.h"

#include <cstring>

namespace downloader {

bool CreateDownloadMetaSimple(const uint8_t* bytes, size_t length, DownloadMetaSimple* out) {
    if (!out || !bytes || length < 8) return false;
    uint64_t raw = 0;
    for (int i = 7; i >= 0; --i) raw = (raw << 8) | bytes[i];
    const int64_t size = static_cast<int64_t>(raw);
    // A negative size would give a negative block count; nothing valid is published that way.
    if (size < 0) return false;
    const uint64_t blocks = BlockCount(size);
    if (blocks >= kMaxBlocks) return false;
    if (8 + 20 * blocks != length) return false;
    out->fileSize = size;
    out->hashes.resize(static_cast<size_t>(blocks));
    for (size_t i = 0; i < out->hashes.size(); ++i) std::memcpy(out->hashes[i].data(), bytes + 8 + 20 * i, 20);
    return true;
}

bool CreateDownloadMetaSimple(const std::vector<uint8_t>& bytes, DownloadMetaSimple* out) {
    return CreateDownloadMetaSimple(bytes.data(), bytes.size(), out);
}

std::vector<uint8_t> SerializeDownloadMeta(int64_t fileSize, const std::vector<BlockHash>& hashes) {
    std::vector<uint8_t> bytes(8 + 20 * hashes.size());
    const uint64_t raw = static_cast<uint64_t>(fileSize);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(raw >> (8 * i));
    for (size_t i = 0; i < hashes.size(); ++i) std::memcpy(&bytes[8 + 20 * i], hashes[i].data(), 20);
    return bytes;
}

namespace {

void SkipBlanks(const char*& p) {
    while (*p == ' ' || *p == '\t') ++p;
}

// Non-negative decimal without overflow.
bool ReadNumber(const char*& p, int64_t& value) {
    SkipBlanks(p);
    if (*p < '0' || *p > '9') return false;
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        const int digit = *p - '0';
        if (v > (INT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
        ++p;
    }
    value = v;
    return true;
}

} // namespace

bool ParseContentRange(const std::string& text, int64_t& first, int64_t& last, int64_t& total) {
    const char* p = text.c_str();
    SkipBlanks(p);
    if (std::strncmp(p, "bytes", 5) != 0) return false;
    p += 5;
    int64_t a = 0, b = 0, c = 0;
    if (!ReadNumber(p, a)) return false;
    SkipBlanks(p);
    if (*p++ != '-') return false;
    if (!ReadNumber(p, b)) return false;
    SkipBlanks(p);
    if (*p++ != '/') return false;
    if (!ReadNumber(p, c)) return false;
    SkipBlanks(p);
    while (*p == '\r' || *p == '\n') ++p;
    // A NUL inside the value must not end it early; a range must lie inside its total.
    if (p != text.c_str() + text.size() || b < a || b >= c) return false;
    first = a;
    last = b;
    total = c;
    return true;
}

bool ParseContentLength(const std::string& text, int64_t& value) {
    const char* p = text.c_str();
    int64_t v = 0;
    if (!ReadNumber(p, v)) return false;
    SkipBlanks(p);
    while (*p == '\r' || *p == '\n') ++p;
    if (p != text.c_str() + text.size()) return false;
    value = v;
    return true;
}

} // namespace downloader
