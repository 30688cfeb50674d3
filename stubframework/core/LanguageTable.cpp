#include "stubframework/core/LanguageTable.h"

namespace stubframework { namespace core {

namespace {
const LanguageEntry kLanguages[LanguageCount] = {
    {L"other", L"Other"}, {L"en", L"English"}, {L"fr", L"French"}, {L"de", L"German"},
    {L"it", L"Italian"}, {L"jp", L"Japanese"}, {L"es", L"Spanish"}, {L"pt", L"Portuguese"},
    {L"nl", L"Dutch"}, {L"ko", L"Korean"}, {L"ru", L"Russian"}, {L"cs", L"Czech"},
    {L"zh", L"Simplified Chinese"}, {L"tw", L"Traditional Chinese"}, {L"af", L"Afrikaans"},
    {L"sq", L"Albanian"}, {L"am", L"Amharic"}, {L"ar", L"Arabic"}, {L"hy", L"Armenian"},
    {L"as", L"Assamese"}, {L"ba", L"Bashkir"}, {L"eu", L"Basque"}, {L"be", L"Belarusian"},
    {L"bn", L"Bengali"}, {L"br", L"Breton"}, {L"bs", L"Bosnian"}, {L"bg", L"Bulgarian"},
    {L"ca", L"Catalan"}, {L"co", L"Corsican"}, {L"hr", L"Croatian"}, {L"da", L"Danish"},
    {L"dv", L"Divehi"}, {L"et", L"Estonian"}, {L"fi", L"Finnish"}, {L"fy", L"Frisian"},
    {L"gl", L"Galician"}, {L"ka", L"Georgian"}, {L"el", L"Greek"}, {L"kl", L"Greenlandic"},
    {L"gu", L"Gujarati"}, {L"ha", L"Hausa"}, {L"he", L"Hebrew"}, {L"hi", L"Hindi"},
    {L"hu", L"Hungarian"}, {L"is", L"Icelandic"}, {L"ig", L"Igbo"}, {L"id", L"Indonesian"},
    {L"iu", L"Inuktitut"}, {L"ga", L"Irish"}, {L"kn", L"Kannada"}, {L"ks", L"Kashmiri"},
    {L"kk", L"Kazakh"}, {L"km", L"Khmer"}, {L"rw", L"Kinyarwanda"}, {L"ky", L"Kyrgyz"},
    {L"lo", L"Lao"}, {L"lv", L"Latvian"}, {L"lt", L"Lithuanian"}, {L"lb", L"Luxembourgish"},
    {L"mk", L"Macedonian"}, {L"ms", L"Malay"}, {L"ml", L"Malayalam"}, {L"mt", L"Maltese"},
    {L"mi", L"Maori"}, {L"mr", L"Marathi"}, {L"mn", L"Mongolian"}, {L"ne", L"Nepali"},
    {L"no", L"Norwegian"}, {L"oc", L"Occitan"}, {L"or", L"Oriya"}, {L"ps", L"Pashto"},
    {L"fa", L"Persian"}, {L"pl", L"Polish"}, {L"pa", L"Punjabi"}, {L"qu", L"Quechua"},
    {L"ro", L"Romanian"}, {L"rm", L"Romansh"}, {L"se", L"Sami"}, {L"sa", L"Sanskrit"},
    {L"gd", L"Scottish Gaelic"}, {L"sr", L"Serbian"}, {L"sd", L"Sindhi"}, {L"si", L"Sinhalese"},
    {L"sk", L"Slovak"}, {L"sl", L"Slovenian"}, {L"st", L"Sotho"}, {L"sw", L"Swahili"},
    {L"sv", L"Swedish"}, {L"tg", L"Tajik"}, {L"ta", L"Tamil"}, {L"tt", L"Tatar"},
    {L"te", L"Telugu"}, {L"th", L"Thai"}, {L"bo", L"Tibetan"}, {L"tn", L"Tswana"},
    {L"tr", L"Turkish"}, {L"tk", L"Turkmen"}, {L"ug", L"Uighur"}, {L"uk", L"Ukrainian"},
    {L"ur", L"Urdu"}, {L"uz", L"Uzbek"}, {L"vi", L"Vietnamese"}, {L"cy", L"Welsh"},
    {L"wo", L"Wolof"}, {L"xh", L"Xhosa"}, {L"yi", L"Yiddish"}, {L"yo", L"Yoruba"},
    {L"zu", L"Zulu"},
};

struct IdPair {
    unsigned from;
    int to;
};

// Whole identifiers that pick a language before the primary-language rule does.
const IdPair kExactIds[] = {
    {1033, 1},  {1036, 2},  {1031, 3},  {1040, 4},  {1041, 5},  {2058, 6},  {3082, 6},
    {1046, 7},  {2070, 7},  {1043, 8},  {1042, 9},  {1049, 10}, {1029, 11}, {2052, 12},
    {4100, 12}, {1028, 13}, {3076, 13}, {5124, 13},
};

const IdPair kPrimaryIds[] = {
    {0x01, 17}, {0x02, 26}, {0x03, 27}, {0x04, 12}, {0x06, 30}, {0x07, 3},   {0x08, 37},
    {0x09, 1},  {0x0A, 6},  {0x0B, 33}, {0x0C, 2},  {0x0D, 41}, {0x0E, 43},  {0x0F, 44},
    {0x10, 4},  {0x11, 5},  {0x13, 8},  {0x14, 67}, {0x15, 72}, {0x16, 7},   {0x17, 76},
    {0x18, 75}, {0x19, 10}, {0x1B, 83}, {0x1C, 15}, {0x1D, 87}, {0x1E, 92},  {0x1F, 95},
    {0x20, 99}, {0x21, 46}, {0x22, 98}, {0x23, 22}, {0x24, 84}, {0x25, 32},  {0x26, 56},
    {0x27, 57}, {0x28, 88}, {0x29, 71}, {0x2A, 101}, {0x2B, 18}, {0x2D, 21}, {0x2F, 59},
    {0x32, 94}, {0x34, 104}, {0x35, 107}, {0x36, 14}, {0x37, 36}, {0x39, 42}, {0x3A, 62},
    {0x3B, 77}, {0x3C, 48}, {0x3E, 60}, {0x3F, 51}, {0x40, 54}, {0x41, 86},  {0x42, 96},
    {0x43, 100}, {0x44, 90}, {0x45, 23}, {0x46, 73}, {0x47, 39}, {0x48, 69}, {0x49, 89},
    {0x4A, 91}, {0x4B, 49}, {0x4C, 61}, {0x4D, 19}, {0x4E, 64}, {0x4F, 78},  {0x50, 65},
    {0x51, 93}, {0x52, 102}, {0x53, 52}, {0x54, 55}, {0x56, 35}, {0x59, 81}, {0x5B, 82},
    {0x5D, 47}, {0x5E, 16}, {0x60, 50}, {0x61, 66}, {0x62, 34}, {0x63, 70},  {0x65, 31},
    {0x68, 40}, {0x6A, 106}, {0x6B, 74}, {0x6C, 85}, {0x6D, 20}, {0x6E, 58}, {0x6F, 38},
    {0x70, 45}, {0x78, 105}, {0x7E, 24}, {0x80, 97}, {0x81, 63}, {0x82, 68}, {0x83, 28},
    {0x87, 53}, {0x88, 103}, {0x91, 79},
};

// Primary language 0x1A covers Croatian, Serbian and Bosnian; only the whole id tells them apart.
const IdPair kSouthSlavicIds[] = {
    {1050, 80}, {2074, 80},  {3098, 80},  {6170, 80},  {7194, 80}, {9242, 80},
    {10266, 80}, {11290, 80}, {12314, 80}, {5146, 25}, {8218, 25}, {4122, 29},
};

template <size_t N>
int Lookup(const IdPair (&pairs)[N], unsigned id, int fallback) {
    for (const auto& pair : pairs)
        if (pair.from == id) return pair.to;
    return fallback;
}
} // namespace

const LanguageEntry* FindLanguage(int languageId) {
    if (languageId < 0 || languageId >= LanguageCount) return nullptr;
    return &kLanguages[languageId];
}

int LanguageIdFromWindowsId(unsigned windowsId) {
    windowsId &= 0xFFFF;
    const int exact = Lookup(kExactIds, windowsId, -1);
    if (exact >= 0) return exact;
    const unsigned primary = windowsId & 0x3FF;
    if (primary == 0x1A) return Lookup(kSouthSlavicIds, windowsId, 0);
    return Lookup(kPrimaryIds, primary, 0);
}

int LanguageIdFromCode(const std::wstring& code) {
    for (int id = 1; id < LanguageCount; ++id)
        if (code == kLanguages[id].code) return id;
    return 0;
}

}} // namespace stubframework::core
