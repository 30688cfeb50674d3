// The method rows that steer the host window, ask the user something and start other programs:
// closeWindow, dragWindow, hideWindow, showWindow, terminateWindow, setWindowSize, messageBox,
// confirmMessageBox, restartSystem, selectFolder, startProgram, openPage, runApplication,
// executeCommand.
#include "stubframework/ExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/utils/Process.h"
#include "stubframework/utils/ShellLaunch.h"

namespace stubframework {

namespace {
const VARTYPE kOneText[] = {VT_BSTR};
const VARTYPE kTwoTexts[] = {VT_BSTR, VT_BSTR};
const VARTYPE kTwoNumbers[] = {VT_I4, VT_I4};

const wchar_t* Outcome(bool success) { return success ? L"success" : L"fail"; }
} // namespace

HRESULT ExternalMethods::CloseHostWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    WriteDebugLog(app_, L"ZSClose");
    // Only the host window has a message loop waiting on a close flag.
    htmlui::RequestHostWindowClose(window_);
    return S_OK;
}

HRESULT ExternalMethods::DragHostWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    WriteDebugLog(app_, L"ZSDragWindow");
    // The window has no caption of its own: moving starts as if the user grabbed one.
    ::SendMessageW(window_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
    return S_OK;
}

namespace {
HRESULT ShowHostWindowAs(ExternalMethods& methods, WORD flags, DISPPARAMS* params, int command,
                         const wchar_t* logLine) {
    const HRESULT hr = ExternalMethods::CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    ::ShowWindow(methods.WindowHandle(), command);
    WriteDebugLog(methods.Application(), logLine);
    return S_OK;
}
} // namespace

HRESULT ExternalMethods::HideHostWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
    return ShowHostWindowAs(*this, flags, params, SW_HIDE, L"EMHideWindow");
}

HRESULT ExternalMethods::ShowHostWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
    return ShowHostWindowAs(*this, flags, params, SW_SHOW, L"EMShowWindow");
}

HRESULT ExternalMethods::TerminateHostWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr)) return hr;
    ::ExitProcess(0);
}

HRESULT ExternalMethods::SetHostWindowSize(WORD flags, DISPPARAMS* params, VARIANT*) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTwoNumbers);
    if (FAILED(hr)) return hr;
    const int width = V_I4(&params->rgvarg[1]);
    const int height = V_I4(&params->rgvarg[0]);
    WriteDebugLog(app_, L"ZSWindowSize: %d", width);
    app_->Bridge().SetWindowSize(width, height);
    return S_OK;
}

HRESULT ExternalMethods::ShowMessageBox(WORD flags, DISPPARAMS* params, VARIANT*) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTwoTexts);
    if (FAILED(hr)) return hr;
    const std::wstring text = TextArg(params, 1);
    const std::wstring caption = TextArg(params, 0);
    WriteDebugLog(app_, L"ZSMessageBox: %s %s", text.c_str(), caption.c_str());
    ::MessageBoxW(window_, text.c_str(), caption.c_str(), MB_OK);
    return S_OK;
}

HRESULT ExternalMethods::ConfirmMessageBox(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMConfirmMessageBox");
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, kTwoTexts);
    if (FAILED(hr)) return hr;
    // The question is asked even when nobody reads the answer.
    const int answer = ::MessageBoxW(window_, TextArg(params, 1).c_str(), TextArg(params, 0).c_str(), MB_OKCANCEL);
    if (!result) return S_OK;
    const bool confirmed = answer != IDCANCEL;
    SetBoolResult(result, confirmed);
    WriteDebugLog(app_, L"EMConfirmMessageBox Result : %s", confirmed ? L"Close" : L"Cancel Close");
    return S_OK;
}

HRESULT ExternalMethods::RestartSystem(WORD flags, DISPPARAMS* params, VARIANT*) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTwoTexts);
    if (FAILED(hr)) return hr;
    const std::wstring text = TextArg(params, 1);
    const std::wstring caption = TextArg(params, 0);
    WriteDebugLog(app_, L"EMRestartSystem: %s %s", text.c_str(), caption.c_str());
    if (::MessageBoxW(window_, text.c_str(), caption.c_str(), MB_OKCANCEL) == IDOK) utils::RestartWindows();
    return S_OK;
}

