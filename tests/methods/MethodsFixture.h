// The product's method table behind the real bridge, as a script engine calls it: names to
// DISPIDs, then Invoke with the arguments reversed. HKEY_CURRENT_USER and the temporary folder
// are private to the test.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "StubCore/StubApplication.h"
#include "stubframework/MyExternalMethods.h"
#include "stubframework/utils/ComHolders.h"
#include "tests/core/RegistryRedirect.h"
#include "tests/htmlui/TestSupport.h"
#include "tests/support/TempFolder.h"

namespace methodstest {

// Script arguments in script order; Params() hands them out the way Invoke receives them.
using Args = htmluitest::Args;

class MethodsTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Through window.external; DISP_E_UNKNOWNNAME when the name is not in the table.
    HRESULT Call(const wchar_t* name, WORD flags, Args& args, VARIANT* result);
    HRESULT Call(const wchar_t* name, WORD flags, VARIANT* result);
    HRESULT CallParams(const wchar_t* name, WORD flags, DISPPARAMS* params, VARIANT* result);

    // A flags-3 call whose text result is returned; fails the test on another HRESULT or type.
    std::wstring TextOf(const wchar_t* name, Args& args);
    bool FlagOf(const wchar_t* name, Args& args);
    LONG NumberOf(const wchar_t* name, Args& args);

    // The application log so far.
    std::string LogText();
    bool LogHas(const std::string& text) { return LogText().find(text) != std::string::npos; }

    stubframework::StubApplication& App() { return *app_; }
    // The application again, with the stub's own command-line facts.
    void Restart(const stubframework::utils::StartupSwitches& switches);
    // The registrations behind the bridge.
    const stubframework::ExternalMethods::MethodMap& Registered() const { return methods_->Methods(); }

    testsupport::RedirectedCurrentUser hkcu_;
    testsupport::TempFolder temp_;

private:
    std::wstring savedTmp_, savedTemp_;
    std::unique_ptr<stubframework::StubApplication> app_;
    std::unique_ptr<myexternalmethods::MyExternalMethods> methods_;
};

std::string Narrow(const std::wstring& text);

// "HKEY_LOCAL_MACHINE\SOFTWARE\TandoraTests\<unique>" (without the hive when bare), removed in
// both views at the end.
class MachineTestKey {
public:
    MachineTestKey();
    ~MachineTestKey();
    const std::wstring& Path() const { return path_; }        // with the hive name
    const std::wstring& Sub() const { return sub_; }          // below HKEY_LOCAL_MACHINE
private:
    std::wstring sub_, path_;
};

} // namespace methodstest
