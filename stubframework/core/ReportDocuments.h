// The documents the stub sends to the installer web service and the parsing of its answers.
// Values go into the documents as they are: the service reads them unescaped.
#pragma once
#include <map>
#include <string>

namespace stubframework { namespace core {

struct AnalyticsValues {
    std::wstring requestToken;
    std::wstring country;
    std::wstring productId;
    std::wstring productVersion;
    std::wstring channel;
    std::wstring installLanguage;
    std::wstring statusText;
    std::map<std::wstring, std::wstring> externalProperties;
    std::wstring osName;
    std::wstring uiLanguageName;
    std::wstring architecture;
    std::wstring defaultBrowser;
    std::wstring clientVersion;
    std::wstring machineId;
};

// UTF-8 without byte-order mark; no declaration, no whitespace between elements.
std::string BuildAnalyticsDocument(const AnalyticsValues& values);
std::string BuildUserActivityDocument(const std::wstring& token, const std::wstring& productId,
                                      const std::wstring& productVersion, const std::wstring& activity);
std::string BuildRegionRequestDocument(const std::wstring& token, const std::wstring& productId,
                                       const std::wstring& productVersion, const std::wstring& channel,
                                       const std::wstring& osName, const std::wstring& machineId);

// Both texts are empty unless both of their tags are present.
struct RegionAnswer {
    std::wstring country;
    std::wstring isEmbargo;
};
// The answer's bytes, each taken as one character.
RegionAnswer ParseRegionAnswer(const std::string& bytes);

// The quoted value after the first "\"tokenizedUrl\":"; empty when anything is missing.
std::wstring ExtractTokenizedUrl(const std::wstring& answer);

// Text between the first open tag and the first close tag after it; false when either is missing.
bool TextBetween(const std::wstring& text, const std::wstring& open, const std::wstring& close,
                 std::wstring& inner);

// Lone surrogates become U+FFFD, as do malformed UTF-8 sequences.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

// The report's operating-system name from the reported version and product type.
std::wstring OsNameFor(unsigned major, unsigned minor, bool workstation, bool amd64);

}} // namespace stubframework::core
