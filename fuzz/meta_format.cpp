// The ".meta" companion file: any accepted body describes a whole number of blocks and writes
// back to the very same bytes.
#include "downloader/MetaFormat.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    downloader::DownloadMetaSimple meta;
    if (!downloader::CreateDownloadMetaSimple(data, size, &meta)) return 0;
    if (meta.fileSize < 0 || meta.hashes.size() != downloader::BlockCount(meta.fileSize)) std::abort();
    const std::vector<uint8_t> again = downloader::SerializeDownloadMeta(meta.fileSize, meta.hashes);
    if (again != std::vector<uint8_t>(data, data + size)) std::abort();
    return 0;
}
