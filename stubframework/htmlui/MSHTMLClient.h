// The OLE container site that hosts the MSHTML document in the host window: it decides which
// browser features the page gets, hands it window.external, follows hyperlinks itself and
// reports when the document has loaded. UI thread only.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <docobj.h>
#include <ocidl.h>
#include <hlink.h>
#include <mshtml.h>
#include <mshtmhst.h>
#include <servprov.h>
#include <urlmon.h>
#include <string>
#include <wrl/client.h>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace core { class HtmlExternal; } }

namespace stubframework { namespace htmlui {

class MSHTMLClient final : public IDispatch,
                     public IDocHostUIHandler2,
                     public IDocHostShowUI,
                     public IOleClientSite,
                     public IOleDocumentSite,
                     public IOleInPlaceSiteEx,
                     public IOleInPlaceFrame,
                     public IHlinkFrame,
                     public IPropertyNotifySink,
                     public IOleCommandTarget,
                     public IServiceProvider,
                     public IInternetSecurityManager {
public:
    // Starts with one reference, the caller's. Only documents below bundleFolder (the unpacked
    // UI bundle) get the bridge, run script or are loaded in the window.
    MSHTMLClient(HWND window, core::HtmlExternal* bridge, const std::wstring& bundleFolder = std::wstring());
    MSHTMLClient(const MSHTMLClient&) = delete;
    MSHTMLClient& operator=(const MSHTMLClient&) = delete;

    // A fresh document, replacing any held before, advised and activated in place.
    bool CreateDocument();
    // Loads the start page through a URL moniker; the page then loads asynchronously.
    bool Navigate(const wchar_t* path);
    void Resize();
    void CloseDocument();
    // Gives the document the first look at a message; S_OK means it consumed it.
    HRESULT TranslateDocumentAccelerator(MSG* message);
    // The window is going away: no more calls into it or the bridge.
    void Detach();
    // Opens a web address in the user's browser, as the desktop user; replaceable for tests.
    using BrowserOpener = HRESULT (*)(const std::wstring& url);
    void SetBrowserOpener(BrowserOpener opener) { openInBrowser_ = opener; }

    // IUnknown (shared by all interfaces; not interlocked: UI thread only)
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch: ambient properties
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IDocHostUIHandler2
    STDMETHODIMP ShowContextMenu(DWORD kind, POINT* point, IUnknown* target, IDispatch* object) override;
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
    STDMETHODIMP ShowUI(DWORD id, IOleInPlaceActiveObject* active, IOleCommandTarget* target,
                        IOleInPlaceFrame* frame, IOleInPlaceUIWindow* document) override;
    STDMETHODIMP HideUI() override;
    STDMETHODIMP UpdateUI() override;
    STDMETHODIMP EnableModeless(BOOL enable) override;   // also IOleInPlaceFrame
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
    STDMETHODIMP TranslateAccelerator(LPMSG message, const GUID* group, DWORD command) override;
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
    STDMETHODIMP GetDropTarget(IDropTarget* target, IDropTarget** replacement) override;
    STDMETHODIMP GetExternal(IDispatch** external) override;
    STDMETHODIMP TranslateUrl(DWORD translate, LPWSTR url, LPWSTR* translated) override;
    STDMETHODIMP FilterDataObject(IDataObject* object, IDataObject** filtered) override;
    STDMETHODIMP GetOverrideKeyPath(LPOLESTR* key, DWORD reserved) override;

    // IDocHostShowUI
    STDMETHODIMP ShowMessage(HWND window, LPOLESTR text, LPOLESTR caption, DWORD type, LPOLESTR helpFile,
                             DWORD helpContext, LRESULT* result) override;
    STDMETHODIMP ShowHelp(HWND window, LPOLESTR helpFile, UINT command, DWORD data, POINT point,
                          IDispatch* object) override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override;
    STDMETHODIMP OnShowWindow(BOOL show) override;
    STDMETHODIMP RequestNewObjectLayout() override;

    // IOleDocumentSite
    STDMETHODIMP ActivateMe(IOleDocumentView* view) override;

    // IOleWindow (site and frame alike)
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;

    // IOleInPlaceSite / IOleInPlaceSiteEx
    STDMETHODIMP CanInPlaceActivate() override;
    STDMETHODIMP OnInPlaceActivate() override;
    STDMETHODIMP OnUIActivate() override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE extent) override;
    STDMETHODIMP OnUIDeactivate(BOOL undoable) override;
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override;
    STDMETHODIMP DeactivateAndUndo() override;
    STDMETHODIMP OnPosRectChange(LPCRECT position) override;
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override;
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL noRedraw) override;
    STDMETHODIMP RequestUIActivate() override;

