#include "stubframework/core/InstallText.h"

#include <algorithm>
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

namespace {

bool IsAbsolutePath(const std::wstring& text) {
    const auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (text.size() >= 2 && slash(text[0]) && slash(text[1])) return true;
    return text.size() >= 3 && ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z')) &&
           text[1] == L':' && slash(text[2]);
}

// "NAME=" at the start of arg, any case.
bool IsAssignmentOf(const std::wstring& arg, const std::wstring& name) {
    return arg.size() > name.size() && arg[name.size()] == L'=' && utils::EqualsNoCase(arg.substr(0, name.size()), name);
}

std::vector<std::wstring> ListEntries(const std::wstring& list) {
    std::vector<std::wstring> entries;
    size_t start = 0;
    for (;;) {
        const size_t end = list.find(L';', start);
        std::wstring entry = list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!entry.empty()) entries.push_back(entry);
        if (end == std::wstring::npos) return entries;
        start = end + 1;
    }
}

} // namespace

InstallFileNames NamedInstallFiles(const utils::ArgList& arguments, bool windowsInstaller) {
    InstallFileNames names;
    for (const std::wstring& arg : arguments) {
        if (IsAssignmentOf(arg, L"INSTALLDIR")) continue;
        if (windowsInstaller && IsAssignmentOf(arg, L"TRANSFORMS")) {
            // The installer takes the last assignment.
            names.transforms.clear();
            for (std::wstring entry : ListEntries(arg.substr(11))) {
                if (entry[0] == L'@' || entry[0] == L'|') entry.erase(0, 1);
                if (!entry.empty()) names.transforms.push_back(entry);
            }
            continue;
        }
        if (windowsInstaller && IsAssignmentOf(arg, L"PATCH")) {
            for (const std::wstring& entry : ListEntries(arg.substr(6))) names.paths.push_back(entry);
            continue;
        }
        const size_t equals = arg.find(L'=');
        const size_t colon = arg.find(L':');
        if (IsAbsolutePath(arg)) names.paths.push_back(arg);
        else if (equals != std::wstring::npos && IsAbsolutePath(arg.substr(equals + 1))) names.paths.push_back(arg.substr(equals + 1));
        else if (colon != std::wstring::npos && IsAbsolutePath(arg.substr(colon + 1))) names.paths.push_back(arg.substr(colon + 1));
    }
    return names;
}

void RemoveProperty(std::wstring& parameters, const std::wstring& name) {
    size_t at = 0;
    while (at < parameters.size()) {
        if (std::iswspace(parameters[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        for (bool quoted = false; end < parameters.size() && (quoted || !std::iswspace(parameters[end])); ++end) {
            if (parameters[end] == L'"') quoted = !quoted;
        }
        // Quotes anywhere in the argument are gone once the installer has split it.
        std::wstring arg = parameters.substr(at, end - at);
        arg.erase(std::remove(arg.begin(), arg.end(), L'"'), arg.end());
        if (IsAssignmentOf(arg, name)) parameters.erase(at, end - at);
        else at = end;
    }
}

bool IsQuotableFolder(const std::wstring& folder) {
    if (folder.empty()) return false;
    for (const wchar_t c : folder)
        if (c == L'"' || c < 0x20 || c == 0x7F) return false;
    return true;
}

std::wstring QuotedProperty(const std::wstring& name, const std::wstring& value) {
    return L" " + name + L"=\"" + value + L"\"";
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
