#include "stubframework/core/ResumeManager.h"

#include <windows.h>
#include <objbase.h>
#include <cwctype>

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/MaintenanceRules.h"
#include "stubframework/utils/Registry.h"

namespace stubframework { namespace core {

ResumeManager::ResumeManager(bool resume, AppConfig& settings)
    : keyPath_(settings.FrameworkKeyPath() + L"\\ResumeManager"), machineKeyPath_(utils::MachineTwinPath(keyPath_)) {
    if (resume) {
        Load();
    } else {
        utils::DeleteRegistryKey(keyPath_, false);
        utils::DeleteRegistryKey(machineKeyPath_, false);
    }
}

void ResumeManager::Load() {
    std::wstring userGuid;
    if (!utils::ReadFrameworkValue(keyPath_, L"folder", folder_)) return;
    if (!utils::ReadFrameworkValue(keyPath_, L"guid", userGuid)) return;
    for (unsigned index = 0;; ++index) {
        std::wstring folder;
        if (!utils::ReadFrameworkValue(keyPath_, L"tempfolder" + std::to_wstring(index), folder)) break;
        tempFolders_.push_back(folder);
    }
    loaded_ = true;
    // It names a key that is deleted with all it holds: nothing but a GUID will do.
    std::wstring guid;
    if (!utils::ReadFrameworkValue(machineKeyPath_, L"guid", guid) || !IsGuidText(guid)) return;
    guid_ = guid;
    utils::ReadFrameworkValue(machineKeyPath_, L"launchOnExit", launchOnExit_);
}

void ResumeManager::Store(const wchar_t* name, const std::wstring& value) {
    const std::wstring valueName = name;
    for (const std::wstring* key : {&keyPath_, &machineKeyPath_})
        utils::WriteFrameworkValue(*key, valueName, value, false);
}

void ResumeManager::SetGuid(const std::wstring& guid) {
    guid_ = guid;
    Store(L"guid", guid);
}

void ResumeManager::SetLaunchOnExit(const std::wstring& launchOnExit) {
    launchOnExit_ = launchOnExit;
    Store(L"launchOnExit", launchOnExit);
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
    // Only a GUID the stub stored goes into the parameters again.
    const std::wstring guid = (resumeMode != 0 && record.HasMachineCopy()) ? record.Guid() : NewGuidText();
    std::wstring launchOnExit;
    if (FillLaunchOnExit(parameters, guid, launchOnExit)) record.SetLaunchOnExit(launchOnExit);
    record.SetGuid(guid);
    return guid;
}

}} // namespace stubframework::core
