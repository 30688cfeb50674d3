#include "stubframework/utils/WideFormat.h"

#include <windows.h>
#include <cstdio>
#include <vector>

namespace stubframework { namespace utils {

std::wstring FormatWideV(const wchar_t* format, va_list args) {
    if (!format) return std::wstring();
    va_list counting;
    va_copy(counting, args);
    const int length = _vscwprintf(format, counting);   // the runtime's own rules, not C99's
    va_end(counting);
    if (length <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int written = _vsnwprintf(buffer.data(), buffer.size(), format, args);
    if (written < 0) return std::wstring();
    return std::wstring(buffer.data(), static_cast<size_t>(written));
}

std::wstring FormatWide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(format, args);
    va_end(args);
    return text;
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, "?", nullptr);
    if (size <= 0) return std::string();
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                          "?", nullptr);
    return result;
}

}} // namespace stubframework::utils
