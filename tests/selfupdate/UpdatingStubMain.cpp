// A test build of the stub whose UI instance plays the page's self-update steps instead of
// showing Load.html: isSkipSelfUpdate, isNeedSelfUpdate and selfUpdate through the bridge. It
// reads the published address from "update_url.txt" next to the started file and appends one
// line per UI run to "trace.txt" there.
#include <windows.h>
#include <oaidl.h>
#include <string>

#include "StubCore/StubMain.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/WideFormat.h"

using namespace stubframework;

namespace {

// The page's callback: keeps the last status it was called with.
class FinalStatus final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }    // lives on the caller's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        // rgvarg order: current, total, status.
        if (params && params->cArgs == 3 && V_VT(&params->rgvarg[2]) == VT_I4) status = V_I4(&params->rgvarg[2]);
        return S_OK;
    }
    int status = 10;
};

HRESULT CallRow(core::HtmlExternal* bridge, const wchar_t* name, WORD flags, VARIANT* args, UINT count,
                VARIANT* result) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = bridge->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS params = {args, nullptr, count, 0};
    return bridge->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}

bool FlagRow(core::HtmlExternal* bridge, const wchar_t* name, WORD flags, VARIANT* args, UINT count) {
    utils::ScopedVariant result;
    return SUCCEEDED(CallRow(bridge, name, flags, args, count, result.Receive())) &&
           V_VT(&result.Get()) == VT_BOOL && V_BOOL(&result.Get()) != VARIANT_FALSE;
}

std::string ReadText(const std::wstring& path) {
    utils::ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[2048] = {};
    DWORD got = 0;
    if (!file || !::ReadFile(file.Get(), buffer, sizeof(buffer) - 1, &got, nullptr)) return std::string();
    std::string text(buffer, got);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

void AppendLine(const std::wstring& path, const std::wstring& line) {
    utils::ScopedFileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                               OPEN_ALWAYS, 0, nullptr));
    const std::string text(line.begin(), line.end());
    DWORD written = 0;
    if (file) ::WriteFile(file.Get(), (text + "\n").data(), static_cast<DWORD>(text.size() + 1), &written, nullptr);
}

bool RunUpdateSteps(const wchar_t*, core::HtmlExternal* bridge) {
    std::wstring started;
    utils::FindArgWithPrefix(utils::GetCommandLineArgs(), L"shortcut=", started);
    const std::wstring folder = utils::ParentFolder(started);
    const std::string address = ReadText(folder + L"update_url.txt");
    const std::wstring url(address.begin(), address.end());
    const std::wstring trace = folder + L"trace.txt";

    if (FlagRow(bridge, L"isSkipSelfUpdate", DISPATCH_METHOD, nullptr, 0)) {
        AppendLine(trace, L"skip");
        return true;
    }
    utils::ScopedVariant arg;
    VARIANT* text = arg.Receive();
    V_VT(text) = VT_BSTR;
    V_BSTR(text) = ::SysAllocString(url.c_str());
    if (!FlagRow(bridge, L"isNeedSelfUpdate", DISPATCH_METHOD | DISPATCH_PROPERTYGET, text, 1)) {
        AppendLine(trace, L"current");
        return true;
    }
    FinalStatus callback;
    VARIANT args[2];
    V_VT(&args[0]) = VT_DISPATCH;
    V_DISPATCH(&args[0]) = &callback;
    args[1] = *text;
    if (FAILED(CallRow(bridge, L"selfUpdate", DISPATCH_METHOD, args, 2, nullptr))) {
        AppendLine(trace, L"update not started");
        return true;
    }
    // The worker's reports arrive through this thread's messages; bounded like every test wait.
    const DWORD start = ::GetTickCount();
    while (callback.status == 10 && ::GetTickCount() - start < 120000) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    AppendLine(trace, utils::FormatWide(L"updated %d", callback.status));
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    UiHost host;
    host.runWindow = RunUpdateSteps;
    return StubMain(host);
}
