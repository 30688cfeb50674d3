// The web-service rows of the method table, called as the bridge calls them, with the
// application's built-in endpoint pointing at the service double.
#include <gtest/gtest.h>

#include "StubCore/StubApplication.h"
#include "stubframework/MyExternalMethods.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/utils/ComHolders.h"
#include "tests/core/RegistryRedirect.h"
#include "tests/core/ServiceDouble.h"
#include "tests/support/TempFolder.h"

#include <memory>

using namespace stubframework;

namespace {
class WebServiceRows : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hkcu_.Ok());
        ::SetEnvironmentVariableW(L"TMP", temp_.Path().c_str());
        app_.reset(new StubApplication(utils::ScopedHandle(), utils::StartupSwitches()));
        methods_.reset(new myexternalmethods::MyExternalMethods(app_.get()));
    }
    void TearDown() override {
        methods_.reset();
        app_.reset();
    }

    HRESULT Call(const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
        const auto it = methods_->Methods().find(name);
        if (it == methods_->Methods().end()) return DISP_E_UNKNOWNNAME;
        DISPPARAMS params = {args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        return methods_->Call(it->second, flags, &params, result);
    }

    static VARIANT Text(BSTR text) {
        VARIANT v;
        ::VariantInit(&v);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = text;
        return v;
    }

    testsupport::RedirectedCurrentUser hkcu_;
    testsupport::TempFolder temp_;
    testsupport::ServiceDouble double_;
    std::unique_ptr<StubApplication> app_;
    std::unique_ptr<myexternalmethods::MyExternalMethods> methods_;
};
} // namespace

TEST_F(WebServiceRows, GetMachineIdIsAMethodGivingTheApplicationsIdentity) {
    utils::ScopedVariant result;
    ASSERT_EQ(Call(L"getMachineId", DISPATCH_METHOD, {}, result.Receive()), S_OK);
    ASSERT_EQ(V_VT(&result.Get()), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&result.Get())), app_->Config().MachineId());
    EXPECT_EQ(Call(L"getMachineId", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, result.Receive()),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(L"getMachineId", DISPATCH_METHOD, {}, nullptr), S_OK);
}

TEST_F(WebServiceRows, TrackUserActivityPostsFromAWorker) {
    utils::ScopedBstr activity(L"Welcome_Next<");
    VARIANT number;
    ::VariantInit(&number);
    V_VT(&number) = VT_I4;
    EXPECT_EQ(Call(L"trackUserActivity", DISPATCH_METHOD, {number}, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Call(L"trackUserActivity", DISPATCH_METHOD, {}, nullptr), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(L"trackUserActivity", DISPATCH_METHOD, {Text(activity.Get())}, nullptr), S_OK);

    const auto requests = double_.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/v1/logUserActivity");
    EXPECT_NE(requests[0].body.find("<activity>Welcome_Next<</activity>"), std::string::npos);
}

TEST_F(WebServiceRows, IsInEmbargoedCountrySetsCountry) {
    utils::ScopedVariant result;
    double_.SetAnswer("isInEmbargoedCountry", "<country>Narnia</country><isEmbargo>true</isEmbargo>");
    ASSERT_EQ(Call(L"isInEmbargoedCountry", DISPATCH_METHOD, {}, result.Receive()), S_OK);
    EXPECT_EQ(V_VT(&result.Get()), VT_BOOL);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_TRUE);
    EXPECT_EQ(app_->Config().Property(L"Country"), L"Narnia");

    double_.SetAnswer("isInEmbargoedCountry", "<country>Narnia</country><isEmbargo>TRUE</isEmbargo>");
    ASSERT_EQ(Call(L"isInEmbargoedCountry", DISPATCH_METHOD, {}, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_FALSE);

    double_.SetAnswer("isInEmbargoedCountry", "nothing", 500);
    ASSERT_EQ(Call(L"isInEmbargoedCountry", DISPATCH_METHOD, {}, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_FALSE);
    EXPECT_EQ(app_->Config().Property(L"Country"), L"");
}
