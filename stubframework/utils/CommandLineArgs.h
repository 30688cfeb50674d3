// The process command line, split the way the system splits it.
#pragma once
#include "stubframework/utils/CommandLine.h"

namespace stubframework { namespace utils {

ArgList GetCommandLineArgs();        // CommandLineToArgvW over GetCommandLineW
ArgList SplitCommandLine(const std::wstring& commandLine);
std::wstring GetRawCommandLine();

}} // namespace stubframework::utils
