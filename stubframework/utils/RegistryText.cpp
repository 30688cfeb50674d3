#include "stubframework/utils/RegistryText.h"

#include <cwctype>

namespace stubframework { namespace utils {

std::vector<std::wstring> SplitSuffixList(const std::wstring& list) {
    std::vector<std::wstring> pieces;
    if (list.empty()) return pieces;
    size_t start = 0;
    for (;;) {
        const size_t semicolon = list.find(L';', start);
        pieces.push_back(list.substr(start, semicolon - start));
        if (semicolon == std::wstring::npos) break;
        start = semicolon + 1;
    }
    return pieces;
}

bool RelativePathHasSuffix(const std::wstring& rel, const std::wstring& suffix) {
    if (suffix.size() >= rel.size()) return false;
    // The |suffix| characters before rel's final backslash.
    const size_t begin = rel.size() - 1 - suffix.size();
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (std::towlower(rel[begin + i]) != std::towlower(suffix[i])) return false;
    }
    return true;
}

DecimalParse ParseDecimalPrefix(const std::wstring& text, std::int32_t& value) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i >= text.size() || text[i] < L'0' || text[i] > L'9') return DecimalParse::Invalid;
    // Accumulate the magnitude; one past INT32_MAX is the most a negative number may reach.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (!overflow) magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > limit) overflow = true;
    }
    if (overflow) return DecimalParse::OutOfRange;
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return DecimalParse::Ok;
}

}} // namespace stubframework::utils
