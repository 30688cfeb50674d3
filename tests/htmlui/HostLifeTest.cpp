// The host window's whole life against a stand-in HTML document: the stand-in is registered for
// the document's class in this test's own prefix, so the host's unchanged code creates it,
// activates it, loads the start page into it and hears it finish; the stand-in then plays what
// a hostile page would do.
#include <gtest/gtest.h>

#include "stubframework/core/HtmlExternal.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/htmlui/MSHTMLClient.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "tests/htmlui/TestSupport.h"
#include "tests/support/TempFolder.h"

#include <wrl/client.h>
#include <string>
#include <vector>

using namespace stubframework;
using namespace htmluitest;
using Microsoft::WRL::ComPtr;

namespace {
const wchar_t kDocumentServer[] =
    L"Software\\Classes\\CLSID\\{25336920-03F9-11CF-8FD0-00AA00686F13}\\InprocServer32";

using TakeCallsFn = int(WINAPI*)(wchar_t*, int);
using PlayFn = HRESULT(WINAPI*)(const wchar_t*, const wchar_t*, const wchar_t*);

std::vector<std::wstring> g_opened;   // what the host handed to the browser
HRESULT RecordBrowser(const std::wstring& url) {
    g_opened.push_back(url);
    return S_OK;
}

std::vector<std::wstring> g_notices;
void RecordNotice(void*, const wchar_t* text) { g_notices.push_back(text); }

// Machine-wide, as the system reads it; what was there before is put back.
class DocumentRegistration {
public:
    DocumentRegistration() {
        utils::ScopedRegKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDocumentServer, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS) {
            wchar_t value[MAX_PATH] = {};
            DWORD size = sizeof(value) - sizeof(wchar_t);
            had_ = ::RegQueryValueExW(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
                   ERROR_SUCCESS;
            previous_ = value;
        }
        Write(TANDORA_STANDIN_DOCUMENT);
    }
    ~DocumentRegistration() {
        if (had_) {
            Write(previous_.c_str());
        } else {
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kDocumentServer);
        }
    }

private:
    static void Write(const wchar_t* path) {
        utils::ScopedRegKey key;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDocumentServer, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.Receive(), nullptr) != ERROR_SUCCESS)
            return;
        ::RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                         static_cast<DWORD>((::lstrlenW(path) + 1) * sizeof(wchar_t)));
        ::RegSetValueExW(key.Get(), L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Apartment"),
                         10 * sizeof(wchar_t));
    }
    bool had_ = false;
    std::wstring previous_;
};

class HostLife : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        g_opened.clear();
        g_notices.clear();
        bundle_ = temp_.Path() + L"bundle\\";
        ASSERT_TRUE(utils::CreateFolderTree(bundle_));
        // A zero-size window: the finished page gives it its first size.
        window_ = ::CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        bridge_->SetWindow(window_);
        bridge_->SetNoticeSink(RecordNotice, nullptr);
        site_ = Adopt(new htmlui::MSHTMLClient(window_, bridge_.bridge, bundle_));
        site_->SetBrowserOpener(RecordBrowser);
        {
            ComPtr<IUnknown> probe;
            ASSERT_EQ(::CoCreateInstance(__uuidof(HTMLDocument), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&probe)),
                      S_OK)
                << "the stand-in is not registered for the document's class";
        }
        ASSERT_TRUE(site_->CreateDocument());
        standIn_ = ::GetModuleHandleW(L"standin_document.dll");
        ASSERT_NE(standIn_, nullptr) << "the host created something else than the stand-in";
        take_ = reinterpret_cast<TakeCallsFn>(reinterpret_cast<void*>(::GetProcAddress(standIn_, "StandInTakeCalls")));
        play_ = reinterpret_cast<PlayFn>(reinterpret_cast<void*>(::GetProcAddress(standIn_, "StandInPlay")));
        ASSERT_TRUE(take_ && play_);
    }
    void TearDown() override {
        if (site_) site_->CloseDocument();
        site_.Reset();
        bridge_->SetNoticeSink(nullptr, nullptr);
        bridge_->SetWindow(nullptr);
        if (window_) ::DestroyWindow(window_);
        ::CoUninitialize();
    }

    std::wstring Calls() {
        std::vector<wchar_t> buffer(take_(nullptr, 0) + 1);
        take_(buffer.data(), static_cast<int>(buffer.size()));
        return buffer.data();
    }
    // The page has loaded and says so.
    void OpenStartPage() {
        ASSERT_TRUE(site_->Navigate((bundle_ + L"Load.html").c_str()));
        ASSERT_EQ(play_(L"complete", nullptr, nullptr), S_OK);
        Calls();
    }
    static bool Has(const std::wstring& calls, const std::wstring& line) {
        return calls.find(line + L"\n") != std::wstring::npos;
    }

    DocumentRegistration registration_;
    testsupport::TempFolder temp_;
    std::wstring bundle_;
    HWND window_ = nullptr;
    BridgeRef bridge_;
    ComPtr<htmlui::MSHTMLClient> site_;
    HMODULE standIn_ = nullptr;
    TakeCallsFn take_ = nullptr;
    PlayFn play_ = nullptr;
};
} // namespace

