// Writes a ZIP archive through a write callback, front to back (no seeking), so the archive can
// go straight behind an executable or into any stream. Offsets count from the archive's first
// byte. No ZIP64: entries and the archive stay below 4 GiB, at most 65534 entries.
#pragma once
#include "stubframework/zip/ZipReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace stubframework { namespace zip {

// Fills buffer with up to capacity bytes and sets got; got == 0 means the end. False is an error.
using SourceCallback = std::function<bool(void* buffer, size_t capacity, size_t& got)>;

// MS-DOS date and time as stored in the archive; the default is 1980-01-01 00:00.
struct DosDateTime {
    uint16_t date = 0x0021;
    uint16_t time = 0;
};

class ZipWriter {
public:
    explicit ZipWriter(WriteCallback write);

    // Deflated at level 9, or stored when that does not make it smaller. Names use "/".
    bool AddFile(const std::string& name, const void* data, size_t size, DosDateTime when = {});
    // Streamed: deflated block by block, with CRC-32 and sizes in a data descriptor after the data.
    bool AddFile(const std::string& name, const SourceCallback& source, DosDateTime when = {});
    // A folder entry; a missing trailing "/" is added.
    bool AddFolder(const std::string& name, DosDateTime when = {});

    // Writes the central directory and the end record (empty comment). Nothing can follow.
    bool Finish();

    // Every call fails once one write failed; the output is then unusable.
    bool Failed() const { return failed_; }
    uint64_t BytesWritten() const { return offset_; }

private:
    struct Record {
        std::string name;
        uint16_t flags = 0;
        uint16_t method = 0;
        DosDateTime when;
        uint32_t crc32 = 0;
        uint32_t compressedSize = 0;
        uint32_t uncompressedSize = 0;
        uint32_t externalAttributes = 0;
        uint32_t localHeaderOffset = 0;
    };

    bool CanAdd(const std::string& name);
    bool Emit(const void* data, size_t size);
    bool WriteLocalHeader(const Record& record);
    bool Fail() { failed_ = true; return false; }

    WriteCallback write_;
    std::vector<Record> records_;
    uint64_t offset_ = 0;
    bool failed_ = false;
    bool finished_ = false;
};

}} // namespace stubframework::zip
