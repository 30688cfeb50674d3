// The ZIP reader over hostile bytes: opening, the directory, and extracting every entry through
// the stored and inflate paths with their size limits.
//
// First byte even: the rest is the data the reader is opened on (an archive, perhaps with data
// around it). First byte odd: the rest describes one entry that is wrapped in a sound archive
// here, so that most runs reach the inflate path:
//   bytes 1-4  stated uncompressed size (little-endian, cut to 4 MiB to keep runs short)
//   byte 5     bit 0 deflate (else stored), bit 1 data-descriptor flag with zero local sizes,
//              bit 2 local sizes that differ from the directory's, bit 3 the rest is deflated
//              here first (a sound stream, so that the size limits are what is tested)
//   bytes 6-9  stated CRC-32
//   byte 10    bits 0-6 a count of bytes; bit 7 clear: the stated compressed size is that much
//              short of the data; set: that many bytes follow the data inside the stated size
//   the rest   the entry's data
#include "fuzz/FuzzInput.h"
#include "stubframework/zip/ZipFormat.h"
#include "stubframework/zip/ZipReader.h"

#include <zlib.h>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace stubframework::zip;
namespace fmt = stubframework::zip::format;

namespace {

using Bytes = std::vector<unsigned char>;

void Append(Bytes& out, const void* data, size_t size) {
    out.insert(out.end(), static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
}

// A raw deflate stream, as ZIP entries hold it.
Bytes Deflate(const Bytes& data) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes WrapEntry(const uint8_t* data, size_t size) {
    Bytes archive;
    if (size < 11) return archive;
    const uint32_t stated = fmt::Get32(data + 1) & 0x3FFFFF;
    const uint8_t mode = data[5];
    const uint32_t crc = fmt::Get32(data + 6);
    Bytes payload(data + 11, data + size);
    if (mode & 8) payload = Deflate(payload);
    const uint32_t count = data[10] & 0x7F;
    if (data[10] & 0x80) payload.insert(payload.end(), count, 'J');
    const uint32_t length = static_cast<uint32_t>(payload.size());
    const uint32_t compressed = (data[10] & 0x80) ? length : length - std::min(length, count);
    const uint16_t method = (mode & 1) ? fmt::kMethodDeflate : fmt::kMethodStored;
    const uint16_t flags = (mode & 2) ? fmt::kFlagDataDescriptor : 0;
    static const char kName[] = "dir/entry.bin";
    const uint16_t nameLength = sizeof kName - 1;

    unsigned char local[fmt::kLocalHeaderSize] = {};
    fmt::Put32(local, fmt::kLocalSignature);
    fmt::Put16(local + 4, fmt::kVersion20);
    fmt::Put16(local + 6, flags);
    fmt::Put16(local + 8, method);
    if (!(mode & 2)) {
        const uint32_t skew = (mode & 4) ? 1 : 0;
        fmt::Put32(local + 14, crc);
        fmt::Put32(local + 18, compressed + skew);
        fmt::Put32(local + 22, stated);
    }
    fmt::Put16(local + 26, nameLength);
    Append(archive, local, sizeof local);
    Append(archive, kName, nameLength);
    Append(archive, payload.data(), payload.size());

    const uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
    unsigned char central[fmt::kCentralHeaderSize] = {};
    fmt::Put32(central, fmt::kCentralSignature);
    fmt::Put16(central + 4, fmt::kVersion20);
    fmt::Put16(central + 6, fmt::kVersion20);
    fmt::Put16(central + 8, flags);
    fmt::Put16(central + 10, method);
    fmt::Put32(central + 16, crc);
    fmt::Put32(central + 20, compressed);
    fmt::Put32(central + 24, stated);
    fmt::Put16(central + 28, nameLength);
    Append(archive, central, sizeof central);
    Append(archive, kName, nameLength);

    unsigned char end[fmt::kEndRecordSize] = {};
    fmt::Put32(end, fmt::kEndSignature);
    fmt::Put16(end + 8, 1);
    fmt::Put16(end + 10, 1);
    fmt::Put32(end + 12, static_cast<uint32_t>(archive.size() - directoryOffset));
    fmt::Put32(end + 16, directoryOffset);
    Append(archive, end, sizeof end);
    return archive;
}

void Check(const Bytes& data) {
    ZipReader reader;
    // The reader must never ask for bytes outside the data: that is a fault, not a short read.
    const ZipError opened = reader.Open(
        [&data](uint64_t offset, void* buffer, size_t size) -> size_t {
            if (offset > data.size() || size > data.size() - offset) std::abort();
            if (size > 0) std::memcpy(buffer, data.data() + offset, size);
            return size;
        },
        data.size());
    if (opened != ZipError::None) {
        if (reader.Count() != 0) std::abort();
        return;
    }
    for (size_t i = 0; i < reader.Count(); ++i) {
        const ZipEntry& entry = reader.Entry(i);
        IsSafeEntryName(fuzzinput::Widen(entry.name));

        uint64_t produced = 0;
        uLong crc = crc32(0L, Z_NULL, 0);
        const ZipError result = reader.Extract(i, [&](const void* block, size_t size) {
            if (size == 0 || size > ZipReader::kBlockSize) std::abort();
            produced += size;
            // More than the directory promised must never be handed on (inflate bombs).
            if (produced > entry.uncompressedSize) std::abort();
            crc = crc32(crc, static_cast<const Bytef*>(block), static_cast<uInt>(size));
            return true;
        });
        if (result == ZipError::None && (produced != entry.uncompressedSize || crc != entry.crc32)) std::abort();
        ZipErrorName(result);
    }
    if (reader.Extract(reader.Count(), [](const void*, size_t) { return true; }) != ZipError::BadIndex)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        const Bytes archive = WrapEntry(data, size);
        if (!archive.empty()) Check(archive);
    } else {
        Check(Bytes(data + 1, data + size));
    }
    return 0;
}
