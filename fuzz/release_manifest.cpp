// The release manifest at the start of an installer list: any accepted block writes back to
// itself, ends where the page script begins, and finds each of its files by its own URL.
#include "stubframework/core/ReleaseManifest.h"

#include <cstdlib>
#include <string>

using namespace stubframework::core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReleaseManifest manifest;
    std::string error;
    if (!ParseReleaseManifest(data, size, manifest, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (manifest.end > size || !error.empty()) std::abort();
    const std::string block = FormatReleaseManifest(manifest);
    ReleaseManifest again;
    if (!ParseReleaseManifest(reinterpret_cast<const uint8_t*>(block.data()), block.size(), again, error) ||
        again.end != block.size() || FormatReleaseManifest(again) != block)
        std::abort();
    for (const ReleaseFile& file : manifest.files)
        if (FindReleaseFile(manifest, file.url) != &file) std::abort();
    return 0;
}
