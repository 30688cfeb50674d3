// The program's language numbers (0..107), their page codes and English names, and the
// mapping from Windows language identifiers. No <windows.h>: the table is plain data.
#pragma once
#include <string>

namespace stubframework { namespace core {

struct LanguageEntry {
    const wchar_t* code;
    const wchar_t* name;
};

constexpr int LanguageCount = 108;

// Row languageId, or null outside 0..107.
const LanguageEntry* FindLanguage(int languageId);

// LanguageId of a 16-bit Windows language identifier; 0 when it maps to nothing.
int LanguageIdFromWindowsId(unsigned windowsId);

// LanguageId whose code equals code exactly, among rows 1..107; 0 when none does.
int LanguageIdFromCode(const std::wstring& code);

}} // namespace stubframework::core
