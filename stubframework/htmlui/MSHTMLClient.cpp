#include "stubframework/htmlui/MSHTMLClient.h"
#include "stubframework/htmlui/BundleUrl.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/ShellLaunch.h"
#include "stubframework/utils/SystemLibrary.h"

#include <mshtmdid.h>
#include <urlmon.h>
#include <cstring>
#include <cwchar>
#include <memory>

using Microsoft::WRL::ComPtr;

namespace stubframework { namespace htmlui {

namespace {
// CGID_DocHostCommandHandler from <mshtmhst.h>; libuuid does not carry it.
const GUID kDocHostCommandHandler = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

// Images, video and background sound; pages are always fetched afresh.
const LONG kDownloadControl = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_RESYNCHRONIZE;
static_assert(kDownloadControl == 0x2070, "ambient download control");

const DWORD kHostFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU |
                         DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION | DOCHOSTUIFLAG_THEME |
                         DOCHOSTUIFLAG_NO3DOUTERBORDER | DOCHOSTUIFLAG_DPI_AWARE;
static_assert(kHostFlags == 0x40250003, "host UI flags");

const DWORD kSetTitle = 28;   // OLECMDID_SETTITLE

using utils::TaskMemText;

using CreateURLMonikerExFn = HRESULT(WINAPI*)(IMoniker*, LPCWSTR, IMoniker**, DWORD);
using RegisterBindStatusCallbackFn = HRESULT(WINAPI*)(IBindCtx*, IBindStatusCallback*, IBindStatusCallback**, DWORD);
using RevokeBindStatusCallbackFn = HRESULT(WINAPI*)(IBindCtx*, IBindStatusCallback*);

HRESULT OpenInDesktopBrowser(const std::wstring& url) { return utils::LaunchAsDesktopUser(url, std::wstring()); }

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    Fn fn = nullptr;
    utils::LoadProc(module, name, fn);
    return fn;
}
} // namespace

MSHTMLClient::MSHTMLClient(HWND window, core::HtmlExternal* bridge, const std::wstring& bundleFolder)
    : window_(window), bridge_(bridge), bundleFolder_(bundleFolder), openInBrowser_(OpenInDesktopBrowser) {}

bool MSHTMLClient::DocumentInsideBundle() {
    utils::ScopedBstr current;
    return document_ && SUCCEEDED(document_->get_URL(current.Receive())) && current.Get() &&
           IsInsideBundle(current.Text(), bundleFolder_);
}

void MSHTMLClient::Notice(const std::wstring& text) {
    if (bridge_) bridge_->Notice(text.c_str());
}

MSHTMLClient::~MSHTMLClient() { CloseDocument(); }

RECT MSHTMLClient::ClientRect() const {
    RECT rect = {};
    if (window_) ::GetClientRect(window_, &rect);
    return rect;
}

void MSHTMLClient::Detach() {
    window_ = nullptr;
    bridge_ = nullptr;
}

// ---- Document lifetime ----

bool MSHTMLClient::CreateDocument() {
    ComPtr<IHTMLDocument2> document;
    if (FAILED(::CoCreateInstance(__uuidof(HTMLDocument), nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&document))))
        return false;
    CloseDocument();
    document_ = document;

    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (FAILED(document_.As(&container)) ||
        FAILED(container->FindConnectionPoint(__uuidof(IPropertyNotifySink), &point)) ||
        FAILED(point->Advise(static_cast<IPropertyNotifySink*>(this), &sinkCookie_))) {
        sinkCookie_ = 0;
        return false;
    }

    ComPtr<IOleObject> object;
    if (FAILED(document_.As(&object))) return false;
    IOleClientSite* site = static_cast<IOleClientSite*>(this);
    if (FAILED(object->SetClientSite(site))) return false;
    RECT rect = ClientRect();
    return SUCCEEDED(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, window_, &rect));
}

bool MSHTMLClient::Navigate(const wchar_t* path) {
    if (!document_ || !path) return false;
    if (!urlmon_) urlmon_.Reset(utils::LoadSystemLibrary(L"urlmon.dll"));
    const auto createMoniker = Lookup<CreateURLMonikerExFn>(urlmon_.Get(), "CreateURLMonikerEx");
    ComPtr<IMoniker> moniker;
    ComPtr<IBindCtx> bindContext;
    if (!createMoniker || FAILED(createMoniker(nullptr, path, &moniker, URL_MK_UNIFORM)) ||
        FAILED(::CreateBindCtx(0, &bindContext)))
        return false;
    return LoadMoniker(moniker.Get(), bindContext.Get());
}