    // IOleInPlaceUIWindow / IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT border) override;
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS widths) override;
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override;
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR name) override;
    STDMETHODIMP InsertMenus(HMENU menu, LPOLEMENUGROUPWIDTHS widths) override;
    STDMETHODIMP SetMenu(HMENU menu, HOLEMENU shared, HWND activeObject) override;
    STDMETHODIMP RemoveMenus(HMENU menu) override;
    STDMETHODIMP SetStatusText(LPCOLESTR text) override;
    STDMETHODIMP TranslateAccelerator(LPMSG message, WORD id) override;

    // IHlinkFrame
    STDMETHODIMP SetBrowseContext(IHlinkBrowseContext* context) override;
    STDMETHODIMP GetBrowseContext(IHlinkBrowseContext** context) override;
    STDMETHODIMP Navigate(DWORD flags, LPBC bindContext, IBindStatusCallback* callback, IHlink* link) override;
    STDMETHODIMP OnNavigate(DWORD flags, IMoniker* target, LPCWSTR location, LPCWSTR friendlyName,
                            DWORD reserved) override;
    STDMETHODIMP UpdateHlink(ULONG id, IMoniker* target, LPCWSTR location, LPCWSTR friendlyName) override;

    // IPropertyNotifySink
    STDMETHODIMP OnChanged(DISPID id) override;
    STDMETHODIMP OnRequestEdit(DISPID id) override;

    // IOleCommandTarget
    STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD commands[], OLECMDTEXT* text) override;
    STDMETHODIMP Exec(const GUID* group, DWORD id, DWORD options, VARIANT* in, VARIANT* out) override;

    // IServiceProvider: the security manager below, nothing else
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override;

    // IInternetSecurityManager: script only for the bundle, no controls anywhere else
    STDMETHODIMP SetSecuritySite(IInternetSecurityMgrSite* site) override;
    STDMETHODIMP GetSecuritySite(IInternetSecurityMgrSite** site) override;
    STDMETHODIMP MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD flags) override;
    STDMETHODIMP GetSecurityId(LPCWSTR url, BYTE* id, DWORD* size, DWORD_PTR reserved) override;
    STDMETHODIMP ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                  DWORD contextSize, DWORD flags, DWORD reserved) override;
    STDMETHODIMP QueryCustomPolicy(LPCWSTR url, REFGUID key, BYTE** policy, DWORD* policySize, BYTE* context,
                                   DWORD contextSize, DWORD reserved) override;
    STDMETHODIMP SetZoneMapping(DWORD zone, LPCWSTR pattern, DWORD flags) override;
    STDMETHODIMP GetZoneMappings(DWORD zone, IEnumString** mappings, DWORD flags) override;

private:
    ~MSHTMLClient();
    // The document's own address is inside the bundle folder.
    bool DocumentInsideBundle();
    void Notice(const std::wstring& text);
    RECT ClientRect() const;
    bool LoadMoniker(IMoniker* moniker, IBindCtx* bindContext);

    ULONG references_ = 1;
    HWND window_;
    Microsoft::WRL::ComPtr<IHTMLDocument2> document_;
    Microsoft::WRL::ComPtr<IOleDocumentView> view_;
    core::HtmlExternal* bridge_;   // not counted: the application holds it for the whole run
    std::wstring bundleFolder_;
    BrowserOpener openInBrowser_;
    DWORD sinkCookie_ = 0;
    utils::ScopedModule urlmon_;
};

}} // namespace stubframework::htmlui
