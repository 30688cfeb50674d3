#include "stubframework/core/PackageUnzip.h"

#include <shlwapi.h>

#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/zip/ExtractArchive.h"

namespace stubframework { namespace core {

namespace {

std::wstring WithoutTrailingSlash(std::wstring folder) {
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

// Depth-first in directory-listing order.
bool FindSetupFolder(const std::wstring& folder, std::wstring& found) {
    if (utils::PathExists(folder + L"\\setup.exe")) {
        found = folder;
        return true;
    }
    WIN32_FIND_DATAW entry;
    utils::ScopedFindHandle search(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search) return false;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (FindSetupFolder(folder + L"\\" + name, found)) return true;
    } while (::FindNextFileW(search.Get(), &entry));
    return false;
}

} // namespace

ResultCode UnzipPackage(StubApplication& app, const std::wstring& archivePath, HANDLE archive,
                        std::wstring& unzipFolder, std::wstring& setupFolder) {
    unzipFolder.clear();
    setupFolder.clear();
    if (::lstrcmpiW(::PathFindExtensionW(archivePath.c_str()), L".zip") != 0) return Failure;

    HtmlExternal& bridge = app.Bridge();
    // An error left over from an earlier extraction must not decide this one.
    bridge.LastError(ERROR_SUCCESS);
    // On the ground: nobody but the stub can change what it unpacks before its setup runs.
    std::wstring folder;
    bool extracted = utils::CreateGroundFolder(folder);
    if (extracted) {
        RememberCreatedFolder(app.Config().FrameworkKeyPath(), folder);
        extracted = archive != INVALID_HANDLE_VALUE && zip::ExtractArchive(archive, folder, &bridge);
    }
    unzipFolder = WithoutTrailingSlash(folder);
    if (!extracted) {
        WriteErrorLog(&app, L"Unzip failed, package_path: %s, unzip to: %s\n", archivePath.c_str(),
                      unzipFolder.c_str());
        const DWORD error = bridge.LastExtractionError();
        return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? DiskFull : Failure;
    }
    if (!FindSetupFolder(unzipFolder, setupFolder)) {
        WriteErrorLog(&app, L"Can not find setup.exe, unzip path : %s", unzipFolder.c_str());
        return FileNotExist;
    }
    return NoError;
}

}} // namespace stubframework::core
