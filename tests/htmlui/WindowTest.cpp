// The host window and its site, as far as they work without an HTML engine.
#include <gtest/gtest.h>

#include "stubframework/core/HtmlExternal.h"
#include "stubframework/htmlui/FitWindowRect.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/htmlui/MSHTMLClient.h"
#include "stubframework/htmlui/WindowGeometry.h"
#include "stubframework/utils/ComHolders.h"
#include "tests/htmlui/TestSupport.h"

#include <mshtmdid.h>
#include <wrl/client.h>

using namespace stubframework;
using namespace htmluitest;
using Microsoft::WRL::ComPtr;

namespace {
int g_positionChanges = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_WINDOWPOSCHANGING) ++g_positionChanges;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A borderless popup like the host window, counting its moves.
class HostWindowSizing : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = CountingProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"HtmlUiTestPopup";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(WS_EX_APPWINDOW, L"HtmlUiTestPopup", nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0, 0,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        g_positionChanges = 0;
    }
    void TearDown() override {
        if (window_) ::DestroyWindow(window_);
    }

    static int Dpi() {
        const HDC screen = ::GetDC(nullptr);
        const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
        ::ReleaseDC(nullptr, screen);
        return dpi;
    }
    static RECT WorkAreaUnderCursor() {
        POINT cursor = {};
        ::GetCursorPos(&cursor);
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        ::GetMonitorInfoW(::MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &info);
        return info.rcWork;
    }

    HWND window_ = nullptr;
};
} // namespace

TEST_F(HostWindowSizing, FitWindowRectScalesAndCentresOnTheWorkArea) {
    const RECT fitted = htmlui::FitWindowRect(window_, 400, 200);
    const long width = htmlui::ScaleToDpi(400, Dpi()), height = htmlui::ScaleToDpi(200, Dpi());
    EXPECT_EQ(fitted.right - fitted.left, width);   // no border to add to a popup
    EXPECT_EQ(fitted.bottom - fitted.top, height);
    const RECT work = WorkAreaUnderCursor();
    EXPECT_EQ(fitted.left, work.left + (work.right - work.left - width) / 2);
    EXPECT_EQ(fitted.top, work.top + (work.bottom - work.top - height) / 2);

    // Larger than the screen: pinned to the work area's top left corner.
    const RECT huge = htmlui::FitWindowRect(window_, 20000, 20000);
    EXPECT_EQ(huge.left, work.left);
    EXPECT_EQ(huge.top, work.top);
}

TEST_F(HostWindowSizing, SameSizeTwiceMovesTheWindowOnce) {
    BridgeRef bridge;
    bridge->SetWindow(window_);
    bridge->SetWindowSize(400, 200);
    EXPECT_EQ(g_positionChanges, 1);
    bridge->SetWindowSize(400, 200);
    EXPECT_EQ(g_positionChanges, 1);

    RECT rect = {};
    ::GetWindowRect(window_, &rect);
    EXPECT_EQ(rect.right - rect.left, htmlui::ScaleToDpi(400, Dpi()));

    bridge->SetWindowSize(500, 200);
    EXPECT_EQ(g_positionChanges, 2);
    bridge->SetWindow(nullptr);
}

TEST_F(HostWindowSizing, DocumentCompleteSizesOnlyAnUnsizedWindow) {
    BridgeRef bridge;
    bridge->SetWindow(window_);
    bridge->DocumentComplete();
    RECT client = {};
    ::GetClientRect(window_, &client);
    EXPECT_EQ(client.right, htmlui::ScaleToDpi(400, Dpi()));
    EXPECT_EQ(client.bottom, htmlui::ScaleToDpi(200, Dpi()));

    bridge->SetWindowSize(300, 150);
    const int moves = g_positionChanges;
    bridge->DocumentComplete();   // the page sized it already
    EXPECT_EQ(g_positionChanges, moves);
    bridge->SetWindow(nullptr);
}

// A host window of this process (other tests' processes may have theirs open meanwhile).
static BOOL CALLBACK FindOwnHostWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (process != ::GetCurrentProcessId() || std::wstring(name) != L"HTMLUI") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

