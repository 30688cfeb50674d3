// The shared registry operations that workers and start-up call directly.
#include <gtest/gtest.h>

#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Registry.h"
#include "tests/methods/MethodsFixture.h"

#include <cstring>
#include <map>

using namespace stubframework::utils;
using methodstest::MachineTestKey;

namespace {

bool ReadRaw(const std::wstring& sub, const wchar_t* name, REGSAM view, DWORD& type, std::wstring& bytes) {
    ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, KEY_QUERY_VALUE | view, key.Receive()) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer);
    if (::RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return false;
    bytes.assign(buffer, (size + 1) / sizeof(wchar_t));
    return true;
}

DWORD ReadDword(const std::wstring& sub, const wchar_t* name, REGSAM view) {
    DWORD type = 0;
    std::wstring bytes;
    if (!ReadRaw(sub, name, view, type, bytes) || type != REG_DWORD) return 0xDEADBEEF;
    DWORD value = 0;
    std::memcpy(&value, bytes.data(), sizeof(value));
    return value;
}

} // namespace

TEST(RegistryPaths, SplitAtTheFirstBackslash) {
    HKEY root = nullptr;
    std::wstring sub;
    EXPECT_TRUE(SplitRegistryPath(L"HKCU\\Software\\A", root, sub));
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(sub, L"Software\\A");
    // Without a backslash the whole text is the hive name, and stays the sub key.
    EXPECT_TRUE(SplitRegistryPath(L"HKLM", root, sub));
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(sub, L"HKLM");
    EXPECT_FALSE(SplitRegistryPath(L"HKEY_DYN_DATA\\Config", root, sub));
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(sub, L"HKEY_DYN_DATA\\Config");
    EXPECT_TRUE(SplitRegistryPath(L"hkdd\\Config", root, sub));
    EXPECT_EQ(root, HKEY_DYN_DATA);
}

TEST(RegistryOperations, WriteRegistryValueParsesDwordsLikeStoiAndKeepsExpandSz) {
    MachineTestKey key;
    std::wstring error;
    ASSERT_TRUE(WriteRegistryValue(key.Path(), L"count", L" -12 items", REG_DWORD, true, &error));
    EXPECT_EQ(ReadDword(key.Sub(), L"count", KEY_WOW64_64KEY), 0xFFFFFFF4u);
    ASSERT_TRUE(WriteRegistryValue(key.Path(), L"small", L"1", REG_DWORD, false));
    EXPECT_EQ(ReadDword(key.Sub(), L"small", KEY_WOW64_32KEY), 1u);
    EXPECT_EQ(ReadDword(key.Sub(), L"small", KEY_WOW64_64KEY), 0xDEADBEEFu);

    EXPECT_FALSE(WriteRegistryValue(key.Path(), L"bad", L"abc", REG_DWORD, true, &error));
    EXPECT_EQ(error, L"invalid stoi argument");
    EXPECT_FALSE(WriteRegistryValue(key.Path(), L"big", L"4294967295", REG_DWORD, true, &error));
    EXPECT_EQ(error, L"stoi argument out of range");
    DWORD type = 0;
    std::wstring bytes;
    EXPECT_FALSE(ReadRaw(key.Sub(), L"bad", KEY_WOW64_64KEY, type, bytes));
    EXPECT_FALSE(ReadRaw(key.Sub(), L"big", KEY_WOW64_64KEY, type, bytes));

    ASSERT_TRUE(WriteRegistryValue(key.Path(), L"where", L"%TEMP%\\x", REG_EXPAND_SZ, true));
    ASSERT_TRUE(ReadRaw(key.Sub(), L"where", KEY_WOW64_64KEY, type, bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::wstring(bytes.c_str()), L"%TEMP%\\x");
    EXPECT_FALSE(WriteRegistryValue(L"HKEY_DYN_DATA\\x", L"v", L"1", REG_SZ, true));
}

TEST(RegistryOperations, DeleteRegistryValueUsesThe64BitView) {
    MachineTestKey key;
    ASSERT_TRUE(WriteFrameworkValue(key.Path(), L"v", L"native", true));
    ASSERT_TRUE(WriteFrameworkValue(key.Path(), L"v", L"wow", false));
    EXPECT_TRUE(DeleteRegistryValue(key.Path(), L"v"));
    DWORD type = 0;
    std::wstring bytes;
    EXPECT_FALSE(ReadRaw(key.Sub(), L"v", KEY_WOW64_64KEY, type, bytes));
    EXPECT_TRUE(ReadRaw(key.Sub(), L"v", KEY_WOW64_32KEY, type, bytes));
    EXPECT_FALSE(DeleteRegistryValue(key.Path(), L"v"));
}

TEST(RegistryOperations, ReadRegistryValuesReadsThe32BitView) {
    MachineTestKey key;
    ASSERT_TRUE(WriteFrameworkValue(key.Path(), L"a", L"first", false));
    ASSERT_TRUE(WriteFrameworkValue(key.Path(), L"kept", L"from registry", false));
    ASSERT_TRUE(WriteFrameworkValue(key.Path(), L"native", L"64", true));
    std::map<std::wstring, std::wstring> values{{L"kept", L"already there"}};
    ReadRegistryValues(key.Path(), values);
    EXPECT_EQ(values, (std::map<std::wstring, std::wstring>{{L"a", L"first"}, {L"kept", L"already there"}}));

    // A name of 300 characters or more ends the walk ("a" < long name < "z" in either order).
    ASSERT_TRUE(WriteFrameworkValue(key.Path(), std::wstring(300, L'm'), L"long", false));
    ASSERT_TRUE(WriteFrameworkValue(key.Path(), L"z", L"last", false));
    std::map<std::wstring, std::wstring> walked;
    ReadRegistryValues(key.Path(), walked);
    EXPECT_EQ(walked.count(L"a"), 1u);
    EXPECT_EQ(walked.count(L"z"), 0u);

    std::map<std::wstring, std::wstring> none;
    ReadRegistryValues(key.Path() + L"\\Missing", none);
    EXPECT_TRUE(none.empty());
}
