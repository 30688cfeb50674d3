#include "StubCore/ResourceFolder.h"
#include "StubCore/StubLog.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/zip/ExtractArchive.h"

namespace stubframework {

ResourceFolder::ResourceFolder(StubLog* log) : log_(log) {
    if (!utils::CreateGroundFolder(folder_)) {
        folder_.clear();
        if (log_) log_->Error(L"create temporary folder failed!");
        return;
    }
    if (log_) log_->Debug(L"Load Resource from pe.");
    std::wstring ownPath;
    if (!utils::GetOwnModulePath(ownPath)) {
        if (log_) log_->Error(L"get current app full path failed!");
        return;
    }
    utils::ScopedFileHandle self(::CreateFileW(ownPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (self && zip::ExtractArchive(self.Get(), folder_, nullptr)) {
        unpacked_ = true;
        if (log_) {
            log_->Debug(L"Load Resource from pe finished.");
            log_->Debug(L"load resource success, temporary folder path : %s", folder_.c_str());
        }
    } else if (log_) {
        log_->Error(L"Load Resource from pe failed.");
    }
}

ResourceFolder::~ResourceFolder() {
    if (folder_.empty()) return;
    if (!utils::DeleteFolderTree(folder_) && log_) log_->Error(L"Delete Temp folder failed!");
    folder_.clear();
}

} // namespace stubframework
