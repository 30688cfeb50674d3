#include "tests/methods/MethodsFixture.h"

#include "stubframework/core/HtmlExternal.h"
#include "stubframework/utils/Handle.h"

using namespace stubframework;

namespace methodstest {

namespace {
std::wstring Environment(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return (length > 0 && length < 32768) ? std::wstring(value, length) : std::wstring();
}
} // namespace

void MethodsTest::SetUp() {
    ASSERT_TRUE(hkcu_.Ok());
    savedTmp_ = Environment(L"TMP");
    savedTemp_ = Environment(L"TEMP");
    ::SetEnvironmentVariableW(L"TMP", temp_.Path().c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp_.Path().c_str());
    Restart(utils::StartupSwitches());
}

void MethodsTest::Restart(const utils::StartupSwitches& switches) {
    methods_.reset();
    app_.reset();
    app_.reset(new StubApplication(utils::ScopedHandle(), switches));
    methods_.reset(new myexternalmethods::MyExternalMethods(app_.get()));
    app_->Bridge().AttachMethodTable(methods_.get());
}

void MethodsTest::TearDown() {
    methods_.reset();
    app_.reset();
    ::SetEnvironmentVariableW(L"TMP", savedTmp_.empty() ? nullptr : savedTmp_.c_str());
    ::SetEnvironmentVariableW(L"TEMP", savedTemp_.empty() ? nullptr : savedTemp_.c_str());
}

HRESULT MethodsTest::Call(const wchar_t* name, WORD flags, Args& args, VARIANT* result) {
    DISPPARAMS params = args.Params();
    return CallParams(name, flags, &params, result);
}

HRESULT MethodsTest::CallParams(const wchar_t* name, WORD flags, DISPPARAMS* params, VARIANT* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT found = app_->Bridge().GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(found)) return found;
    return app_->Bridge().Invoke(id, IID_NULL, 0, flags, params, result, nullptr, nullptr);
}

HRESULT MethodsTest::Call(const wchar_t* name, WORD flags, VARIANT* result) {
    Args none;
    return Call(name, flags, none, result);
}

std::wstring MethodsTest::TextOf(const wchar_t* name, Args& args) {
    utils::ScopedVariant result;
    const WORD flags = args.Params().cArgs ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD;
    EXPECT_EQ(Call(name, flags, args, result.Receive()), S_OK) << Narrow(name);
    EXPECT_EQ(V_VT(result.Ptr()), VT_BSTR) << Narrow(name);
    if (V_VT(result.Ptr()) != VT_BSTR || !V_BSTR(result.Ptr())) return std::wstring();
    const BSTR text = V_BSTR(result.Ptr());
    return std::wstring(text, ::SysStringLen(text));
}

bool MethodsTest::FlagOf(const wchar_t* name, Args& args) {
    utils::ScopedVariant result;
    EXPECT_EQ(Call(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result.Receive()), S_OK) << Narrow(name);
    EXPECT_EQ(V_VT(result.Ptr()), VT_BOOL) << Narrow(name);
    const VARIANT_BOOL value = V_BOOL(result.Ptr());
    EXPECT_TRUE(value == VARIANT_TRUE || value == VARIANT_FALSE);
    return value == VARIANT_TRUE;
}

LONG MethodsTest::NumberOf(const wchar_t* name, Args& args) {
    utils::ScopedVariant result;
    const WORD flags = args.Params().cArgs ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD;
    EXPECT_EQ(Call(name, flags, args, result.Receive()), S_OK) << Narrow(name);
    EXPECT_EQ(V_VT(result.Ptr()), VT_I4) << Narrow(name);
    return V_I4(result.Ptr());
}

std::string MethodsTest::LogText() {
    std::string bytes;
    testsupport::ReadFileBytes(app_->Log().FilePath(), bytes);
    return bytes;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

MachineTestKey::MachineTestKey()
    : sub_(L"SOFTWARE\\TandoraTests\\Methods" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::GetTickCount())),
      path_(L"HKEY_LOCAL_MACHINE\\" + sub_) {}

MachineTestKey::~MachineTestKey() {
    const std::wstring leaf = sub_.substr(sub_.rfind(L'\\') + 1);
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        utils::ScopedRegKey parent;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TandoraTests", 0, KEY_ALL_ACCESS | view,
                            parent.Receive()) == ERROR_SUCCESS)
            ::RegDeleteTreeW(parent.Get(), leaf.c_str());
    }
}

} // namespace methodstest
