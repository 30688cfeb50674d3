// Archive reading and writing over memory; no Win32, so this also runs natively under sanitizers.
#include "stubframework/zip/ZipReader.h"
#include "stubframework/zip/ZipWriter.h"

#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include <string>

using namespace stubframework::zip;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Random(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes data(size);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    return data;
}

Bytes Text(size_t size) {
    static const char kWords[] = "the quick brown fox jumps over the lazy dog ";
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(kWords[i % (sizeof kWords - 1)]);
    return data;
}

WriteCallback AppendTo(Bytes& out) {
    return [&out](const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        out.insert(out.end(), p, p + size);
        return true;
    };
}

// Any request outside the data is a reader fault, not merely a short read.
ReadCallback Over(const Bytes& data) {
    return [&data](uint64_t offset, void* buffer, size_t size) -> size_t {
        if (offset > data.size() || size > data.size() - offset) {
            ADD_FAILURE() << "read outside the data: " << offset << "+" << size << " of " << data.size();
            return 0;
        }
        std::memcpy(buffer, data.data() + offset, size);
        return size;
    };
}

SourceCallback StreamOf(const Bytes& data, size_t chunk = 10000) {
    auto position = std::make_shared<size_t>(0);
    return [&data, position, chunk](void* buffer, size_t capacity, size_t& got) {
        got = std::min({capacity, chunk, data.size() - *position});
        if (got > 0) std::memcpy(buffer, data.data() + *position, got);
        *position += got;
        return true;
    };
}

ZipError ExtractTo(const ZipReader& reader, size_t index, Bytes& out) {
    out.clear();
    return reader.Extract(index, AppendTo(out));
}

size_t FindEntry(const ZipReader& reader, const std::string& name) {
    for (size_t i = 0; i < reader.Count(); ++i)
        if (reader.Entry(i).name == name) return i;
    return reader.Count();
}

uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Position of the first central directory record of an archive written by ZipWriter.
size_t DirectoryOffset(const Bytes& archive) { return Get32(archive, archive.size() - 6); }

struct Sample {
    Bytes text = Text(50000);
    Bytes noise = Random(3000, 1);
    Bytes big = Random(3 * 1024 * 1024, 2);
    Bytes empty;

    Bytes Build() const {
        Bytes out;
        ZipWriter writer(AppendTo(out));
        EXPECT_TRUE(writer.AddFolder("site"));
        EXPECT_TRUE(writer.AddFile("site/index.html", text.data(), text.size()));
        EXPECT_TRUE(writer.AddFile("site/noise.bin", noise.data(), noise.size()));
        EXPECT_TRUE(writer.AddFile("empty.txt", nullptr, 0));
        EXPECT_TRUE(writer.AddFile("streamed/big.bin", StreamOf(big)));
        EXPECT_TRUE(writer.AddFile("streamed/empty.log", StreamOf(empty)));
        EXPECT_TRUE(writer.Finish());
        EXPECT_EQ(writer.BytesWritten(), out.size());
        return out;
    }
};

} // namespace

