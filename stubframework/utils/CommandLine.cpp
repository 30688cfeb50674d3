#include "stubframework/utils/CommandLine.h"

namespace stubframework { namespace utils {

namespace {
wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }
bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}
} // namespace

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

std::wstring ToLowerAscii(std::wstring text) {
    for (auto& c : text) c = LowerAscii(c);
    return text;
}

std::wstring GetArgValue(const ArgList& args, const std::wstring& name) {
    const std::wstring prefix = name + L"=";
    for (size_t i = 1; i < args.size(); ++i)
        if (StartsWith(args[i], prefix)) return args[i].substr(prefix.size());
    return std::wstring();
}

std::wstring GetQuotedArgValue(const std::wstring& rawCommandLine, const std::wstring& name) {
    const std::wstring opener = name + L"=\"";
    const size_t at = rawCommandLine.find(opener);
    if (at == std::wstring::npos) return std::wstring();
    const size_t begin = at + opener.size();
    const size_t end = rawCommandLine.find(L'"', begin);
    if (end == std::wstring::npos) return std::wstring();
    return rawCommandLine.substr(begin, end - begin);
}

bool HasSwitch(const ArgList& args, const std::wstring& value) {
    for (size_t i = 1; i < args.size(); ++i)
        if (EqualsNoCase(args[i], value)) return true;
    return false;
}

bool FindArgWithPrefix(const ArgList& args, const std::wstring& prefix, std::wstring& value) {
    for (const auto& arg : args) {
        if (StartsWith(arg, prefix)) {
            value = arg.substr(prefix.size());
            return true;
        }
    }
    return false;
}

std::wstring ArgumentsAfterProgram(const std::wstring& raw) {
    // The system's parser ends a quoted program token at the next quote (no escapes in the
    // program name) and an unquoted one at the first blank or tab.
    size_t pos = 0;
    if (!raw.empty() && raw[0] == L'"') {
        const size_t close = raw.find(L'"', 1);
        pos = (close == std::wstring::npos) ? raw.size() : close + 1;
    } else {
        while (pos < raw.size() && raw[pos] != L' ' && raw[pos] != L'\t') ++pos;
    }
    std::wstring rest = raw.substr(pos);
    // Keep the program token of the new command line separate from the first argument.
    if (!rest.empty() && rest[0] != L' ' && rest[0] != L'\t') rest.insert(0, 1, L' ');
    return rest;
}

StartupSwitches ParseStartupSwitches(const ArgList& args, const std::wstring& raw) {
    StartupSwitches s;
    s.uiInstance = HasSwitch(args, L"run=1");
    s.noSelfUpdate = HasSwitch(args, L"update=0");
    s.hasShortcut = FindArgWithPrefix(args, L"shortcut=", s.shortcut);
    s.newVersionExitCode = GetArgValue(args, L"newVersionExitCode");
    s.parentProcessId = GetArgValue(args, L"parentProcessID");

    s.passThrough = GetQuotedArgValue(raw, L"passthrough");
    const std::wstring passthro = GetQuotedArgValue(raw, L"passthro");
    if (!passthro.empty()) s.passThrough += L" " + passthro;

    // The first resume switch on the line decides.
    for (size_t i = 1; i < args.size() && s.resumeMode == 0; ++i) {
        if (EqualsNoCase(args[i], L"RESUME=DOWNLOADING")) s.resumeMode = 1;
        else if (EqualsNoCase(args[i], L"RESUME=INSTALLING")) s.resumeMode = 2;
    }

    // The first argument that names either switch decides; within it "/uninstall" wins.
    for (const auto& arg : args) {
        const std::wstring lower = ToLowerAscii(arg);
        if (lower.find(L"/uninstall") != std::wstring::npos) { s.maintenanceMode = L"uninstall"; break; }
        if (lower.find(L"/modify") != std::wstring::npos) { s.maintenanceMode = L"modify"; break; }
    }
    return s;
}

std::wstring BuildStubCommand(const std::wstring& passedOn, const std::wstring& extraSwitches,
                              const std::wstring& startedFile) {
    return passedOn + extraSwitches + L" shortcut=\"" + startedFile + L"\"";
}

}} // namespace stubframework::utils
