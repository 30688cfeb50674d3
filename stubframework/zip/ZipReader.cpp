#include "stubframework/zip/ZipReader.h"
#include "stubframework/zip/ZipFormat.h"

#include <zlib.h>
#include <algorithm>
#include <cstring>
#include <utility>

namespace stubframework { namespace zip {

namespace {

// A maximal comment plus room for a trailing signature block behind the archive.
constexpr uint64_t kSearchWindow = format::kEndRecordSize + 0xFFFF + 64 * 1024;

// Sequential reads of the central directory through a fixed buffer.
class BufferedSource {
public:
    // Every byte read is taken from budget; an exhausted budget reads as the end of the range.
    BufferedSource(const ReadCallback& read, uint64_t position, uint64_t end, uint64_t& budget)
        : read_(read), position_(position), end_(end), budget_(budget), buffer_(ZipReader::kBlockSize) {}

    // False when the range ends first (bad directory) or a read fails (ReadFailed()).
    bool Read(void* target, size_t size) {
        unsigned char* out = static_cast<unsigned char*>(target);
        while (size > 0) {
            if (first_ == last_ && !Fill()) return false;
            const size_t n = std::min(size, last_ - first_);
            if (out) { std::memcpy(out, buffer_.data() + first_, n); out += n; }
            first_ += n;
            size -= n;
        }
        return true;
    }
    bool Skip(size_t size) { return Read(nullptr, size); }
    uint64_t Consumed(uint64_t start) const { return position_ - (last_ - first_) - start; }
    bool ReadFailed() const { return readFailed_; }

private:
    bool Fill() {
        if (position_ >= end_) return false;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), end_ - position_));
        if (n > budget_) return false;
        budget_ -= n;
        if (read_(position_, buffer_.data(), n) != n) { readFailed_ = true; return false; }
        position_ += n;
        first_ = 0;
        last_ = n;
        return true;
    }

    const ReadCallback& read_;
    uint64_t position_;
    uint64_t end_;
    uint64_t& budget_;
    std::vector<unsigned char> buffer_;
    size_t first_ = 0;
    size_t last_ = 0;
    bool readFailed_ = false;
};

struct InflateStream {
    z_stream stream{};
    bool ready = false;
    ~InflateStream() { if (ready) inflateEnd(&stream); }
};

// Every entry has a local header and data of its own. Entries that share bytes only come from
// a hostile archive (many entries inflating the same stream) and are refused as a whole.
bool EntriesOverlap(const std::vector<ZipEntry>& entries) {
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    spans.reserve(entries.size());
    for (const ZipEntry& entry : entries)
        spans.emplace_back(entry.localHeaderOffset, entry.localHeaderOffset + format::kLocalHeaderSize + entry.compressedSize);
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) return true;
    return false;
}

} // namespace

const char* ZipErrorName(ZipError error) {
    switch (error) {
    case ZipError::None: return "none";
    case ZipError::ReadFailed: return "read failed";
    case ZipError::NotFound: return "no archive found";
    case ZipError::BadCentralDirectory: return "bad central directory";
    case ZipError::BadLocalHeader: return "bad local header";
    case ZipError::Unsupported: return "unsupported archive feature";
    case ZipError::BadData: return "damaged data";
    case ZipError::SizeMismatch: return "size mismatch";
    case ZipError::CrcMismatch: return "CRC mismatch";
    case ZipError::WriteFailed: return "write failed";
    case ZipError::BadIndex: return "bad entry index";
    case ZipError::OutOfMemory: return "out of memory";
    }
    return "unknown";
}