static HWND OwnHostWindow() {
    HWND found = nullptr;
    ::EnumWindows(FindOwnHostWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST(HostWindow, CreationFailsCleanlyWithoutAnHtmlEngine) {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    ASSERT_TRUE(htmlui::RegisterHostWindowClass());
    const ATOM atom = htmlui::HostWindowClassAtom();
    EXPECT_NE(atom, 0);
    EXPECT_TRUE(htmlui::RegisterHostWindowClass());
    EXPECT_EQ(htmlui::HostWindowClassAtom(), atom);

    TestApplication app;
    ExternalMethods methods(&app.App());
    BridgeRef bridge;
    bridge->AttachMethodTable(&methods);

    // This suite runs where the HTML engine is switched off, so creation must fail.
    EXPECT_FALSE(htmlui::RunHostWindow(L"Z:\\nowhere\\Load.html", bridge.bridge));
    EXPECT_EQ(bridge->Window(), nullptr);
    EXPECT_EQ(methods.WindowHandle(), nullptr);
    EXPECT_EQ(OwnHostWindow(), nullptr);
    // Without a start page nothing is even tried.
    EXPECT_FALSE(htmlui::RunHostWindow(nullptr, bridge.bridge));
    EXPECT_FALSE(htmlui::RequestHostWindowClose(::GetDesktopWindow()));
    EXPECT_EQ(bridge->AddRef(), 2u);   // the failed window kept no reference
    bridge->Release();
    ::CoUninitialize();
}

namespace {
// The site without a document, as the engine would see it.
class HostSite : public testing::Test {
protected:
    void SetUp() override {
        window_ = ::CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP, 0, 0, 320, 240, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        site_ = Adopt(new htmlui::MSHTMLClient(window_, bridge_.bridge));
    }
    void TearDown() override {
        site_.Reset();
        ::DestroyWindow(window_);
    }
    template <typename I>
    ComPtr<I> As() {
        ComPtr<I> result;
        EXPECT_EQ(site_->QueryInterface(IID_PPV_ARGS(&result)), S_OK);
        return result;
    }

    HWND window_ = nullptr;
    BridgeRef bridge_;
    ComPtr<htmlui::MSHTMLClient> site_;
};
} // namespace

TEST_F(HostSite, AnswersTheInterfacesItImplementsOnOneObject) {
    ComPtr<IUnknown> unknown = As<IUnknown>();
    EXPECT_EQ(ComPtr<IUnknown>(As<IDispatch>()).Get(), unknown.Get());
    As<IDocHostUIHandler>();
    As<IDocHostUIHandler2>();
    As<IDocHostShowUI>();
    As<IOleClientSite>();
    As<IOleDocumentSite>();
    As<IOleWindow>();
    As<IOleInPlaceSite>();
    As<IOleInPlaceSiteEx>();
    As<IOleInPlaceUIWindow>();
    As<IOleInPlaceFrame>();
    ComPtr<IHlinkFrame> hlinkFrame;
    EXPECT_EQ(site_->QueryInterface(IID_IHlinkFrame, &hlinkFrame), S_OK);
    As<IPropertyNotifySink>();
    As<IOleCommandTarget>();
    // Same identity whichever interface it is reached through.
    ComPtr<IUnknown> again;
    ASSERT_EQ(As<IOleInPlaceFrame>()->QueryInterface(IID_PPV_ARGS(&again)), S_OK);
    EXPECT_EQ(again.Get(), unknown.Get());

    // The security manager is served; nothing else is.
    ComPtr<IServiceProvider> service;
    ASSERT_EQ(site_->QueryInterface(IID_PPV_ARGS(&service)), S_OK);
    ComPtr<IInternetSecurityManager> manager;
    EXPECT_EQ(service->QueryService(IID_IInternetSecurityManager, IID_PPV_ARGS(&manager)), S_OK);
    ComPtr<IOleCommandTarget> notServed;
    EXPECT_EQ(service->QueryService(IID_IOleCommandTarget, IID_PPV_ARGS(&notServed)), E_NOINTERFACE);
    EXPECT_EQ(notServed.Get(), nullptr);
    ComPtr<IOleInPlaceSiteWindowless> windowless;
    EXPECT_EQ(site_->QueryInterface(IID_PPV_ARGS(&windowless)), E_NOINTERFACE);
    ComPtr<IOleControlSite> control;
    EXPECT_EQ(site_->QueryInterface(IID_PPV_ARGS(&control)), E_NOINTERFACE);
}

TEST_F(HostSite, UiHandlerHidesMostMenusAndEveryAlert) {
    auto handler = As<IDocHostUIHandler2>();
    for (DWORD kind = 0; kind <= 12; ++kind) {
        const bool engineMenu = kind == 2 || kind == 4 || kind == 9 || kind == 10;
        EXPECT_EQ(handler->ShowContextMenu(kind, nullptr, nullptr, nullptr), engineMenu ? S_FALSE : S_OK)
            << "menu kind " << kind;
    }

    DOCHOSTUIINFO info = {};
    info.cbSize = sizeof(info);
    info.pchHostCss = reinterpret_cast<OLECHAR*>(1);
    EXPECT_EQ(handler->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, 0x40250003u);
    EXPECT_EQ(info.dwDoubleClick, static_cast<DWORD>(DOCHOSTUIDBLCLK_DEFAULT));
    EXPECT_EQ(info.pchHostCss, nullptr);
    EXPECT_EQ(info.pchHostNS, nullptr);

    // No document, so no address inside the bundle: no bridge.
    ComPtr<IDispatch> external;
    EXPECT_EQ(handler->GetExternal(&external), S_FALSE);
    EXPECT_EQ(external.Get(), nullptr);

    // Alerts and the engine's message boxes never show.
    LRESULT answer = 0;
    EXPECT_EQ(As<IDocHostShowUI>()->ShowMessage(window_, const_cast<LPOLESTR>(L"hello"), nullptr, MB_OK, nullptr,
                                                 0, &answer),
              S_OK);

    // Ambient download control: images, video, background sound, resynchronise.
    utils::ScopedVariant ambient;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(As<IDispatch>()->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                      ambient.Receive(), nullptr, nullptr),
              S_OK);
    ASSERT_EQ(V_VT(&ambient.Get()), VT_I4);
    EXPECT_EQ(V_I4(&ambient.Get()), 0x2070);
    EXPECT_EQ(As<IDispatch>()->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                      ambient.Receive(), nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST_F(HostSite, CommandsSetTheTitleFromTextAndRefuseUnknownGroups) {
    auto target = As<IOleCommandTarget>();
    utils::ScopedVariant title;
    V_VT(title.Ptr()) = VT_BSTR;
    V_BSTR(title.Ptr()) = ::SysAllocString(L"Tandora Setup");
    EXPECT_EQ(target->Exec(nullptr, 28, 0, title.Ptr(), nullptr), S_OK);
    wchar_t text[64] = {};
    ::GetWindowTextW(window_, text, 64);
    EXPECT_STREQ(text, L"Tandora Setup");
    utils::ScopedVariant number;
    V_VT(number.Ptr()) = VT_I4;
    EXPECT_EQ(target->Exec(nullptr, 28, 0, number.Ptr(), nullptr), S_OK);   // not text: ignored
    ::GetWindowTextW(window_, text, 64);
    EXPECT_STREQ(text, L"Tandora Setup");
    EXPECT_EQ(target->Exec(nullptr, 27, 0, nullptr, nullptr), E_NOTIMPL);

    const GUID docHost = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
    EXPECT_EQ(target->Exec(&docHost, 6, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(target->Exec(&docHost, 6041, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(target->Exec(&docHost, 40, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(target->Exec(&IID_IUnknown, 6, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);
}

TEST_F(HostSite, InPlaceContextIsTheHostWindowAndItsWholeClientArea) {
    auto inPlace = As<IOleInPlaceSiteEx>();
    HWND window = nullptr;
    EXPECT_EQ(inPlace->GetWindow(&window), S_OK);
    EXPECT_EQ(window, window_);
    EXPECT_EQ(As<IOleInPlaceFrame>()->GetWindow(&window), S_OK);
    EXPECT_EQ(window, window_);

    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT position = {}, clip = {};
    OLEINPLACEFRAMEINFO info = {};
    info.cb = sizeof(info);
    EXPECT_EQ(inPlace->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
    EXPECT_EQ(frame.Get(), As<IOleInPlaceFrame>().Get());
    EXPECT_EQ(document.Get(), nullptr);
    EXPECT_EQ(position.right, 320);
    EXPECT_EQ(position.bottom, 240);
    EXPECT_TRUE(::EqualRect(&position, &clip));
    EXPECT_FALSE(info.fMDIApp);
    EXPECT_EQ(info.hwndFrame, window_);
    EXPECT_EQ(info.haccel, nullptr);

    // Without a document, readiness notices and links change nothing.
    EXPECT_EQ(As<IPropertyNotifySink>()->OnChanged(DISPID_READYSTATE), S_OK);
    ComPtr<IHlinkFrame> hlinkFrame;
    ASSERT_EQ(site_->QueryInterface(IID_IHlinkFrame, &hlinkFrame), S_OK);
    EXPECT_EQ(hlinkFrame->Navigate(0, nullptr, nullptr, nullptr), S_OK);
}
