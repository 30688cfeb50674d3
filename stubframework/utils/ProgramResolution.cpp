#include "stubframework/utils/ProgramResolution.h"

namespace stubframework { namespace utils {

namespace {

// As the shell's own rule: a dot in the last path part with no blank after it.
bool HasExtension(const std::wstring& name) {
    bool dot = false;
    for (const wchar_t c : name) {
        if (c == L'\\' || c == L'/' || c == L' ') dot = false;
        else if (c == L'.') dot = true;
    }
    return dot;
}

void AddExeUnlessExtension(std::wstring& name) {
    if (!HasExtension(name)) name.append(L".exe", 4);
}

bool IsPath(const std::wstring& name) { return name.find_first_of(L"\\/:") != std::wstring::npos; }

} // namespace

ResolvedProgram ResolveProgram(const std::wstring& line, const ProgramLookup& lookup) {
    ResolvedProgram result;
    const size_t start = line.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return result;

    // The program token as the system's parser ends it: at the closing quote, or the first blank.
    const bool quoted = line[start] == L'"';
    const size_t nameAt = quoted ? start + 1 : start;
    size_t nameEnd = quoted ? line.find(L'"', nameAt) : line.find_first_of(L" \t", nameAt);
    if (nameEnd == std::wstring::npos) nameEnd = line.size();
    std::wstring name(line.data() + nameAt, nameEnd - nameAt);
    size_t argumentsAt = quoted && nameEnd < line.size() ? nameEnd + 1 : nameEnd;
    const bool unquotedPath = !quoted && IsPath(name);

    if (!IsPath(name)) {
        // "", "." and "..": no program.
        if (name.find_first_not_of(L'.') == std::wstring::npos) return result;
        AddExeUnlessExtension(name);
        name = lookup.SystemProgram(name);
    } else if (quoted) {
        // As the search would have it: "C:\tools\setup" means "setup.exe" when only that exists.
        if (!HasExtension(name) && !lookup.IsFile(name)) name.append(L".exe", 4);
    } else {
        // The longest run of words that names a file decides; a shorter run is another program,
        // which a user may have placed where the intended one is missing.
        std::wstring candidate;
        name.clear();
        for (size_t end = line.find_last_not_of(L" \t") + 1; end > start;) {
            candidate.assign(line.data() + start, end - start);
            AddExeUnlessExtension(candidate);
            if (candidate.find(L'"') == std::wstring::npos && lookup.IsFile(candidate)) {
                result.refused = !lookup.IsAdminOnly(candidate);
                name.swap(candidate);
                argumentsAt = end;
                break;
            }
            const size_t blank = line.find_last_of(L" \t", end - 1);
            if (blank == std::wstring::npos || blank < start) break;
            end = line.find_last_not_of(L" \t", blank) + 1;
        }
    }
    if (name.empty()) return result;
    result.path.swap(name);
    if (result.refused) return result;
    result.arguments.assign(line.data() + argumentsAt, line.size() - argumentsAt);
    if (unquotedPath) result.commandLine.assign(1, L'"').append(result.path).append(1, L'"');
    else result.commandLine.assign(line.data() + start, argumentsAt - start);
    result.commandLine.append(result.arguments);
    return result;
}

}} // namespace stubframework::utils
