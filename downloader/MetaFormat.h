// Byte-level formats of the download server: the ".meta" companion file and Content-Range.
// No Windows headers here, so this builds natively for sanitizer runs.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace downloader {

using BlockHash = std::array<uint8_t, 20>;

constexpr int64_t kBlockSize = 1048576;
constexpr uint64_t kMaxBlocks = 0x4000000;     // 2^26

struct DownloadMetaSimple {
    int64_t fileSize = 0;
    std::vector<BlockHash> hashes;
};

// Number of 1 MiB blocks of a file of the given size (the last one may be shorter). Counted
// unsigned: rounding up the largest sizes must not overflow.
inline uint64_t BlockCount(int64_t fileSize) {
    return fileSize <= 0 ? 0 : ((static_cast<uint64_t>(fileSize) - 1) >> 20) + 1;
}

// Parses a ".meta" body: 8-byte little-endian size, then one SHA-1 per block; the length must
// be exact. False for a null out record, a short buffer, a negative size or N >= 2^26.
bool CreateDownloadMetaSimple(const uint8_t* bytes, size_t length, DownloadMetaSimple* out);
bool CreateDownloadMetaSimple(const std::vector<uint8_t>& bytes, DownloadMetaSimple* out);

// The ".meta" body for a file size and its block hashes.
std::vector<uint8_t> SerializeDownloadMeta(int64_t fileSize, const std::vector<BlockHash>& hashes);

// "bytes FIRST-LAST/TOTAL"; false when the text does not have that form, LAST < FIRST or
// LAST >= TOTAL (so LAST - FIRST + 1 cannot overflow).
bool ParseContentRange(const std::string& text, int64_t& first, int64_t& last, int64_t& total);

// A decimal Content-Length; false for anything else.
bool ParseContentLength(const std::string& text, int64_t& value);

} // namespace downloader
