// A generic window.external: a fixed table of named methods plus the members script adds to it.
#pragma once
#include <windows.h>
#include <dispex.h>
#include <memory>
#include <string>
#include <vector>

#include "stubframework/ExternalMethods.h"
#include "stubframework/utils/ComHolders.h"

namespace stubframework { namespace htmlui {

// One method the object offers; its DISPID is its position in the table + 1.
struct DispatchEntry {
    const wchar_t* name;      // the method table's text, not owned
    MethodHandler handler;
};

class MSHTMLExternal : public IDispatchEx {
public:
    MSHTMLExternal() = default;
    MSHTMLExternal(const MSHTMLExternal&) = delete;
    MSHTMLExternal& operator=(const MSHTMLExternal&) = delete;

    // IUnknown. The count is interlocked: worker threads hold references to the object too.
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IDispatchEx
    STDMETHODIMP GetDispID(BSTR name, DWORD flags, DISPID* id) override;
    STDMETHODIMP InvokeEx(DISPID id, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, IServiceProvider* caller) override;
    STDMETHODIMP DeleteMemberByName(BSTR name, DWORD flags) override;
    STDMETHODIMP DeleteMemberByDispID(DISPID id) override;
    STDMETHODIMP GetMemberProperties(DISPID id, DWORD fetch, DWORD* properties) override;
    STDMETHODIMP GetMemberName(DISPID id, BSTR* name) override;
    STDMETHODIMP GetNextDispID(DWORD flags, DISPID id, DISPID* next) override;
    STDMETHODIMP GetNameSpaceParent(IUnknown** parent) override;

    virtual void SetWindow(HWND window) { window_ = window; }
    HWND Window() const { return window_; }
    virtual void DocumentComplete() = 0;

    // Where the host reports what it refused (a page outside the bundle, a link it would not
    // load); nothing is written without a sink.
    using NoticeSink = void (*)(void* context, const wchar_t* text);
    void SetNoticeSink(NoticeSink sink, void* context) {
        noticeSink_ = sink;
        noticeContext_ = context;
    }
    void Notice(const wchar_t* text) const {
        if (noticeSink_) noticeSink_(noticeContext_, text);
    }

protected:
    virtual ~MSHTMLExternal();
    // The methods, sorted by name; empty until a table is attached.
    virtual const DispatchEntry* DispatchTable(size_t& count) const = 0;
    // Runs an entry's handler; the result goes back to the script engine unchanged.
    virtual HRESULT CallEntry(const DispatchEntry& entry, WORD flags, DISPPARAMS* params, VARIANT* result) = 0;

private:
    struct Expando {
        std::wstring name;
        utils::ScopedVariant value;
        bool deleted = false;         // a deleted member keeps its slot and DISPID
    };

    HRESULT InvokeMethod(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT InvokeExpando(Expando& expando, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, IServiceProvider* caller);

    LONG references_ = 1;   // the application's reference
    std::vector<std::unique_ptr<Expando>> expandos_;
    HWND window_ = nullptr;
    NoticeSink noticeSink_ = nullptr;
    void* noticeContext_ = nullptr;
};

}} // namespace stubframework::htmlui
