// The copy of a verified file that the pages expect at the path they gave, in the user's folder:
// written there for the user, never read back as authority (a later run copies it into the
// ground again only through its signature).
#pragma once
#include <windows.h>
#include <string>

#include "stubframework/StubFramework.h"

namespace stubframework {

class StubApplication;

namespace core {

// Writes what verified (a file on the ground, held) holds, and the companions beside
// groundPath, to userPath with the user's own rights or by handle (UserRights). NoError;
// DiskFull when the disk ran full; Failure otherwise, logged.
ResultCode WriteUserCopy(StubApplication& app, HANDLE verified, const std::wstring& groundPath,
                         const std::wstring& userPath);

}} // namespace stubframework::core
