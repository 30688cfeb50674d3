#include "stubframework/utils/ShellLaunch.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/Handle.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace stubframework { namespace utils {

namespace {

// The shell dispatch object of the desktop window, which belongs to the logged-on user's
// unelevated shell.
HRESULT DesktopShellDispatch(ComPtr<IShellDispatch2>& shell) {
    ComPtr<IShellWindows> windows;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows));
    if (FAILED(hr)) return hr;

    ScopedVariant location;
    ScopedVariant root;
    long desktopWindow = 0;
    ComPtr<IDispatch> desktop;
    hr = windows->FindWindowSW(location.Ptr(), root.Ptr(), SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                               &desktop);
    // S_FALSE: no desktop window.
    if (hr != S_OK || !desktop) return FAILED(hr) ? hr : E_FAIL;

    ComPtr<IServiceProvider> provider;
    if (FAILED(hr = desktop.As(&provider))) return hr;
    ComPtr<IShellBrowser> browser;
    if (FAILED(hr = provider->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser)))) return hr;
    ComPtr<IShellView> view;
    if (FAILED(hr = browser->QueryActiveShellView(&view))) return hr;
    if (!view) return E_FAIL;
    ComPtr<IDispatch> background;
    if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background)))) return hr;
    ComPtr<IShellFolderViewDual> folderView;
    if (FAILED(hr = background.As(&folderView))) return hr;
    ComPtr<IDispatch> application;
    if (FAILED(hr = folderView->get_Application(&application))) return hr;
    if (!application) return E_FAIL;
    return application.As(&shell);
}

} // namespace

std::wstring BrowseForFolder(const std::wstring& initialPath, HWND owner) {
    std::wstring result = initialPath;
    ComPtr<IFileOpenDialog> dialog;
    if (SUCCEEDED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        FILEOPENDIALOGOPTIONS options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
        ComPtr<IShellItem> start;
        if (SUCCEEDED(::SHCreateItemFromParsingName(initialPath.c_str(), nullptr, IID_PPV_ARGS(&start))))
            dialog->SetFolder(start.Get());
        ComPtr<IShellItem> chosen;
        if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&chosen))) {
            wchar_t* rawName = nullptr;
            if (SUCCEEDED(chosen->GetDisplayName(SIGDN_DESKTOPABSOLUTEPARSING, &rawName))) {
                const TaskMemText name(rawName);
                if (name) result = name.get();
            }
        }
        return result;
    }

    // Systems without the common item dialog.
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.ulFlags = BIF_NEWDIALOGSTYLE;
    const PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
    wchar_t path[MAX_PATH] = {};
    if (chosen && ::SHGetPathFromIDListW(chosen, path)) result = path;
    ::ILFree(chosen);
    return result;
}

HRESULT LaunchAsDesktopUser(const std::wstring& file, const std::wstring& arguments, bool* noDesktopShell) {
    ComPtr<IShellDispatch2> shell;
    const HRESULT found = DesktopShellDispatch(shell);
    if (noDesktopShell) *noDesktopShell = FAILED(found);
    // Opening it here instead would run the user's own handler for it with this process's rights.
    if (FAILED(found)) return found;

    // The shell of another process brings the program to the front.
    ::AllowSetForegroundWindow(ASFW_ANY);
    const ScopedBstr fileText(file);
    ScopedVariant args;
    V_VT(args.Ptr()) = VT_BSTR;
    V_BSTR(args.Ptr()) = ::SysAllocStringLen(arguments.data(), static_cast<UINT>(arguments.size()));
    ScopedVariant directory;
    ScopedVariant operation;
    ScopedVariant show;
    return shell->ShellExecute(fileText.Get(), args.Get(), directory.Get(), operation.Get(), show.Get());
}

bool EnableShutdownPrivilege() {
    ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return false;
    ::SetLastError(ERROR_SUCCESS);
    if (!::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr)) return false;
    // A token without the privilege "succeeds" with ERROR_NOT_ALL_ASSIGNED.
    return ::GetLastError() == ERROR_SUCCESS;
}

bool RestartWindows(ExitWindowsFunction exitWindows) {
    if (!EnableShutdownPrivilege()) return false;
    return exitWindows(EWX_REBOOT | EWX_FORCEIFHUNG | EWX_RESTARTAPPS, SHTDN_REASON_MAJOR_APPLICATION) != FALSE;
}

}} // namespace stubframework::utils
