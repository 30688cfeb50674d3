// The rule that decides which documents get window.external, run script and stay in the window.
#include <gtest/gtest.h>

#include "stubframework/htmlui/BundleUrl.h"

using namespace stubframework::htmlui;

namespace {
const wchar_t kBundle[] = L"C:\\Users\\u\\AppData\\Local\\Temp\\0a1b2c3d4e5f6a7b\\";

struct UrlCase {
    const wchar_t* url;
    bool inside;
    LinkAction action;
};

// The first rows are the bundle's own pages as the host names them; every other row is an
// address a hostile page, link or redirect could bring.
const UrlCase kCases[] = {
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/Load.html", true, LinkAction::LoadInWindow},
    {L"file://C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/pages/eula.html", true, LinkAction::LoadInWindow},
    {L"C:\\Users\\u\\AppData\\Local\\Temp\\0a1b2c3d4e5f6a7b\\Load.html", true, LinkAction::LoadInWindow},
    {L"file:///c:/users/U/appdata/local/temp/0A1B2C3D4E5F6A7B/Load.html?lang=2#top", true, LinkAction::LoadInWindow},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/My%20Page.html", true, LinkAction::LoadInWindow},
    // Other schemes.
    {L"http://example.test/eula.html", false, LinkAction::OpenInBrowser},
    {L"HTTPS://example.test/x?token=1", false, LinkAction::OpenInBrowser},
    {L"https://example.test/a b", false, LinkAction::Refuse},
    {L"https://example.test/\"&calc", false, LinkAction::Refuse},
    {L"res://ieframe.dll/navcancl.htm", false, LinkAction::Refuse},
    {L"javascript:alert(1)", false, LinkAction::Refuse},
    {L"about:blank", false, LinkAction::Refuse},
    {L"mk:@MSITStore:C:\\Users\\u\\AppData\\Local\\Temp\\0a1b2c3d4e5f6a7b\\x.chm::/a.htm", false, LinkAction::Refuse},
    {L"ftp://example.test/Load.html", false, LinkAction::Refuse},
    // Shares and device paths.
    {L"file://evil.test/share/0a1b2c3d4e5f6a7b/Load.html", false, LinkAction::Refuse},
    {L"file:////evil.test/share/Load.html", false, LinkAction::Refuse},
    {L"\\\\evil.test\\share\\Load.html", false, LinkAction::Refuse},
    {L"\\\\?\\C:\\Users\\u\\AppData\\Local\\Temp\\0a1b2c3d4e5f6a7b\\Load.html", false, LinkAction::Refuse},
    // Climbing out, plainly and encoded.
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/../evil.html", false, LinkAction::Refuse},
    {L"C:\\Users\\u\\AppData\\Local\\Temp\\0a1b2c3d4e5f6a7b\\..\\evil.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/%2e%2e/evil.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b%2f..%2fevil.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b%5cLoad.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/./Load.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/.../Load.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b//Load.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/%zz.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/%C0%AE%C0%AE/x.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/x.html%00.txt", false, LinkAction::Refuse},
    // Look-alike folders, other drives, the folder itself, streams.
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7bX/Load.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7/Load.html", false, LinkAction::Refuse},
    {L"file:///D:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/Load.html", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b", false, LinkAction::Refuse},
    {L"file:///C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/Load.html:evil", false, LinkAction::Refuse},
    {L"file:C:/Users/u/AppData/Local/Temp/0a1b2c3d4e5f6a7b/Load.html", false, LinkAction::Refuse},
    {L"Load.html", false, LinkAction::Refuse},
    {L"", false, LinkAction::Refuse},
};
} // namespace

TEST(BundleUrl, OnlyTheBundlesOwnFilesAreInside) {
    for (const UrlCase& c : kCases) {
        EXPECT_EQ(IsInsideBundle(c.url, kBundle), c.inside) << testing::PrintToString(std::wstring(c.url));
        EXPECT_EQ(ClassifyLink(c.url, kBundle), c.action) << testing::PrintToString(std::wstring(c.url));
    }
    // The folder given without its trailing backslash means the same; no folder means nothing is inside.
    std::wstring folder = kBundle;
    folder.pop_back();
    EXPECT_TRUE(IsInsideBundle(kCases[0].url, folder));
    EXPECT_FALSE(IsInsideBundle(kCases[0].url, L""));
    EXPECT_FALSE(IsInsideBundle(L"C:\\x\\Load.html", L"\\\\server\\share\\"));
}

TEST(BundleUrl, QueriesAndFragmentsLeaveLoggedAddresses) {
    EXPECT_EQ(WithoutQuery(L"https://h.test/a?token=secret#f"), L"https://h.test/a?...");
    EXPECT_EQ(WithoutQuery(L"https://h.test/a#token"), L"https://h.test/a");
    EXPECT_EQ(WithoutQuery(L"https://h.test/a"), L"https://h.test/a");
}
