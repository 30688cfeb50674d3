#include "stubframework/core/InstallText.h"

#include <cstdio>
#include <cwctype>

namespace stubframework { namespace core {

namespace {

size_t FindNoCase(const std::wstring& text, const std::wstring& token, size_t from) {
    if (token.empty() || text.size() < token.size()) return std::wstring::npos;
    for (size_t i = from; i + token.size() <= text.size(); ++i) {
        if (utils::EqualsNoCase(text.substr(i, token.size()), token)) return i;
    }
    return std::wstring::npos;
}

void SkipBlanks(const std::wstring& text, size_t& at) {
    while (at < text.size() && std::iswspace(text[at])) ++at;
}

bool ReadNumber(const std::wstring& text, size_t& at, bool allowSign, unsigned long limit, long& value) {
    SkipBlanks(text, at);
    bool negative = false;
    if (allowSign && at < text.size() && (text[at] == L'-' || text[at] == L'+')) negative = text[at++] == L'-';
    const size_t first = at;
    unsigned long magnitude = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
        const unsigned long digit = static_cast<unsigned long>(text[at++] - L'0');
        // Checked before multiplying: unsigned long has 32 bits on Windows and would wrap.
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    if (at == first) return false;
    value = negative ? -static_cast<long>(magnitude) : static_cast<long>(magnitude);
    return true;
}

} // namespace

std::wstring ComposeInstallParameters(const std::wstring& passThrough, const utils::ArgList& stubArgs,
                                      const std::wstring& pageParameters) {
    std::wstring parameters = passThrough + L" " + pageParameters;
    if (utils::HasSwitch(stubArgs, L"/QN")) parameters += L" /qn";
    return parameters;
}

bool HasWholeArgument(const utils::ArgList& args, const std::wstring& value) {
    for (const auto& arg : args)
        if (utils::EqualsNoCase(arg, value)) return true;
    return false;
}

void RemoveSwitchToken(std::wstring& parameters, const std::wstring& token) {
    size_t at;
    while ((at = FindNoCase(parameters, token, 0)) != std::wstring::npos) {
        const size_t space = parameters.find(L' ', at + token.size());
        parameters.erase(at, space == std::wstring::npos ? std::wstring::npos : space - at);
    }
}

bool ReplaceFirst(std::wstring& text, const std::wstring& placeholder, const std::wstring& replacement) {
    const size_t at = text.find(placeholder);
    if (at == std::wstring::npos) return false;
    text.replace(at, placeholder.size(), replacement);
    return true;
}

std::wstring LogTimestampText(int year, int month, int day, int hour, int minute, int second) {
    char digits[64];
    std::snprintf(digits, sizeof(digits), "%4d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
    return std::wstring(digits, digits + std::char_traits<char>::length(digits));
}

bool ParseMsiProgress(const std::wstring& text, MsiProgressFields& fields) {
    fields = MsiProgressFields();
    size_t at = 0;
    bool any = false;
    for (;;) {
        long field = 0, value = 0;
        if (!ReadNumber(text, at, false, 0xFFFF, field)) break;
        SkipBlanks(text, at);
        if (at >= text.size()) break;
        ++at;   // the separator
        if (!ReadNumber(text, at, true, 0x7FFFFFFF, value) || field > 4) break;
        if (field == 1) fields.kind = value;
        else if (field == 2) fields.amount = value;
        else if (field == 3) fields.flag = value;
        else if (field == 4) {
            fields.phase = value;
            fields.hasPhase = true;
        }
        any = true;
    }
    return any;
}

void ApplyMsiProgress(const MsiProgressFields& fields, MsiTicks& ticks) {
    switch (fields.kind) {
    case 0: {
        const bool executesAtOnce = ticks.resets == 0 && fields.hasPhase && fields.phase == 0;
        if (ticks.resets == 1 || executesAtOnce) ticks.total = static_cast<unsigned long>(fields.amount);
        ticks.resets += executesAtOnce ? 2 : 1;
        break;
    }
    case 1:
        if (ticks.total != 0 && fields.flag != 0) ticks.total += static_cast<unsigned long>(fields.amount);
        break;
    case 2:
        if (ticks.resets >= 2) ticks.current += static_cast<unsigned long>(fields.amount);
        break;
    default:
        break;
    }
}

}} // namespace stubframework::core
