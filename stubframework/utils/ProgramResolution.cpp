#include "stubframework/utils/ProgramResolution.h"

#include <vector>

namespace stubframework { namespace utils {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// As the shell's own rule: a dot in the last path part with no blank after it.
bool HasExtension(const std::wstring& name) {
    bool dot = false;
    for (const wchar_t c : name) {
        if (c == L'\\' || c == L'/' || c == L' ') dot = false;
        else if (c == L'.') dot = true;
    }
    return dot;
}

bool IsPath(const std::wstring& name) { return name.find_first_of(L"\\/:") != std::wstring::npos; }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

ResolvedProgram FromSystemFolder(const std::wstring& name, const std::wstring& commandLine,
                                 const std::wstring& arguments, const ProgramLookup& lookup) {
    ResolvedProgram result;
    if (name.empty() || name == L"." || name == L"..") return result;
    result.path = lookup.systemProgram(HasExtension(name) ? name : name + L".exe");
    if (!result.path.empty()) {
        result.commandLine = commandLine;
        result.arguments = arguments;
    }
    return result;
}

// The longest run of words that names a file decides; a shorter run is another program, which a
// user may have placed where the intended one is missing.
ResolvedProgram FromUnquotedPath(const std::wstring& line, const ProgramLookup& lookup) {
    std::vector<size_t> wordEnds;
    for (size_t i = 0; i < line.size(); ++i) {
        if (!IsBlank(line[i]) && (i + 1 == line.size() || IsBlank(line[i + 1]))) wordEnds.push_back(i + 1);
    }
    ResolvedProgram result;
    for (auto end = wordEnds.rbegin(); end != wordEnds.rend(); ++end) {
        const std::wstring run = line.substr(0, *end);
        if (run.find(L'"') != std::wstring::npos) continue;
        const std::wstring candidate = HasExtension(run) ? run : run + L".exe";
        if (!lookup.isFile(candidate)) continue;
        result.path = candidate;
        result.arguments = line.substr(*end);
        if (!lookup.isAdminOnly(candidate)) {
            result.refused = true;
            return result;
        }
        result.commandLine = Quoted(candidate) + result.arguments;
        return result;
    }
    return result;
}

} // namespace

ResolvedProgram ResolveProgram(const std::wstring& commandLine, const ProgramLookup& lookup) {
    const size_t start = commandLine.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return ResolvedProgram();
    const std::wstring line = commandLine.substr(start);

    if (line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        const std::wstring name = line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        const std::wstring arguments = close == std::wstring::npos ? std::wstring() : line.substr(close + 1);
        if (!IsPath(name)) return FromSystemFolder(name, line, arguments, lookup);
        ResolvedProgram result;
        // As the search would have it: "C:\tools\setup" means "setup.exe" when only that exists.
        result.path = (!HasExtension(name) && !lookup.isFile(name)) ? name + L".exe" : name;
        result.commandLine = line;
        result.arguments = arguments;
        return result;
    }

    size_t wordEnd = 0;
    while (wordEnd < line.size() && !IsBlank(line[wordEnd])) ++wordEnd;
    const std::wstring first = line.substr(0, wordEnd);
    if (!IsPath(first)) return FromSystemFolder(first, line, line.substr(wordEnd), lookup);
    return FromUnquotedPath(line, lookup);
}

}} // namespace stubframework::utils
