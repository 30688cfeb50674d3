// The Linux side of the Wine prefix, for what Wine cannot do itself: making and retargeting
// symbolic links, some of them at the very moment between a check and a use.
#pragma once
#include <string>

namespace testsupport {

// The Linux path of a Windows path on the prefix's drives ("Z:\tmp\x" -> "/tmp/x"); empty when
// Wine cannot tell.
std::string UnixPath(const std::wstring& path);

// Runs a shell command on the Linux side and waits for it; true when it exited with 0.
bool LinuxShell(const std::string& command);

// "ln -s TARGET LINK" for two Windows paths.
bool MakeLinuxLink(const std::wstring& target, const std::wstring& link);

} // namespace testsupport
