// window.external driven the way a script engine drives it: names to DISPIDs, then Invoke or
// InvokeEx with the arguments reversed.
#include <gtest/gtest.h>

#include "stubframework/ExternalMethods.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/ComHolders.h"
#include "tests/htmlui/TestSupport.h"

#include <new>
#include <thread>
#include <wrl/client.h>

using namespace stubframework;
using namespace htmluitest;
using Microsoft::WRL::ComPtr;

namespace {

// Handlers that follow the common contract, registered out of name order.
class TestMethods : public ExternalMethods {
public:
    explicit TestMethods(StubApplication* app) : ExternalMethods(app) {
        RegisterMethod(L"zeta", &TestMethods::Zeta);
        RegisterMethod(L"setFlag", &TestMethods::SetFlag);
        RegisterMethod(L"joinArgs", &TestMethods::JoinArgs);
        RegisterMethod(L"Mid", &TestMethods::Zeta);
        RegisterMethod(L"alpha", &TestMethods::Zeta);
        RegisterMethod(L"isThere", &TestMethods::IsThere);
    }

    int operations = 0;
    std::wstring lastText;
    bool lastFlag = false;

    HRESULT Zeta(WORD flags, DISPPARAMS* params, VARIANT*) {
        const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
        if (SUCCEEDED(hr)) ++operations;
        return hr;
    }

    // setFlag(text S, flag B): no result.
    HRESULT SetFlag(WORD flags, DISPPARAMS* params, VARIANT*) {
        HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 2);
        if (FAILED(hr)) return hr;
        static const VARTYPE types[] = {VT_BOOL, VT_BSTR};
        if (FAILED(hr = CheckParamTypes(params, types, 2))) return hr;
        ++operations;
        lastFlag = V_BOOL(&params->rgvarg[0]) != VARIANT_FALSE;
        lastText = V_BSTR(&params->rgvarg[1]);
        return S_OK;
    }

    // joinArgs(text S, number I) -> "text:number".
    HRESULT JoinArgs(WORD flags, DISPPARAMS* params, VARIANT* result) {
        HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, 2);
        if (FAILED(hr)) return hr;
        static const VARTYPE types[] = {VT_I4, VT_BSTR};
        if (FAILED(hr = CheckParamTypes(params, types, 2))) return hr;
        if (!result) return S_OK;
        ++operations;
        SetTextResult(result, std::wstring(V_BSTR(&params->rgvarg[1])) + L":" +
                                  std::to_wstring(V_I4(&params->rgvarg[0])));
        return S_OK;
    }

    // isThere(path S) -> flag; does its work only when a result is wanted.
    HRESULT IsThere(WORD flags, DISPPARAMS* params, VARIANT* result) {
        HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, 1);
        if (FAILED(hr)) return hr;
        static const VARTYPE types[] = {VT_BSTR};
        if (FAILED(hr = CheckParamTypes(params, types, 1))) return hr;
        if (!result) return S_OK;
        ++operations;
        SetBoolResult(result, true);
        return S_OK;
    }
};

class ScriptBridge : public testing::Test {
protected:
    ScriptBridge() : methods_(&app_.App()) { bridge_->AttachMethodTable(&methods_); }

    DISPID IdOf(const wchar_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        EXPECT_EQ(bridge_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << Narrow(name);
        return id;
    }

    DISPID EnsureExpando(const wchar_t* name) {
        utils::ScopedBstr text(name);
        DISPID id = 0;
        EXPECT_EQ(bridge_->GetDispID(text.Get(), fdexNameEnsure, &id), S_OK);
        return id;
    }

    HRESULT Put(DISPID id, VARIANT value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {&value, &named, 1, 1};
        return bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    }

    TestApplication app_;
    TestMethods methods_;
    BridgeRef bridge_;
};

} // namespace

