// "Content-Range" and "Content-Length" header values: an accepted range is one the download can
// do arithmetic on (its length last - first + 1 and the total cannot overflow).
#include "downloader/MetaFormat.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int64_t first = -1, last = -1, total = -1;
    if (downloader::ParseContentRange(text, first, last, total)) {
        if (first < 0 || last < first || total <= last) std::abort();
        volatile int64_t length = last - first + 1;
        (void)length;
    }
    int64_t value = -1;
    if (downloader::ParseContentLength(text, value) && value < 0) std::abort();
    return 0;
}
