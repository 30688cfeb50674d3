// The page's side of the resume and maintenance rows: the real method table behind the bridge
// on a test STA, and waits for the one-result callbacks of the maintenance workers.
#pragma once
#include <windows.h>
#include <string>

#include "tests/htmlui/TestSupport.h"
#include "tests/pagemethods/PageMethodsFixture.h"

namespace maintenancetest {

// Entered before the method table exists and left after it is gone.
struct StaApartment {
    StaApartment() : ready(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~StaApartment() { if (ready) ::CoUninitialize(); }
    bool ready;
};

class MaintenanceRows : private StaApartment, public pagemethodstest::PageMethods {
protected:
    explicit MaintenanceRows(const stubframework::utils::StartupSwitches& switches = {}) : PageMethods(switches) {}

    // Starts a worker row with a fresh recording function as its last argument.
    HRESULT Start(const wchar_t* name, htmluitest::Args& args);
    // Pumps this thread's messages until the function has been called (bounded); its single
    // argument, or -1 when no call came or it was not one whole number.
    int WaitForResult();

    Microsoft::WRL::ComPtr<htmluitest::RecordingFunction> function_;
};

// Reads a value of HKEY_LOCAL_MACHINE\subKey in the given view: false when it is missing.
bool ReadMachineValue(const std::wstring& subKey, const std::wstring& name, REGSAM view, DWORD& type,
                      std::wstring& text);

// The text after the last occurrence of marker in the log, up to the line's end ("" if none).
std::string LogLineAfter(const std::string& log, const std::string& marker);

} // namespace maintenancetest
