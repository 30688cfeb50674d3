#include "tools/stubtool/Console.h"
#include "stubframework/utils/WideFormat.h"

#include <cstdio>

namespace stubtool {

void PrintLine(const std::wstring& text) {
    std::fputs((stubframework::utils::ToAnsi(text) + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void PrintError(const std::wstring& text) {
    std::fputs(("stubtool: " + stubframework::utils::ToAnsi(text) + "\n").c_str(), stderr);
    std::fflush(stderr);
}

} // namespace stubtool
