// Helper of the abrupt-end tests: writes the log, the machine-identity store and the resume
// record over and over, as a run does, until the test ends it with TerminateProcess.
//   abrupt_writer STORE_FILE KEY   (KEY below HKEY_CURRENT_USER stands in for that root)
#include "StubCore/StubLog.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/ResumeManager.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/MachineIdentity.h"

#include <windows.h>

using namespace stubframework;

// The two identities the store alternates between; the test accepts either, nothing else.
const wchar_t kFirstIdentity[] = L"V-0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
const wchar_t kSecondIdentity[] = L"V-F9E8D7C6-B5A4-9382-7160-5F4E3D2C1B0A";

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 1;
    const std::wstring store = argv[1];
    utils::ScopedRegKey root;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, argv[2], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.Receive(),
                          nullptr) != ERROR_SUCCESS ||
        ::RegOverridePredefKey(HKEY_CURRENT_USER, root.Get()) != ERROR_SUCCESS)
        return 2;

    StubLog log;
    core::AppConfig settings;
    for (unsigned round = 0;; ++round) {
        log.Debug(L"EMInstall round %u: writing the identity store and the resume record", round);
        // Most of the time goes to the store, the likeliest place for an end to tear.
        for (int write = 0; write < 3; ++write)
            utils::WriteStoredMachineId(store, (round + write) % 2 ? kSecondIdentity : kFirstIdentity);
        std::wstring parameters = L"/quiet LAUNCHONEXIT=Vendor\\Tandora\\$GUID$\\LaunchOnExit";
        core::RecordInstallResume(settings, 0, parameters);
    }
}