bool MSHTMLClient::LoadMoniker(IMoniker* moniker, IBindCtx* bindContext) {
    ComPtr<IPersistMoniker> persist;
    return document_ && SUCCEEDED(document_.As(&persist)) &&
           SUCCEEDED(persist->Load(FALSE, moniker, bindContext, STGM_READ));
}

void MSHTMLClient::Resize() {
    RECT rect = ClientRect();
    if (view_) {
        view_->SetRect(&rect);
        return;
    }
    ComPtr<IOleInPlaceObject> inPlace;
    if (document_ && SUCCEEDED(document_.As(&inPlace))) inPlace->SetObjectRects(&rect, &rect);
}

void MSHTMLClient::CloseDocument() {
    if (view_) {
        view_->CloseView(0);
        view_.Reset();
    }
    if (sinkCookie_ && document_) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(document_.As(&container)) &&
            SUCCEEDED(container->FindConnectionPoint(__uuidof(IPropertyNotifySink), &point)))
            point->Unadvise(sinkCookie_);
    }
    sinkCookie_ = 0;
    if (document_) {
        ComPtr<IOleObject> object;
        if (SUCCEEDED(document_.As(&object))) object->SetClientSite(nullptr);
        document_.Reset();
    }
}

HRESULT MSHTMLClient::TranslateDocumentAccelerator(MSG* message) {
    ComPtr<IOleInPlaceActiveObject> active;
    if (!document_ || FAILED(document_.As(&active))) return S_FALSE;
    return active->TranslateAccelerator(message);
}

// ---- IUnknown ----

STDMETHODIMP MSHTMLClient::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch)
        *object = static_cast<IDispatch*>(this);
    else if (riid == __uuidof(IDocHostUIHandler) || riid == __uuidof(IDocHostUIHandler2))
        *object = static_cast<IDocHostUIHandler2*>(this);
    else if (riid == __uuidof(IDocHostShowUI))
        *object = static_cast<IDocHostShowUI*>(this);
    else if (riid == IID_IOleClientSite)
        *object = static_cast<IOleClientSite*>(this);
    else if (riid == __uuidof(IOleDocumentSite))
        *object = static_cast<IOleDocumentSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite || riid == __uuidof(IOleInPlaceSiteEx))
        *object = static_cast<IOleInPlaceSiteEx*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
        *object = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IHlinkFrame)
        *object = static_cast<IHlinkFrame*>(this);
    else if (riid == IID_IPropertyNotifySink)
        *object = static_cast<IPropertyNotifySink*>(this);
    else if (riid == __uuidof(IOleCommandTarget))
        *object = static_cast<IOleCommandTarget*>(this);
    else if (riid == IID_IServiceProvider)
        *object = static_cast<IServiceProvider*>(this);
    else if (riid == IID_IInternetSecurityManager)
        *object = static_cast<IInternetSecurityManager*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) MSHTMLClient::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) MSHTMLClient::Release() {
    const ULONG count = --references_;
    if (count == 0) {
        // Closing the document may take and drop references to this object; they must not
        // reach 0 a second time.
        references_ = 1;
        delete this;
    }
    return count;
}

// ---- IDispatch: ambient properties ----

STDMETHODIMP MSHTMLClient::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
    if (id != DISPID_AMBIENT_DLCONTROL) return DISP_E_MEMBERNOTFOUND;
    if (result) {
        ::VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = kDownloadControl;
    }
    return S_OK;
}

// ---- IDocHostUIHandler2 ----

STDMETHODIMP MSHTMLClient::ShowContextMenu(DWORD kind, POINT*, IUnknown*, IDispatch*) {
    // Text boxes and scroll bars keep the engine's own menu; everything else gets none.
    switch (kind) {
    case CONTEXT_MENU_CONTROL:
    case CONTEXT_MENU_TEXTSELECT:
    case CONTEXT_MENU_VSCROLL:
    case CONTEXT_MENU_HSCROLL:
        return S_FALSE;
    default:
        return S_OK;
    }
}

