// The registry rows through window.external, checked against the registry views directly: the
// 32-bit stub writes, reads, deletes and searches in exactly the views each row is meant to use.
#include "tests/methods/MethodsFixture.h"

#include "stubframework/core/AppConfig.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Registry.h"

using namespace stubframework;
using namespace methodstest;

namespace {

const WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

bool KeyExists(HKEY root, const std::wstring& sub, REGSAM view) {
    utils::ScopedRegKey key;
    return ::RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ | view, key.Receive()) == ERROR_SUCCESS;
}

bool ReadText(HKEY root, const std::wstring& sub, const wchar_t* name, REGSAM view, std::wstring& text) {
    utils::ScopedRegKey key;
    if (::RegOpenKeyExW(root, sub.c_str(), 0, KEY_QUERY_VALUE | view, key.Receive()) != ERROR_SUCCESS) return false;
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS || type != REG_SZ)
        return false;
    text = buffer;
    return true;
}

void CreateKey(HKEY root, const std::wstring& sub, REGSAM view) {
    utils::ScopedRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Receive(),
                                nullptr),
              ERROR_SUCCESS);
}

void SetRaw(HKEY root, const std::wstring& sub, const wchar_t* name, DWORD type, const void* data, DWORD size,
            REGSAM view) {
    utils::ScopedRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Receive(),
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

void SetText(HKEY root, const std::wstring& sub, const wchar_t* name, const std::wstring& text, REGSAM view) {
    SetRaw(root, sub, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), view);
}

class RegistryRows : public MethodsTest {
protected:
    MachineTestKey key_;
};

} // namespace

TEST_F(RegistryRows, SetDataToRegWritesTheChosenView) {
    const std::wstring below = key_.Sub() + L"\\App";
    const std::wstring wowBelow = L"SOFTWARE\\WOW6432Node" + below.substr(std::wstring(L"SOFTWARE").size());
    {
        Args args;
        args.Text(key_.Path() + L"\\App").Text(L"folder").Text(L"C:\\Tandora").Bool(false);
        ASSERT_EQ(Call(L"setDataToReg", DISPATCH_METHOD, args, nullptr), S_OK);
    }
    std::wstring text;
    // Flag false: the 32-bit view, which on 64-bit Windows is the WOW6432Node branch.
    ASSERT_TRUE(ReadText(HKEY_LOCAL_MACHINE, wowBelow, L"folder", KEY_WOW64_64KEY, text));
    EXPECT_EQ(text, L"C:\\Tandora");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, below, KEY_WOW64_64KEY));
    EXPECT_TRUE(LogHas("EMSetDataToReg\r\n"));
    EXPECT_TRUE(LogHas("EMSetDataToReg 0, C:\\Tandora, folder, " + Narrow(key_.Path()) + "\\App"));

    {
        Args args;
        args.Text(key_.Path() + L"\\App").Text(L"folder").Text(L"D:\\Native").Bool(true);
        ASSERT_EQ(Call(L"setDataToReg", DISPATCH_METHOD, args, nullptr), S_OK);
    }
    ASSERT_TRUE(ReadText(HKEY_LOCAL_MACHINE, below, L"folder", KEY_WOW64_64KEY, text));
    EXPECT_EQ(text, L"D:\\Native");
    ASSERT_TRUE(ReadText(HKEY_LOCAL_MACHINE, wowBelow, L"folder", KEY_WOW64_64KEY, text));
    EXPECT_EQ(text, L"C:\\Tandora");   // the other view is untouched
    EXPECT_TRUE(LogHas("EMSetDataToReg -1, D:\\Native, folder, "));

    // Both views hold a value: the 64-bit one is read first.
    Args read;
    read.Text(key_.Path() + L"\\App").Text(L"folder");
    EXPECT_EQ(TextOf(L"getDataFromReg", read), L"D:\\Native");
}