TEST_F(HostLife, CreatedActivatedLoadedCompletedAndClosed) {
    const std::wstring created = Calls();
    EXPECT_TRUE(Has(created, L"Create")) << testing::PrintToString(created);
    EXPECT_TRUE(Has(created, L"Advise"));
    EXPECT_TRUE(Has(created, L"SetClientSite"));
    // In place, in the host's window, over its client area.
    EXPECT_TRUE(Has(created, L"DoVerb -5 can=00000000 context=00000000 window=1 rect=0x0")) << testing::PrintToString(created);

    ASSERT_TRUE(site_->Navigate((bundle_ + L"Load.html").c_str()));
    const std::wstring loaded = Calls();
    EXPECT_NE(loaded.find(L"Load file:"), std::wstring::npos) << testing::PrintToString(loaded);
    EXPECT_NE(loaded.find(L"Load.html\n"), std::wstring::npos);

    RECT client = {};
    ::GetClientRect(window_, &client);
    EXPECT_EQ(client.right, 0);
    ASSERT_EQ(play_(L"complete", nullptr, nullptr), S_OK);
    EXPECT_TRUE(Has(Calls(), L"readyState"));
    ::GetClientRect(window_, &client);
    EXPECT_EQ(client.right, 400) << "document complete gives the empty window its first size";
    EXPECT_EQ(client.bottom, 200);

    // Keys go to the document first; what it does not take stays with the host.
    MSG tab = {window_, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    MSG letter = {window_, WM_CHAR, L'a', 0, 0, {0, 0}};
    EXPECT_EQ(site_->TranslateDocumentAccelerator(&tab), S_OK);
    EXPECT_EQ(site_->TranslateDocumentAccelerator(&letter), S_FALSE);
    site_->Resize();
    const std::wstring keys = Calls();
    EXPECT_TRUE(Has(keys, L"TranslateAccelerator 256"));
    EXPECT_TRUE(Has(keys, L"TranslateAccelerator 258"));
    EXPECT_TRUE(Has(keys, L"SetObjectRects 400x200"));

    site_->CloseDocument();
    const std::wstring closed = Calls();
    EXPECT_TRUE(Has(closed, L"Unadvise"));
    EXPECT_TRUE(Has(closed, L"SetClientSite null"));
    EXPECT_TRUE(Has(closed, L"Destroy")) << "the host kept a reference: " << testing::PrintToString(closed);
}

// window.external goes only to the bundle's own pages, whatever address the document shows now.
TEST_F(HostLife, TheBridgeFollowsTheDocumentsAddress) {
    OpenStartPage();
    struct Step {
        const wchar_t* url;   // nullptr: as loaded
        bool granted;
    };
    const std::wstring outside = temp_.Path() + L"elsewhere\\Load.html";
    const std::wstring lookAlike = temp_.Path() + L"bundleX\\Load.html";
    const Step steps[] = {
        {nullptr, true},
        {L"http://evil.test/eula.html", false},
        {L"https://evil.test/", false},
        {outside.c_str(), false},
        {lookAlike.c_str(), false},
        {L"file://evil.test/share/Load.html", false},
        {L"res://ieframe.dll/navcancl.htm", false},
    };
    for (const Step& step : steps) {
        if (step.url) {
            ASSERT_EQ(play_(L"url", step.url, nullptr), S_OK);
        }
        play_(L"external", nullptr, nullptr);
        const std::wstring calls = Calls();
        EXPECT_NE(calls.find(step.granted ? L"granted" : L"none"), std::wstring::npos)
            << testing::PrintToString(std::wstring(step.url ? step.url : L"start page")) << " " << testing::PrintToString(calls);
    }
    ASSERT_FALSE(g_notices.empty());
    EXPECT_EQ(g_notices[0], L"window.external refused to http://evil.test/eula.html");
}

// Links and new windows: the bundle's pages load in the window, web pages go to the user's
// browser, and nothing else loads anywhere.
TEST_F(HostLife, LinksLeaveTheWindowOnlyForTheBrowser) {
    OpenStartPage();
    const std::wstring inside = L"file:///" + bundle_ + L"pages\\eula.html";
    const std::wstring outsideFile = L"file:///" + temp_.Path() + L"evil.html";
    struct Link {
        std::wstring target;
        const wchar_t* frame;
        bool loads;      // a new document in the window
        bool browser;    // handed to the browser
    };
    const Link links[] = {
        {L"http://example.test/more?token=1", L"", false, true},
        {L"https://example.test/", L"_blank", false, true},
        {outsideFile, L"", false, false},
        {outsideFile, L"_blank", false, false},
        {L"\\\\evil.test\\share\\x.html", L"", false, false},
        {L"res://ieframe.dll/navcancl.htm", L"", false, false},
        {inside, L"", true, false},
        {inside, L"_blank", true, false},
    };
    for (const Link& link : links) {
        g_opened.clear();
        play_(L"link", link.target.c_str(), link.frame);
        const std::wstring calls = Calls();
        const std::string label = testing::PrintToString(link.target) + " frame " +
                                  testing::PrintToString(std::wstring(link.frame)) + " " + testing::PrintToString(calls);
        EXPECT_TRUE(Has(calls, L"Navigate 00000000")) << label;
        EXPECT_EQ(calls.find(L"Load ") != std::wstring::npos, link.loads) << label;
        EXPECT_EQ(g_opened.size(), link.browser ? 1u : 0u) << label;
        if (link.loads) {
            // The new document is the bundle page; play on from the start page again.
            OpenStartPage();
        }
    }
    EXPECT_EQ(g_opened.size(), 0u);
    bool refusedLogged = false;
    for (const std::wstring& notice : g_notices)
        if (notice.find(L"New window refused: file:") == 0) refusedLogged = true;
    EXPECT_TRUE(refusedLogged);
}

// Script, controls and downloads: allowed only for the bundle.
TEST_F(HostLife, SecurityManagerAllowsScriptOnlyForTheBundle) {
    ComPtr<IServiceProvider> services;
    ASSERT_EQ(site_->QueryInterface(IID_PPV_ARGS(&services)), S_OK);
    ComPtr<IInternetSecurityManager> manager;
    ASSERT_EQ(services->QueryService(IID_IInternetSecurityManager, IID_PPV_ARGS(&manager)), S_OK);
    ComPtr<IUnknown> other;
    EXPECT_EQ(services->QueryService(IID_IOleCommandTarget, IID_PPV_ARGS(&other)), E_NOINTERFACE);

    const std::wstring page = L"file:///" + bundle_ + L"Load.html";
    struct Action {
        const wchar_t* url;
        DWORD action;
        HRESULT answer;
        DWORD policy;   // read only when the answer is not the default action
    };
    const Action actions[] = {
        {page.c_str(), URLACTION_SCRIPT_RUN, S_OK, URLPOLICY_ALLOW},
        {L"http://evil.test/", URLACTION_SCRIPT_RUN, S_FALSE, URLPOLICY_DISALLOW},
        {L"file:///C:/evil.html", URLACTION_SCRIPT_RUN, S_FALSE, URLPOLICY_DISALLOW},
        {L"http://evil.test/", URLACTION_ACTIVEX_RUN, S_FALSE, URLPOLICY_DISALLOW},
        {L"http://evil.test/", URLACTION_DOWNLOAD_SIGNED_ACTIVEX, S_FALSE, URLPOLICY_DISALLOW},
        {page.c_str(), URLACTION_ACTIVEX_RUN, INET_E_DEFAULT_ACTION, 0},
        {L"http://evil.test/", URLACTION_HTML_FONT_DOWNLOAD, INET_E_DEFAULT_ACTION, 0},
    };
    for (const Action& a : actions) {
        DWORD policy = 0xFFFF;
        EXPECT_EQ(manager->ProcessUrlAction(a.url, a.action, reinterpret_cast<BYTE*>(&policy), sizeof(policy), nullptr,
                                            0, 0, 0),
                  a.answer)
            << testing::PrintToString(std::wstring(a.url)) << " action " << a.action;
        if (a.answer != INET_E_DEFAULT_ACTION) {
            EXPECT_EQ(policy, a.policy);
        }
    }
}

namespace {
// Runs inside the host window's own message loop: the page finishes, a key goes through the
// loop, and the user closes the window.
void CALLBACK PlayThenClose(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    const HMODULE standIn = ::GetModuleHandleW(L"standin_document.dll");
    const HWND window = ::FindWindowW(L"HTMLUI", nullptr);
    const auto play =
        standIn ? reinterpret_cast<PlayFn>(reinterpret_cast<void*>(::GetProcAddress(standIn, "StandInPlay"))) : nullptr;
    if (play) play(L"complete", nullptr, nullptr);
    if (window) {
        ::PostMessageW(window, WM_KEYDOWN, VK_TAB, 0);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
}
} // namespace

// The shipping entry of the window: created on the start page, shown, fed keys, closed.
TEST(HostWindowLife, RunsFromStartPageToClose) {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    {
        DocumentRegistration registration;
        testsupport::TempFolder temp;
        BridgeRef bridge;
        const std::wstring startPage = temp.Path() + L"Load.html";
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 200, PlayThenClose);
        ASSERT_NE(timer, 0u);
        EXPECT_TRUE(htmlui::RunHostWindow(startPage.c_str(), bridge.bridge));

        const HMODULE standIn = ::GetModuleHandleW(L"standin_document.dll");
        ASSERT_NE(standIn, nullptr);
        const auto take =
            reinterpret_cast<TakeCallsFn>(reinterpret_cast<void*>(::GetProcAddress(standIn, "StandInTakeCalls")));
        std::vector<wchar_t> buffer(take(nullptr, 0) + 1);
        take(buffer.data(), static_cast<int>(buffer.size()));
        const std::wstring calls = buffer.data();
        const std::string shown = testing::PrintToString(calls);
        // In this order: made, activated in place, loaded, finished, fed a key, let go.
        const wchar_t* const order[] = {L"Create\n",    L"Advise\n",   L"SetClientSite\n", L"DoVerb -5",
                                        L"Load file:",  L"Load.html\n", L"readyState\n",   L"TranslateAccelerator 256\n",
                                        L"Unadvise\n",  L"SetClientSite null\n", L"Destroy\n"};
        size_t at = 0;
        for (const wchar_t* step : order) {
            const size_t found = calls.find(step, at);
            ASSERT_NE(found, std::wstring::npos) << testing::PrintToString(std::wstring(step)) << " in " << shown;
            at = found;
        }
        RECT client = {};
        EXPECT_EQ(::GetClientRect(::FindWindowW(L"HTMLUI", nullptr), &client), FALSE) << "the window is gone";
    }
    ::CoUninitialize();
}
