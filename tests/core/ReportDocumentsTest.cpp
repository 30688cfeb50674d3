// The documents and answers exchanged with the installer web service, and the other pure rules
// of the reports: exact bytes, tag rules, status texts, languages, machine-identity layout.
#include <gtest/gtest.h>

#include "stubframework/core/LanguageTable.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/core/StatusCodes.h"
#include "stubframework/utils/MachineIdFormat.h"

using namespace stubframework::core;
using namespace stubframework::utils;

namespace {
AnalyticsValues SampleValues() {
    AnalyticsValues v;
    v.requestToken = L"0F8E2C3A-1B2C-4D5E-8F90-A1B2C3D4E5F6";
    v.country = L"244";
    v.productId = L"Tandora";
    v.productVersion = L"22.0.0";
    v.channel = L"test";
    v.installLanguage = L"English";
    v.statusText = L"started";
    v.osName = L"Windows 10";
    v.uiLanguageName = L"English";
    v.architecture = L"x64";
    v.defaultBrowser = L"Other";
    v.clientVersion = L"1.0";
    v.machineId = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
    return v;
}

const char kTail[] =
    "</mainApp><error></error><userEnvironment><OS>Windows 10</OS><language>English</language>"
    "<architecture>x64</architecture><defaultBrowser>Other</defaultBrowser></userEnvironment>"
    "<ORVANVersion>1.0</ORVANVersion><machineId>P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C</machineId>"
    "</ORVANAnalytics>";
} // namespace

TEST(AnalyticsDocument, IsByteExactAndListsExternalPropertiesByName) {
    AnalyticsValues v = SampleValues();
    const std::string head =
        "<ORVANAnalytics><requestToken>0F8E2C3A-1B2C-4D5E-8F90-A1B2C3D4E5F6</requestToken><country>244</country>"
        "<mainApp><productId>Tandora</productId><productVersion>22.0.0</productVersion><channelId>test</channelId>"
        "<installLanguage>English</installLanguage><status>started</status>";
    EXPECT_EQ(BuildAnalyticsDocument(v), head + kTail);

    v.externalProperties[L"propertyName1"] = L"propertyValue1";
    v.externalProperties[L"a"] = L"b";
    EXPECT_EQ(BuildAnalyticsDocument(v),
              head +
                  "<externalProperties><property><name>a</name><value>b</value></property>"
                  "<property><name>propertyName1</name><value>propertyValue1</value></property></externalProperties>" +
                  kTail);
}

TEST(AnalyticsDocument, ValuesGoInUnescapedAsUtf8) {
    AnalyticsValues v = SampleValues();
    v.productId = L"A&B<C";
    v.statusText = StatusText(7);
    v.defaultBrowser = L"Caf\u00e9 \U0001F600";
    const std::string doc = BuildAnalyticsDocument(v);
    EXPECT_NE(doc.find("<productId>A&B<C</productId>"), std::string::npos);
    EXPECT_NE(doc.find("<status></status>"), std::string::npos);
    EXPECT_NE(doc.find("<defaultBrowser>Caf\xC3\xA9 \xF0\x9F\x98\x80</defaultBrowser>"), std::string::npos);
    EXPECT_EQ(doc.compare(0, 16, "<ORVANAnalytics>"), 0);   // no declaration, no byte-order mark
}

TEST(ServiceDocuments, ActivityAndRegionRequestsAreExactUnescapedXml) {
    EXPECT_EQ(BuildUserActivityDocument(L"T", L"Tandora", L"22.0.0", L"Installing_Close<x>"),
              "<UserActivity><token>T</token><productId>Tandora</productId><productVersion>22.0.0</productVersion>"
              "<activity>Installing_Close<x></activity></UserActivity>");
    EXPECT_EQ(BuildRegionRequestDocument(L"T", L"Tandora", L"22.0.0", L"beta", L"Windows 7", L"V-1"),
              "<RegionRestrictions><token>T</token><productId>Tandora</productId><productVersion>22.0.0"
              "</productVersion><channel>beta</channel><os>Windows 7</os><machineId>V-1</machineId>"
              "</RegionRestrictions>");
}

TEST(ServiceAnswers, RegionTagsCountOnlyWhenClosedAndBytesMapOneToOne) {
    RegionAnswer a = ParseRegionAnswer("<r><country>DE</country><isEmbargo>true</isEmbargo></r>");
    EXPECT_EQ(a.country, L"DE");
    EXPECT_EQ(a.isEmbargo, L"true");
    a = ParseRegionAnswer("<country>DE</country>");
    EXPECT_EQ(a.country, L"DE");
    EXPECT_EQ(a.isEmbargo, L"");
    a = ParseRegionAnswer("<country>DE<isEmbargo>false</isEmbargo>");      // no closing country tag
    EXPECT_EQ(a.country, L"");
    EXPECT_EQ(a.isEmbargo, L"false");
    a = ParseRegionAnswer("<country>\xC3\xA9</country>");                  // one character per byte
    EXPECT_EQ(a.country, std::wstring(L"\u00C3\u00A9"));
}

TEST(ServiceAnswers, FirstTokenizedUrlWinsAndMalformedOrMiscasedGiveNone) {
    EXPECT_EQ(ExtractTokenizedUrl(L"{\"tokenizedUrl\": \"https://d/x?t=1\",\"tokenizedUrl\":\"https://e\"}"),
              L"https://d/x?t=1");
    EXPECT_EQ(ExtractTokenizedUrl(L"{\"tokenizedUrl\":\"https://d/x"), L"");
    EXPECT_EQ(ExtractTokenizedUrl(L"{\"tokenizedUrl\":}"), L"");
    EXPECT_EQ(ExtractTokenizedUrl(L"{\"tokenizedURL\":\"https://d\"}"), L"");
    EXPECT_EQ(ExtractTokenizedUrl(L""), L"");
}

