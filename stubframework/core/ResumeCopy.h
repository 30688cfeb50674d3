// The copy of the stub that the RunOnce entry starts after a reboot. It lives in an
// Administrators-only folder below the common application data, not in the user's Downloads
// folder where it could be replaced before the next administrator logon.
#pragma once
#include <string>

namespace stubframework { namespace core {

// Common application data + "\Zarvo\stubframework\Resume\" (not created).
std::wstring ResumeCopyRoot();

// Copies the running stub into a new private folder below ResumeCopyRoot(); false on failure,
// with the reason in GetLastError.
bool MakeResumeCopy(std::wstring& copyPath);

// A file in a private folder of its own right below ResumeCopyRoot(), as MakeResumeCopy makes it.
bool IsResumeCopy(const std::wstring& path);

// When stubPath is a resume copy, removes it and its folder. A copy still running is moved
// beside the copies as "<random>.old" and goes at the next restart (or with the next copy made).
// Anything else is left alone.
void RemoveResumeCopy(const std::wstring& stubPath);

// The run after a reboot starts from a resume copy, which goes when that run ends; what was
// started by the user is noted in the machine's part of the registry when the resume is asked
// for. A shortcut that is itself a resume copy keeps the earlier note; an empty one removes it.
void NoteStartedFile(const std::wstring& frameworkKeyPath, const std::wstring& shortcut);
// The file the user started: for a run from a resume copy the noted file while it exists,
// otherwise shortcut itself.
std::wstring StartedFile(const std::wstring& frameworkKeyPath, const std::wstring& shortcut);

}} // namespace stubframework::core
