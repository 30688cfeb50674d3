// Archive fields other writers use: UTF-8 names (flag bit 11 or a Unicode path field) and the
// ZIP64 records and fields, up to an entry over 4 GiB that is never held in memory. No Win32.
#include "stubframework/zip/ZipFormat.h"
#include "stubframework/zip/ZipReader.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using namespace stubframework::zip;

namespace {

using Bytes = std::vector<unsigned char>;

void Put(Bytes& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
void Put(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

uint32_t Crc(const std::string& text) {
    return static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// Data that reads as zero except for the pieces written into it.
struct SparseData {
    uint64_t size = 0;
    std::vector<std::pair<uint64_t, Bytes>> pieces;

    void Append(const Bytes& bytes) {
        pieces.emplace_back(size, bytes);
        size += bytes.size();
    }
    ReadCallback Reader() const {
        return [this](uint64_t offset, void* buffer, size_t count) -> size_t {
            if (offset > size || count > size - offset) {
                ADD_FAILURE() << "read outside the data: " << offset << "+" << count;
                return 0;
            }
            auto* out = static_cast<unsigned char*>(buffer);
            std::memset(out, 0, count);
            for (const auto& piece : pieces) {
                const uint64_t first = std::max(offset, piece.first);
                const uint64_t last = std::min(offset + count, piece.first + piece.second.size());
                if (first < last)
                    std::memcpy(out + (first - offset), piece.second.data() + (first - piece.first),
                                static_cast<size_t>(last - first));
            }
            return count;
        };
    }
    Bytes Whole() const {
        Bytes out(static_cast<size_t>(size));
        Reader()(0, out.data(), out.size());
        return out;
    }
};

// As ZIP64 writers lay it out behind a program image: "big.bin" (zeros, stored, sizes only in
// ZIP64 fields, local and central), "after.txt" (its offset only in a ZIP64 field), the
// directory found through the ZIP64 end record and its locator.
SparseData Zip64Archive(uint64_t zeros, uint32_t zerosCrc, size_t leading) {
    const std::string after = "after the big one";
    SparseData data;
    data.Append(Bytes(leading, 'M'));
    const uint64_t start = data.size;
    Bytes local;
    Put(local, format::kLocalSignature, 4); Put(local, 45, 2); Put(local, 0, 2); Put(local, 0, 2); Put(local, 0, 4);
    Put(local, zerosCrc, 4); Put(local, format::kMarker32, 4); Put(local, format::kMarker32, 4);
    Put(local, 7, 2); Put(local, 20, 2); Put(local, "big.bin");
    Put(local, format::kExtraZip64, 2); Put(local, 16, 2); Put(local, zeros, 8); Put(local, zeros, 8);
    data.Append(local);
    data.size += zeros;
    const uint64_t secondOffset = data.size - start;
    Bytes second;
    Put(second, format::kLocalSignature, 4); Put(second, 20, 2); Put(second, 0, 2); Put(second, 0, 2);
    Put(second, 0, 4); Put(second, Crc(after), 4); Put(second, after.size(), 4); Put(second, after.size(), 4);
    Put(second, 9, 2); Put(second, 0, 2); Put(second, "after.txt"); Put(second, after);
    data.Append(second);

    const uint64_t directoryOffset = data.size - start;
    Bytes tail;
    auto central = [&](const std::string& name, uint32_t crc, uint64_t size32, uint64_t offset32, const Bytes& extra) {
        Put(tail, format::kCentralSignature, 4); Put(tail, 45, 2); Put(tail, 45, 2); Put(tail, 0, 2); Put(tail, 0, 2);
        Put(tail, 0, 4); Put(tail, crc, 4); Put(tail, size32, 4); Put(tail, size32, 4); Put(tail, name.size(), 2);
        Put(tail, extra.size(), 2); Put(tail, 0, 2); Put(tail, 0, 2); Put(tail, 0, 2); Put(tail, 0, 4);
        Put(tail, offset32, 4); Put(tail, name);
        tail.insert(tail.end(), extra.begin(), extra.end());
    };
    Bytes bigExtra, secondExtra;
    Put(bigExtra, format::kExtraZip64, 2); Put(bigExtra, 16, 2); Put(bigExtra, zeros, 8); Put(bigExtra, zeros, 8);
    Put(secondExtra, format::kExtraZip64, 2); Put(secondExtra, 8, 2); Put(secondExtra, secondOffset, 8);
    central("big.bin", zerosCrc, format::kMarker32, 0, bigExtra);
    central("after.txt", Crc(after), after.size(), format::kMarker32, secondExtra);
    const uint64_t directorySize = tail.size();
    const uint64_t recordOffset = directoryOffset + directorySize;
    Put(tail, format::kZip64EndSignature, 4); Put(tail, 44, 8); Put(tail, 45, 2); Put(tail, 45, 2);
    Put(tail, 0, 4); Put(tail, 0, 4); Put(tail, 2, 8); Put(tail, 2, 8); Put(tail, directorySize, 8);
    Put(tail, directoryOffset, 8);
    Put(tail, format::kZip64LocatorSignature, 4); Put(tail, 0, 4); Put(tail, recordOffset, 8); Put(tail, 1, 4);
    Put(tail, format::kEndSignature, 4); Put(tail, 0, 4); Put(tail, format::kMarker16, 2);
    Put(tail, format::kMarker16, 2); Put(tail, format::kMarker32, 4); Put(tail, format::kMarker32, 4); Put(tail, 0, 2);
    data.Append(tail);
    return data;
}

size_t Find(const Bytes& data, const std::string& what, size_t from = 0) {
    const auto at = std::search(data.begin() + from, data.end(), what.begin(), what.end());
    return at == data.end() ? data.size() : static_cast<size_t>(at - data.begin());
}

// One stored entry with the given raw name, flags and central extra block.
Bytes NamedArchive(const std::string& name, uint16_t flags, const Bytes& extra) {
    Bytes out;
    Put(out, format::kLocalSignature, 4); Put(out, 20, 2); Put(out, flags, 2); Put(out, 0, 2); Put(out, 0, 4);
    Put(out, Crc("x"), 4); Put(out, 1, 4); Put(out, 1, 4); Put(out, name.size(), 2); Put(out, 0, 2);
    Put(out, name); Put(out, "x");
    const size_t directory = out.size();
    Put(out, format::kCentralSignature, 4); Put(out, 20, 2); Put(out, 20, 2); Put(out, flags, 2); Put(out, 0, 2);
    Put(out, 0, 4); Put(out, Crc("x"), 4); Put(out, 1, 4); Put(out, 1, 4); Put(out, name.size(), 2);
    Put(out, extra.size(), 2); Put(out, 0, 6); Put(out, 0, 4); Put(out, 0, 4); Put(out, name);
    out.insert(out.end(), extra.begin(), extra.end());
    const size_t size = out.size() - directory;
    Put(out, format::kEndSignature, 4); Put(out, 0, 4); Put(out, 1, 2); Put(out, 1, 2); Put(out, size, 4);
    Put(out, directory, 4); Put(out, 0, 2);
    return out;
}

Bytes UnicodePath(uint8_t version, uint32_t crc, const std::string& utf8) {
    Bytes field;
    Put(field, format::kExtraUnicodePath, 2); Put(field, 5 + utf8.size(), 2); Put(field, version, 1);
    Put(field, crc, 4); Put(field, utf8);
    return field;
}

} // namespace

TEST(ZipNames, TheUtf8NameComesFromTheFlagOrAMatchingUnicodePathField) {
    const std::string utf8 = "caf\xC3\xA9.txt";
    const std::string oem = "caf\x82.txt";   // the same name in an OEM code page
    Bytes padded = UnicodePath(1, Crc(oem), utf8);
    padded.insert(padded.begin(), {0x55, 0x54, 0x05, 0x00, 1, 2, 3, 4, 5});   // a time field first
    padded.insert(padded.end(), {0, 0, 0});                                    // and writer padding behind
    const struct { const char* what; std::string name; uint16_t flags; Bytes extra; std::string expected; } cases[] = {
        {"flag bit 11", utf8, format::kFlagUtf8, {}, utf8},
        {"no flag: ANSI", oem, 0, {}, ""},
        {"Unicode path field", oem, 0, UnicodePath(1, Crc(oem), utf8), utf8},
        {"field among others", oem, 0, padded, utf8},
        {"field of a renamed entry", oem, 0, UnicodePath(1, Crc("old.txt"), utf8), ""},
        {"field of another version", oem, 0, UnicodePath(2, Crc(oem), utf8), ""},
        {"flag wins over a field", utf8, format::kFlagUtf8, UnicodePath(1, Crc(utf8), "other.txt"), utf8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes archive = NamedArchive(c.name, c.flags, c.extra);
        SparseData data;
        data.Append(archive);
        ZipReader reader;
        ASSERT_EQ(reader.Open(data.Reader(), data.size), ZipError::None);
        ASSERT_EQ(reader.Count(), 1u);
        EXPECT_EQ(reader.Entry(0).name, c.name);
        EXPECT_EQ(reader.Entry(0).utf8Name, c.expected);
        std::string out;
        EXPECT_EQ(reader.Extract(0, [&](const void* p, size_t n) {
            out.append(static_cast<const char*>(p), n);
            return true;
        }), ZipError::None);
        EXPECT_EQ(out, "x");
    }
}

TEST(Zip64, RecordsAndFieldsAreReadAndDamagedOnesRefused) {
    const std::string small(1000, '\0');
    const SparseData sound = Zip64Archive(small.size(), Crc(small), 100);
    const Bytes whole = sound.Whole();
    const size_t local = Find(whole, "PK\x03\x04");
    const size_t central = Find(whole, "PK\x01\x02");
    const size_t record = Find(whole, "PK\x06\x06");
    // Each case patches the sound archive; the answer comes from Open, or from extracting entry 0.
    const struct { const char* what; size_t at; Bytes bytes; ZipError open; ZipError extract; } cases[] = {
        {"sound", 0, {'M'}, ZipError::None, ZipError::None},
        {"record signature", record, {'X'}, ZipError::BadCentralDirectory, ZipError::None},
        {"record on another disk", record + 16, {1}, ZipError::Unsupported, ZipError::None},
        {"entry counts differ", record + 24, {1}, ZipError::Unsupported, ZipError::None},
        {"central field missing", central + 46 + 7, {0x99}, ZipError::BadCentralDirectory, ZipError::None},
        {"central size beyond all", central + 46 + 7 + 4 + 8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         ZipError::BadCentralDirectory, ZipError::None},
        {"local size differs", local + 30 + 7 + 4, {0xE9}, ZipError::None, ZipError::SizeMismatch},
        {"local field missing", local + 30 + 7, {0x99}, ZipError::None, ZipError::BadLocalHeader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes copy = whole;
        std::copy(c.bytes.begin(), c.bytes.end(), copy.begin() + c.at);
        SparseData data;
        data.Append(copy);
        ZipReader reader;
        const ZipError opened = reader.Open(data.Reader(), data.size);
        ASSERT_EQ(opened, c.open) << ZipErrorName(opened);
        if (c.open != ZipError::None) {
            EXPECT_EQ(reader.Count(), 0u);
            continue;
        }
        EXPECT_EQ(reader.ArchiveStart(), 100u);
        ASSERT_EQ(reader.Count(), 2u);
        uint64_t produced = 0;
        EXPECT_EQ(reader.Extract(0, [&](const void*, size_t n) { produced += n; return true; }), c.extract);
        if (c.extract == ZipError::None) {
            EXPECT_EQ(produced, small.size());
        }
    }
}

TEST(Zip64, AnEntryOver4GiBAndOneBehindItComeOutWhole) {
    // 4 GiB and 1 MiB of zeros, read as they are extracted; the CRC is built from 1 MiB pieces.
    const uint64_t zeros = (4096ull + 1) * 1024 * 1024;
    const Bytes mebibyte(1024 * 1024, 0);
    const uLong pieceCrc = crc32(crc32(0L, Z_NULL, 0), mebibyte.data(), static_cast<uInt>(mebibyte.size()));
    uLong crc = crc32(0L, Z_NULL, 0);
    for (int i = 0; i < 4097; ++i) crc = crc32_combine(crc, pieceCrc, static_cast<z_off_t>(mebibyte.size()));
    const SparseData data = Zip64Archive(zeros, static_cast<uint32_t>(crc), 70000);

    ZipReader reader;
    ASSERT_EQ(reader.Open(data.Reader(), data.size), ZipError::None);
    EXPECT_EQ(reader.ArchiveStart(), 70000u);
    ASSERT_EQ(reader.Count(), 2u);
    EXPECT_EQ(reader.Entry(0).uncompressedSize, zeros);
    EXPECT_EQ(reader.Entry(0).compressedSize, zeros);
    EXPECT_GT(reader.Entry(1).localHeaderOffset, 0xFFFFFFFFull);

    std::string after;
    EXPECT_EQ(reader.Extract(1, [&](const void* p, size_t n) {
        after.append(static_cast<const char*>(p), n);
        return true;
    }), ZipError::None);
    EXPECT_EQ(after, "after the big one");

    uint64_t produced = 0;
    bool allZero = true;
    EXPECT_EQ(reader.Extract(0, [&](const void* p, size_t n) {
        const auto* bytes = static_cast<const unsigned char*>(p);
        allZero = allZero && bytes[0] == 0 && bytes[n - 1] == 0;
        produced += n;
        return true;
    }), ZipError::None);
    EXPECT_EQ(produced, zeros);
    EXPECT_TRUE(allZero);
}
