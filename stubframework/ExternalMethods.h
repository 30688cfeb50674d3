// The table of named methods that the page reaches through window.external, and the checks and
// result encodings every handler shares.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <map>
#include <memory>
#include <string>

#include "stubframework/utils/Handle.h"

namespace stubframework {

class StubApplication;
class ExternalMethods;

namespace core { class MarshalledCallback; }

// Arguments as IDispatch::Invoke received them; rgvarg holds the script's arguments in reverse.
using MethodHandler = HRESULT (ExternalMethods::*)(WORD flags, DISPPARAMS* params, VARIANT* result);

class ExternalMethods {
public:
    using MethodMap = std::map<std::wstring, MethodHandler>;
    // Stands in for the built-in restore of a resumed run's properties (RestoreResumeProperties).
    using RestoreStep = void (*)(ExternalMethods& methods);

    explicit ExternalMethods(StubApplication* app, RestoreStep restoreResumeProperties = nullptr);
    virtual ~ExternalMethods();
    ExternalMethods(const ExternalMethods&) = delete;
    ExternalMethods& operator=(const ExternalMethods&) = delete;

    virtual void SetWindowHandle(HWND window) { window_ = window; }
    HWND WindowHandle() const { return window_; }

    StubApplication* Application() const { return app_; }
    // Guards the property map for every thread that touches it.
    utils::CriticalSection& PropertyLock() { return lock_; }
    // Ordered by name (UTF-16 code units); never changes after construction.
    const MethodMap& Methods() const { return methods_; }

    HRESULT Call(MethodHandler handler, WORD flags, DISPPARAMS* params, VARIANT* result) {
        return (this->*handler)(flags, params, result);
    }

    // Compares the argument count, then each rgvarg type exactly (no coercion); the expected
    // list is in rgvarg order, the reverse of the script's.
    HRESULT CheckParamTypes(const DISPPARAMS* params, const VARTYPE* expected, UINT count);

    // The flags and count checks that precede the type check: exactly the expected flags value,
    // exactly `count` positional arguments and no named ones.
    static HRESULT CheckFlagsAndCount(WORD flags, WORD expectedFlags, const DISPPARAMS* params, UINT count);

    // Both checks, with the count taken from the type list.
    template <UINT N>
    HRESULT CheckArguments(WORD flags, WORD expectedFlags, const DISPPARAMS* params, const VARTYPE (&types)[N]) {
        const HRESULT hr = CheckFlagsAndCount(flags, expectedFlags, params, N);
        return SUCCEEDED(hr) ? CheckParamTypes(params, types, N) : hr;
    }

    // Hands a request to a new worker: its owner becomes this table, the page's function is
    // marshalled into its callback, and the thread runs under the application's watch, so the
    // end of the run waits for it. A failure is logged under `method` and returned for the page;
    // the request stays with the caller then. The worker frees it otherwise. (Handlers allocate
    // requests with plain new: the bridge answers an allocation failure with E_OUTOFMEMORY.)
    template <typename Request>
    HRESULT StartWorker(const wchar_t* method, LPTHREAD_START_ROUTINE routine, std::unique_ptr<Request>& request,
                        IDispatch* function) {
        request->owner = this;
        const HRESULT hr = StartWorker(method, routine, request.get(), request->callback, function);
        if (SUCCEEDED(hr)) request.release();
        return hr;
    }

    // Argument index of rgvarg as text; a null BSTR is "". Any other type is converted as
    // the script engine would, or gives "" when it cannot be.
    static std::wstring TextArg(const DISPPARAMS* params, UINT index);

    // Result encodings.
    static void SetTextResult(VARIANT* result, const std::wstring& text);
    static void SetBoolResult(VARIANT* result, bool value);
    static void SetNumberResult(VARIANT* result, LONG value);
    static void SetUnsignedResult(VARIANT* result, ULONG value);

protected:
    // A name registered twice keeps the last handler.
    void RegisterMethod(const wchar_t* name, MethodHandler handler) { methods_[name] = handler; }
    // Handlers of derived tables; they are only ever called on their own object.
    template <typename Derived>
    void RegisterMethod(const wchar_t* name, HRESULT (Derived::*handler)(WORD, DISPPARAMS*, VARIANT*)) {
        methods_[name] = static_cast<MethodHandler>(handler);
    }

