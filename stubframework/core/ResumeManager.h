// The "\ResumeManager" record below the product's key: the GUID an install used (so a run
// resumed after a reboot reuses it), the launch-on-exit registry path the product's installer
// fills, and the folders kept for a resumed run. Registry failures are silent throughout.
#pragma once
#include <string>
#include <vector>

namespace stubframework { namespace core {

class AppConfig;

class ResumeManager {
public:
    // Resuming loads the stored record; otherwise the record is deleted, so a fresh install
    // never sees an old GUID.
    ResumeManager(bool resume, AppConfig& settings);

    // True when "folder" and "guid" were both there.
    bool Loaded() const { return loaded_; }
    const std::wstring& Guid() const { return guid_; }
    const std::wstring& Folder() const { return folder_; }
    const std::vector<std::wstring>& TempFolders() const { return tempFolders_; }
    const std::wstring& LaunchOnExit() const { return launchOnExit_; }
    // FrameworkKeyPath + "\ResumeManager".
    const std::wstring& KeyPath() const { return keyPath_; }

    // Store "guid" / "launchOnExit" as REG_SZ, creating the key when needed.
    void SetGuid(const std::wstring& guid);
    void SetLaunchOnExit(const std::wstring& launchOnExit);

private:
    void Load();

    std::wstring keyPath_;
    std::wstring guid_;
    std::wstring folder_;
    std::vector<std::wstring> tempFolders_;
    std::wstring launchOnExit_;
    bool loaded_ = false;
};

// The install worker's resume step: opens the record for resumeMode (0 none, 1 downloading,
// 2 installing), takes the stored GUID when resuming with a loaded record and a new one
// otherwise, fills "$GUID$" in the parameters' "LAUNCHONEXIT=" value (stored as
// "launchOnExit") and stores the GUID. Returns the GUID.
std::wstring RecordInstallResume(AppConfig& settings, int resumeMode, std::wstring& parameters);

// A new GUID as lower-case text with hyphens and no braces; a fixed text when none can be made.
std::wstring NewGuidText();

}} // namespace stubframework::core
