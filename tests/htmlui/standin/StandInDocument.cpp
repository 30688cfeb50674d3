// A stand-in for the HTML document, registered for its class in the test prefix so the host's
// own code creates it: it answers what the host asks of the real one, records every call, and
// plays what a page would do (finish loading, ask for window.external, follow a link).
#include <windows.h>
#include <ole2.h>
#include <docobj.h>
#include <hlink.h>
#include <mshtml.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <ocidl.h>
#include <urlmon.h>

#include <cwchar>
#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex g_lock;
std::wstring g_calls;   // one line per call
LONG g_objects = 0;

void Record(const std::wstring& line) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls += line + L"\n";
}

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%08lx", static_cast<unsigned long>(hr));
    return text;
}

class Document;
Document* g_last = nullptr;   // the document the test plays with: the one created last

class Document final : public IHTMLDocument2,
                       public IOleObject,
                       public IOleInPlaceObject,
                       public IOleInPlaceActiveObject,
                       public IPersistMoniker,
                       public IConnectionPointContainer,
                       public IConnectionPoint,
                       public IOleCommandTarget {
public:
    Document() {
        ::InterlockedIncrement(&g_objects);
        g_last = this;
        Record(L"Create");
    }

    // What a page does; the answer is what the host said.
    HRESULT Play(const std::wstring& action, const wchar_t* a, const wchar_t* b) {
        // A link can make the host drop this document before the call returns.
        AddRef();
        const HRESULT hr = PlayHeld(action, a, b);
        Release();
        return hr;
    }

private:
    HRESULT PlayHeld(const std::wstring& action, const wchar_t* a, const wchar_t* b) {
        if (action == L"url") {
            url_ = a ? a : L"";
            return S_OK;
        }
        if (action == L"complete") {
            readyState_ = READYSTATE_COMPLETE;
            std::map<DWORD, IPropertyNotifySink*> sinks = sinks_;
            for (auto& sink : sinks) sink.second->OnChanged(DISPID_READYSTATE);
            return S_OK;
        }
        if (!site_) return E_UNEXPECTED;
        if (action == L"external") {
            IDocHostUIHandler* handler = nullptr;
            HRESULT hr = site_->QueryInterface(__uuidof(IDocHostUIHandler), reinterpret_cast<void**>(&handler));
            if (FAILED(hr)) return hr;
            IDispatch* external = nullptr;
            hr = handler->GetExternal(&external);
            handler->Release();
            Record(L"GetExternal " + Hex(hr) + (external ? L" granted" : L" none"));
            if (external) external->Release();
            return hr;
        }
        if (action == L"link") {
            using CreateFn = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, IHlinkSite*, DWORD, IUnknown*, REFIID, void**);
            HMODULE hlink = ::LoadLibraryW(L"hlink.dll");
            const CreateFn create =
                hlink ? reinterpret_cast<CreateFn>(reinterpret_cast<void*>(::GetProcAddress(hlink, "HlinkCreateFromString")))
                      : nullptr;
            IHlink* link = nullptr;
            HRESULT hr = create ? create(a, nullptr, nullptr, nullptr, 0, nullptr, IID_IHlink, reinterpret_cast<void**>(&link))
                                : E_NOTIMPL;
            if (SUCCEEDED(hr) && b && *b) link->SetTargetFrameName(b);
            IHlinkFrame* frame = nullptr;
            if (SUCCEEDED(hr)) hr = site_->QueryInterface(IID_IHlinkFrame, reinterpret_cast<void**>(&frame));
            IBindCtx* context = nullptr;
            if (SUCCEEDED(hr)) hr = ::CreateBindCtx(0, &context);
            if (SUCCEEDED(hr)) hr = frame->Navigate(0, context, nullptr, link);
            Record(L"Navigate " + Hex(hr));
            if (context) context->Release();
            if (frame) frame->Release();
            if (link) link->Release();
            return hr;
        }
        return E_INVALIDARG;
    }

public:
    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IHTMLDocument) || riid == __uuidof(IHTMLDocument2))
            *object = static_cast<IHTMLDocument2*>(this);
        else if (riid == IID_IOleObject)
            *object = static_cast<IOleObject*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
            *object = static_cast<IOleInPlaceObject*>(this);
        else if (riid == IID_IOleInPlaceActiveObject)
            *object = static_cast<IOleInPlaceActiveObject*>(this);
        else if (riid == IID_IPersist || riid == __uuidof(IPersistMoniker))
            *object = static_cast<IPersistMoniker*>(this);
        else if (riid == IID_IConnectionPointContainer)
            *object = static_cast<IConnectionPointContainer*>(this);
        else if (riid == __uuidof(IOleCommandTarget))
            *object = static_cast<IOleCommandTarget*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = ::InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return count;
    }

    // IDispatch: only the ready state, as the host reads it.
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id != DISPID_READYSTATE || !(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        Record(L"readyState");
        ::VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = readyState_;
        return S_OK;
    }

    // IHTMLDocument2
    STDMETHODIMP get_URL(BSTR* p) override {
        if (!p) return E_POINTER;
        *p = ::SysAllocString(url_.c_str());
        return S_OK;
    }
    STDMETHODIMP get_readyState(BSTR* p) override {
        if (!p) return E_POINTER;
        *p = ::SysAllocString(readyState_ == READYSTATE_COMPLETE ? L"complete" : L"loading");
        return S_OK;
    }