    // Rows of the installer web service, machine identity and network state (WebServiceMethods.cpp).
    void RegisterWebServiceMethods();
    // Rows of the registry: getDataFromReg, setDataToReg, deleteRegKey, searchRegKey,
    // getBaseRegKey (RegistryMethods.cpp).
    void RegisterRegistryMethods();
    // Rows of the system, file and language queries (SystemMethods.cpp).
    void RegisterSystemMethods();
    // getFileVersion, and getFileVersionEx of the product's table with redirection off.
    HRESULT FileVersionRow(WORD flags, DISPPARAMS* params, VARIANT* result, bool nativeFileSystem);
    // Rows of the download workflow: download, stopDownload, initDownloadSize (DownloadMethods.cpp).
    void RegisterDownloadMethods();
    // Rows of the host window, dialogs and launches (WindowMethods.cpp).
    void RegisterWindowMethods();
    // Rows of the property map, language, channel and status (PropertyMethods.cpp).
    void RegisterPropertyMethods();
    // Rows of the resume after a reboot: runAfterReboot, undoRunAfterReboot, startRegApps
    // (ResumeMethods.cpp).
    void RegisterResumeMethods();
    // Rows of the installed product's maintenance and the package search (MaintenanceMethods.cpp).
    void RegisterMaintenanceMethods();
    // Rows of the self-update and the installer-list refresh (SelfUpdateMethods.cpp).
    void RegisterSelfUpdateMethods();
    // The package install row: install (InstallMethods.cpp).
    void RegisterInstallMethods();

private:
    HRESULT TrackUserActivity(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetMachineId(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsInEmbargoedCountry(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsInternetConnected(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT GetDataFromReg(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SetDataToReg(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT DeleteRegKey(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SearchRegKey(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetBaseRegKey(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT CheckOS(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetOSVersion(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetOSLang(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetLanguageByID(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetParsedInstallLanguage(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetDiskAvailableSpace(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsFileExists(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT CreateFolderTree(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetFileSizeText(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetCrc(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetFileVersion(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetCurrentPath(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetDesktopPath(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetProductTempPath(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT Download(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT StopDownload(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT InitDownloadSize(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT IsSkipSelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsSilentLaunchStub(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsNeedSelfUpdateRow(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT UpdateInstallerList(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT Install(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT CloseHostWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT DragHostWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT HideHostWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT ShowHostWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT TerminateHostWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SetHostWindowSize(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT ShowMessageBox(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT ConfirmMessageBox(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT RestartSystem(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SelectFolder(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT StartProgram(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT OpenPage(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT RunApplication(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT ExecuteCommand(WORD flags, DISPPARAMS* params, VARIANT* result);

    // Runs in the constructor: a resumed run gets back the properties its record kept.
    void RestoreResumeProperties();
    HRESULT GetPageProperty(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SetPageProperty(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetResourceLocation(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SetLang(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SetChannel(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT SetInstallStatus(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetResumeMode(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetLastInstallError(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT RunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT UndoRunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT StartRegApps(WORD flags, DISPPARAMS* params, VARIANT* result);

    HRESULT SetUninstallRegistryFromStub(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT IsUninstallModeLaunch(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT RemoveProgram(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT RepairProgram(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT VerifyFileInSpecialDirectory(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT CancelVerifyThread(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT StartWorker(const wchar_t* method, LPTHREAD_START_ROUTINE routine, void* record,
                        core::MarshalledCallback& callback, IDispatch* function);
    // Hands a remove or repair command to its worker; method names the row in the log.
    HRESULT StartMaintenance(const wchar_t* method, std::wstring commandLine, std::wstring logPath,
                             IDispatch* callback);

    StubApplication* app_;
    HWND window_ = nullptr;
    utils::CriticalSection lock_;
    MethodMap methods_;
};

} // namespace stubframework
