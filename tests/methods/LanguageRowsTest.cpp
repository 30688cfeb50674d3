// getLanguageByID, getOSLang and getParsedInstallLanguage over every identifier and code that
// the language table knows, through window.external. The expectations are the mapping tables,
// written out here on their own.
#include "tests/methods/MethodsFixture.h"

#include "stubframework/core/LanguageTable.h"

#include <map>

using namespace methodstest;

namespace {

const std::map<unsigned, int> kExact = {
    {1033, 1},  {1036, 2},  {1031, 3},  {1040, 4},  {1041, 5},  {2058, 6},  {3082, 6},
    {1046, 7},  {2070, 7},  {1043, 8},  {1042, 9},  {1049, 10}, {1029, 11}, {2052, 12},
    {4100, 12}, {1028, 13}, {3076, 13}, {5124, 13},
};

const std::map<unsigned, int> kPrimary = {
    {0x01, 17}, {0x02, 26}, {0x03, 27}, {0x04, 12}, {0x06, 30},  {0x07, 3},   {0x08, 37},  {0x09, 1},
    {0x0A, 6},  {0x0B, 33}, {0x0C, 2},  {0x0D, 41}, {0x0E, 43},  {0x0F, 44},  {0x10, 4},   {0x11, 5},
    {0x13, 8},  {0x14, 67}, {0x15, 72}, {0x16, 7},  {0x17, 76},  {0x18, 75},  {0x19, 10},  {0x1B, 83},
    {0x1C, 15}, {0x1D, 87}, {0x1E, 92}, {0x1F, 95}, {0x20, 99},  {0x21, 46},  {0x22, 98},  {0x23, 22},
    {0x24, 84}, {0x25, 32}, {0x26, 56}, {0x27, 57}, {0x28, 88},  {0x29, 71},  {0x2A, 101}, {0x2B, 18},
    {0x2D, 21}, {0x2F, 59}, {0x32, 94}, {0x34, 104}, {0x35, 107}, {0x36, 14}, {0x37, 36},  {0x39, 42},
    {0x3A, 62}, {0x3B, 77}, {0x3C, 48}, {0x3E, 60}, {0x3F, 51},  {0x40, 54},  {0x41, 86},  {0x42, 96},
    {0x43, 100}, {0x44, 90}, {0x45, 23}, {0x46, 73}, {0x47, 39}, {0x48, 69},  {0x49, 89},  {0x4A, 91},
    {0x4B, 49}, {0x4C, 61}, {0x4D, 19}, {0x4E, 64}, {0x4F, 78},  {0x50, 65},  {0x51, 93},  {0x52, 102},
    {0x53, 52}, {0x54, 55}, {0x56, 35}, {0x59, 81}, {0x5B, 82},  {0x5D, 47},  {0x5E, 16},  {0x60, 50},
    {0x61, 66}, {0x62, 34}, {0x63, 70}, {0x65, 31}, {0x68, 40},  {0x6A, 106}, {0x6B, 74},  {0x6C, 85},
    {0x6D, 20}, {0x6E, 58}, {0x6F, 38}, {0x70, 45}, {0x78, 105}, {0x7E, 24},  {0x80, 97},  {0x81, 63},
    {0x82, 68}, {0x83, 28}, {0x87, 53}, {0x88, 103}, {0x91, 79},
};

// Primary language 0x1A, decided by the whole identifier.
const std::map<unsigned, int> kSouthSlavic = {
    {1050, 80}, {2074, 80}, {3098, 80}, {6170, 80}, {7194, 80}, {9242, 80}, {10266, 80}, {11290, 80},
    {12314, 80}, {5146, 25}, {8218, 25}, {4122, 29},
};

const wchar_t* const kCodes[] = {
    L"other", L"en", L"fr", L"de", L"it", L"jp", L"es", L"pt", L"nl", L"ko", L"ru", L"cs", L"zh", L"tw",
    L"af", L"sq", L"am", L"ar", L"hy", L"as", L"ba", L"eu", L"be", L"bn", L"br", L"bs", L"bg", L"ca",
    L"co", L"hr", L"da", L"dv", L"et", L"fi", L"fy", L"gl", L"ka", L"el", L"kl", L"gu", L"ha", L"he",
    L"hi", L"hu", L"is", L"ig", L"id", L"iu", L"ga", L"kn", L"ks", L"kk", L"km", L"rw", L"ky", L"lo",
    L"lv", L"lt", L"lb", L"mk", L"ms", L"ml", L"mt", L"mi", L"mr", L"mn", L"ne", L"no", L"oc", L"or",
    L"ps", L"fa", L"pl", L"pa", L"qu", L"ro", L"rm", L"se", L"sa", L"gd", L"sr", L"sd", L"si", L"sk",
    L"sl", L"st", L"sw", L"sv", L"tg", L"ta", L"tt", L"te", L"th", L"bo", L"tn", L"tr", L"tk", L"ug",
    L"uk", L"ur", L"uz", L"vi", L"cy", L"wo", L"xh", L"yi", L"yo", L"zu",
};

// The mapping rule, step by step.
int Expected(unsigned id) {
    const auto exact = kExact.find(id);
    if (exact != kExact.end()) return exact->second;
    if ((id & 0x3FF) == 0x1A) {
        const auto slavic = kSouthSlavic.find(id);
        return slavic == kSouthSlavic.end() ? 0 : slavic->second;
    }
    const auto primary = kPrimary.find(id & 0x3FF);
    return primary == kPrimary.end() ? 0 : primary->second;
}

class LanguageRows : public MethodsTest {
protected:
    LONG ById(LONG id) {
        Args args;
        args.Number(id);
        return NumberOf(L"getLanguageByID", args);
    }
    LONG ByCode(const std::wstring& code) {
        Args args;
        args.Text(code);
        return NumberOf(L"getParsedInstallLanguage", args);
    }
};

} // namespace