ZipError ZipReader::Open(ReadCallback read, uint64_t dataSize) {
    read_ = std::move(read);
    dataSize_ = dataSize;
    entries_.clear();
    archiveStart_ = 0;
    directoryOffset_ = 0;
    if (!read_ || dataSize < format::kEndRecordSize) return ZipError::NotFound;

    const uint64_t windowSize = std::min(dataSize, kSearchWindow);
    const uint64_t windowStart = dataSize - windowSize;
    std::vector<unsigned char> window(static_cast<size_t>(windowSize));
    if (read_(windowStart, window.data(), window.size()) != window.size()) return ZipError::ReadFailed;

    // Latest record first; one that fails the checks (a chance match inside compressed data or
    // the signature block) does not hide an earlier, real one. The directory bytes all candidates
    // may read together are capped: records crafted to point at one large directory damaged at
    // its end would otherwise have it read again for each of them.
    ZipError result = ZipError::NotFound;
    uint64_t budget = 2 * dataSize;
    for (size_t i = window.size() - format::kEndRecordSize + 1; i-- > 0;) {
        if (format::Get32(&window[i]) != format::kEndSignature) continue;
        switch (TryCandidate(windowStart + i, &window[i], budget)) {
        case Candidate::Valid: return ZipError::None;
        case Candidate::ReadFailed: return ZipError::ReadFailed;
        case Candidate::Unsupported: result = ZipError::Unsupported; break;
        case Candidate::Invalid:
            if (result == ZipError::NotFound) result = ZipError::BadCentralDirectory;
            break;
        }
    }
    return result;
}

struct ZipReader::Directory {
    uint64_t entries = 0;
    uint64_t size = 0;
    uint64_t offset = 0;   // from the archive's first byte
    uint64_t end = 0;      // position in the data where the directory ends (the end record)
};

ZipReader::Candidate ZipReader::TryCandidate(uint64_t recordPosition, const unsigned char* record,
                                             uint64_t& budget) {
    const uint16_t disk = format::Get16(record + 4);
    const uint16_t directoryDisk = format::Get16(record + 6);
    const uint16_t entriesOnDisk = format::Get16(record + 8);
    const uint16_t commentLength = format::Get16(record + 20);
    if (recordPosition + format::kEndRecordSize + commentLength > dataSize_) return Candidate::Invalid;

    Directory directory;
    directory.entries = format::Get16(record + 10);
    directory.size = format::Get32(record + 12);
    directory.offset = format::Get32(record + 16);
    directory.end = recordPosition;
    const bool marked = directory.size == format::kMarker32 || directory.offset == format::kMarker32 ||
                        directory.entries == format::kMarker16 || entriesOnDisk == format::kMarker16 ||
                        disk == format::kMarker16 || directoryDisk == format::kMarker16;
    // Streaming writers add the ZIP64 records to small archives too; where a locator stands
    // before the end record, its record's values count.
    // A locator-like pattern at the end of a plain directory (a name, a comment) changes nothing.
    const Candidate zip64 = FindZip64Directory(recordPosition, directory);
    if (zip64 == Candidate::ReadFailed) return zip64;
    if (zip64 != Candidate::Valid) {
        if (marked) return zip64;
        if (disk != 0 || directoryDisk != 0 || entriesOnDisk != directory.entries) return Candidate::Unsupported;
    }
    if (directory.size > directory.end || directory.offset > directory.end - directory.size)
        return Candidate::Invalid;
    if (directory.entries > directory.size / format::kCentralHeaderSize) return Candidate::Invalid;
    return ReadDirectory(directory, budget);
}

ZipReader::Candidate ZipReader::FindZip64Directory(uint64_t recordPosition, Directory& directory) const {
    if (recordPosition < format::kZip64LocatorSize + format::kZip64EndRecordSize) return Candidate::Invalid;
    const uint64_t locatorPosition = recordPosition - format::kZip64LocatorSize;
    unsigned char locator[format::kZip64LocatorSize];
    if (read_(locatorPosition, locator, sizeof locator) != sizeof locator) return Candidate::ReadFailed;
    if (format::Get32(locator) != format::kZip64LocatorSignature) return Candidate::Invalid;
    if (format::Get32(locator + 4) != 0 || format::Get32(locator + 16) > 1) return Candidate::Unsupported;

    // The record ends at the locator. Without extensible data it is right before it; with some,
    // the locator's offset finds it in an archive that starts at the data's first byte.
    const uint64_t stated = format::Get64(locator + 8);
    for (const uint64_t position : {locatorPosition - format::kZip64EndRecordSize, stated}) {
        if (position > locatorPosition - format::kZip64EndRecordSize) continue;
        unsigned char record[format::kZip64EndRecordSize];
        if (read_(position, record, sizeof record) != sizeof record) return Candidate::ReadFailed;
        if (format::Get32(record) != format::kZip64EndSignature ||
            format::Get64(record + 4) != locatorPosition - position - 12)
            continue;
        if (format::Get32(record + 16) != 0 || format::Get32(record + 20) != 0 ||
            format::Get64(record + 24) != format::Get64(record + 32))
            return Candidate::Unsupported;
        directory.entries = format::Get64(record + 32);
        directory.size = format::Get64(record + 40);
        directory.offset = format::Get64(record + 48);
        directory.end = position;
        return Candidate::Valid;
    }
    return Candidate::Invalid;
}

