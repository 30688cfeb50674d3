#include <gtest/gtest.h>

#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Registry.h"

#include <string>

using namespace stubframework::utils;

namespace {
// A throwaway key per test process, removed in both views at the end.
class RegistryTest : public testing::Test {
protected:
    void SetUp() override {
        sub_ = L"SOFTWARE\\TandoraTests\\Registry" + std::to_wstring(::GetCurrentProcessId());
        path_ = L"HKEY_CURRENT_USER\\" + sub_;
    }
    void TearDown() override {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            ScopedRegKey parent;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\TandoraTests", 0, KEY_ALL_ACCESS | view,
                                parent.Receive()) == ERROR_SUCCESS)
                ::RegDeleteTreeW(parent.Get(), sub_.substr(sub_.rfind(L'\\') + 1).c_str());
        }
    }
    std::wstring sub_, path_;
};
} // namespace

TEST(RegistryRoot, ParsesHiveNamesInAnyCaseAndRefusesNearMisses) {
    EXPECT_EQ(ParseRegistryRoot(L"HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(ParseRegistryRoot(L"hklm"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(ParseRegistryRoot(L"HKCU"), HKEY_CURRENT_USER);
    EXPECT_EQ(ParseRegistryRoot(L"HKEY_CURRENT_CONFIG"), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(ParseRegistryRoot(L"HKU"), HKEY_USERS);
    EXPECT_EQ(ParseRegistryRoot(L"hkey_classes_root"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(ParseRegistryRoot(L"HKEY_DTN_DATA"), HKEY_DYN_DATA);
    EXPECT_EQ(ParseRegistryRoot(L"HKDD"), HKEY_DYN_DATA);
    EXPECT_EQ(ParseRegistryRoot(L"HKEY_DYN_DATA"), nullptr);
    EXPECT_EQ(ParseRegistryRoot(L"HKEY_CURRENT_USERX"), nullptr);
    EXPECT_EQ(ParseRegistryRoot(L""), nullptr);
}

TEST_F(RegistryTest, ReadTriesThe64BitViewThenThe32BitOne) {
    std::wstring value;
    EXPECT_FALSE(ReadFrameworkValue(path_, L"status", value));
    ASSERT_TRUE(WriteFrameworkValue(path_, L"status", L"4", false));   // 32-bit view
    ASSERT_TRUE(ReadFrameworkValue(path_, L"status", value));
    EXPECT_EQ(value, L"4");
    ASSERT_TRUE(WriteFrameworkValue(path_, L"status", L"2", true));
    ASSERT_TRUE(ReadFrameworkValue(path_, L"status", value));
    EXPECT_EQ(value, L"2");
    EXPECT_FALSE(WriteFrameworkValue(L"NOHIVE\\x", L"status", L"1", false));
    EXPECT_FALSE(ReadFrameworkValue(L"NOHIVE\\x", L"status", value));
}

TEST_F(RegistryTest, DwordAsDecimalAndOversizeAsMissing) {
    ASSERT_TRUE(WriteFrameworkValue(path_, L"seed", L"", false));
    ScopedRegKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, sub_.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.Receive()),
              ERROR_SUCCESS);
    const DWORD number = 197800;
    ASSERT_EQ(::RegSetValueExW(key.Get(), L"code", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                               sizeof(number)), ERROR_SUCCESS);
    const DWORD negative = 0xFFFFFFFF;
    ASSERT_EQ(::RegSetValueExW(key.Get(), L"minus", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&negative),
                               sizeof(negative)), ERROR_SUCCESS);
    const std::wstring fits(255, L'a');      // 512 bytes with its terminator
    const std::wstring tooLong(256, L'b');
    ASSERT_TRUE(WriteFrameworkValue(path_, L"fits", fits, false));
    ASSERT_TRUE(WriteFrameworkValue(path_, L"long", tooLong, false));

    std::wstring value;
    ASSERT_TRUE(ReadFrameworkValue(path_, L"code", value));
    EXPECT_EQ(value, L"197800");
    ASSERT_TRUE(ReadFrameworkValue(path_, L"minus", value));
    EXPECT_EQ(value, L"-1");
    ASSERT_TRUE(ReadFrameworkValue(path_, L"fits", value));
    EXPECT_EQ(value, fits);
    EXPECT_FALSE(ReadFrameworkValue(path_, L"long", value));
}
