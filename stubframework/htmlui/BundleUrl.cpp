#include "stubframework/htmlui/BundleUrl.h"

#include <cwctype>

namespace stubframework { namespace htmlui {

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size() || std::towlower(text[i]) != std::towlower(prefix[i])) return false;
    }
    return true;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Percent escapes decoded as UTF-8. An escaped separator, dot, percent sign or control character,
// a broken escape or broken UTF-8 makes the whole address unusable.
bool DecodePath(const std::wstring& text, std::wstring& decoded) {
    decoded.clear();
    unsigned long pending = 0;
    int continuation = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') {
            if (continuation) return false;
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        i += 2;
        const unsigned byte = static_cast<unsigned>(high * 16 + low);
        if (continuation) {
            if ((byte & 0xC0) != 0x80) return false;
            pending = (pending << 6) | (byte & 0x3F);
            if (--continuation == 0) {
                if (pending > 0x10FFFF || (pending >= 0xD800 && pending <= 0xDFFF)) return false;
                if (pending >= 0x10000) {
                    pending -= 0x10000;
                    decoded.push_back(static_cast<wchar_t>(0xD800 + (pending >> 10)));
                    decoded.push_back(static_cast<wchar_t>(0xDC00 + (pending & 0x3FF)));
                } else {
                    decoded.push_back(static_cast<wchar_t>(pending));
                }
            }
            continue;
        }
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7F || byte == '/' || byte == '\\' || byte == '.' || byte == '%' ||
                byte == ':')
                return false;
            decoded.push_back(static_cast<wchar_t>(byte));
        } else if ((byte & 0xE0) == 0xC0 && byte >= 0xC2) {
            pending = byte & 0x1F;
            continuation = 1;
        } else if ((byte & 0xF0) == 0xE0) {
            pending = byte & 0x0F;
            continuation = 2;
        } else if ((byte & 0xF8) == 0xF0 && byte <= 0xF4) {
            pending = byte & 0x07;
            continuation = 3;
        } else {
            return false;
        }
    }
    return continuation == 0;
}

// "C:\a\b" with one drive, non-empty parts, no "." or "..", nothing a file name may not hold.
bool CleanDrivePath(const std::wstring& path) {
    if (path.size() < 3 || !std::iswalpha(path[0]) || path[0] > 0x7F || path[1] != L':' || path[2] != L'\\')
        return false;
    size_t start = 3;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring part = path.substr(start, end - start);
        // Only the folder's own trailing backslash may leave an empty last part.
        if (part.empty()) return end == path.size() && end > 3;
        bool onlyDots = true;
        for (const wchar_t c : part) {
            if (c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|')
                return false;
            if (c != L'.' && c != L' ') onlyDots = false;
        }
        if (onlyDots) return false;
        start = end + 1;
    }
    return true;
}

// The local path an address names, separators as backslashes; false when it names none.
bool LocalPathOf(const std::wstring& url, std::wstring& path) {
    std::wstring rest;
    bool fromUrl = false;
    if (StartsWithNoCase(url, L"file:")) {
        rest = url.substr(5);
        size_t slashes = 0;
        while (slashes < rest.size() && (rest[slashes] == L'/' || rest[slashes] == L'\\')) ++slashes;
        // file://host/share and file:////server are shares; file:C:/ is not a form we make.
        if (slashes != 2 && slashes != 3) return false;
        rest = rest.substr(slashes);
        fromUrl = true;
    } else {
        rest = url;
    }
    // The query and fragment do not name the file.
    const size_t end = fromUrl ? rest.find_first_of(L"?#") : rest.find(L'#');
    if (end != std::wstring::npos) rest.resize(end);
    if (fromUrl) {
        std::wstring decoded;
        if (!DecodePath(rest, decoded)) return false;
        rest.swap(decoded);
    }
    for (wchar_t& c : rest)
        if (c == L'/') c = L'\\';
    if (!CleanDrivePath(rest)) return false;
    path.swap(rest);
    return true;
}

bool EqualNoCase(wchar_t a, wchar_t b) { return a == b || std::towupper(a) == std::towupper(b); }

} // namespace

bool IsInsideBundle(const std::wstring& url, const std::wstring& bundleFolder) {
    std::wstring folder = bundleFolder, path;
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
    if (folder.empty()) return false;
    if (folder.back() != L'\\') folder.push_back(L'\\');
    if (!CleanDrivePath(folder) || !LocalPathOf(url, path)) return false;
    if (path.size() <= folder.size()) return false;
    for (size_t i = 0; i < folder.size(); ++i)
        if (!EqualNoCase(path[i], folder[i])) return false;
    return true;
}

LinkAction ClassifyLink(const std::wstring& url, const std::wstring& bundleFolder) {
    if (IsInsideBundle(url, bundleFolder)) return LinkAction::LoadInWindow;
    if (!StartsWithNoCase(url, L"http://") && !StartsWithNoCase(url, L"https://")) return LinkAction::Refuse;
    // The browser gets one plain address, never something the shell could read as more.
    for (const wchar_t c : url)
        if (c <= L' ' || c == 0x7F || c == L'"') return LinkAction::Refuse;
    return LinkAction::OpenInBrowser;
}

std::wstring WithoutQuery(const std::wstring& url) {
    const size_t query = url.find_first_of(L"?#");
    if (query == std::wstring::npos) return url;
    return url[query] == L'?' ? url.substr(0, query) + L"?..." : url.substr(0, query);
}

}} // namespace stubframework::htmlui
