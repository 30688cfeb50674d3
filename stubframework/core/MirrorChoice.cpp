#include "stubframework/core/MirrorChoice.h"

#include <windows.h>

#include <map>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace core {

namespace {

utils::CriticalSection& ChoiceLock() {
    static utils::CriticalSection lock;
    return lock;
}

std::map<std::wstring, std::wstring>& Choices() {
    static std::map<std::wstring, std::wstring> choices;    // own origin -> serving origin
    return choices;
}

} // namespace

std::wstring OriginOf(const std::wstring& url) {
    const size_t scheme = url.find(L"://");
    if (scheme == std::wstring::npos) return url;
    std::wstring origin = url.substr(0, url.find_first_of(L"/?#", scheme + 3));
    for (wchar_t& c : origin) c = static_cast<wchar_t>(::towlower(c));
    return origin;
}

std::vector<std::wstring> InChosenOrder(const std::vector<std::wstring>& addresses) {
    if (addresses.size() < 2) return addresses;
    std::wstring chosen;
    {
        utils::ScopedLock hold(ChoiceLock());
        const auto found = Choices().find(OriginOf(addresses[0]));
        if (found == Choices().end()) return addresses;
        chosen = found->second;
    }
    std::vector<std::wstring> ordered(addresses);
    for (size_t i = 1; i < ordered.size(); ++i) {
        if (OriginOf(ordered[i]) != chosen) continue;
        const std::wstring first = ordered[i];
        ordered.erase(ordered.begin() + static_cast<std::ptrdiff_t>(i));
        ordered.insert(ordered.begin(), first);
        break;
    }
    return ordered;
}

void RememberServingAddress(const std::wstring& url, const std::wstring& address) {
    const std::wstring own = OriginOf(url), serving = OriginOf(address);
    utils::ScopedLock hold(ChoiceLock());
    if (own == serving) Choices().erase(own);
    else Choices()[own] = serving;
}

void ForgetMirrorChoicesForTesting() {
    utils::ScopedLock hold(ChoiceLock());
    Choices().clear();
}

}} // namespace stubframework::core