namespace {

// Calls visit(id, data, size) for each well-formed field of an extra block. Some writers pad
// the block; a field that runs past its end ends the walk.
template <typename Visit>
void ForEachExtraField(const unsigned char* extra, size_t length, Visit visit) {
    size_t at = 0;
    while (at + 4 <= length) {
        const uint16_t id = format::Get16(extra + at);
        const size_t size = format::Get16(extra + at + 2);
        if (size > length - at - 4) return;
        visit(id, extra + at + 4, size);
        at += 4 + size;
    }
}

// Takes the 64-bit values of the fields the header marked, in the order the format gives them.
bool ApplyZip64Field(const unsigned char* data, size_t size, bool diskMarked, ZipEntry& entry) {
    size_t at = 0;
    for (uint64_t* value : {&entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset}) {
        if (*value != format::kMarker32) continue;
        if (size - at < 8) return false;
        *value = format::Get64(data + at);
        at += 8;
    }
    return !diskMarked || size - at >= 4;
}

// start + first + second <= end, without overflowing.
bool FitsBefore(uint64_t start, uint64_t first, uint64_t second, uint64_t end) {
    if (start > end || first > end - start) return false;
    return second <= end - start - first;
}

} // namespace

ZipReader::Candidate ZipReader::ReadDirectory(const Directory& directory, uint64_t& budget) {
    const uint64_t archiveStart = directory.end - directory.size - directory.offset;
    const uint64_t directoryStart = archiveStart + directory.offset;
    BufferedSource source(read_, directoryStart, directory.end, budget);
    std::vector<ZipEntry> entries;
    // The count is checked against the directory's size only: reserve no more than a sane share.
    entries.reserve(static_cast<size_t>(std::min<uint64_t>(directory.entries, 65536)));
    std::vector<unsigned char> extra;
    for (uint64_t i = 0; i < directory.entries; ++i) {
        unsigned char header[format::kCentralHeaderSize];
        if (!source.Read(header, sizeof header) || format::Get32(header) != format::kCentralSignature)
            return source.ReadFailed() ? Candidate::ReadFailed : Candidate::Invalid;
        ZipEntry entry;
        entry.flags = format::Get16(header + 8);
        entry.method = format::Get16(header + 10);
        entry.crc32 = format::Get32(header + 16);
        entry.compressedSize = format::Get32(header + 20);
        entry.uncompressedSize = format::Get32(header + 24);
        const uint16_t nameLength = format::Get16(header + 28);
        const uint16_t extraLength = format::Get16(header + 30);
        const uint16_t entryCommentLength = format::Get16(header + 32);
        const uint16_t startDisk = format::Get16(header + 34);
        entry.externalAttributes = format::Get32(header + 38);
        entry.localHeaderOffset = format::Get32(header + 42);

        entry.name.resize(nameLength);
        extra.resize(extraLength);
        if (!source.Read(&entry.name[0], nameLength) || !source.Read(extra.data(), extraLength) ||
            !source.Skip(entryCommentLength))
            return source.ReadFailed() ? Candidate::ReadFailed : Candidate::Invalid;

        const bool needsZip64 = entry.compressedSize == format::kMarker32 ||
                                entry.uncompressedSize == format::kMarker32 ||
                                entry.localHeaderOffset == format::kMarker32 || startDisk == format::kMarker16;
        bool zip64Found = false, zip64Sound = true;
        if (entry.flags & format::kFlagUtf8) entry.utf8Name = entry.name;
        ForEachExtraField(extra.data(), extra.size(), [&](uint16_t id, const unsigned char* data, size_t size) {
            if (id == format::kExtraZip64 && needsZip64 && !zip64Found) {
                zip64Found = true;
                zip64Sound = ApplyZip64Field(data, size, startDisk == format::kMarker16, entry);
            } else if (id == format::kExtraUnicodePath && entry.utf8Name.empty() && size >= 5 && data[0] == 1 &&
                       format::Get32(data + 1) == crc32(crc32(0L, Z_NULL, 0),
                                                        reinterpret_cast<const Bytef*>(entry.name.data()),
                                                        static_cast<uInt>(entry.name.size()))) {
                // A name fixed by a later tool no longer has this CRC; then the raw name counts.
                entry.utf8Name.assign(reinterpret_cast<const char*>(data + 5), size - 5);
            }
        });
        if (needsZip64 && (!zip64Found || !zip64Sound)) return Candidate::Invalid;
        if (startDisk != 0 && startDisk != format::kMarker16) return Candidate::Unsupported;
        // Entry data lies before the directory; a header pointing elsewhere is damage.
        if (!FitsBefore(entry.localHeaderOffset, format::kLocalHeaderSize, entry.compressedSize, directory.offset))
            return Candidate::Invalid;
        entries.push_back(std::move(entry));
    }
    if (source.Consumed(directoryStart) != directory.size) return Candidate::Invalid;
    if (EntriesOverlap(entries)) return Candidate::Invalid;

    entries_ = std::move(entries);
    archiveStart_ = archiveStart;
    directoryOffset_ = directory.offset;
    return Candidate::Valid;
}