TEST_F(RegistryRows, GetDataFromRegFallsBackToThe32BitViewAndReadsDwordsSigned) {
    SetText(HKEY_LOCAL_MACHINE, key_.Sub(), L"only32", L"wow value", KEY_WOW64_32KEY);
    const DWORD minusOne = 0xFFFFFFFF;
    SetRaw(HKEY_LOCAL_MACHINE, key_.Sub(), L"dword", REG_DWORD, &minusOne, sizeof(minusOne), KEY_WOW64_64KEY);
    std::wstring native;
    ASSERT_FALSE(ReadText(HKEY_LOCAL_MACHINE, key_.Sub(), L"only32", KEY_WOW64_64KEY, native));

    Args only32;
    only32.Text(key_.Path()).Text(L"only32");
    EXPECT_EQ(TextOf(L"getDataFromReg", only32), L"wow value");
    EXPECT_TRUE(LogHas("EMGetDataFromReg\r\n"));
    EXPECT_TRUE(LogHas("EMGetDataFromReg args only32 " + Narrow(key_.Path()) + ", Result wow value"));

    Args dword;
    dword.Text(L"hklm\\" + key_.Sub()).Text(L"dword");   // hive names in any case
    EXPECT_EQ(TextOf(L"getDataFromReg", dword), L"-1");

    Args missing;
    missing.Text(key_.Path()).Text(L"nothing");
    EXPECT_EQ(TextOf(L"getDataFromReg", missing), L"");
    EXPECT_TRUE(LogHas("EMGetDataFromReg args nothing " + Narrow(key_.Path()) + ", Result \r\n"));
}

