#include "StubCore/LogFormat.h"

#include <cstdio>
#include <cwctype>

namespace stubframework {

const char* LogLevelName(int level) {
    switch (level) {
    case LogTrace: return "TRACE";
    case LogError: return "ERROR";
    case LogWarning: return "WARNING";
    case LogDebug: return "DEBUG";
    default: return "";
    }
}

std::string FormatLogPrefix(const LogTime& t, int level) {
    char time[64];
    std::snprintf(time, sizeof(time), "%4d%02d%02d %02d:%02d:%02d %3d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.milliseconds);
    return std::string("[") + time + " " + LogLevelName(level) + "] ";
}

std::wstring FormatLogFileName(const LogTime& t) {
    char digits[64];
    std::snprintf(digits, sizeof(digits), "%4d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    std::wstring name = L"installer_log_";
    for (const char* p = digits; *p; ++p) name += static_cast<wchar_t>(*p);
    return name + L".txt";
}

namespace {
bool UrlStartsAt(const std::wstring& text, size_t at) {
    static const wchar_t* const kSchemes[] = {L"http://", L"https://"};
    for (const wchar_t* scheme : kSchemes) {
        size_t i = 0;
        while (scheme[i] && at + i < text.size() && std::towlower(text[at + i]) == scheme[i]) ++i;
        if (!scheme[i]) return true;
    }
    return false;
}

// Where an address written into a line ends: at a blank, a quote or a bracket.
bool EndsUrl(wchar_t c) {
    return c <= L' ' || c == L'"' || c == L'\'' || c == L'<' || c == L'>' || c == L')' || c == L']';
}
} // namespace

std::wstring WithoutUrlQueries(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (!UrlStartsAt(text, i)) {
            out.push_back(text[i++]);
            continue;
        }
        size_t end = i;
        while (end < text.size() && !EndsUrl(text[end])) ++end;
        // Punctuation after an address belongs to the sentence ("Refused URL: reason").
        while (end > i + 1 && (text[end - 1] == L':' || text[end - 1] == L',' || text[end - 1] == L';' ||
                               text[end - 1] == L'.'))
            --end;
        const size_t query = text.find_first_of(L"?#", i);
        if (query != std::wstring::npos && query < end) {
            out.append(text, i, query - i);
            out += L"?...";
        } else {
            out.append(text, i, end - i);
        }
        i = end;
    }
    return out;
}

} // namespace stubframework
