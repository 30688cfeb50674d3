// Reads a ZIP archive through a read callback: the archive may sit behind other data (the
// program image) and be followed by a trailing block (a signature), and is never loaded whole.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace stubframework { namespace zip {

// Fills buffer with size bytes found at offset of the whole data; returns the count it got.
using ReadCallback = std::function<size_t(uint64_t offset, void* buffer, size_t size)>;
// Takes the next block of an entry's data; false stops the extraction.
using WriteCallback = std::function<bool(const void* data, size_t size)>;

enum class ZipError {
    None,
    ReadFailed,          // the read callback returned fewer bytes than asked
    NotFound,            // no end-of-central-directory record in the data
    BadCentralDirectory, // end records found, but none leads to a sound central directory
    BadLocalHeader,
    Unsupported,         // multi-disk, encryption or a method other than stored and deflate
    BadData,             // the compressed data is damaged or ends too early
    SizeMismatch,        // the data does not have the size the directory gives
    CrcMismatch,
    WriteFailed,         // the write callback refused a block
    BadIndex,
    OutOfMemory,
};

const char* ZipErrorName(ZipError error);

struct ZipEntry {
    std::string name;            // raw bytes, as stored
    // The name in UTF-8 where the archive says which text it is: flag bit 11 (then the raw
    // bytes), or a Unicode path field whose CRC-32 matches the raw bytes. Empty otherwise: the
    // raw name is in the ANSI code page.
    std::string utf8Name;
    uint64_t compressedSize = 0;     // ZIP64 values where the header holds the 0xFFFFFFFF marker
    uint64_t uncompressedSize = 0;
    uint32_t crc32 = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t externalAttributes = 0;
    uint64_t localHeaderOffset = 0;  // from the archive's first byte
};

class ZipReader {
public:
    static constexpr size_t kBlockSize = 64 * 1024;

    // Finds the archive in the last part of the data and reads its central directory, through
    // the ZIP64 end record where a locator precedes the end record.
    ZipError Open(ReadCallback read, uint64_t dataSize);

    size_t Count() const { return entries_.size(); }
    const ZipEntry& Entry(size_t index) const { return entries_[index]; }   // index < Count()
    // Position of the archive's first byte within the data.
    uint64_t ArchiveStart() const { return archiveStart_; }

    // Streams the uncompressed data of one entry into write, then checks its size and CRC-32.
    ZipError Extract(size_t index, const WriteCallback& write) const;

private:
    enum class Candidate { Valid, Invalid, Unsupported, ReadFailed };
    struct Directory;
    Candidate TryCandidate(uint64_t recordPosition, const unsigned char* record, uint64_t& budget);
    Candidate FindZip64Directory(uint64_t recordPosition, Directory& directory) const;
    Candidate ReadDirectory(const Directory& directory, uint64_t& budget);
    ZipError CheckLocalHeader(const ZipEntry& entry, const unsigned char* header, uint64_t headerPosition) const;
    ZipError CopyStored(const ZipEntry& entry, uint64_t position, const WriteCallback& write) const;
    ZipError Inflate(const ZipEntry& entry, uint64_t position, const WriteCallback& write) const;

    ReadCallback read_;
    uint64_t dataSize_ = 0;
    uint64_t archiveStart_ = 0;
    uint64_t directoryOffset_ = 0;  // from the archive's first byte; entry data ends there
    std::vector<ZipEntry> entries_;
};

// True when an entry name (converted, with either separator) stays below the folder it is
// extracted to: not empty, no root or drive, no colon (drives and alternate streams), no control
// character, no ".." segment (nor one Windows would trim to it), no device name such as CON or NUL.
bool IsSafeEntryName(const std::wstring& name);

}} // namespace stubframework::zip