HRESULT ExternalMethods::SelectFolder(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMSelectFolder");
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, kOneText);
    if (FAILED(hr) || !result) return hr;
    const std::wstring initialPath = TextArg(params, 0);
    const std::wstring folder = utils::BrowseForFolder(initialPath, window_);
    SetTextResult(result, folder);
    WriteDebugLog(app_, L"EMSelectFolder args %s, Result %s", initialPath.c_str(), folder.c_str());
    return S_OK;
}

HRESULT ExternalMethods::StartProgram(WORD flags, DISPPARAMS* params, VARIANT*) {
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD, params, kTwoTexts);
    if (FAILED(hr)) return hr;
    const std::wstring program = TextArg(params, 1);
    bool noDesktopShell = false;
    const HRESULT launched = utils::LaunchAsDesktopUser(program, TextArg(params, 0), &noDesktopShell);
    if (noDesktopShell)
        WriteErrorLog(app_, L"EMStartProgram: %s not started: no desktop shell (%x)", program.c_str(),
                      static_cast<unsigned>(launched));
    return S_OK;
}

HRESULT ExternalMethods::OpenPage(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMOpenPage");
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, kOneText);
    if (FAILED(hr) || !result) return hr;
    const std::wstring url = TextArg(params, 0);
    bool noDesktopShell = false;
    const HRESULT launched = utils::LaunchAsDesktopUser(url, std::wstring(), &noDesktopShell);
    const bool opened = SUCCEEDED(launched);
    if (noDesktopShell)
        WriteErrorLog(app_, L"ZSOpenPage: %s not opened: no desktop shell (%x)", url.c_str(),
                      static_cast<unsigned>(launched));
    SetBoolResult(result, opened);
    WriteDebugLog(app_, L"ZSOpenPage: %s, result: %s", url.c_str(), Outcome(opened));
    return S_OK;
}

HRESULT ExternalMethods::RunApplication(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMRunApplication");
    // No type check for this row: whatever the page passes is read as text.
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, 1);
    if (FAILED(hr) || !result) return hr;
    const std::wstring commandLine = TextArg(params, 0);
    bool refused = false;
    const bool started = utils::StartCommandLine(commandLine, false, &refused);
    if (refused)
        WriteErrorLog(app_, L"EMRunApplication: %s refused: a user can change its program", commandLine.c_str());
    SetBoolResult(result, started);
    WriteDebugLog(app_, L"EMRunApplication: %s, result: %s", commandLine.c_str(), Outcome(started));
    return S_OK;
}

HRESULT ExternalMethods::ExecuteCommand(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMExecuteCommand");
    HRESULT hr = CheckArguments(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, kOneText);
    if (FAILED(hr) || !result) return hr;
    const std::wstring command = TextArg(params, 0);
    const bool started = utils::StartCommandLine(L"cmd.exe /c " + command, true);
    SetBoolResult(result, started);
    WriteDebugLog(app_, L"EMExecuteCommand: %s, result: %s", command.c_str(), Outcome(started));
    return S_OK;
}

void ExternalMethods::RegisterWindowMethods() {
    RegisterMethod(L"closeWindow", &ExternalMethods::CloseHostWindow);
    RegisterMethod(L"dragWindow", &ExternalMethods::DragHostWindow);
    RegisterMethod(L"hideWindow", &ExternalMethods::HideHostWindow);
    RegisterMethod(L"showWindow", &ExternalMethods::ShowHostWindow);
    RegisterMethod(L"terminateWindow", &ExternalMethods::TerminateHostWindow);
    RegisterMethod(L"selectFolder", &ExternalMethods::SelectFolder);
    RegisterMethod(L"startProgram", &ExternalMethods::StartProgram);
    RegisterMethod(L"messageBox", &ExternalMethods::ShowMessageBox);
    RegisterMethod(L"restartSystem", &ExternalMethods::RestartSystem);
    RegisterMethod(L"setWindowSize", &ExternalMethods::SetHostWindowSize);
    RegisterMethod(L"openPage", &ExternalMethods::OpenPage);
    RegisterMethod(L"runApplication", &ExternalMethods::RunApplication);
    RegisterMethod(L"executeCommand", &ExternalMethods::ExecuteCommand);
    RegisterMethod(L"confirmMessageBox", &ExternalMethods::ConfirmMessageBox);
}

} // namespace stubframework