STDMETHODIMP MSHTMLClient::GetHostInfo(DOCHOSTUIINFO* info) {
    if (!info) return E_POINTER;
    info->dwFlags = kHostFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
}

STDMETHODIMP MSHTMLClient::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                  IOleInPlaceUIWindow*) {
    return S_FALSE;
}
STDMETHODIMP MSHTMLClient::HideUI() { return S_OK; }
STDMETHODIMP MSHTMLClient::UpdateUI() { return S_OK; }
STDMETHODIMP MSHTMLClient::EnableModeless(BOOL) { return S_OK; }
STDMETHODIMP MSHTMLClient::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (key) *key = nullptr;
    return S_FALSE;
}

STDMETHODIMP MSHTMLClient::GetDropTarget(IDropTarget*, IDropTarget** replacement) {
    if (replacement) *replacement = nullptr;
    return E_FAIL;
}

STDMETHODIMP MSHTMLClient::GetExternal(IDispatch** external) {
    if (!external) return E_POINTER;
    *external = nullptr;
    if (!bridge_) return S_FALSE;
    // Asked for by whatever document is shown: only the bundle's own pages get it.
    if (!DocumentInsideBundle()) {
        utils::ScopedBstr current;
        if (document_) document_->get_URL(current.Receive());
        Notice(L"window.external refused to " + WithoutQuery(current.Get() ? current.Text() : std::wstring()));
        return S_FALSE;
    }
    *external = static_cast<IDispatchEx*>(bridge_);
    (*external)->AddRef();
    return S_OK;
}

STDMETHODIMP MSHTMLClient::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) {
    if (translated) *translated = nullptr;
    return S_FALSE;
}

STDMETHODIMP MSHTMLClient::FilterDataObject(IDataObject*, IDataObject** filtered) {
    if (filtered) *filtered = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP MSHTMLClient::GetOverrideKeyPath(LPOLESTR* key, DWORD) {
    if (key) *key = nullptr;
    return S_FALSE;
}

// ---- IDocHostShowUI: script alerts and the engine's message boxes never appear ----

STDMETHODIMP MSHTMLClient::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT*) { return S_OK; }
STDMETHODIMP MSHTMLClient::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) { return E_NOTIMPL; }

// ---- IOleClientSite ----

STDMETHODIMP MSHTMLClient::SaveObject() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP MSHTMLClient::GetContainer(IOleContainer** container) {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP MSHTMLClient::ShowObject() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnShowWindow(BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::RequestNewObjectLayout() { return E_NOTIMPL; }

// ---- IOleDocumentSite ----

STDMETHODIMP MSHTMLClient::ActivateMe(IOleDocumentView* view) {
    if (view) {
        view->SetInPlaceSite(static_cast<IOleInPlaceSiteEx*>(this));
        RECT rect = ClientRect();
        view->SetRect(&rect);
        view->UIActivate(TRUE);
        view->Show(TRUE);
        view_ = view;
        return S_OK;
    }
    ComPtr<IOleDocument> document;
    ComPtr<IOleDocumentView> created;
    if (document_ && SUCCEEDED(document_.As(&document)) &&
        SUCCEEDED(document->CreateView(static_cast<IOleInPlaceSiteEx*>(this), nullptr, 0, &created)))
        ActivateMe(created.Get());
    return S_OK;
}

// ---- IOleWindow, IOleInPlaceSiteEx ----

STDMETHODIMP MSHTMLClient::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = window_;
    return S_OK;
}
STDMETHODIMP MSHTMLClient::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::CanInPlaceActivate() { return S_OK; }
STDMETHODIMP MSHTMLClient::OnInPlaceActivate() { return S_OK; }
STDMETHODIMP MSHTMLClient::OnUIActivate() { return S_OK; }

STDMETHODIMP MSHTMLClient::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                            LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    if (!frame || !document || !position || !clip || !info) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    *position = ClientRect();
    *clip = *position;
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP MSHTMLClient::Scroll(SIZE) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnUIDeactivate(BOOL) { return S_OK; }
STDMETHODIMP MSHTMLClient::OnInPlaceDeactivate() { return S_OK; }
STDMETHODIMP MSHTMLClient::DiscardUndoState() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::DeactivateAndUndo() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnPosRectChange(LPCRECT) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnInPlaceActivateEx(BOOL* noRedraw, DWORD) {
    if (noRedraw) *noRedraw = TRUE;
    return S_OK;
}
STDMETHODIMP MSHTMLClient::OnInPlaceDeactivateEx(BOOL) { return S_OK; }
STDMETHODIMP MSHTMLClient::RequestUIActivate() { return S_OK; }

// ---- IOleInPlaceFrame ----

STDMETHODIMP MSHTMLClient::GetBorder(LPRECT) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::RequestBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) { return S_OK; }
STDMETHODIMP MSHTMLClient::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetMenu(HMENU, HOLEMENU, HWND) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::RemoveMenus(HMENU) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetStatusText(LPCOLESTR) { return S_OK; }
STDMETHODIMP MSHTMLClient::TranslateAccelerator(LPMSG, WORD) { return E_NOTIMPL; }