TEST(ServiceAnswers, Utf8RoundTripsAndBrokenSequencesBecomeFFFD) {
    const std::wstring text = L"a\u00e9\u4e2d\U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(FromUtf8("a\xC3"), std::wstring(L"a\uFFFD"));             // cut sequence
    EXPECT_EQ(FromUtf8("\xC0\x80z"), std::wstring(L"\uFFFDz"));        // overlong form refused
    EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(StatusTexts, MaintenanceCodesHaveTextsAndGapsHaveNone) {
    EXPECT_EQ(StatusText(2), L"error occurred");
    EXPECT_EQ(StatusText(73), L"modify canceled");
    EXPECT_EQ(StatusText(82), L"repair error occurred");
    EXPECT_EQ(StatusText(91), L"remove completed");
    for (int code : {7, 70, 74, 80, 90, 94, -1}) EXPECT_EQ(StatusText(code), L"") << code;
}

TEST(OsNames, WorkstationVersionsGetNamesAndTheRestIsOther) {
    EXPECT_EQ(OsNameFor(5, 2, true, true), L"Windows XP");     // only the 64-bit workstation
    EXPECT_EQ(OsNameFor(5, 2, true, false), L"Other");
    EXPECT_EQ(OsNameFor(6, 1, false, true), L"Other");         // servers
    EXPECT_EQ(OsNameFor(6, 3, true, true), L"Windows 8");
    EXPECT_EQ(OsNameFor(6, 4, true, true), L"Windows 10");
    EXPECT_EQ(OsNameFor(6, 5, true, true), L"Other");
    EXPECT_EQ(OsNameFor(10, 0, true, true), L"Windows 10");
}

TEST(Languages, WindowsIdsAndCodesMapToTableEntriesOrZero) {
    ASSERT_NE(FindLanguage(107), nullptr);
    EXPECT_STREQ(FindLanguage(107)->name, L"Zulu");
    EXPECT_STREQ(FindLanguage(5)->code, L"jp");
    EXPECT_EQ(FindLanguage(108), nullptr);
    EXPECT_EQ(FindLanguage(-1), nullptr);
    EXPECT_EQ(LanguageIdFromWindowsId(1033), 1);
    EXPECT_EQ(LanguageIdFromWindowsId(2057), 1);
    EXPECT_EQ(LanguageIdFromWindowsId(1050), 80);
    EXPECT_EQ(LanguageIdFromWindowsId(5146), 25);
    EXPECT_EQ(LanguageIdFromWindowsId(4122), 29);
    EXPECT_EQ(LanguageIdFromWindowsId(0x041A | 0x3C00), 0);
    EXPECT_EQ(LanguageIdFromWindowsId(1029), 11);
    EXPECT_EQ(LanguageIdFromWindowsId(0x0405 | 0x0800), 0);   // Czech only by its exact id
    EXPECT_EQ(LanguageIdFromWindowsId(0), 0);
    EXPECT_EQ(LanguageIdFromCode(L"jp"), 5);
    EXPECT_EQ(LanguageIdFromCode(L"JP"), 0);
    EXPECT_EQ(LanguageIdFromCode(L"other"), 0);
}

TEST(MachineIdLayout, IdentityRepeatsTheAddressAndTheSmallestAddressIsFirst) {
    EXPECT_EQ(LayoutFromAddress(L"00:1A:2B:3C:4D:5E"), L"001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
    EXPECT_EQ(LayoutFromAddress(L"::"), L"");
    EXPECT_EQ(LayoutFromAddress(L""), L"");
    const unsigned char bytes[6] = {0x00, 0x0A, 0x0B, 0xC0, 0xFF, 0x0E};
    EXPECT_EQ(FormatHardwareAddress(bytes), L"00:0A:0B:C0:FF:0E");
    EXPECT_EQ(FirstAddress({L"00:11:22:33:44:55", L"00:0A:0B:0C:0D:0E"}), L"00:0A:0B:0C:0D:0E");
    EXPECT_EQ(FirstAddress({}), L"");
}

TEST(MachineIdLayout, SkipsUsbRootAndBluetoothAdaptersAndSpotsVirtualMachines) {
    EXPECT_TRUE(IsSkippedAdapter(L"\\\\?\\USB#VID_0B95", L"Adapter"));
    EXPECT_TRUE(IsSkippedAdapter(L"\\\\?\\root#net#0000", L"Adapter"));
    EXPECT_TRUE(IsSkippedAdapter(L"\\\\?\\BTH#x", L"Adapter"));
    EXPECT_FALSE(IsSkippedAdapter(L"\\\\?\\pci#ven_8086&dev_usb0", L"Intel Adapter"));   // "usb" past 7
    EXPECT_TRUE(IsSkippedAdapter(L"\\\\?\\pci#ven_1", L"microsoft Loopback"));
    EXPECT_FALSE(IsSkippedAdapter(L"\\\\?\\pci#ven_1", L"Microsoft Loopback"));   // case-sensitive word
    EXPECT_TRUE(IsVirtualMachine(L"VirtualBox", L"innotek GmbH"));
    EXPECT_TRUE(IsVirtualMachine(L"Virtual Machine", L"Microsoft Corporation"));
    EXPECT_FALSE(IsVirtualMachine(L"VirtualBox", L"Oracle Corporation"));
}