TEST_F(LanguageRows, EveryWindowsIdMapsByExactIdOrPrimaryLanguage) {
    EXPECT_EQ(ById(1033), 1);
    EXPECT_EQ(ById(2057), 1);
    EXPECT_EQ(ById(1050), 80);
    EXPECT_EQ(ById(0), 0);
    EXPECT_EQ(ById(1029), 11);
    EXPECT_EQ(ById(1042), 9);
    EXPECT_EQ(ById(0x05), 0);   // Czech and Korean only by their exact identifiers
    EXPECT_EQ(ById(0x0812), 0);
    EXPECT_EQ(ById(0x1A), 0);
    EXPECT_EQ(ById(0x10409), 1);   // only the low 16 bits count

    for (const auto& entry : kExact) EXPECT_EQ(ById(entry.first), entry.second) << entry.first;
    for (const auto& entry : kSouthSlavic) EXPECT_EQ(ById(entry.first), entry.second) << entry.first;
    // Every primary language with every sublanguage the identifier can carry.
    for (unsigned primary = 0; primary < 0x400; ++primary) {
        for (unsigned sub : {0u, 1u, 2u, 3u, 4u, 5u, 0x3Fu}) {
            const unsigned id = (sub << 10) | primary;
            ASSERT_EQ(ById(static_cast<LONG>(id)), Expected(id)) << "identifier " << id;
        }
    }
}

TEST_F(LanguageRows, EveryTableCodeParsesToItsIdCaseSensitively) {
    ASSERT_EQ(sizeof(kCodes) / sizeof(kCodes[0]), 108u);
    for (int id = 1; id < 108; ++id) {
        EXPECT_EQ(ByCode(kCodes[id]), id) << Narrow(kCodes[id]);
        EXPECT_STREQ(stubframework::core::FindLanguage(id)->code, kCodes[id]);
    }
    EXPECT_EQ(ByCode(L"jp"), 5);
    EXPECT_EQ(ByCode(L"JP"), 0);
    EXPECT_EQ(ByCode(L"other"), 0);
    EXPECT_EQ(ByCode(L""), 0);
    EXPECT_EQ(ByCode(L"en "), 0);
}

TEST_F(LanguageRows, OsLanguageIsTheUiLanguageMapped) {
    Args none;
    const LONG id = NumberOf(L"getOSLang", none);
    EXPECT_EQ(id, ById(::GetUserDefaultUILanguage()));
}