TEST_F(ScriptBridge, NamesAreFoundExactlyUnlessCaseIsIgnored) {
    // DISPIDs are 1-based places in UTF-16 order (capitals first).
    EXPECT_EQ(IdOf(L"Mid"), 1);
    EXPECT_EQ(IdOf(L"alpha"), 2);
    EXPECT_EQ(IdOf(L"isThere"), 3);
    EXPECT_EQ(IdOf(L"joinArgs"), 4);
    EXPECT_EQ(IdOf(L"setFlag"), 5);
    EXPECT_EQ(IdOf(L"zeta"), 6);

    LPOLESTR names[] = {const_cast<LPOLESTR>(L"JOINARGS"), const_cast<LPOLESTR>(L"zeta")};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(bridge_->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(ids[1], 6);   // the other names are still resolved

    utils::ScopedBstr otherCase(L"JoinArgs");
    DISPID id = 0;
    EXPECT_EQ(bridge_->GetDispID(otherCase.Get(), 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    EXPECT_EQ(bridge_->GetDispID(otherCase.Get(), fdexNameCaseInsensitive, &id), S_OK);
    EXPECT_EQ(id, 4);
}

TEST_F(ScriptBridge, ScriptCallsReachTheirHandlers) {
    Args args;
    args.Text(L"abc").Number(7);
    DISPPARAMS params = args.Params();
    utils::ScopedVariant result;
    EXPECT_EQ(bridge_->Invoke(IdOf(L"joinArgs"), IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                              result.Receive(), nullptr, nullptr),
              S_OK);
    ASSERT_EQ(V_VT(&result.Get()), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&result.Get()), L"abc:7");
    EXPECT_EQ(::SysStringLen(V_BSTR(&result.Get())), 5u);

    // The same through IDispatchEx.
    utils::ScopedBstr name(L"joinArgs");
    DISPID id = 0;
    ASSERT_EQ(bridge_->GetDispID(name.Get(), 0, &id), S_OK);
    EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result.Receive(),
                                nullptr, nullptr),
              S_OK);
    EXPECT_STREQ(V_BSTR(&result.Get()), L"abc:7");

    EXPECT_EQ(bridge_->Invoke(id, IID_IDispatch, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(bridge_->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(bridge_->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(methods_.operations, 2);
}

TEST_F(ScriptBridge, HandlerContractRefusesBadCallsWithoutSideEffects) {
    {   // one argument too many
        Args args;
        args.Text(L"x").Bool(true).Number(1);
        DISPPARAMS params = args.Params();
        EXPECT_EQ(bridge_->Invoke(IdOf(L"setFlag"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  DISP_E_BADPARAMCOUNT);
    }
    {   // a named argument is never accepted
        Args args;
        args.Text(L"x").Bool(true);
        DISPPARAMS params = args.Params();
        DISPID named = 0;
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
        EXPECT_EQ(bridge_->Invoke(IdOf(L"setFlag"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  DISP_E_BADPARAMCOUNT);
    }
    {   // a flags-3 method called as a statement
        Args args;
        args.Text(L"x").Number(1);
        DISPPARAMS params = args.Params();
        utils::ScopedVariant result;
        EXPECT_EQ(bridge_->Invoke(IdOf(L"joinArgs"), IID_NULL, 0, DISPATCH_METHOD, &params, result.Receive(),
                                  nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND);
        EXPECT_EQ(V_VT(&result.Get()), VT_EMPTY);
    }
    {   // text where a flag belongs: rgvarg[0] is the last script argument
        Args args;
        args.Text(L"x").Text(L"true");
        DISPPARAMS params = args.Params();
        EXPECT_EQ(bridge_->Invoke(IdOf(L"setFlag"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  DISP_E_TYPEMISMATCH);
        EXPECT_NE(app_.LogText().find("CheckParamTypes -- DISP_E_TYPEMISMATCH -- 0 8 11"), std::string::npos);
    }
    {   // a number where text belongs, second position
        Args args;
        args.Number(3).Bool(false);
        DISPPARAMS params = args.Params();
        EXPECT_EQ(bridge_->Invoke(IdOf(L"setFlag"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  DISP_E_TYPEMISMATCH);
        EXPECT_NE(app_.LogText().find("CheckParamTypes -- DISP_E_TYPEMISMATCH -- 1 3 8"), std::string::npos);
    }
    {   // no result wanted: nothing happens
        Args args;
        args.Text(L"C:\\");
        DISPPARAMS params = args.Params();
        EXPECT_EQ(bridge_->Invoke(IdOf(L"isThere"), IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                                  nullptr, nullptr, nullptr),
                  S_OK);
    }
    EXPECT_EQ(methods_.operations, 0);

    Args args;
    args.Text(L"done").Bool(true);
    DISPPARAMS params = args.Params();
    EXPECT_EQ(bridge_->Invoke(IdOf(L"setFlag"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(methods_.operations, 1);
    EXPECT_EQ(methods_.lastText, L"done");
    EXPECT_TRUE(methods_.lastFlag);
}

TEST_F(ScriptBridge, ExpandosLiveUntilDeleted) {
    const DISPID id = EnsureExpando(L"answer");
    EXPECT_LT(id, 0);
    EXPECT_EQ(EnsureExpando(L"answer"), id);

    VARIANT five;
    ::VariantInit(&five);
    V_VT(&five) = VT_I4;
    V_I4(&five) = 5;
    EXPECT_EQ(Put(id, five), S_OK);

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    utils::ScopedVariant value;
    EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYGET, &none, value.Receive(), nullptr, nullptr), S_OK);
    ASSERT_EQ(V_VT(&value.Get()), VT_I4);
    EXPECT_EQ(V_I4(&value.Get()), 5);

    // A put needs the DISPID_PROPERTYPUT named argument; a get takes no arguments.
    DISPPARAMS unnamed = {&five, nullptr, 1, 0};
    EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYPUT, &unnamed, nullptr, nullptr, nullptr),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYGET, &unnamed, value.Receive(), nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);

    utils::ScopedBstr name(L"answer");
    EXPECT_EQ(bridge_->DeleteMemberByName(name.Get(), 0), S_OK);
    DISPID again = 0;
    EXPECT_EQ(bridge_->GetDispID(name.Get(), 0, &again), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(again, DISPID_UNKNOWN);

    // Ensured again, it keeps its DISPID and starts empty.
    EXPECT_EQ(EnsureExpando(L"answer"), id);
    EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYGET, &none, value.Receive(), nullptr, nullptr), S_OK);
    EXPECT_EQ(V_VT(&value.Get()), VT_EMPTY);

    // Methods cannot be deleted; expandos never shadow them; unknown expando DISPIDs are refused.
    EXPECT_EQ(bridge_->DeleteMemberByDispID(IdOf(L"zeta")), S_FALSE);
    EXPECT_EQ(EnsureExpando(L"zeta"), 6);
    EXPECT_EQ(bridge_->InvokeEx(id + 1, 0, DISPATCH_PROPERTYGET, &none, value.Receive(), nullptr, nullptr),
              DISP_E_UNKNOWNNAME);
    utils::ScopedBstr upper(L"ANSWER");
    EXPECT_EQ(bridge_->GetDispID(upper.Get(), fdexNameCaseInsensitive, &again), S_OK);
    EXPECT_EQ(again, id);
    EXPECT_EQ(bridge_->GetDispID(upper.Get(), fdexNameCaseInsensitive | fdexNameNoDynamicProperties, &again),
              DISP_E_UNKNOWNNAME);
}

TEST_F(ScriptBridge, StoredFunctionReceivesTheCallersArguments) {
    ComPtr<RecordingFunction> function = Adopt(new RecordingFunction);
    const DISPID id = EnsureExpando(L"onDone");
    VARIANT stored;
    ::VariantInit(&stored);
    V_VT(&stored) = VT_DISPATCH;
    V_DISPATCH(&stored) = function.Get();
    ASSERT_EQ(Put(id, stored), S_OK);

    Args args;
    args.Text(L"first").Number(2);
    DISPPARAMS params = args.Params();
    utils::ScopedVariant result;
    EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_METHOD, &params, result.Receive(), nullptr, nullptr), S_OK);
    ASSERT_EQ(function->calls.size(), 1u);
    EXPECT_EQ(function->calls[0].flags, DISPATCH_METHOD);
    EXPECT_EQ(function->calls[0].textArgs, (std::vector<std::wstring>{L"2", L"first"}));
    ASSERT_EQ(V_VT(&result.Get()), VT_I4);
    EXPECT_EQ(V_I4(&result.Get()), 1);

    // Replacing the member lets go of the function.
    VARIANT number;
    ::VariantInit(&number);
    V_VT(&number) = VT_I4;
    EXPECT_EQ(Put(id, number), S_OK);
    EXPECT_EQ(function->References(), 1);
    EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(function->calls.size(), 1u);
}

TEST_F(ScriptBridge, ProgressPropertiesTrackUnzippingAndKeepSizesOver2GB) {
    EXPECT_EQ(bridge_->GetProperty(L"downloadTotal"), L"1");
    EXPECT_EQ(bridge_->GetProperty(L"downloadCurrent"), L"0");
    EXPECT_EQ(bridge_->GetProperty(L"installTotal"), L"1");
    EXPECT_EQ(bridge_->GetProperty(L"installCurrent"), L"0");

    zip::ZipReporter& reporter = *bridge_.bridge;
    reporter.Progress(25, 40);
    EXPECT_EQ(bridge_->GetProperty(L"installCurrent"), L"2");
    EXPECT_EQ(bridge_->InstallTotal(), 40u);
    reporter.LastError(112);
    EXPECT_EQ(bridge_->LastExtractionError(), 112u);

    bridge_->SetDownloadTotal(3000000000ul);   // sizes above 2 GB survive the text round trip
    EXPECT_EQ(bridge_->GetProperty(L"downloadTotal"), L"3000000000");
    EXPECT_EQ(bridge_->DownloadTotal(), 3000000000ul);
    bridge_->SetProperty(L"downloadCurrent", L"  42kB");
    EXPECT_EQ(bridge_->DownloadCurrent(), 42u);
    bridge_->SetProperty(L"downloadCurrent", L"n/a");
    EXPECT_EQ(bridge_->DownloadCurrent(), 0u);

    // Reading a missing name creates it empty.
    auto& properties = app_.App().Config().Properties();
    EXPECT_EQ(properties.count(L"neverSet"), 0u);
    EXPECT_EQ(bridge_->GetProperty(L"neverSet"), L"");
    EXPECT_EQ(properties.count(L"neverSet"), 1u);
}

TEST_F(ScriptBridge, PropertyMapKeepsEachThreadsLastWrite) {
    const int kThreads = 4, kRounds = 3000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            const std::wstring own = L"worker" + std::to_wstring(t) + L"_";
            for (int i = 0; i < kRounds; ++i) {
                bridge_->SetProperty(own + std::to_wstring(i % 50), std::to_wstring(i));
                bridge_->SetInstallCurrent(static_cast<unsigned long>(i));
                bridge_->GetProperty(L"other" + std::to_wstring(i % 64));   // inserts
                bridge_->InstallCurrent();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(bridge_->GetProperty(L"worker" + std::to_wstring(t) + L"_49"), std::to_wstring(kRounds - 1));
    EXPECT_EQ(bridge_->InstallCurrent(), static_cast<unsigned long>(kRounds - 1));
}

TEST_F(ScriptBridge, ReferenceCountHoldsUnderWorkerThreads) {
    const int kThreads = 4, kRounds = 1000000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < kRounds; ++i) {
                bridge_->AddRef();
                bridge_->Release();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(bridge_->AddRef(), 2u);
    EXPECT_EQ(bridge_->Release(), 1u);

    ComPtr<IDispatchEx> asEx;
    EXPECT_EQ(bridge_->QueryInterface(IID_PPV_ARGS(&asEx)), S_OK);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(bridge_->QueryInterface(IID_PPV_ARGS(&unknown)), S_OK);
    EXPECT_EQ(asEx.Get(), unknown.Get());
    ComPtr<IServiceProvider> refused;
    EXPECT_EQ(bridge_->QueryInterface(IID_PPV_ARGS(&refused)), E_NOINTERFACE);
}

namespace {
// Stands for any handler whose strings or containers cannot be allocated.
class ExhaustedMethods : public ExternalMethods {
public:
    ExhaustedMethods() : ExternalMethods(nullptr) {
        RegisterMethod(L"exhaust", &ExhaustedMethods::Exhaust);
        RegisterMethod(L"plain", &ExhaustedMethods::Plain);
    }
    HRESULT Exhaust(WORD, DISPPARAMS*, VARIANT*) { throw std::bad_alloc(); }
    HRESULT Plain(WORD, DISPPARAMS*, VARIANT*) { return S_OK; }
};
} // namespace

TEST(ScriptBridgeOutOfMemory, AllocationFailureInAHandlerBecomesEOutOfMemory) {
    ExhaustedMethods methods;
    BridgeRef bridge;
    bridge->AttachMethodTable(&methods);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    const DISPID exhaust = 1, plain = 2;   // places in name order
    EXPECT_EQ(bridge->Invoke(exhaust, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(bridge->InvokeEx(exhaust, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), E_OUTOFMEMORY);
    // The bridge still serves the next call.
    EXPECT_EQ(bridge->Invoke(plain, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
}

TEST(ScriptBridgeWithoutTable, EveryCallFails) {
    BridgeRef bridge;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"anything")};
    DISPID id = 0;
    EXPECT_EQ(bridge->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(bridge->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(bridge->GetProperty(L"installTotal"), L"");
}
