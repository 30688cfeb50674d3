#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/Handle.h"

#include <shellapi.h>

namespace stubframework { namespace utils {

ArgList SplitCommandLine(const std::wstring& commandLine) {
    ArgList args;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(commandLine.c_str(), &count);
    ScopedLocalMemory owner(reinterpret_cast<HLOCAL>(argv));
    for (int i = 0; argv && i < count; ++i) args.emplace_back(argv[i]);
    return args;
}

std::wstring GetRawCommandLine() {
    const wchar_t* raw = ::GetCommandLineW();
    return raw ? std::wstring(raw) : std::wstring();
}

ArgList GetCommandLineArgs() { return SplitCommandLine(GetRawCommandLine()); }

}} // namespace stubframework::utils