ZipError ZipReader::CheckLocalHeader(const ZipEntry& entry, const unsigned char* header,
                                     uint64_t headerPosition) const {
    if (format::Get32(header) != format::kLocalSignature || format::Get16(header + 8) != entry.method)
        return ZipError::BadLocalHeader;
    // With a data descriptor the local values may be zero: the directory's are used.
    if (format::Get16(header + 6) & format::kFlagDataDescriptor) return ZipError::None;
    // Otherwise the local header repeats the directory's CRC and sizes. Copies that disagree
    // make tools read different contents from one archive.
    if (format::Get32(header + 14) != entry.crc32) return ZipError::CrcMismatch;
    uint64_t compressed = format::Get32(header + 18);
    uint64_t uncompressed = format::Get32(header + 22);
    if (compressed == format::kMarker32 || uncompressed == format::kMarker32) {
        // A local ZIP64 field holds both sizes, uncompressed first.
        const uint16_t nameLength = format::Get16(header + 26);
        std::vector<unsigned char> extra(format::Get16(header + 28));
        const uint64_t extraPosition = headerPosition + format::kLocalHeaderSize + nameLength;
        if (extra.empty() || extraPosition + extra.size() > archiveStart_ + directoryOffset_)
            return ZipError::BadLocalHeader;
        if (read_(extraPosition, extra.data(), extra.size()) != extra.size()) return ZipError::ReadFailed;
        bool found = false;
        ForEachExtraField(extra.data(), extra.size(), [&](uint16_t id, const unsigned char* data, size_t size) {
            if (id != format::kExtraZip64 || found || size < 16) return;
            found = true;
            uncompressed = format::Get64(data);
            compressed = format::Get64(data + 8);
        });
        if (!found) return ZipError::BadLocalHeader;
    }
    if (compressed != entry.compressedSize || uncompressed != entry.uncompressedSize) return ZipError::SizeMismatch;
    return ZipError::None;
}

ZipError ZipReader::Extract(size_t index, const WriteCallback& write) const {
    if (index >= entries_.size()) return ZipError::BadIndex;
    const ZipEntry& entry = entries_[index];
    if (entry.flags & (format::kFlagEncrypted | format::kFlagStrongEncryption)) return ZipError::Unsupported;
    if (entry.method != format::kMethodStored && entry.method != format::kMethodDeflate)
        return ZipError::Unsupported;

    unsigned char header[format::kLocalHeaderSize];
    const uint64_t headerPosition = archiveStart_ + entry.localHeaderOffset;
    if (read_(headerPosition, header, sizeof header) != sizeof header) return ZipError::ReadFailed;
    const ZipError local = CheckLocalHeader(entry, header, headerPosition);
    if (local != ZipError::None) return local;
    const uint64_t dataOffset = entry.localHeaderOffset + format::kLocalHeaderSize + format::Get16(header + 26) +
                                format::Get16(header + 28);
    if (dataOffset + entry.compressedSize > directoryOffset_) return ZipError::BadLocalHeader;

    const uint64_t position = archiveStart_ + dataOffset;
    return entry.method == format::kMethodStored ? CopyStored(entry, position, write)
                                                 : Inflate(entry, position, write);
}

