// Unpacking a ZIP package that carries a "setup.exe": used by the install of ZIP packages and by
// downloads that unpack right away.
#pragma once
#include <windows.h>
#include <string>

#include "stubframework/StubFramework.h"

namespace stubframework {

class StubApplication;

namespace core {

// Extracts the archive read through archive (the verified file, held; never opened again by
// name) into a fresh folder of the ground, with the bridge as the progress sink, and finds the
// first folder (depth-first) holding "setup.exe". archivePath names the package for its
// extension and the log. Both outputs are without a trailing backslash. NoError; Failure for a
// name not ending in ".zip" or a failed extraction, DiskFull when the disk ran full;
// FileNotExist without a "setup.exe" (the unpacked folder is then kept and named in unzipFolder).
ResultCode UnzipPackage(StubApplication& app, const std::wstring& archivePath, HANDLE archive,
                        std::wstring& unzipFolder, std::wstring& setupFolder);

}} // namespace stubframework::core
