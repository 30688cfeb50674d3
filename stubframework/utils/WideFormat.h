// printf-style formatting with the Windows conventions for wide formats: %s is UTF-16 text,
// %S is 8-bit text. (MinGW's libstdc++ switches the plain names to C99 rules, so all wide
// formatting of the stub goes through here.)
#pragma once
#include <cstdarg>
#include <string>

namespace stubframework { namespace utils {

std::wstring FormatWideV(const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);

// UTF-16 to the system's ANSI code page; characters it lacks become '?'.
std::string ToAnsi(const std::wstring& text);

}} // namespace stubframework::utils
