// stubtool fetch / extract: the plain-mode download and the archive extraction of the stub,
// run on their own so that publishers and the benchmarks can time them against other tools.
#include "tools/stubtool/Commands.h"
#include "tools/stubtool/Console.h"
#include "stubframework/core/PullDownload.h"
#include "stubframework/utils/ComApartment.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/WideFormat.h"
#include "stubframework/zip/ExtractArchive.h"

#include <windows.h>

using stubframework::utils::FormatWide;

namespace stubtool {
namespace {

// Remembers the last Win32 error of a short read or write and counts the entries.
class ErrorKeeper final : public stubframework::zip::ZipReporter {
public:
    void Progress(unsigned, unsigned count) override { entries = count; }
    void LastError(DWORD error) override { lastError = error; }
    unsigned entries = 0;
    DWORD lastError = ERROR_SUCCESS;
};

// Prints the percentage as it changes. Lives on the caller's stack: its count is fixed. The
// binding needs answers from a callback of ours, which PullDownloadToFile does not give alone.
class FetchProgress final : public IBindStatusCallback {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
            *object = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    STDMETHODIMP GetPriority(LONG*) override { return S_OK; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) override {
        if (statusCode != BINDSTATUS_DOWNLOADINGDATA && statusCode != BINDSTATUS_ENDDOWNLOADDATA) return S_OK;
        const int percent = progressMax > 0 ? static_cast<int>(progress * 100ULL / progressMax) : 100;
        if (percent != lastPercent_) {
            lastPercent_ = percent;
            PrintLine(FormatWide(L"progress %lu/%lu (%d%%)", progress, progressMax, percent));
        }
        return S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

private:
    int lastPercent_ = -1;
};

} // namespace

int RunFetch(const Arguments& arguments) {
    if (arguments.size() != 2) {
        PrintError(L"usage: stubtool fetch URL PATH");
        return kExitUsage;
    }
    // The moniker binding is served by this thread's apartment and message loop.
    HRESULT hr;
    {
        const stubframework::utils::ScopedComApartment apartment(COINIT_APARTMENTTHREADED);
        if (FAILED(apartment.Result())) {
            PrintError(FormatWide(L"COM could not be initialised (0x%08X)", static_cast<unsigned>(apartment.Result())));
            return kExitFailed;
        }
        FetchProgress progress;
        hr = stubframework::core::PullDownloadToFile(arguments[0].c_str(), arguments[1].c_str(), &progress);
    }
    PrintLine(FormatWide(L"result 0x%08X", static_cast<unsigned>(hr)));
    // S_FALSE: the connection ended before the announced length.
    if (hr != S_OK) {
        PrintError(FormatWide(L"fetching %s failed with 0x%08X", arguments[0].c_str(), static_cast<unsigned>(hr)));
        return kExitFailed;
    }
    return kExitOk;
}

int RunExtract(const Arguments& arguments) {
    if (arguments.size() != 2) {
        PrintError(L"usage: stubtool extract ARCHIVE FOLDER");
        return kExitUsage;
    }
    stubframework::utils::ScopedFileHandle archive(::CreateFileW(arguments[0].c_str(), GENERIC_READ,
                                                                 FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive) {
        PrintError(FormatWide(L"cannot open %s (error %lu)", arguments[0].c_str(), ::GetLastError()));
        return kExitFailed;
    }
    ErrorKeeper reporter;
    if (!stubframework::zip::ExtractArchive(archive.Get(), arguments[1], &reporter)) {
        PrintError(FormatWide(L"extracting %s failed (last error %lu)", arguments[0].c_str(), reporter.lastError));
        return kExitFailed;
    }
    PrintLine(FormatWide(L"extracted %u entries", reporter.entries));
    return kExitOk;
}

} // namespace stubtool
