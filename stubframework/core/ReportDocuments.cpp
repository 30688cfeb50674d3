#include "stubframework/core/ReportDocuments.h"

namespace stubframework { namespace core {

namespace {
void Element(std::wstring& out, const wchar_t* name, const std::wstring& value) {
    out += L'<';
    out += name;
    out += L'>';
    out += value;
    out += L"</";
    out += name;
    out += L'>';
}

void AppendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::wstring& out, unsigned long cp) {
    if (cp >= 0x10000 && sizeof(wchar_t) == 2) {
        cp -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (cp >> 10));
        out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<wchar_t>(cp);
    }
}

const unsigned long kReplacement = 0xFFFD;
} // namespace

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long cp = static_cast<unsigned long>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFF : 0x1FFFFF);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            const unsigned long low = static_cast<unsigned long>(text[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
        AppendUtf8(out, cp);
    }
    return out;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        int extra = 0;
        unsigned long cp = 0, minimum = 0;
        if (lead < 0x80) { cp = lead; }
        else if ((lead & 0xE0) == 0xC0) { extra = 1; cp = lead & 0x1F; minimum = 0x80; }
        else if ((lead & 0xF0) == 0xE0) { extra = 2; cp = lead & 0x0F; minimum = 0x800; }
        else if ((lead & 0xF8) == 0xF0) { extra = 3; cp = lead & 0x07; minimum = 0x10000; }
        else { out += static_cast<wchar_t>(kReplacement); ++i; continue; }

        size_t j = 1;
        for (; j <= static_cast<size_t>(extra); ++j) {
            if (i + j >= bytes.size()) break;
            const unsigned char next = static_cast<unsigned char>(bytes[i + j]);
            if ((next & 0xC0) != 0x80) break;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (j <= static_cast<size_t>(extra) || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // Skip only what was consumed, so the next valid sequence still decodes.
            out += static_cast<wchar_t>(kReplacement);
            i += j;
            continue;
        }
        AppendUtf16(out, cp);
        i += j;
    }
    return out;
}

std::string BuildAnalyticsDocument(const AnalyticsValues& v) {
    std::wstring doc = L"<ORVANAnalytics>";
    Element(doc, L"requestToken", v.requestToken);
    Element(doc, L"country", v.country);
    doc += L"<mainApp>";
    Element(doc, L"productId", v.productId);
    Element(doc, L"productVersion", v.productVersion);
    Element(doc, L"channelId", v.channel);
    Element(doc, L"installLanguage", v.installLanguage);
    Element(doc, L"status", v.statusText);
    if (!v.externalProperties.empty()) {
        doc += L"<externalProperties>";
        for (const auto& pair : v.externalProperties) {
            doc += L"<property>";
            Element(doc, L"name", pair.first);
            Element(doc, L"value", pair.second);
            doc += L"</property>";
        }
        doc += L"</externalProperties>";
    }
    doc += L"</mainApp>";
    doc += L"<error></error>";
    doc += L"<userEnvironment>";
    Element(doc, L"OS", v.osName);
    Element(doc, L"language", v.uiLanguageName);
    Element(doc, L"architecture", v.architecture);
    Element(doc, L"defaultBrowser", v.defaultBrowser);
    doc += L"</userEnvironment>";
    Element(doc, L"ORVANVersion", v.clientVersion);
    Element(doc, L"machineId", v.machineId);
    doc += L"</ORVANAnalytics>";
    return ToUtf8(doc);
}

std::string BuildUserActivityDocument(const std::wstring& token, const std::wstring& productId,
                                      const std::wstring& productVersion, const std::wstring& activity) {
    std::wstring doc = L"<UserActivity>";
    Element(doc, L"token", token);
    Element(doc, L"productId", productId);
    Element(doc, L"productVersion", productVersion);
    Element(doc, L"activity", activity);
    doc += L"</UserActivity>";
    return ToUtf8(doc);
}

std::string BuildRegionRequestDocument(const std::wstring& token, const std::wstring& productId,
                                       const std::wstring& productVersion, const std::wstring& channel,
                                       const std::wstring& osName, const std::wstring& machineId) {
    std::wstring doc = L"<RegionRestrictions>";
    Element(doc, L"token", token);
    Element(doc, L"productId", productId);
    Element(doc, L"productVersion", productVersion);
    Element(doc, L"channel", channel);
    Element(doc, L"os", osName);
    Element(doc, L"machineId", machineId);
    doc += L"</RegionRestrictions>";
    return ToUtf8(doc);
}

bool TextBetween(const std::wstring& text, const std::wstring& open, const std::wstring& close,
                 std::wstring& inner) {
    inner.clear();
    const size_t start = text.find(open);
    if (start == std::wstring::npos) return false;
    const size_t from = start + open.size();
    const size_t end = text.find(close, from);
    if (end == std::wstring::npos) return false;
    inner = text.substr(from, end - from);
    return true;
}

RegionAnswer ParseRegionAnswer(const std::string& bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (const char byte : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    RegionAnswer answer;
    TextBetween(text, L"<country>", L"</country>", answer.country);
    TextBetween(text, L"<isEmbargo>", L"</isEmbargo>", answer.isEmbargo);
    return answer;
}

std::wstring ExtractTokenizedUrl(const std::wstring& answer) {
    static const std::wstring kKey = L"\"tokenizedUrl\":";
    const size_t key = answer.find(kKey);
    if (key == std::wstring::npos) return std::wstring();
    const size_t open = answer.find(L'"', key + kKey.size());
    if (open == std::wstring::npos) return std::wstring();
    const size_t close = answer.find(L'"', open + 1);
    if (close == std::wstring::npos) return std::wstring();
    return answer.substr(open + 1, close - open - 1);
}

std::wstring OsNameFor(unsigned major, unsigned minor, bool workstation, bool amd64) {
    if (major == 5 && minor == 1) return L"Windows XP";
    if (major == 5 && minor == 2) return (workstation && amd64) ? L"Windows XP" : L"Other";
    if (!workstation) return L"Other";
    if (major == 6) {
        switch (minor) {
        case 0: return L"Windows Vista";
        case 1: return L"Windows 7";
        case 2:
        case 3: return L"Windows 8";
        case 4: return L"Windows 10";
        default: return L"Other";
        }
    }
    if (major == 10) return L"Windows 10";
    return L"Other";
}

}} // namespace stubframework::core
