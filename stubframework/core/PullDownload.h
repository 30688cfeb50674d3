// Whole-file downloads over URL monikers: the plain download mode and the size probe.
#pragma once
#include <windows.h>
#include <urlmon.h>

namespace stubframework { namespace core {

class HtmlExternal;

// Binds url for a pulled IStream (asynchronous, async storage, pull data), writes every piece
// to path (created anew, sized once from the announced length) and pumps this thread's
// messages until the binding ends. inner (may be null) sees every notification. The result is
// the binding's: S_OK, S_FALSE when fewer bytes came than announced, E_ABORT when a callback
// stopped it, or the error of a failed write.
HRESULT PullDownloadToFile(const wchar_t* url, const wchar_t* path, IBindStatusCallback* inner);

// The notifications a download reports to the page: the announced size and the bytes so far
// go to "downloadTotal" and "downloadCurrent"; the stop flag aborts, and so does the size-probe
// flag as soon as the size is known. Lives on its caller's stack: its reference count is fixed.
class DownloadCallback final : public IBindStatusCallback {
public:
    explicit DownloadCallback(HtmlExternal* external) : external_(external) {}

    // True once any data arrived.
    bool ReceivedData() const { return receivedData_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    STDMETHODIMP GetPriority(LONG*) override { return S_OK; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR text) override;
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

private:
    HtmlExternal* external_;
    volatile bool receivedData_ = false;
};

}} // namespace stubframework::core
