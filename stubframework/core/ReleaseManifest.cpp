#include "stubframework/core/ReleaseManifest.h"

#include <cctype>
#include <cstring>
#include <set>

#include "stubframework/utils/SignatureFormat.h"

namespace stubframework { namespace core {

namespace {

constexpr char kMarkerStem[] = "/* TANDORA-RELEASE-MANIFEST";
constexpr size_t kMaxUrl = 2048;
constexpr size_t kMaxProduct = 64;

bool Fail(std::string& error, size_t line, const std::string& what) {
    error = "line " + std::to_string(line) + ": " + what;
    return false;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, std::strlen(prefix), prefix) == 0; }

// Decimal without sign, blanks or leading zeros, at most max.
bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (max - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseSha256(const std::string& text, std::array<uint8_t, 32>& digest) {
    if (text.size() != 64) return false;
    for (size_t i = 0; i < 32; ++i) {
        const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

bool IsProductChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

bool HasPrefixNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// Printable ASCII without blanks; "*/" would end the comment the block lives in.
std::string UrlProblem(const std::string& url) {
    if (url.empty()) return "no URL";
    if (url.size() > kMaxUrl) return "URL longer than 2048 characters";
    for (char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return "URL holds a blank, a control or a non-ASCII character";
    const size_t scheme = HasPrefixNoCase(url, "https://") ? 8 : HasPrefixNoCase(url, "http://") ? 7 : 0;
    if (scheme == 0) return "URL is not http:// or https://";
    if (url.size() == scheme || url[scheme] == '/') return "URL names no host";
    return std::string();
}

bool IsHttps(const std::string& url) { return HasPrefixNoCase(url, "https://"); }

// "mirror BASE ALTERNATE": two URLs that end a path ("/"), no query, never from https to http.
std::string MirrorProblem(const std::string& line, ReleaseMirror& mirror) {
    const size_t blank = line.find(' ', 7);
    if (blank == std::string::npos) return "expected \"mirror BASE ALTERNATE\"";
    mirror.base = line.substr(7, blank - 7);
    mirror.alternate = line.substr(blank + 1);
    for (const std::string* url : {&mirror.base, &mirror.alternate}) {
        const std::string problem = UrlProblem(*url);
        if (!problem.empty()) return problem;
        if (url->back() != '/' || url->find_first_of("?#") != std::string::npos)
            return "a mirror's addresses end with \"/\" and carry no query";
    }
    if (IsHttps(mirror.base) && !IsHttps(mirror.alternate)) return "a mirror of an https address is https too";
    if (mirror.base == mirror.alternate) return "a mirror names its base again";
    return std::string();
}

} // namespace

bool StartsWithManifest(const uint8_t* data, size_t size) {
    const size_t n = sizeof(kMarkerStem) - 1;
    return data && size >= n && std::memcmp(data, kMarkerStem, n) == 0;
}

std::string ReleaseUrlKey(const std::string& url) { return url.substr(0, url.find_first_of("?#")); }

std::vector<std::string> ReleaseAddresses(const ReleaseManifest& manifest, const std::string& url) {
    std::vector<std::string> addresses{url};
    for (const ReleaseMirror& mirror : manifest.mirrors)
        if (url.size() > mirror.base.size() && url.compare(0, mirror.base.size(), mirror.base) == 0)
            addresses.push_back(mirror.alternate + url.substr(mirror.base.size()));
    return addresses;
}

const ReleaseFile* FindReleaseFile(const ReleaseManifest& manifest, const std::string& url) {
    const std::string key = ReleaseUrlKey(url);
    for (const ReleaseFile& file : manifest.files)
        if (ReleaseUrlKey(file.url) == key) return &file;
    return nullptr;
}

bool ParseReleaseManifest(const uint8_t* data, size_t size, ReleaseManifest& manifest, std::string& error) {
    manifest = ReleaseManifest();
    if (!StartsWithManifest(data, size)) {
        error = "the list does not begin with the release manifest (" + std::string(kManifestMarker) + ")";
        return false;
    }
    const char* text = reinterpret_cast<const char*>(data);
    size_t position = 0;
    std::set<std::string> keys;
    size_t number = 0;
    for (;;) {
        ++number;
        if (position >= size) {
            error = "the release manifest has no end line (" + std::string(kManifestEnd) + ")";
            return false;
        }
        const char* found = static_cast<const char*>(std::memchr(text + position, '\n', size - position));
        const size_t stop = found ? static_cast<size_t>(found - text) : size;
        std::string line(text + position, stop - position);
        position = found ? stop + 1 : size;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos || line.find('\r') != std::string::npos)
            return Fail(error, number, "control character in the line");

        if (number == 1) {
            if (line != kManifestMarker)
                return Fail(error, number, "release manifest of an unknown version: " + line.substr(0, 64));
            continue;
        }
        if (line == kManifestEnd) {
            if (number < 4) return Fail(error, number, "the end line before product and serial");
            break;
        }
        if (line.find("*/") != std::string::npos)
            return Fail(error, number, "\"*/\" before the end line would end the comment");
        if (number == 2) {
            const std::string name = StartsWith(line, "product ") ? line.substr(8) : std::string();
            bool valid = !name.empty() && name.size() <= kMaxProduct;
            for (char c : name) valid = valid && IsProductChar(c);
            if (!valid) return Fail(error, number, "expected \"product NAME\" (letters, digits, . _ -)");
            manifest.product = name;
        } else if (number == 3) {
            if (!StartsWith(line, "serial ") || !ParseDecimal(line.substr(7), UINT64_MAX, manifest.serial))
                return Fail(error, number, "expected \"serial N\" (a decimal number)");
        } else if (StartsWith(line, "mirror ")) {
            ReleaseMirror mirror;
            const std::string problem = MirrorProblem(line, mirror);
            if (!problem.empty()) return Fail(error, number, problem);
            manifest.mirrors.push_back(std::move(mirror));
        } else {
            if (!StartsWith(line, "file "))
                return Fail(error, number, "expected \"file SHA256 SIZE URL\", \"mirror BASE ALTERNATE\" or the end line");
            const size_t first = 5, second = line.find(' ', first);
            const size_t third = second == std::string::npos ? std::string::npos : line.find(' ', second + 1);
            if (third == std::string::npos)
                return Fail(error, number, "expected \"file SHA256 SIZE URL\"");
            ReleaseFile file;
            if (!ParseSha256(line.substr(first, second - first), file.sha256))
                return Fail(error, number, "the SHA-256 is not 64 hexadecimal digits");
            if (!ParseDecimal(line.substr(second + 1, third - second - 1), INT64_MAX, file.size))
                return Fail(error, number, "the size is not a decimal number of bytes");
            file.url = line.substr(third + 1);
            const std::string problem = UrlProblem(file.url);
            if (!problem.empty()) return Fail(error, number, problem);
            if (!keys.insert(ReleaseUrlKey(file.url)).second)
                return Fail(error, number, "URL listed twice (the query does not count)");
            manifest.files.push_back(std::move(file));
        }
    }
    manifest.end = position;
    error.clear();
    return true;
}

std::string FormatReleaseManifest(const ReleaseManifest& manifest) {
    std::string block = std::string(kManifestMarker) + "\nproduct " + manifest.product + "\nserial " +
                        std::to_string(manifest.serial) + "\n";
    for (const ReleaseMirror& mirror : manifest.mirrors) block += "mirror " + mirror.base + " " + mirror.alternate + "\n";
    for (const ReleaseFile& file : manifest.files)
        block += "file " + utils::HexText(file.sha256.data(), file.sha256.size()) + " " + std::to_string(file.size) +
                 " " + file.url + "\n";
    return block + kManifestEnd + "\n";
}

}} // namespace stubframework::core
