// The copy of the stub that the RunOnce entry starts after a reboot. It lives in an
// Administrators-only folder below the common application data, not in the user's Downloads
// folder where it could be replaced before the next administrator logon.
#pragma once
#include <string>

namespace stubframework { namespace core {

// Common application data + "\Zarvo\stubframework\Resume\" (not created).
std::wstring ResumeCopyRoot();

// Copies the running stub into a new private folder below ResumeCopyRoot(); false on failure.
bool MakeResumeCopy(std::wstring& copyPath);

// When stubPath is a resume copy, removes it and its folder. A copy still running is moved
// beside the copies as "<random>.old" and goes at the next restart (or with the next copy made).
// Anything else is left alone.
void RemoveResumeCopy(const std::wstring& stubPath);

}} // namespace stubframework::core