TEST(ZipRoundTrip, EveryKindOfEntryComesBackWithItsMetadata) {
    const Sample sample;
    const Bytes archive = sample.Build();
    ZipReader reader;
    ASSERT_EQ(reader.Open(Over(archive), archive.size()), ZipError::None);
    ASSERT_EQ(reader.Count(), 6u);
    EXPECT_EQ(reader.Entry(FindEntry(reader, "site/")).externalAttributes & 0x10, 0x10u);

    const struct { const char* name; const Bytes& data; uint16_t method; bool descriptor; } cases[] = {
        {"site/index.html", sample.text, 8, false},
        {"site/noise.bin", sample.noise, 0, false},   // deflate cannot shrink noise: stored
        {"empty.txt", sample.empty, 0, false},
        {"streamed/big.bin", sample.big, 8, true},
        {"streamed/empty.log", sample.empty, 8, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t index = FindEntry(reader, c.name);
        ASSERT_LT(index, reader.Count());
        const ZipEntry& entry = reader.Entry(index);
        EXPECT_EQ(entry.method, c.method);
        EXPECT_EQ((entry.flags & 8) != 0, c.descriptor);
        EXPECT_EQ(entry.uncompressedSize, c.data.size());
        Bytes out;
        EXPECT_EQ(ExtractTo(reader, index, out), ZipError::None);
        EXPECT_TRUE(out == c.data);
    }
    EXPECT_LT(reader.Entry(FindEntry(reader, "site/index.html")).compressedSize, sample.text.size() / 50);

    // Other readers take CRC and sizes from the descriptor: it must agree with the directory.
    const ZipEntry& streamed = reader.Entry(FindEntry(reader, "streamed/big.bin"));
    const size_t descriptor = streamed.localHeaderOffset + 30 + streamed.name.size() + streamed.compressedSize;
    EXPECT_EQ(Get32(archive, descriptor), 0x08074b50u);
    EXPECT_EQ(Get32(archive, descriptor + 4), streamed.crc32);
    EXPECT_EQ(Get32(archive, descriptor + 8), streamed.compressedSize);
    EXPECT_EQ(Get32(archive, descriptor + 12), streamed.uncompressedSize);
}

TEST(ZipRoundTrip, ArchiveIsFoundBetweenAProgramImageAndATrailingSignature) {
    const Sample sample;
    const Bytes zip = sample.Build();
    Bytes trailer = Random(12 * 1024, 3);
    // A stray end-record signature in the trailing block must not hide the real record.
    const unsigned char fake[] = {'P', 'K', 5, 6, 0, 0, 0, 0, 1, 0, 1, 0, 0xFF, 0, 0, 0, 9, 0, 0, 0, 0, 0};
    std::memcpy(&trailer[6000], fake, sizeof fake);

    Bytes data = Random(300 * 1024, 4);   // the program image
    data.insert(data.end(), zip.begin(), zip.end());
    data.insert(data.end(), trailer.begin(), trailer.end());

    ZipReader reader;
    ASSERT_EQ(reader.Open(Over(data), data.size()), ZipError::None);
    EXPECT_EQ(reader.ArchiveStart(), 300u * 1024);
    ASSERT_EQ(reader.Count(), 6u);
    Bytes out;
    EXPECT_EQ(ExtractTo(reader, FindEntry(reader, "streamed/big.bin"), out), ZipError::None);
    EXPECT_TRUE(out == sample.big);
}

TEST(ZipRoundTrip, EmptyArchiveOpensAndSoDoesOneWithTheLongestComment) {
    Bytes archive;
    ZipWriter writer(AppendTo(archive));
    ASSERT_TRUE(writer.Finish());
    ZipReader reader;
    EXPECT_EQ(reader.Open(Over(archive), archive.size()), ZipError::None);
    EXPECT_EQ(reader.Count(), 0u);

    // Other tools may leave a comment behind the end record; with a signature block after it.
    archive[20] = archive[21] = 0xFF;
    archive.resize(archive.size() + 0xFFFF + 9000, 'c');
    EXPECT_EQ(reader.Open(Over(archive), archive.size()), ZipError::None);
}

TEST(ZipReaderErrors, DataWithoutAnArchiveIsNotFoundAndFailedReadsSaySo) {
    ZipReader reader;
    const Bytes nothing;
    EXPECT_EQ(reader.Open(Over(nothing), 0), ZipError::NotFound);
    const Bytes tiny = Random(21, 5);
    EXPECT_EQ(reader.Open(Over(tiny), tiny.size()), ZipError::NotFound);
    const Bytes noise = Random(200 * 1024, 6);
    EXPECT_EQ(reader.Open(Over(noise), noise.size()), ZipError::NotFound);
    EXPECT_EQ(reader.Open([](uint64_t, void*, size_t) { return size_t(0); }, 100), ZipError::ReadFailed);
}

TEST(ZipReaderErrors, DamagedEntriesNeverPassTheChecks) {
    const Bytes text = Text(40000);
    Bytes archive;
    ZipWriter writer(AppendTo(archive));
    ASSERT_TRUE(writer.AddFile("deflated.txt", text.data(), text.size()));
    ASSERT_TRUE(writer.AddFile("stored.txt", "stored!", 7));
    ASSERT_TRUE(writer.Finish());
    ZipReader reader;
    ASSERT_EQ(reader.Open(Over(archive), archive.size()), ZipError::None);
    const ZipEntry deflated = reader.Entry(0);
    const ZipEntry stored = reader.Entry(1);
    const size_t directory = DirectoryOffset(archive);

    // Each case: one patch of the archive, the entry, the expected answer (None: any error).
    const struct { const char* what; uint64_t at; std::vector<unsigned char> bytes; size_t entry; ZipError error; } cases[] = {
        {"stored data", stored.localHeaderOffset + 30 + 10 + 2, {'X'}, 1, ZipError::CrcMismatch},
        {"directory CRC", directory + 46 + 12 + 16, {0x12, 0x34, 0x56, 0x78}, 1, ZipError::CrcMismatch},
        {"local signature", deflated.localHeaderOffset, {'X'}, 0, ZipError::BadLocalHeader},
        // The stream inflates to more than the directory promises.
        {"uncompressed size", directory + 24, {10, 0, 0, 0}, 0, ZipError::SizeMismatch},
        // The directory's sizes no longer match the local header's copy.
        {"compressed size", directory + 20, {20, 0, 0, 0}, 0, ZipError::SizeMismatch},
        {"deflate data", deflated.localHeaderOffset + 30 + 12 + deflated.compressedSize / 2, {0xFF, 0xFF, 0xFF}, 0,
         ZipError::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes copy = archive;
        std::copy(c.bytes.begin(), c.bytes.end(), copy.begin() + static_cast<size_t>(c.at));
        ASSERT_EQ(reader.Open(Over(copy), copy.size()), ZipError::None);
        Bytes out;
        const ZipError error = ExtractTo(reader, c.entry, out);
        EXPECT_NE(error, ZipError::None);
        if (c.error != ZipError::None) {
            EXPECT_EQ(error, c.error) << ZipErrorName(error);
        }
        EXPECT_LE(out.size(), reader.Entry(c.entry).uncompressedSize);
    }
}

TEST(ZipReaderErrors, UnsupportedFeaturesAreRefusedCleanly) {
    Bytes archive;
    ZipWriter writer(AppendTo(archive));
    ASSERT_TRUE(writer.AddFile("a.txt", "abc", 3));
    ASSERT_TRUE(writer.Finish());
    const size_t directory = DirectoryOffset(archive);
    ZipReader reader;
    Bytes out;

    Bytes copy = archive;
    copy[directory + 8] |= 1;   // encrypted
    ASSERT_EQ(reader.Open(Over(copy), copy.size()), ZipError::None);
    EXPECT_EQ(ExtractTo(reader, 0, out), ZipError::Unsupported);

    copy = archive;
    copy[directory + 10] = 12;  // a method we do not have
    ASSERT_EQ(reader.Open(Over(copy), copy.size()), ZipError::None);
    EXPECT_EQ(ExtractTo(reader, 0, out), ZipError::Unsupported);
    EXPECT_TRUE(out.empty());

    copy = archive;
    copy[directory + 34] = 1;  // the entry starts on disk 1: its data is in another file
    EXPECT_EQ(reader.Open(Over(copy), copy.size()), ZipError::Unsupported);
}

TEST(ZipReaderErrors, CallbackFailuresStopTheExtraction) {
    const Bytes big = Random(300000, 8);
    Bytes archive;
    ZipWriter writer(AppendTo(archive));
    ASSERT_TRUE(writer.AddFile("big.bin", StreamOf(big)));
    ASSERT_TRUE(writer.Finish());
    ZipReader reader;
    ASSERT_EQ(reader.Open(Over(archive), archive.size()), ZipError::None);

    int calls = 0;
    EXPECT_EQ(reader.Extract(0, [&](const void*, size_t) { return ++calls < 2; }), ZipError::WriteFailed);
    EXPECT_EQ(calls, 2);

    // The reads after opening fail, as on a file that went away.
    bool healthy = true;
    ReadCallback source = Over(archive);
    ASSERT_EQ(reader.Open([&](uint64_t o, void* b, size_t s) { return healthy ? source(o, b, s) : 0; },
                          archive.size()),
              ZipError::None);
    healthy = false;
    Bytes out;
    EXPECT_EQ(ExtractTo(reader, 0, out), ZipError::ReadFailed);
}

// Cut and scribbled archives: every outcome is a clean error or the true content.
TEST(ZipReaderErrors, TruncatedAndScribbledArchivesAreSafe) {
    const Bytes first = Text(3000);
    const Bytes second = Random(500, 9);
    Bytes archive;
    ZipWriter writer(AppendTo(archive));
    ASSERT_TRUE(writer.AddFile("first.txt", first.data(), first.size()));
    ASSERT_TRUE(writer.AddFile("second.bin", StreamOf(second)));
    ASSERT_TRUE(writer.AddFolder("folder/"));
    ASSERT_TRUE(writer.Finish());

    auto check = [&](const Bytes& data) {
        ZipReader reader;
        if (reader.Open(Over(data), data.size()) != ZipError::None) return;
        for (size_t i = 0; i < reader.Count(); ++i) {
            Bytes out;
            if (ExtractTo(reader, i, out) != ZipError::None) continue;
            EXPECT_TRUE(out.empty() || out == first || out == second) << "entry " << i;
        }
    };
    for (size_t length = 0; length < archive.size(); ++length) {
        SCOPED_TRACE(length);
        check(Bytes(archive.begin(), archive.begin() + length));
        check(Bytes(archive.begin() + length, archive.end()));
    }
    std::mt19937 rng(10);
    for (size_t i = 0; i < archive.size(); ++i) {
        SCOPED_TRACE(i);
        Bytes copy = archive;
        copy[i] ^= static_cast<unsigned char>(1 + rng() % 255);
        check(copy);
    }
}

TEST(ZipReaderErrors, ManyEndRecordsCannotMakeTheDirectoryBeReadOverAndOver) {
    // A directory damaged in its last record, followed by many end records that all point at it.
    const Bytes data = Text(20);
    Bytes archive;
    ZipWriter writer(AppendTo(archive));
    constexpr unsigned kEntries = 300;
    for (unsigned i = 0; i < kEntries; ++i)
        ASSERT_TRUE(writer.AddFile("entry" + std::to_string(i) + ".txt", data.data(), data.size()));
    ASSERT_TRUE(writer.Finish());
    const size_t directory = DirectoryOffset(archive);
    archive.resize(archive.size() - 22);
    size_t last = archive.size() - 4;
    while (Get32(archive, last) != 0x02014b50) --last;
    archive[last] ^= 0xFF;

    auto put16 = [&](unsigned v) { archive.push_back(v & 0xFF); archive.push_back((v >> 8) & 0xFF); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF); put16(v >> 16); };
    for (int k = 0; k < 1500; ++k) {
        const uint32_t position = static_cast<uint32_t>(archive.size());
        put32(0x06054b50);
        put16(0); put16(0); put16(kEntries); put16(kEntries);
        put32(position - static_cast<uint32_t>(directory));
        put32(static_cast<uint32_t>(directory));
        put16(0);
    }

    uint64_t bytesRead = 0;
    const ReadCallback counting = [&](uint64_t offset, void* buffer, size_t size) -> size_t {
        bytesRead += size;
        return Over(archive)(offset, buffer, size);
    };
    ZipReader reader;
    EXPECT_EQ(reader.Open(counting, archive.size()), ZipError::BadCentralDirectory);
    EXPECT_LT(bytesRead, 4 * archive.size()) << "of " << archive.size() << " bytes";
}

TEST(ZipWriterErrors, AFailedSourceOrWriteVoidsTheArchive) {
    Bytes out;
    ZipWriter broken(AppendTo(out));
    int reads = 0;
    EXPECT_FALSE(broken.AddFile("a", [&](void*, size_t capacity, size_t& got) {
        got = capacity;
        return ++reads < 2;
    }));
    EXPECT_TRUE(broken.Failed());
    EXPECT_FALSE(broken.AddFile("b", "x", 1));
    EXPECT_FALSE(broken.Finish());

    int writes = 0;
    ZipWriter full([&](const void*, size_t) { return ++writes < 2; });
    EXPECT_FALSE(full.AddFile("a.txt", "abc", 3));
    EXPECT_TRUE(full.Failed());
    EXPECT_FALSE(full.Finish());
}

TEST(EntryNames, OnlyNamesThatStayBelowTheFolderAreSafe) {
    for (const wchar_t* name : {L"a.txt", L"dir\\a.txt", L"a/b/c.js", L".\\a", L"a..b", L"..a", L"a\\b..",
                                L"dir\\", L"console.log", L"com10", L"lpt", L"nul-not"}) {
        EXPECT_TRUE(IsSafeEntryName(name)) << name;
    }
    for (const wchar_t* name : {L"", L"..", L"..\\..\\x", L"../x", L"a/../../x", L"a\\..", L"C:\\x", L"C:x",
                                L"\\x", L"/x", L"\\\\server\\share\\x", L"a\\...\\x", L"a\\.. \\x", L". .\\x",
                                L"file.txt:stream", L"CON", L"nul.txt", L"dir\\Com1.log", L"aux .js",
                                L"conout$", L"tab\tname"}) {
        EXPECT_FALSE(IsSafeEntryName(name)) << name;
    }
    EXPECT_FALSE(IsSafeEntryName(std::wstring(L"ok\0\\..\\..\\x", 11)));
}