// ---- IHlinkFrame ----

STDMETHODIMP MSHTMLClient::SetBrowseContext(IHlinkBrowseContext*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetBrowseContext(IHlinkBrowseContext**) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::Navigate(DWORD, LPBC bindContext, IBindStatusCallback* callback, IHlink* link) {
    if (!link) return S_OK;
    wchar_t* rawTarget = nullptr;
    link->GetStringReference(HLINKGETREF_DEFAULT, &rawTarget, nullptr);
    TaskMemText target(rawTarget);
    wchar_t* rawFrame = nullptr;
    link->GetTargetFrameName(&rawFrame);
    TaskMemText frame(rawFrame);

    // A link to the page already shown does nothing.
    utils::ScopedBstr current;
    if (document_ && SUCCEEDED(document_->get_URL(current.Receive())) && target &&
        current.Text() == target.get())
        return S_OK;

    ComPtr<IMoniker> moniker;
    if (FAILED(link->GetMonikerReference(HLINKGETREF_DEFAULT, &moniker, nullptr)) || !moniker) return S_OK;
    // The moniker is what would be loaded: its name decides, not the link's text.
    ComPtr<IBindCtx> nameContext;
    wchar_t* rawName = nullptr;
    if (FAILED(::CreateBindCtx(0, &nameContext)) ||
        FAILED(moniker->GetDisplayName(nameContext.Get(), nullptr, &rawName)) || !rawName)
        return S_OK;
    TaskMemText name(rawName);
    const std::wstring address = name.get();
    const bool newWindow = frame && *frame.get() && ::lstrcmpiW(frame.get(), L"_self") != 0 &&
                           ::lstrcmpiW(frame.get(), L"_top") != 0 && ::lstrcmpiW(frame.get(), L"_parent") != 0;
    switch (ClassifyLink(address, bundleFolder_)) {
    case LinkAction::LoadInWindow:
        break;
    case LinkAction::OpenInBrowser: {
        // Web pages belong in the user's browser, run as the user, never in this window; without
        // a desktop shell they stay closed, since from here they would run elevated.
        const bool opened = openInBrowser_ && SUCCEEDED(openInBrowser_(address));
        Notice((opened ? L"Link opened in the browser: " : L"Link not opened: ") + WithoutQuery(address));
        return S_OK;
    }
    case LinkAction::Refuse:
        Notice(std::wstring(newWindow ? L"New window refused: " : L"Link refused: ") + WithoutQuery(address));
        return S_OK;
    }
    if (!CreateDocument()) return S_OK;
    if (!urlmon_) urlmon_.Reset(utils::LoadSystemLibrary(L"urlmon.dll"));
    const auto registerCallback = Lookup<RegisterBindStatusCallbackFn>(urlmon_.Get(), "RegisterBindStatusCallback");
    const auto revokeCallback = Lookup<RevokeBindStatusCallbackFn>(urlmon_.Get(), "RevokeBindStatusCallback");
    ComPtr<IBindStatusCallback> previous;
    const bool registered = bindContext && callback && registerCallback &&
                            SUCCEEDED(registerCallback(bindContext, callback, &previous, 0));
    LoadMoniker(moniker.Get(), bindContext);
    if (registered && revokeCallback) revokeCallback(bindContext, callback);
    return S_OK;
}

// ---- IServiceProvider, IInternetSecurityManager ----

STDMETHODIMP MSHTMLClient::QueryService(REFGUID service, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (service != IID_IInternetSecurityManager) return E_NOINTERFACE;
    return QueryInterface(riid, object);
}

STDMETHODIMP MSHTMLClient::SetSecuritySite(IInternetSecurityMgrSite*) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP MSHTMLClient::GetSecuritySite(IInternetSecurityMgrSite**) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP MSHTMLClient::MapUrlToZone(LPCWSTR, DWORD*, DWORD) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP MSHTMLClient::GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) { return INET_E_DEFAULT_ACTION; }

