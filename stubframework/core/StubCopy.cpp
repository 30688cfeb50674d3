#include "stubframework/core/StubCopy.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"

namespace stubframework { namespace core {

bool CopyStubIntoNewFolder(const std::wstring& root, std::wstring& copyPath) {
    std::wstring own, folder;
    if (!utils::GetOwnModulePath(own) || !utils::CreateUniqueSubfolder(root, folder)) return false;
    utils::ScopedFileHandle self(::CreateFileW(own.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::wstring target = folder + utils::FileNameOf(own);
    if (!self || !utils::CopyOpenFile(self.Get(), target)) {
        const DWORD error = ::GetLastError();
        utils::DeleteFolderTree(folder);
        ::SetLastError(error);
        return false;
    }
    copyPath = target;
    return true;
}

}} // namespace stubframework::core