ZipError ZipReader::CopyStored(const ZipEntry& entry, uint64_t position, const WriteCallback& write) const {
    if (entry.compressedSize != entry.uncompressedSize) return ZipError::SizeMismatch;
    std::vector<unsigned char> buffer(kBlockSize);
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t remaining = entry.compressedSize;
    while (remaining > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
        if (read_(position, buffer.data(), n) != n) return ZipError::ReadFailed;
        crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
        if (!write(buffer.data(), n)) return ZipError::WriteFailed;
        position += n;
        remaining -= n;
    }
    return crc == entry.crc32 ? ZipError::None : ZipError::CrcMismatch;
}

ZipError ZipReader::Inflate(const ZipEntry& entry, uint64_t position, const WriteCallback& write) const {
    std::vector<unsigned char> input(kBlockSize);
    std::vector<unsigned char> output(kBlockSize);
    InflateStream z;
    if (inflateInit2(&z.stream, -MAX_WBITS) != Z_OK) return ZipError::OutOfMemory;
    z.ready = true;

    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t remainingInput = entry.compressedSize;
    uint64_t produced = 0;
    for (;;) {
        if (z.stream.avail_in == 0 && remainingInput > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(remainingInput, input.size()));
            if (read_(position, input.data(), n) != n) return ZipError::ReadFailed;
            position += n;
            remainingInput -= n;
            z.stream.next_in = input.data();
            z.stream.avail_in = static_cast<uInt>(n);
        }
        z.stream.next_out = output.data();
        z.stream.avail_out = static_cast<uInt>(output.size());
        const int rc = inflate(&z.stream, Z_NO_FLUSH);
        if (rc == Z_MEM_ERROR) return ZipError::OutOfMemory;
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return ZipError::BadData;

        const size_t n = output.size() - z.stream.avail_out;
        // Never hand on more than the directory promised (a damaged or hostile stream).
        if (produced + n > entry.uncompressedSize) return ZipError::SizeMismatch;
        if (n > 0) {
            crc = crc32(crc, output.data(), static_cast<uInt>(n));
            if (!write(output.data(), n)) return ZipError::WriteFailed;
            produced += n;
        }
        if (rc == Z_STREAM_END) {
            // Bytes behind the stream's end: the stated compressed size is not the stream's.
            if (z.stream.avail_in != 0 || remainingInput != 0) return ZipError::SizeMismatch;
            break;
        }
        // No progress possible: the stream ends before its last block.
        if (rc == Z_BUF_ERROR && z.stream.avail_in == 0 && remainingInput == 0) return ZipError::BadData;
    }
    if (produced != entry.uncompressedSize) return ZipError::SizeMismatch;
    return crc == entry.crc32 ? ZipError::None : ZipError::CrcMismatch;
}

namespace {

bool IsReservedDeviceName(const std::wstring& segment) {
    // Windows maps these names to devices in any folder and with any extension.
    std::wstring base = segment.substr(0, segment.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

bool IsSafeSegment(const std::wstring& segment) {
    if (segment.empty() || segment == L".") return true;
    // Windows drops trailing dots and spaces, so ".. " and "..." would act like "..".
    const size_t kept = segment.find_last_not_of(L". ");
    if (kept == std::wstring::npos) return false;
    return !IsReservedDeviceName(segment);
}

} // namespace

bool IsSafeEntryName(const std::wstring& name) {
    if (name.empty() || name[0] == L'\\' || name[0] == L'/') return false;
    if (name.find(L':') != std::wstring::npos) return false;
    // A NUL would cut the path short behind the checks; control characters are never valid.
    for (wchar_t c : name)
        if (c < 0x20) return false;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of(L"\\/", start);
        if (!IsSafeSegment(name.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start)))
            return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

}} // namespace stubframework::zip
