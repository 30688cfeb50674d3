#include "stubframework/core/ResumeManager.h"

#include <windows.h>
#include <objbase.h>
#include <cwctype>

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/MaintenanceRules.h"
#include "stubframework/utils/Registry.h"

namespace stubframework { namespace core {

ResumeManager::ResumeManager(bool resume, AppConfig& settings)
    : keyPath_(settings.FrameworkKeyPath() + L"\\ResumeManager") {
    if (resume) Load();
    else utils::DeleteRegistryKey(keyPath_, false);
}

void ResumeManager::Load() {
    if (!utils::ReadFrameworkValue(keyPath_, L"folder", folder_)) return;
    if (!utils::ReadFrameworkValue(keyPath_, L"guid", guid_)) return;
    utils::ReadFrameworkValue(keyPath_, L"launchOnExit", launchOnExit_);
    for (unsigned index = 0;; ++index) {
        std::wstring folder;
        if (!utils::ReadFrameworkValue(keyPath_, L"tempfolder" + std::to_wstring(index), folder)) break;
        tempFolders_.push_back(folder);
    }
    loaded_ = true;
}

void ResumeManager::SetGuid(const std::wstring& guid) {
    guid_ = guid;
    utils::WriteFrameworkValue(keyPath_, L"guid", guid, false);
}

void ResumeManager::SetLaunchOnExit(const std::wstring& launchOnExit) {
    launchOnExit_ = launchOnExit;
    utils::WriteFrameworkValue(keyPath_, L"launchOnExit", launchOnExit, false);
}

std::wstring NewGuidText() {
    GUID guid;
    wchar_t text[40] = {};
    if (FAILED(::CoCreateGuid(&guid)) || ::StringFromGUID2(guid, text, 40) != 39)
        return L"9C744C24-0382-430A-AF86-F520008F5C6F";
    std::wstring result(text + 1, 36);   // without the braces
    for (wchar_t& c : result) c = static_cast<wchar_t>(std::towlower(c));
    return result;
}

std::wstring RecordInstallResume(AppConfig& settings, int resumeMode, std::wstring& parameters) {
    ResumeManager record(resumeMode != 0, settings);
    // A stored but empty GUID would name no key at all: make a new one then.
    const std::wstring guid =
        (resumeMode != 0 && record.Loaded() && !record.Guid().empty()) ? record.Guid() : NewGuidText();
    std::wstring launchOnExit;
    if (FillLaunchOnExit(parameters, guid, launchOnExit)) record.SetLaunchOnExit(launchOnExit);
    record.SetGuid(guid);
    return guid;
}

}} // namespace stubframework::core
