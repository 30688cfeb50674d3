// The real method table behind the bridge, called the way the script engine calls it.
#pragma once
#include <gtest/gtest.h>

#include "stubframework/MyExternalMethods.h"
#include "stubframework/utils/ComHolders.h"
#include "tests/htmlui/TestSupport.h"

#include <memory>

namespace pagemethodstest {

class PageMethods : public testing::Test {
protected:
    explicit PageMethods(const stubframework::utils::StartupSwitches& switches = {}) : app_(switches) {}
    void TearDown() override { Bridge().AttachMethodTable(nullptr); }

    stubframework::StubApplication& App() { return app_.App(); }
    // The application's own bridge, as the start-up wires it.
    stubframework::core::HtmlExternal& Bridge() { return App().Bridge(); }

    // Builds the table (which restores a resumed run's properties) and attaches the bridge.
    void BuildTable() {
        methods_.reset(new myexternalmethods::MyExternalMethods(&App()));
        Bridge().AttachMethodTable(methods_.get());
    }

    HRESULT Call(const wchar_t* name, WORD flags, htmluitest::Args& args, VARIANT* result) {
        if (!methods_) BuildTable();
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        const HRESULT found = Bridge().GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        if (FAILED(found)) return found;
        DISPPARAMS params = args.Params();
        return Bridge().Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
    }
    HRESULT Call(const wchar_t* name, WORD flags, VARIANT* result = nullptr) {
        htmluitest::Args none;
        return Call(name, flags, none, result);
    }

    static std::wstring Text(const stubframework::utils::ScopedVariant& value) {
        const VARIANT& v = value.Get();
        return (V_VT(&v) == VT_BSTR && V_BSTR(&v)) ? std::wstring(V_BSTR(&v)) : std::wstring();
    }

    static constexpr WORD kMethod = DISPATCH_METHOD;
    static constexpr WORD kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

    htmluitest::TestApplication app_;
    std::unique_ptr<myexternalmethods::MyExternalMethods> methods_;
};

} // namespace pagemethodstest