TEST_F(RegistryRows, DeleteRegKeyDeletesOnlyLeavesOfItsView) {
    CreateKey(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Parent\\Child", KEY_WOW64_32KEY);
    CreateKey(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Leaf", KEY_WOW64_32KEY);
    CreateKey(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Leaf", KEY_WOW64_64KEY);

    {   // a key with subkeys stays
        Args args;
        args.Text(key_.Path() + L"\\Parent").Bool(false);
        ASSERT_EQ(Call(L"deleteRegKey", DISPATCH_METHOD, args, nullptr), S_OK);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Parent", KEY_WOW64_32KEY));
        EXPECT_TRUE(LogHas("EMDeleteRegKey 0, " + Narrow(key_.Path()) + "\\Parent"));
    }
    {   // flag false: only the 32-bit view's leaf goes
        Args args;
        args.Text(key_.Path() + L"\\Leaf").Bool(false);
        ASSERT_EQ(Call(L"deleteRegKey", DISPATCH_METHOD, args, nullptr), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Leaf", KEY_WOW64_32KEY));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Leaf", KEY_WOW64_64KEY));
    }
    {
        Args args;
        args.Text(key_.Path() + L"\\Leaf").Bool(true);
        ASSERT_EQ(Call(L"deleteRegKey", DISPATCH_METHOD, args, nullptr), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Leaf", KEY_WOW64_64KEY));
        EXPECT_TRUE(LogHas("EMDeleteRegKey -1, " + Narrow(key_.Path()) + "\\Leaf"));
    }
    {   // a missing key is no error for the page
        Args args;
        args.Text(key_.Path() + L"\\Leaf").Bool(true);
        EXPECT_EQ(Call(L"deleteRegKey", DISPATCH_METHOD, args, nullptr), S_OK);
    }
}

TEST_F(RegistryRows, SearchRegKeyFindsTheOfficeInstallRoot) {
    const std::wstring office = key_.Sub() + L"\\Microsoft\\Office";
    CreateKey(HKEY_LOCAL_MACHINE, office + L"\\Common\\Filter", KEY_WOW64_64KEY);
    CreateKey(HKEY_LOCAL_MACHINE, office + L"\\15.0\\Excel\\InstallRoot", KEY_WOW64_64KEY);
    SetText(HKEY_LOCAL_MACHINE, office + L"\\15.0\\Excel\\InstallRoot", L"Path", L"C:\\Office15\\", KEY_WOW64_64KEY);
    SetText(HKEY_LOCAL_MACHINE, office + L"\\16.0\\Word\\InstallRoot", L"Path", L"C:\\Office16\\", KEY_WOW64_64KEY);
    const std::wstring officePath = L"HKEY_LOCAL_MACHINE\\" + office;

    auto search = [&](bool use64, const std::wstring& suffixes, const wchar_t* valueName) {
        Args args;
        args.Bool(use64).Text(officePath).Text(suffixes).Text(valueName);
        return FlagOf(L"searchRegKey", args);
    };
    EXPECT_TRUE(search(true, L"Word\\InstallRoot", L"path"));
    EXPECT_TRUE(LogHas("EMSearchRegKey\r\n"));
    EXPECT_TRUE(LogHas("EMSearchRegKey 1 " + Narrow(officePath) + " Word\\InstallRoot path"));
    EXPECT_TRUE(search(true, L"Access\\InstallRoot;WORD\\installroot", L"Path"));   // list, any case
    EXPECT_FALSE(search(true, L"Access\\InstallRoot", L"Path"));
    EXPECT_FALSE(search(true, L"Word\\InstallRoot", L"Version"));
    // The tree is only in the 64-bit view.
    EXPECT_FALSE(search(false, L"Word\\InstallRoot", L"Path"));
    EXPECT_TRUE(LogHas("EMSearchRegKey 0 " + Narrow(officePath)));

    std::wstring match;
    ASSERT_TRUE(utils::SearchRegistryTree(true, officePath, L"Word\\InstallRoot", L"path", &match));
    EXPECT_EQ(match, L"16.0\\Word\\InstallRoot\\");
}

TEST_F(RegistryRows, SearchRegKeySkipsTheStartKeyAndKeysBelowAHolder) {
    const std::wstring root = key_.Path() + L"\\Tree";
    SetText(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Tree", L"mark", L"start", KEY_WOW64_32KEY);
    SetText(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Other\\A", L"mark", L"a", KEY_WOW64_32KEY);
    SetText(HKEY_LOCAL_MACHINE, key_.Sub() + L"\\Other\\A\\B", L"mark", L"b", KEY_WOW64_32KEY);

    auto search = [&](const std::wstring& start, const std::wstring& suffixes) {
        Args args;
        args.Bool(false).Text(start).Text(suffixes).Text(L"mark");
        return FlagOf(L"searchRegKey", args);
    };
    // The start key itself never matches, even though it holds the value.
    EXPECT_FALSE(search(root, L"Tree"));
    // An empty list opens nothing; an empty piece of a list matches any key below the start.
    EXPECT_FALSE(search(key_.Path() + L"\\Other", L""));
    EXPECT_TRUE(search(key_.Path() + L"\\Other", L"Nope;"));
    // The suffix must be shorter than the relative path ("A\"): "A" is, "\A" is not.
    EXPECT_TRUE(search(key_.Path() + L"\\Other", L"A"));
    EXPECT_FALSE(search(key_.Path() + L"\\Other", L"\\A"));
    // A key that holds the value is not descended into: A\B is never reached.
    EXPECT_FALSE(search(key_.Path() + L"\\Other", L"A\\B"));
    EXPECT_FALSE(search(L"HKEY_DYN_DATA\\Other", L"A"));
}

TEST_F(RegistryRows, DynDataIsNoHive) {
    Args write;
    write.Text(L"HKEY_DYN_DATA\\" + key_.Sub()).Text(L"v").Text(L"x").Bool(true);
    EXPECT_EQ(Call(L"setDataToReg", DISPATCH_METHOD, write, nullptr), S_OK);
    Args read;
    read.Text(L"HKEY_DYN_DATA\\" + key_.Sub()).Text(L"v");
    EXPECT_EQ(TextOf(L"getDataFromReg", read), L"");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key_.Sub(), KEY_WOW64_64KEY));
}

TEST_F(RegistryRows, GetBaseRegKeyNamesTheProductKeyInTheCurrentUser) {
    utils::ScopedVariant result;
    ASSERT_EQ(Call(L"getBaseRegKey", DISPATCH_METHOD, result.Receive()), S_OK);
    ASSERT_EQ(V_VT(result.Ptr()), VT_BSTR);
    EXPECT_STREQ(V_BSTR(result.Ptr()), L"HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\Tandora\\22");
    EXPECT_EQ(std::wstring(V_BSTR(result.Ptr())), core::AppConfig::DefaultFrameworkKeyPath());
    EXPECT_TRUE(LogHas("EMGetBaseRegKey\r\n"));
    EXPECT_TRUE(LogHas("EMGetBaseRegKey HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\Tandora\\22"));
}
