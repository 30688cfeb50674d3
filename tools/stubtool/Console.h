// Console output in the system code page (the wide printf family is not C99-safe here).
#pragma once
#include <string>

namespace stubtool {

void PrintLine(const std::wstring& text);
void PrintError(const std::wstring& text);   // "stubtool: " + text, on stderr

} // namespace stubtool
