// Writing into the user's own folders (the download folder the pages chose) from the elevated
// stub. What is written there is a copy for the user, never read back as authority; the write
// must not be sent elsewhere by a link the user placed in the path. So it is done either with
// the user's own rights (a link then leads only where the user may write anyway), or, where those
// cannot be had, by handle with every folder opened as itself and the final path checked.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace stubframework { namespace utils {

// The rights of the user who started the stub, on the calling thread for the holder's life.
// Elevated, the thread impersonates the process's linked (limited) token; where the system
// hands that token out for identification only (the usual case without the TCB privilege),
// it opens nothing and the elevated rights stay. Not elevated, or without a linked token
// (UAC off), the process's own token is the user's.
class UserRights {
public:
    UserRights();
    ~UserRights();
    UserRights(const UserRights&) = delete;
    UserRights& operator=(const UserRights&) = delete;

    // True when the thread acts with the user's own rights.
    bool Held() const { return held_; }

private:
    bool impersonating_ = false;
    bool held_ = false;
};

// For tests: as if the user's rights could never be had (writes go by handle).
void SetUserRightsUnavailableForTesting(bool unavailable);

// Creates or replaces path with what source holds from its start (or with bytes). Without the
// user's rights: a link or hard link at path or a link above it refuses the write. A partial
// file goes again. False unless every byte was written.
bool WriteUserFile(const UserRights& rights, const std::wstring& path, HANDLE source);
bool WriteUserFileBytes(const UserRights& rights, const std::wstring& path, const std::vector<uint8_t>& bytes);

// Removes path (a link itself, never what it leads to). False when nothing was removed.
bool RemoveUserFile(const UserRights& rights, const std::wstring& path);

}} // namespace stubframework::utils
