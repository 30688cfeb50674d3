// The settings object: its initial values, the registry echo of its setters and the fallback
// of its getters to the registry.
#include <gtest/gtest.h>

#include "stubframework/core/AppConfig.h"
#include "stubframework/utils/Registry.h"
#include "tests/core/RegistryRedirect.h"

#include <cwctype>

using namespace stubframework;
using namespace stubframework::core;

namespace {
std::wstring Stored(const wchar_t* name) {
    std::wstring value;
    utils::ReadFrameworkValue(AppConfig::DefaultFrameworkKeyPath(), name, value);
    return value;
}
} // namespace

TEST(AppConfig, StartsWithANewTokenPerRunAndStoresStatusAndLanguage) {
    testsupport::RedirectedCurrentUser hkcu;
    ASSERT_TRUE(hkcu.Ok());
    AppConfig config;

    const std::wstring token = config.RequestToken();
    ASSERT_EQ(token.size(), 36u);
    for (size_t i = 0; i < token.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) EXPECT_EQ(token[i], L'-');
        else EXPECT_TRUE(std::iswxdigit(token[i]) && !std::iswlower(token[i])) << i;
    }
    EXPECT_NE(AppConfig().RequestToken(), token);   // one per run

    EXPECT_EQ(config.ProductId(), L"Tandora");
    EXPECT_EQ(config.ProductVersion(), L"22.0.0");
    EXPECT_EQ(config.Channel(), L"test");
    EXPECT_EQ(config.ClientVersion(), L"1.0");
    EXPECT_EQ(config.Status(), 4);
    EXPECT_EQ(Stored(L"status"), L"4");
    EXPECT_EQ(config.InstallLanguage(), L"English");
    EXPECT_EQ(config.Property(L"lang"), L"en");
    EXPECT_EQ(Stored(L"install_language"), L"English");
    EXPECT_EQ(config.Architecture(), config.Property(L"osbits") == L"64" ? L"x64" : L"x86");
    EXPECT_FALSE(config.OsName().empty());
    EXPECT_FALSE(config.Country().empty());
    EXPECT_FALSE(config.DefaultBrowser().empty());
    EXPECT_EQ(config.MachineId().size(), 38u);
}

TEST(AppConfig, SettersEchoAndGettersFallBack) {
    testsupport::RedirectedCurrentUser hkcu;
    ASSERT_TRUE(hkcu.Ok());
    AppConfig config;

    config.SetChannel(L"beta");
    EXPECT_EQ(Stored(L"channel"), L"beta");
    config.SetInstallLanguage(5);
    EXPECT_EQ(config.InstallLanguage(), L"Japanese");
    EXPECT_EQ(config.Property(L"lang"), L"jp");
    EXPECT_EQ(Stored(L"install_language"), L"Japanese");
    config.SetInstallLanguage(500);                      // outside the table: nothing changes
    EXPECT_EQ(config.InstallLanguage(), L"Japanese");

    // An emptied channel is read back from the registry.
    config.SetChannel(L"");
    ASSERT_TRUE(utils::WriteFrameworkValue(AppConfig::DefaultFrameworkKeyPath(), L"channel", L"stable", false));
    EXPECT_EQ(config.Channel(), L"stable");

    config.SetSelfUpdateCode(SelfUpdateExitCode);
    EXPECT_EQ(Stored(L"selfupdate_code"), L"197800");
    EXPECT_EQ(config.SelfUpdateCode(), SelfUpdateExitCode);
}
