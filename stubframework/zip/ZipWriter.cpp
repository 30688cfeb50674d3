#include "stubframework/zip/ZipWriter.h"
#include "stubframework/zip/ZipFormat.h"

#include <zlib.h>
#include <algorithm>

namespace stubframework { namespace zip {

namespace {

constexpr uint64_t kMaxSize = 0xFFFFFFFE;   // 0xFFFFFFFF would mean "look in the ZIP64 record"
constexpr size_t kMaxEntries = 0xFFFE;

struct DeflateStream {
    z_stream stream{};
    bool ready = false;
    bool Init() {
        ready = deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return ready;
    }
    ~DeflateStream() { if (ready) deflateEnd(&stream); }
};

} // namespace

ZipWriter::ZipWriter(WriteCallback write) : write_(std::move(write)) {}

bool ZipWriter::Emit(const void* data, size_t size) {
    if (size == 0) return true;
    if (!write_(data, size)) return Fail();
    offset_ += size;
    return true;
}

bool ZipWriter::CanAdd(const std::string& name) {
    if (failed_ || finished_ || !write_) return false;
    if (name.empty() || name.size() > 0xFFFF || records_.size() >= kMaxEntries || offset_ > kMaxSize)
        return false;
    return true;
}

bool ZipWriter::WriteLocalHeader(const Record& record) {
    const bool descriptor = (record.flags & format::kFlagDataDescriptor) != 0;
    unsigned char header[format::kLocalHeaderSize] = {};
    format::Put32(header, format::kLocalSignature);
    format::Put16(header + 4, format::kVersion20);
    format::Put16(header + 6, record.flags);
    format::Put16(header + 8, record.method);
    format::Put16(header + 10, record.when.time);
    format::Put16(header + 12, record.when.date);
    format::Put32(header + 14, descriptor ? 0 : record.crc32);
    format::Put32(header + 18, descriptor ? 0 : record.compressedSize);
    format::Put32(header + 22, descriptor ? 0 : record.uncompressedSize);
    format::Put16(header + 26, static_cast<uint16_t>(record.name.size()));
    format::Put16(header + 28, 0);
    return Emit(header, sizeof header) && Emit(record.name.data(), record.name.size());
}

bool ZipWriter::AddFile(const std::string& name, const void* data, size_t size, DosDateTime when) {
    if (!CanAdd(name) || name.back() == '/' || size > kMaxSize || (size > 0 && !data)) return false;
    Record record;
    record.name = name;
    record.when = when;
    record.localHeaderOffset = static_cast<uint32_t>(offset_);
    record.uncompressedSize = static_cast<uint32_t>(size);
    record.crc32 = static_cast<uint32_t>(crc32(0L, static_cast<const Bytef*>(data), static_cast<uInt>(size)));

    // Whole-buffer deflate: the caller holds the data in memory already, and knowing the
    // compressed size up front lets a plain local header carry it.
    std::vector<unsigned char> packed;
    if (size > 0) {
        DeflateStream z;
        if (!z.Init()) return false;
        packed.resize(deflateBound(&z.stream, static_cast<uLong>(size)));
        z.stream.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(data));
        z.stream.avail_in = static_cast<uInt>(size);
        z.stream.next_out = packed.data();
        z.stream.avail_out = static_cast<uInt>(packed.size());
        if (deflate(&z.stream, Z_FINISH) != Z_STREAM_END) return false;
        packed.resize(z.stream.total_out);
    }
    const bool store = size == 0 || packed.size() >= size;
    record.method = store ? format::kMethodStored : format::kMethodDeflate;
    record.flags = store ? 0 : format::kFlagMaximumCompression;
    record.compressedSize = static_cast<uint32_t>(store ? size : packed.size());

