// Answers of the installer web service: the region answer, the tokenized address, and the UTF-8
// conversions they pass through.
#include "fuzz/FuzzInput.h"
#include "stubframework/core/ReportDocuments.h"

#include <cstdlib>

using namespace stubframework::core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const RegionAnswer region = ParseRegionAnswer(bytes);
    if (region.country.size() > size || region.isEmbargo.size() > size) std::abort();

    const std::wstring text = FromUtf8(bytes);
    if (text.size() > size) std::abort();
    const std::wstring url = ExtractTokenizedUrl(text);
    if (url.find(L'"') != std::wstring::npos) std::abort();

    // Decoded text is valid, so it survives a round trip unchanged.
    if (FromUtf8(ToUtf8(text)) != text) std::abort();
    // Any UTF-16 text (lone surrogates included) encodes to UTF-8 that decodes cleanly.
    const std::wstring wide = fuzzinput::Widen(bytes);
    const std::string encoded = ToUtf8(wide);
    if (ToUtf8(FromUtf8(encoded)) != encoded) std::abort();

    std::wstring inner;
    const auto pieces = fuzzinput::Split(data, size, '\0');
    if (pieces.size() >= 3 &&
        TextBetween(fuzzinput::Widen(pieces[0]), fuzzinput::Widen(pieces[1]), fuzzinput::Widen(pieces[2]), inner) &&
        inner.size() > pieces[0].size())
        std::abort();
    return 0;
}