#include "tests/htmlui/standin/UnusedDocumentMembers.inc"

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        Record(site ? L"SetClientSite" : L"SetClientSite null");
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = site_;
        if (site_) site_->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override { Record(L"Close"); return S_OK; }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) override {
        // In-place activation as the real document asks it of the site.
        IOleInPlaceSite* inPlace = nullptr;
        if (!site || FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace))))
            return E_NOINTERFACE;
        const HRESULT can = inPlace->CanInPlaceActivate();
        inPlace->OnInPlaceActivate();
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* ui = nullptr;
        RECT position = {}, clip = {};
        OLEINPLACEFRAMEINFO info = {};
        info.cb = sizeof(info);
        const HRESULT context = inPlace->GetWindowContext(&frame, &ui, &position, &clip, &info);
        HWND window = nullptr;
        inPlace->GetWindow(&window);
        wchar_t line[160];
        std::swprintf(line, 160, L"DoVerb %ld can=%08lx context=%08lx window=%d rect=%ldx%ld", verb,
                      static_cast<unsigned long>(can), static_cast<unsigned long>(context), window == parent ? 1 : 0,
                      rect ? rect->right - rect->left : -1L, rect ? rect->bottom - rect->top : -1L);
        Record(line);
        if (frame) frame->Release();
        if (ui) ui->Release();
        inPlace->Release();
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* window) override {
        if (window) *window = nullptr;
        return E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override { Record(L"InPlaceDeactivate"); return S_OK; }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
        wchar_t line[64];
        std::swprintf(line, 64, L"SetObjectRects %ldx%ld", position ? position->right - position->left : -1L,
                      position ? position->bottom - position->top : -1L);
        Record(line);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG message) override {
        Record(L"TranslateAccelerator " + std::to_wstring(message ? message->message : 0));
        // The page keeps Tab for itself; everything else goes back to the host.
        return message && message->message == WM_KEYDOWN && message->wParam == VK_TAB ? S_OK : S_FALSE;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    // IPersistMoniker
    STDMETHODIMP GetClassID(CLSID* id) override {
        if (!id) return E_POINTER;
        *id = __uuidof(HTMLDocument);
        return S_OK;
    }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(BOOL, IMoniker* moniker, LPBC context, DWORD) override {
        if (!moniker) return E_INVALIDARG;
        LPOLESTR name = nullptr;
        const HRESULT hr = moniker->GetDisplayName(context, nullptr, &name);
        if (FAILED(hr)) return hr;
        url_ = name;
        ::CoTaskMemFree(name);
        readyState_ = READYSTATE_LOADING;
        Record(L"Load " + url_);
        return S_OK;
    }
    STDMETHODIMP Save(IMoniker*, LPBC, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP SaveCompleted(IMoniker*, LPBC) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurMoniker(IMoniker**) override { return E_NOTIMPL; }

    // IConnectionPointContainer and its one point, for IPropertyNotifySink
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (riid != IID_IPropertyNotifySink) return CONNECT_E_NOCONNECTION;
        *point = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = IID_IPropertyNotifySink;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
        return QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container));
    }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        IPropertyNotifySink* notify = nullptr;
        if (FAILED(sink->QueryInterface(IID_IPropertyNotifySink, reinterpret_cast<void**>(&notify))))
            return CONNECT_E_CANNOTCONNECT;
        *cookie = ++lastCookie_;
        sinks_[*cookie] = notify;
        Record(L"Advise");
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        const auto found = sinks_.find(cookie);
        if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
        found->second->Release();
        sinks_.erase(found);
        Record(L"Unadvise");
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    // IOleCommandTarget
    STDMETHODIMP QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) override { return E_NOTIMPL; }
    STDMETHODIMP Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) override { return E_NOTIMPL; }

private:
    ~Document() {
        for (auto& sink : sinks_) sink.second->Release();
        if (site_) site_->Release();
        if (g_last == this) g_last = nullptr;
        Record(L"Destroy");
        ::InterlockedDecrement(&g_objects);
    }

    LONG references_ = 1;
    IOleClientSite* site_ = nullptr;
    std::wstring url_ = L"about:blank";
    LONG readyState_ = READYSTATE_UNINITIALIZED;
    std::map<DWORD, IPropertyNotifySink*> sinks_;
    DWORD lastCookie_ = 0;
};

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *object = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        Document* document = new Document();
        const HRESULT hr = document->QueryInterface(riid, object);
        document->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
Factory g_factory;

} // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (clsid != __uuidof(HTMLDocument)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

// The calls recorded since the last take, one per line; the record starts afresh.
__declspec(dllexport) int WINAPI StandInTakeCalls(wchar_t* buffer, int size) {
    std::lock_guard<std::mutex> hold(g_lock);
    const int needed = static_cast<int>(g_calls.size());
    if (buffer && size > needed) {
        std::wmemcpy(buffer, g_calls.c_str(), g_calls.size() + 1);
        g_calls.clear();
    }
    return needed;
}

// Plays an action on the document created last: "url" (a: the new address), "complete",
// "external", "link" (a: target, b: frame name).
__declspec(dllexport) HRESULT WINAPI StandInPlay(const wchar_t* action, const wchar_t* a, const wchar_t* b) {
    if (!g_last || !action) return E_UNEXPECTED;
    return g_last->Play(action, a, b);
}

} // extern "C"
