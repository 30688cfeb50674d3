#include "stubframework/core/ResumeCopy.h"
#include "stubframework/core/StubCopy.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/Registry.h"

#include <shlobj.h>

namespace stubframework { namespace core {

namespace {
const wchar_t kResumeRelative[] = L"Zarvo\\stubframework\\Resume";
const wchar_t kStartedFileValue[] = L"resumeStartedFile";
}

std::wstring ResumeCopyRoot() {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)))
        return std::wstring();
    return std::wstring(common) + L"\\" + kResumeRelative + L"\\";
}

bool MakeResumeCopy(std::wstring& copyPath) {
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
    return CopyStubIntoNewFolder(root, copyPath);
}

namespace {
// The private folder (without its trailing backslash) of a resume copy at path: exactly one
// level below the root, as MakeResumeCopy makes it. "" for anything else.
std::wstring CopyFolderOf(const std::wstring& path) {
    const std::wstring root = utils::NormalizedPath(ResumeCopyRoot());
    std::wstring folder = utils::ParentFolder(utils::NormalizedPath(path));
    if (root.empty() || folder.size() < 2) return std::wstring();
    folder.pop_back();
    if (::CompareStringOrdinal(utils::ParentFolder(folder).c_str(), -1, (root + L"\\").c_str(), -1, TRUE) !=
        CSTR_EQUAL)
        folder.clear();
    return folder;
}
} // namespace

bool IsResumeCopy(const std::wstring& path) { return !CopyFolderOf(path).empty(); }

void RemoveResumeCopy(const std::wstring& stubPath) {
    const std::wstring folder = CopyFolderOf(stubPath);
    if (folder.empty()) return;
    const std::wstring file = utils::NormalizedPath(stubPath);
    if (!::DeleteFileW(file.c_str()) && utils::PathExists(file)) {
        // The launcher still runs from it: a running image cannot be deleted but can be moved.
        // It goes beside the copies, where only administrators can change what is deleted at
        // the next restart, and its folder goes now.
        const std::wstring aside = utils::ParentFolder(folder) + utils::RandomName() + L".old";
        if (::MoveFileExW(file.c_str(), aside.c_str(), 0))
            ::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        else
            ::MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    if (!utils::DeleteFolderTree(folder) && utils::PathExists(folder))
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void NoteStartedFile(const std::wstring& frameworkKeyPath, const std::wstring& shortcut) {
    const std::wstring key = utils::MachineTwinPath(frameworkKeyPath);
    if (shortcut.empty()) utils::DeleteRegistryValue(key, kStartedFileValue, false);
    else if (!IsResumeCopy(shortcut)) utils::WriteFrameworkValue(key, kStartedFileValue, shortcut, false);
}

std::wstring StartedFile(const std::wstring& frameworkKeyPath, const std::wstring& shortcut) {
    std::wstring noted;
    if (IsResumeCopy(shortcut) &&
        utils::ReadFrameworkValue(utils::MachineTwinPath(frameworkKeyPath), kStartedFileValue, noted) &&
        !noted.empty() && utils::PathExists(noted))
        return noted;
    return shortcut;
}

}} // namespace stubframework::core