STDMETHODIMP MSHTMLClient::ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE*, DWORD,
                                            DWORD, DWORD) {
    const bool script = action >= URLACTION_SCRIPT_MIN && action <= URLACTION_SCRIPT_MAX;
    const bool control = (action >= URLACTION_ACTIVEX_MIN && action <= URLACTION_ACTIVEX_MAX) ||
                         (action >= URLACTION_DOWNLOAD_MIN && action <= URLACTION_DOWNLOAD_MAX) ||
                         (action >= URLACTION_JAVA_MIN && action <= URLACTION_JAVA_MAX);
    if (!script && !control) return INET_E_DEFAULT_ACTION;
    const bool inside = url && IsInsideBundle(url, bundleFolder_);
    if (control && inside) return INET_E_DEFAULT_ACTION;
    if (!policy || policySize < sizeof(DWORD)) return E_INVALIDARG;
    const DWORD answer = inside ? URLPOLICY_ALLOW : URLPOLICY_DISALLOW;
    std::memcpy(policy, &answer, sizeof(answer));
    return inside ? S_OK : S_FALSE;
}

STDMETHODIMP MSHTMLClient::QueryCustomPolicy(LPCWSTR, REFGUID, BYTE**, DWORD*, BYTE*, DWORD, DWORD) {
    return INET_E_DEFAULT_ACTION;
}
STDMETHODIMP MSHTMLClient::SetZoneMapping(DWORD, LPCWSTR, DWORD) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP MSHTMLClient::GetZoneMappings(DWORD, IEnumString**, DWORD) { return INET_E_DEFAULT_ACTION; }

STDMETHODIMP MSHTMLClient::OnNavigate(DWORD, IMoniker*, LPCWSTR, LPCWSTR, DWORD) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::UpdateHlink(ULONG, IMoniker*, LPCWSTR, LPCWSTR) { return E_NOTIMPL; }

// ---- IPropertyNotifySink ----

STDMETHODIMP MSHTMLClient::OnChanged(DISPID id) {
    if (id != DISPID_READYSTATE || !bridge_ || !document_) return S_OK;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    utils::ScopedVariant state;
    if (SUCCEEDED(document_->Invoke(DISPID_READYSTATE, IID_NULL, 2048, DISPATCH_PROPERTYGET, &none,
                                    state.Receive(), nullptr, nullptr)) &&
        V_VT(&state.Get()) == VT_I4 && V_I4(&state.Get()) == READYSTATE_COMPLETE)
        bridge_->DocumentComplete();
    return S_OK;
}

STDMETHODIMP MSHTMLClient::OnRequestEdit(DISPID) { return S_OK; }

// ---- IOleCommandTarget ----

STDMETHODIMP MSHTMLClient::QueryStatus(const GUID*, ULONG, OLECMD[], OLECMDTEXT*) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::Exec(const GUID* group, DWORD id, DWORD, VARIANT* in, VARIANT*) {
    if (!group) {
        if (id != kSetTitle) return E_NOTIMPL;
        // The document title becomes the window text, shown on the taskbar button.
        if (in && V_VT(in) == VT_BSTR && window_) ::SetWindowTextW(window_, V_BSTR(in) ? V_BSTR(in) : L"");
        return S_OK;
    }
    if (*group == kDocHostCommandHandler) {
        // Accepted and ignored, so the engine shows nothing of its own for them.
        return (id == 6 || id == 6041) ? S_OK : OLECMDERR_E_NOTSUPPORTED;
    }
    return OLECMDERR_E_UNKNOWNGROUP;
}

}} // namespace stubframework::htmlui
