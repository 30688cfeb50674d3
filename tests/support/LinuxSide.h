// The Linux side of the prefix, for tests that need what Wine cannot make itself (symbolic links
// standing in for junctions), made at a chosen moment.
#pragma once
#include <string>

namespace testsupport {

// The Linux path of a Windows path on the prefix's drives ("Z:\tmp\x" -> "/tmp/x"); empty when
// it has none.
std::string UnixPath(const std::wstring& path);

// Runs a shell command on the Linux side and waits for it; true when it exited with 0.
bool LinuxShell(const std::string& command);

// "ln -s TARGET LINK" for two Windows paths.
bool MakeLinuxLink(const std::wstring& target, const std::wstring& link);

} // namespace testsupport
