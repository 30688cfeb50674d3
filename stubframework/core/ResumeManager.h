// The "\ResumeManager" record below the product's key: the GUID an install used (so a run
// resumed after a reboot reuses it), the launch-on-exit registry path the product's installer
// fills, and the folders kept for a resumed run. Registry failures are silent throughout.
//
// The record is kept twice. The pages read it in the user's hive, where the user can write
// anything; the stub writes the same GUID and path into the machine's part of the registry too,
// and what it acts on (the GUID it puts into an install's parameters, the key whose programs it
// starts and deletes) comes from that copy only.
#pragma once
#include <string>
#include <vector>

namespace stubframework { namespace core {

class AppConfig;

class ResumeManager {
public:
    // Resuming loads the stored record; otherwise the record is deleted (both copies), so a fresh
    // install never sees an old GUID.
    ResumeManager(bool resume, AppConfig& settings);

    // True when the user's record has "folder" and "guid".
    bool Loaded() const { return loaded_; }
    // True when, besides, the machine's copy holds a well-formed GUID: only then do Guid() and
    // LaunchOnExit() give anything.
    bool HasMachineCopy() const { return loaded_ && !guid_.empty(); }
    // The machine's copy.
    const std::wstring& Guid() const { return guid_; }
    const std::wstring& LaunchOnExit() const { return launchOnExit_; }
    // The user's record: loaded as the pages know it, never acted on here.
    const std::wstring& Folder() const { return folder_; }
    const std::vector<std::wstring>& TempFolders() const { return tempFolders_; }
    // FrameworkKeyPath + "\ResumeManager", and its twin below HKEY_LOCAL_MACHINE.
    const std::wstring& KeyPath() const { return keyPath_; }
    const std::wstring& MachineKeyPath() const { return machineKeyPath_; }

    // Store "guid" / "launchOnExit" as REG_SZ in both copies, creating the keys when needed.
    void SetGuid(const std::wstring& guid);
    void SetLaunchOnExit(const std::wstring& launchOnExit);

private:
    void Load();
    // Writes the value into both copies.
    void Store(const wchar_t* name, const std::wstring& value);

    std::wstring keyPath_;
    std::wstring machineKeyPath_;
    std::wstring guid_;
    std::wstring folder_;
    std::vector<std::wstring> tempFolders_;
    std::wstring launchOnExit_;
    bool loaded_ = false;
};

// The install worker's resume step: opens the record for resumeMode (0 none, 1 downloading,
// 2 installing), takes the stored GUID when resuming with a record the stub wrote and a new one
// otherwise, fills "$GUID$" in the parameters' "LAUNCHONEXIT=" value (stored as "launchOnExit")
// and stores the GUID. Returns the GUID.
std::wstring RecordInstallResume(AppConfig& settings, int resumeMode, std::wstring& parameters);

// A new GUID as lower-case text with hyphens and no braces; a fixed text when none can be made.
std::wstring NewGuidText();

}} // namespace stubframework::core
