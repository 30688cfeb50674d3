#include "stubframework/core/PackageUnzip.h"

#include <shlwapi.h>

#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/HtmlExternal.h"
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

ResultCode UnzipPackage(StubApplication& app, const std::wstring& archivePath, std::wstring& unzipFolder,
                        std::wstring& setupFolder) {
    unzipFolder.clear();
    setupFolder.clear();
    if (::lstrcmpiW(::PathFindExtensionW(archivePath.c_str()), L".zip") != 0) return Failure;

    HtmlExternal& bridge = app.Bridge();
    // An error left over from an earlier extraction must not decide this one.
    bridge.LastError(ERROR_SUCCESS);
    std::wstring temp, folder;
    bool extracted = utils::GetTempDirectory(temp) && utils::CreateUniqueSubfolder(temp, folder);
    if (extracted) {
        RememberCreatedFolder(app.Config().FrameworkKeyPath(), folder);
        utils::ScopedFileHandle archive(::CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        extracted = archive && zip::ExtractArchive(archive.Get(), folder, &bridge);
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
