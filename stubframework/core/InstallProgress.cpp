#include "stubframework/core/InstallProgress.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/ScriptCallback.h"

namespace stubframework { namespace core {

void ReportProgress(utils::CriticalSection& lock, ProgressState& state, IDispatch* callback,
                    const std::function<ProgressSample()>& sample) {
    utils::ScopedLock hold(lock);
    while (state.status == Running) {
        const ProgressSample now = sample();
        state.current = now.current;
        state.total = now.total;
        CallScriptFunction(callback, CallbackValues{static_cast<int>(now.current), static_cast<int>(now.total), Running});
        if (now.complete) state.status = NoError;
        lock.Leave();
        ::Sleep(2);
        lock.Enter();
    }
}

DWORD WINAPI InstallProgressThreadFunc(void* parameter) {
    InstallProgressContext& context = *static_cast<InstallProgressContext*>(parameter);
    WorkerApartment apartment;
    HtmlExternal& external = *context.external;
    const bool mapped = external.GetProperty(L"__Extract_ZIP_In_Download_Progress__") == L"true";
    const unsigned long downloadTotal = external.DownloadTotal();
    ReportProgress(*context.lock, *context.state, context.callback, [&] {
        unsigned long current = external.InstallCurrent();
        unsigned long total = external.InstallTotal();
        if (mapped) {
            // Unpacking fills the last 5 % of the download bar; an archive without entries is done.
            const double done = total ? current * 10.0 / total : 1.0;
            current = static_cast<unsigned long>(downloadTotal * 0.95 + done * (downloadTotal * 0.05) + 0.5);
            external.SetDownloadCurrent(current);
            total = downloadTotal;
        }
        if (current >= total) external.SetInstallCurrent(total);
        return ProgressSample{current, total, current >= total};
    });
    return 0;
}

}} // namespace stubframework::core
