// The ground: the one place where the elevated stub keeps what it writes, reads back, runs or
// deletes (its bundle, copies of itself, packages it hands to an installer, unpacked packages,
// logs, report files). A folder below the user's temporary folder, Desktop or profile is never
// private, whatever its descriptor: its owner can rename or replace it between a check and a use.
// So when elevated every folder of the ground hangs below folders that only Administrators,
// SYSTEM and the installer service can change:
// - running as SYSTEM, fresh folders go to the system's own temporary folder, closed to others;
// - otherwise below "<common application data>\Zarvo\stubframework", each level checked (owner
//   and descriptor, or the stub's own record of the folder it made) and, where it fails,
//   renamed aside without being entered and made again.
// Not elevated, the stub has no more rights than its user: the ground is the temporary folder.
#pragma once
#include <string>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

// True when the ground is admin-only (the process is elevated).
bool GroundIsPrivate();

// The folder fresh ground folders are made in, with a trailing backslash; made and checked once
// per process. Empty when it cannot be had.
std::wstring GroundBase();

// A fresh folder of the ground for one use, with a trailing backslash: an unpredictable name and,
// when elevated, the private descriptor. False when none can be made.
bool CreateGroundFolder(std::wstring& folder);

// A folder of the ground that outlives the run (relative below "Zarvo\stubframework", for
// example "Cache\Tandora"), with a trailing backslash; each level is checked as the base is.
// Empty on failure.
std::wstring GroundKeptFolder(const std::wstring& relative);

// True when path's real place (links resolved) is below the ground's base or one of its kept
// folders. A path that does not exist is judged by its real parent.
bool IsInGround(const std::wstring& path);

// Removes fresh folders of earlier runs that ended without removing their own (a run ended
// abruptly, or a file still in use at its end) once they are older than maxAgeDays; folders kept
// across runs and anything in use stay.
void SweepStaleGroundFolders(unsigned maxAgeDays = 7);

// For tests: where fresh folders go from now on (empty: back to the normal choice).
void SetGroundBaseForTesting(const std::wstring& base);

}} // namespace stubframework::utils