    if (!WriteLocalHeader(record)) return false;
    if (!(store ? Emit(data, size) : Emit(packed.data(), packed.size()))) return false;
    records_.push_back(std::move(record));
    return true;
}

bool ZipWriter::AddFile(const std::string& name, const SourceCallback& source, DosDateTime when) {
    if (!CanAdd(name) || name.back() == '/' || !source) return false;
    Record record;
    record.name = name;
    record.when = when;
    record.method = format::kMethodDeflate;
    record.flags = format::kFlagDataDescriptor | format::kFlagMaximumCompression;
    record.localHeaderOffset = static_cast<uint32_t>(offset_);

    DeflateStream z;
    if (!z.Init()) return false;
    if (!WriteLocalHeader(record)) return false;

    std::vector<unsigned char> input(ZipReader::kBlockSize);
    std::vector<unsigned char> output(ZipReader::kBlockSize);
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t total = 0;
    bool end = false;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (!end && z.stream.avail_in == 0) {
            size_t got = 0;
            // A source error leaves a half-written entry behind: the whole archive is void.
            if (!source(input.data(), input.size(), got) || got > input.size()) return Fail();
            end = got == 0;
            total += got;
            if (total > kMaxSize) return Fail();
            crc = crc32(crc, input.data(), static_cast<uInt>(got));
            z.stream.next_in = input.data();
            z.stream.avail_in = static_cast<uInt>(got);
        }
        z.stream.next_out = output.data();
        z.stream.avail_out = static_cast<uInt>(output.size());
        rc = deflate(&z.stream, end ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_ERROR) return Fail();
        if (!Emit(output.data(), output.size() - z.stream.avail_out)) return false;
    }
    if (z.stream.total_out > kMaxSize) return Fail();

    record.crc32 = static_cast<uint32_t>(crc);
    record.compressedSize = static_cast<uint32_t>(z.stream.total_out);
    record.uncompressedSize = static_cast<uint32_t>(total);
    unsigned char descriptor[format::kDescriptorSize];
    format::Put32(descriptor, format::kDescriptorSignature);
    format::Put32(descriptor + 4, record.crc32);
    format::Put32(descriptor + 8, record.compressedSize);
    format::Put32(descriptor + 12, record.uncompressedSize);
    if (!Emit(descriptor, sizeof descriptor)) return false;
    records_.push_back(std::move(record));
    return true;
}

bool ZipWriter::AddFolder(const std::string& name, DosDateTime when) {
    const std::string folder = (!name.empty() && name.back() != '/') ? name + "/" : name;
    if (!CanAdd(folder)) return false;
    Record record;
    record.name = folder;
    record.when = when;
    record.externalAttributes = format::kAttributeDirectory;
    record.localHeaderOffset = static_cast<uint32_t>(offset_);
    record.crc32 = 0;
    if (!WriteLocalHeader(record)) return false;
    records_.push_back(std::move(record));
    return true;
}

bool ZipWriter::Finish() {
    if (failed_ || finished_ || !write_ || offset_ > kMaxSize) return false;
    const uint64_t directoryOffset = offset_;
    for (const Record& record : records_) {
        unsigned char header[format::kCentralHeaderSize] = {};
        format::Put32(header, format::kCentralSignature);
        format::Put16(header + 4, format::kVersion20);   // made by: MS-DOS attributes
        format::Put16(header + 6, format::kVersion20);
        format::Put16(header + 8, record.flags);
        format::Put16(header + 10, record.method);
        format::Put16(header + 12, record.when.time);
        format::Put16(header + 14, record.when.date);
        format::Put32(header + 16, record.crc32);
        format::Put32(header + 20, record.compressedSize);
        format::Put32(header + 24, record.uncompressedSize);
        format::Put16(header + 28, static_cast<uint16_t>(record.name.size()));
        format::Put32(header + 38, record.externalAttributes);
        format::Put32(header + 42, record.localHeaderOffset);
        if (!Emit(header, sizeof header) || !Emit(record.name.data(), record.name.size())) return false;
    }
    const uint64_t directorySize = offset_ - directoryOffset;
    if (offset_ > kMaxSize) return Fail();

    unsigned char end[format::kEndRecordSize] = {};
    format::Put32(end, format::kEndSignature);
    format::Put16(end + 8, static_cast<uint16_t>(records_.size()));
    format::Put16(end + 10, static_cast<uint16_t>(records_.size()));
    format::Put32(end + 12, static_cast<uint32_t>(directorySize));
    format::Put32(end + 16, static_cast<uint32_t>(directoryOffset));
    if (!Emit(end, sizeof end)) return false;
    finished_ = true;
    return true;
}

}} // namespace stubframework::zip
