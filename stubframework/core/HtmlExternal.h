// window.external: routes script calls to the method table, gives native code typed access to
// the shared property map, applies window sizes and carries the download control flags.
#pragma once
#include <windows.h>
#include <atomic>
#include <string>
#include <vector>

#include "stubframework/ExternalMethods.h"
#include "stubframework/htmlui/MSHTMLExternal.h"
#include "stubframework/zip/ZipReporter.h"

namespace stubframework { namespace core {

class HtmlExternal : public htmlui::MSHTMLExternal, public zip::ZipReporter {
public:
    HtmlExternal() = default;

    // Builds the dispatch table from the method table's sorted names and sets the progress
    // properties to their starting values.
    void AttachMethodTable(ExternalMethods* methods);
    ExternalMethods* MethodTable() const { return methods_; }

    // The shared property map, under the method table's lock. Reading a missing name creates it.
    void SetProperty(const std::wstring& name, const std::wstring& value);
    std::wstring GetProperty(const std::wstring& name);

    void SetDownloadTotal(unsigned long value) { SetNumber(L"downloadTotal", value); }
    void SetDownloadCurrent(unsigned long value) { SetNumber(L"downloadCurrent", value); }
    void SetInstallTotal(unsigned long value) { SetNumber(L"installTotal", value); }
    void SetInstallCurrent(unsigned long value) { SetNumber(L"installCurrent", value); }
    unsigned long DownloadTotal() { return GetNumber(L"downloadTotal"); }
    unsigned long DownloadCurrent() { return GetNumber(L"downloadCurrent"); }
    unsigned long InstallTotal() { return GetNumber(L"installTotal"); }
    unsigned long InstallCurrent() { return GetNumber(L"installCurrent"); }

    void SetWindow(HWND window) override;
    // Client size in 96-DPI units; the window moves only when its outer size changes.
    void SetWindowSize(int width, int height);
    // A page that never sized the window gets the default size.
    void DocumentComplete() override;

    // Written on the UI thread, read by worker and downloader threads.
    virtual void SetSizeProbe(bool value) { sizeProbe_.store(value); }
    virtual void SetStop(bool value) { stop_.store(value); }
    bool SizeProbe() const { return sizeProbe_.load(); }
    // Also true for good once the run ends: no download may outlive the window.
    bool Stop() const { return stop_.load() || runEnding_.load(); }
    void SetRunEnding() { runEnding_.store(true); }

    // ZipReporter: extracting a package moves the install progress through its first tenth.
    void Progress(unsigned index, unsigned count) override;
    void LastError(DWORD error) override { lastExtractionError_.store(error); }
    DWORD LastExtractionError() const { return lastExtractionError_.load(); }

    void SetLastInstallError(DWORD code) { lastInstallError_.store(code); }
    DWORD LastInstallError() const { return lastInstallError_.load(); }

protected:
    ~HtmlExternal() override;
    const htmlui::DispatchEntry* DispatchTable(size_t& count) const override;
    HRESULT CallEntry(const htmlui::DispatchEntry& entry, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    void SetNumber(const wchar_t* name, unsigned long value);
    unsigned long GetNumber(const wchar_t* name);

    ExternalMethods* methods_ = nullptr;
    std::vector<htmlui::DispatchEntry> dispatchTable_;
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    std::atomic<DWORD> lastExtractionError_{0};
    std::atomic<DWORD> lastInstallError_{0};
    std::atomic<bool> sizeProbe_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> runEnding_{false};
};

}} // namespace stubframework::core
