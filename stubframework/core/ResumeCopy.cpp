#include "stubframework/core/ResumeCopy.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"

#include <shlobj.h>

namespace stubframework { namespace core {

namespace {
const wchar_t kResumeRelative[] = L"Zarvo\\stubframework\\Resume";
}

std::wstring ResumeCopyRoot() {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)))
        return std::wstring();
    return std::wstring(common) + L"\\" + kResumeRelative + L"\\";
}

bool MakeResumeCopy(std::wstring& copyPath) {
    std::wstring own, folder;
    if (!utils::GetOwnModulePath(own)) return false;
    const std::wstring root = utils::PrepareCommonFolder(kResumeRelative);
    if (root.empty()) return false;
    // Copies that were still running when their run ended, unless one still runs.
    WIN32_FIND_DATAW entry;
    utils::ScopedFindHandle leftovers(::FindFirstFileW((root + L"*.old").c_str(), &entry));
    if (leftovers) {
        do {
            if (!(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                ::DeleteFileW((root + entry.cFileName).c_str());
        } while (::FindNextFileW(leftovers.Get(), &entry));
    }
    if (!utils::CreateUniqueSubfolder(root, folder)) return false;
    utils::ScopedFileHandle self(::CreateFileW(own.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::wstring target = folder + utils::FileNameOf(own);
    if (!self || !utils::CopyOpenFile(self.Get(), target)) {
        utils::DeleteFolderTree(folder);
        return false;
    }
    copyPath = target;
    return true;
}

void RemoveResumeCopy(const std::wstring& stubPath) {
    const std::wstring root = utils::NormalizedPath(ResumeCopyRoot());
    const std::wstring file = utils::NormalizedPath(stubPath);
    std::wstring folder = utils::ParentFolder(file);
    if (root.empty() || folder.empty()) return;
    folder.pop_back();
    // Exactly one private folder below the root, as MakeResumeCopy makes it.
    if (::CompareStringOrdinal(utils::ParentFolder(folder).c_str(), -1, (root + L"\\").c_str(), -1, TRUE) != CSTR_EQUAL)
        return;
    if (!::DeleteFileW(file.c_str()) && utils::PathExists(file)) {
        // The launcher still runs from it: a running image cannot be deleted but can be moved.
        // It goes beside the copies, where only administrators can change what is deleted at
        // the next restart, and its folder goes now.
        const std::wstring aside = root + L"\\" + utils::RandomName() + L".old";
        if (::MoveFileExW(file.c_str(), aside.c_str(), 0))
            ::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        else
            ::MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    if (!utils::DeleteFolderTree(folder) && utils::PathExists(folder))
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}} // namespace stubframework::core
