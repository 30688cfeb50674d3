#include "stubframework/core/HtmlExternal.h"
#include "StubCore/StubApplication.h"
#include "stubframework/htmlui/FitWindowRect.h"

#include <cwchar>

namespace stubframework { namespace core {

HtmlExternal::~HtmlExternal() = default;

void HtmlExternal::AttachMethodTable(ExternalMethods* methods) {
    methods_ = methods;
    dispatchTable_.clear();
    if (!methods_) return;
    // The map is ordered by name, so a method's DISPID is its place in sorted order.
    for (const auto& method : methods_->Methods())
        dispatchTable_.push_back(htmlui::DispatchEntry{method.first.c_str(), method.second});
    SetDownloadTotal(1);
    SetDownloadCurrent(0);
    SetInstallTotal(1);
    SetInstallCurrent(0);
}

const htmlui::DispatchEntry* HtmlExternal::DispatchTable(size_t& count) const {
    count = dispatchTable_.size();
    return dispatchTable_.data();
}

HRESULT HtmlExternal::CallEntry(const htmlui::DispatchEntry& entry, WORD flags, DISPPARAMS* params, VARIANT* result) {
    return methods_->Call(entry.handler, flags, params, result);
}

void HtmlExternal::SetProperty(const std::wstring& name, const std::wstring& value) {
    if (!methods_ || !methods_->Application()) return;
    utils::ScopedLock lock(methods_->PropertyLock());
    methods_->Application()->Config().Properties()[name] = value;
}

std::wstring HtmlExternal::GetProperty(const std::wstring& name) {
    if (!methods_ || !methods_->Application()) return std::wstring();
    utils::ScopedLock lock(methods_->PropertyLock());
    return methods_->Application()->Config().Properties()[name];
}

void HtmlExternal::SetNumber(const wchar_t* name, unsigned long value) {
    SetProperty(name, std::to_wstring(value));
}

unsigned long HtmlExternal::GetNumber(const wchar_t* name) {
    // Leading blanks and a sign are accepted, anything else counts as 0; the unsigned
    // conversion keeps sizes above 2 GB.
    return std::wcstoul(GetProperty(name).c_str(), nullptr, 10);
}

void HtmlExternal::SetWindow(HWND window) {
    if (window == Window()) return;
    MSHTMLExternal::SetWindow(window);
    if (methods_) methods_->SetWindowHandle(window);
}

void HtmlExternal::SetWindowSize(int width, int height) {
    const HWND window = Window();
    if (!window) return;
    const RECT outer = htmlui::FitWindowRect(window, width, height);
    const int outerWidth = outer.right - outer.left;
    const int outerHeight = outer.bottom - outer.top;
    if (outerWidth == lastWidth_ && outerHeight == lastHeight_) return;
    lastWidth_ = outerWidth;
    lastHeight_ = outerHeight;
    ::SetWindowPos(window, nullptr, outer.left, outer.top, outerWidth, outerHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

void HtmlExternal::DocumentComplete() {
    RECT client = {};
    if (Window() && ::GetClientRect(Window(), &client) && (client.right == 0 || client.bottom == 0))
        SetWindowSize(400, 200);
}

void HtmlExternal::Progress(unsigned index, unsigned count) {
    SetInstallCurrent(index / 10);
    SetInstallTotal(count);
}

}} // namespace stubframework::core
